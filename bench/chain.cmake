# chain benchmarks: the installer's CIA → CIA tool chain on a 1 GiB sample image, as a
# ratio to cp of the image. Built, not run by ctest: build/bench/bench_chain [--size BYTES]
# [--work FOLDER].
add_executable(bench_chain ChainBench.cpp)
target_link_libraries(bench_chain PRIVATE qvt_sample qvt_core)
target_compile_definitions(bench_chain PRIVATE QVT_APP_DIR_DEFAULT="${QVT_APP_DIR}")
set_target_properties(bench_chain PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_dependencies(bench_chain qvtsample)
