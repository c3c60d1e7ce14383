# Container library and tool tests (GoogleTest). The tool tests run the real programs from
# the program folder, so they depend on them.
add_executable(ctr_tests
    ctr/CtrTestSupport.h ctr/CtrTestSupport.cpp
    ctr/BlzTest.cpp ctr/RomFsTest.cpp ctr/ImageTest.cpp ctr/ToolTest.cpp)
target_link_libraries(ctr_tests PRIVATE qvt_ctr GTest::gtest GTest::gtest_main)
# Fallback when the test runs without the test environment.
target_compile_definitions(ctr_tests PRIVATE QVT_DEFAULT_APP_DIR="${QVT_APP_DIR}")
add_dependencies(ctr_tests ctrtool 3dstool makerom)
# gtest_discover_tests of CMake 3.25 splits a list-valued ENVIRONMENT into separate
# arguments, so only the first entry of QVT_TEST_ENV would arrive; these tests need only the
# program folder, which they also know from the compile definition above.
gtest_discover_tests(ctr_tests PROPERTIES ENVIRONMENT "QVT_APP_DIR=${QVT_APP_DIR}" DISCOVERY_TIMEOUT 60)
