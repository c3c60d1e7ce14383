# install control tests
add_executable(test_install_control
    main_window/TestInstallControl.cpp install/StandInTools.h install/StandInTools.cpp)
set_target_properties(test_install_control PROPERTIES AUTOMOC ON
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(test_install_control PRIVATE qvt_gui Qt6::Test)
add_test(NAME install_control COMMAND test_install_control)
set_tests_properties(install_control PROPERTIES ENVIRONMENT "${QVT_TEST_ENV}")
