# main window tests: core (GoogleTest) and the window itself (Qt Test, offscreen)
add_executable(main_window_core_tests
    main_window/IdentifyTest.cpp main_window/CatalogueTest.cpp main_window/SampleImages.h)
target_link_libraries(main_window_core_tests PRIVATE qvt_core GTest::gtest_main)
gtest_discover_tests(main_window_core_tests)

add_executable(main_window_tests main_window/MainWindowTest.cpp main_window/SampleImages.h)
set_target_properties(main_window_tests PROPERTIES AUTOMOC ON)
target_link_libraries(main_window_tests PRIVATE qvt_gui Qt6::Test)
target_compile_definitions(main_window_tests PRIVATE QVT_LANG_DIR="${PROJECT_SOURCE_DIR}/lang")
add_test(NAME main_window COMMAND main_window_tests)
set_tests_properties(main_window PROPERTIES ENVIRONMENT "${QVT_TEST_ENV}")
