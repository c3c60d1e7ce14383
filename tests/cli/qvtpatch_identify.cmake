# qvtpatch --identify, run as a program from the program folder
add_executable(qvtpatch_identify_tests cli/QvtpatchIdentifyTest.cpp)
target_link_libraries(qvtpatch_identify_tests PRIVATE qvt_core GTest::gtest_main)
add_dependencies(qvtpatch_identify_tests qvtpatch qvt_lang)
gtest_discover_tests(qvtpatch_identify_tests PROPERTIES ENVIRONMENT "${QVT_TEST_ENV}")
