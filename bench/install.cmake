# install benchmarks: a whole CIA -> CIA install through the window on a 1 GiB sample image,
# as a ratio to cp of the image, with every stage's time and the window's longest block.
# Built, not run by ctest: build/bench/bench_install [--size BYTES] [--work FOLDER].
add_executable(bench_install InstallBench.cpp)
target_link_libraries(bench_install PRIVATE qvt_gui qvt_sample)
target_compile_definitions(bench_install PRIVATE QVT_APP_DIR_DEFAULT="${QVT_APP_DIR}")
set_target_properties(bench_install PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_dependencies(bench_install ctrtool 3dstool makerom qvt_xdelta qvt_lang)
