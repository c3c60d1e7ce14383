# qvtpatch: the command-line program (Qt Core only, no widgets).
add_executable(qvtpatch cli/qvtpatch.cpp cli/qvtpatch_modes.h cli/qvtpatch_install.cpp)
target_link_libraries(qvtpatch PRIVATE qvt_core)
