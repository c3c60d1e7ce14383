# tests of music: the track list (core) and the music change window (real TForm2, offscreen)
add_executable(test_music_tracklist music/TestTrackList.cpp music/MusicTestImage.h)
set_target_properties(test_music_tracklist PROPERTIES AUTOMOC ON)
target_link_libraries(test_music_tracklist PRIVATE qvt_core Qt6::Test)
target_compile_definitions(test_music_tracklist PRIVATE
    QVT_TRACKLIST_DATA_PATH="${PROJECT_SOURCE_DIR}/src/resources/TrackListData.txt")
add_test(NAME music_tracklist COMMAND test_music_tracklist)
set_tests_properties(music_tracklist PROPERTIES ENVIRONMENT "${QVT_TEST_ENV}")

add_executable(test_music_window music/TestChangeMusic.cpp music/MusicTestImage.h)
set_target_properties(test_music_window PROPERTIES AUTOMOC ON)
target_link_libraries(test_music_window PRIVATE qvt_gui Qt6::Test)
add_test(NAME music_window COMMAND test_music_window)
set_tests_properties(music_window PROPERTIES ENVIRONMENT "${QVT_TEST_ENV}")
