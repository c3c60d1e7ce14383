# tests of the file tools (FileTools): real programs, files and folders
add_executable(filetools_tests install/FileToolsTest.cpp)
target_link_libraries(filetools_tests PRIVATE qvt_core GTest::gtest_main)
gtest_discover_tests(filetools_tests)
