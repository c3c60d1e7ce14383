# tests of the install pipeline
add_executable(test_install_pipeline
    install/TestPipeline.cpp install/KindPairs.h install/StandInTools.h install/StandInTools.cpp install/RecordingHost.h)
set_target_properties(test_install_pipeline PROPERTIES AUTOMOC ON
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_include_directories(test_install_pipeline PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/install)
target_link_libraries(test_install_pipeline PRIVATE qvt_core Qt6::Test)
add_test(NAME install_pipeline COMMAND test_install_pipeline)
set_tests_properties(install_pipeline PROPERTIES ENVIRONMENT "${QVT_TEST_ENV}")
