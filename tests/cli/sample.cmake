# Tests of the sample-image generator: its content (no container tools needed), the images
# it builds with the program folder's tools, and the installer's tool chain on them.
# gtest_discover_tests splits a list-valued ENVIRONMENT into separate properties, so these
# tests get the one variable they need (no window is shown, file names are UTF-8 in Qt 6).
set(qvt_sample_test_env "QVT_APP_DIR=${QVT_APP_DIR}")

add_executable(sample_content_test cli/SampleContentTest.cpp)
target_link_libraries(sample_content_test PRIVATE qvt_sample qvt_core GTest::gtest_main)
gtest_discover_tests(sample_content_test PROPERTIES ENVIRONMENT "${qvt_sample_test_env}")

# These two need the program folder's ctrtool, 3dstool and makerom and qvtsample itself.
add_executable(sample_image_test cli/SampleImageTest.cpp cli/SampleTestSupport.h)
target_link_libraries(sample_image_test PRIVATE qvt_sample GTest::gtest_main)
add_dependencies(sample_image_test qvtsample)
gtest_discover_tests(sample_image_test PROPERTIES ENVIRONMENT "${qvt_sample_test_env}")

add_executable(sample_chain_test cli/SampleChainTest.cpp cli/SampleTestSupport.h)
target_link_libraries(sample_chain_test PRIVATE qvt_sample qvt_core GTest::gtest_main)
add_dependencies(sample_chain_test qvtsample)
gtest_discover_tests(sample_chain_test PROPERTIES ENVIRONMENT "${qvt_sample_test_env}")
