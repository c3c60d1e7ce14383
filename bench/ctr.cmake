# RomFS build/extract benchmark against cp (built, not run by ctest).
add_executable(bench_ctr_romfs ctr_romfs.cpp)
target_compile_definitions(bench_ctr_romfs PRIVATE QVT_TOOLS_DIR="${QVT_TOOLS_DIR}")
add_dependencies(bench_ctr_romfs 3dstool)
