# voice and music tests
add_executable(test_voice_and_music sound_archive/TestVoiceAndMusic.cpp sound_archive/SyntheticBcsar.h)
set_target_properties(test_voice_and_music PROPERTIES AUTOMOC ON
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_include_directories(test_voice_and_music PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/sound_archive)
target_compile_definitions(test_voice_and_music PRIVATE QVT_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
target_link_libraries(test_voice_and_music PRIVATE qvt_core Qt6::Test)
add_test(NAME voice_and_music COMMAND test_voice_and_music)
set_tests_properties(voice_and_music PROPERTIES ENVIRONMENT "${QVT_TEST_ENV}")
