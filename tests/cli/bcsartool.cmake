# bcsartool tests: the program from the program folder, run as a process.
add_executable(test_bcsartool cli/BcsartoolTest.cpp)
target_include_directories(test_bcsartool PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(test_bcsartool PRIVATE Qt6::Core GTest::gtest GTest::gtest_main)
add_dependencies(test_bcsartool bcsartool)
add_test(NAME test_bcsartool COMMAND test_bcsartool)
set_tests_properties(test_bcsartool PROPERTIES ENVIRONMENT "${QVT_TEST_ENV}")
