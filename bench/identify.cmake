# identify benchmarks: FileMD5Hex against md5sum, bytes read by identification
add_executable(bench_identify IdentifyBench.cpp)
target_link_libraries(bench_identify PRIVATE qvt_core)
set_target_properties(bench_identify PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
