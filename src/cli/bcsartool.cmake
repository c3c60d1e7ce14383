# bcsartool: the sound archive unpacker and packer on the command line, in the program folder.
add_executable(bcsartool cli/bcsartool.cpp)
target_link_libraries(bcsartool PRIVATE qvt_core)
set_target_properties(bcsartool PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${QVT_APP_DIR})
