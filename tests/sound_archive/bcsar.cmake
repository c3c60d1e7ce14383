# bcsar tests: the sound archive unpacker and packer on real piece files.
add_executable(test_bcsar sound_archive/BcsarTest.cpp sound_archive/SyntheticBcsar.h)
target_include_directories(test_bcsar PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(test_bcsar PRIVATE qvt_core GTest::gtest GTest::gtest_main)
add_test(NAME test_bcsar COMMAND test_bcsar)
set_tests_properties(test_bcsar PROPERTIES ENVIRONMENT "${QVT_TEST_ENV}")
