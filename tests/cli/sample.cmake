# Tests of the sample-image generator: its content (no container tools needed), the images
# it builds with the program folder's tools, and the installer's tool chain on them.
add_executable(sample_content_test cli/SampleContentTest.cpp)
target_link_libraries(sample_content_test PRIVATE qvt_sample qvt_core GTest::gtest_main)
gtest_discover_tests(sample_content_test PROPERTIES ENVIRONMENT "${QVT_TEST_ENV}")
