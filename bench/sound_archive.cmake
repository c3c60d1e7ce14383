# sound_archive benchmarks: unpack plus pack of a 64 MiB archive against cp (run by hand).
add_executable(bench_sound_archive SoundArchiveBench.cpp)
target_include_directories(bench_sound_archive PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(bench_sound_archive PRIVATE qvt_core)
