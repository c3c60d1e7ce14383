# main window tests: core (GoogleTest) and the window itself (Qt Test, offscreen)
add_executable(main_window_core_tests
    main_window/IdentifyTest.cpp main_window/CatalogueTest.cpp main_window/SampleImages.h)
target_link_libraries(main_window_core_tests PRIVATE qvt_core GTest::gtest_main)
gtest_discover_tests(main_window_core_tests PROPERTIES ENVIRONMENT "${QVT_TEST_ENV}")
