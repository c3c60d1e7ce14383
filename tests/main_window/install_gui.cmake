# install control tests
add_executable(test_install_control
    main_window/TestInstallControl.cpp main_window/RecordingForm.h install/StandInTools.h install/StandInTools.cpp)
set_target_properties(test_install_control PROPERTIES AUTOMOC ON
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(test_install_control PRIVATE qvt_gui Qt6::Test)
add_test(NAME install_control COMMAND test_install_control)
set_tests_properties(install_control PROPERTIES ENVIRONMENT "${QVT_TEST_ENV}")

# Whole installations through the window with the real tools on small sample images.
add_executable(test_install_end_to_end
    main_window/TestInstallEndToEnd.cpp main_window/RecordingForm.h install/KindPairs.h install/RealProgramFolder.h install/RealProgramFolder.cpp)
set_target_properties(test_install_end_to_end PROPERTIES AUTOMOC ON
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(test_install_end_to_end PRIVATE qvt_gui qvt_sample Qt6::Test)
add_dependencies(test_install_end_to_end ctrtool 3dstool makerom qvt_xdelta qvt_lang)
add_test(NAME install_end_to_end COMMAND test_install_end_to_end)
set_tests_properties(install_end_to_end PROPERTIES ENVIRONMENT "${QVT_TEST_ENV}")
