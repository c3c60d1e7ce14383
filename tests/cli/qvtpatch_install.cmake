# qvtpatch_install tests
add_executable(test_qvtpatch_install
    cli/TestQvtpatchInstall.cpp install/RealProgramFolder.h install/RealProgramFolder.cpp)
set_target_properties(test_qvtpatch_install PROPERTIES AUTOMOC ON
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(test_qvtpatch_install PRIVATE qvt_core qvt_sample Qt6::Test)
add_dependencies(test_qvtpatch_install qvtpatch ctrtool 3dstool makerom qvt_xdelta qvt_lang)
add_test(NAME qvtpatch_install COMMAND test_qvtpatch_install)
set_tests_properties(qvtpatch_install PROPERTIES ENVIRONMENT "${QVT_TEST_ENV}")
