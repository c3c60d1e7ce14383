# sound archive fuzz targets: the unpacker under libFuzzer and
# AddressSanitizer. The sound archive sources are compiled again here with the instrumentation,
# so the rest of the program is built as usual.
#   build-fuzz/fuzz/fuzz_sound_archive -runs=10000000 -max_len=4096 \
#       -dict=fuzz/sound_archive.dict CORPUS_DIR fuzz/corpus/sound_archive
set(qvt_fuzz_flags -fsanitize=fuzzer-no-link,address -fno-omit-frame-pointer)
add_library(qvt_bcsar_fuzz STATIC
    ${PROJECT_SOURCE_DIR}/src/sound_archive/N3DSbcsar.cpp
    ${PROJECT_SOURCE_DIR}/src/sound_archive/PieceFiles.cpp
    ${PROJECT_SOURCE_DIR}/src/install/FileTools.cpp)
target_include_directories(qvt_bcsar_fuzz PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_options(qvt_bcsar_fuzz PRIVATE ${qvt_fuzz_flags})
target_link_libraries(qvt_bcsar_fuzz PUBLIC Qt6::Core OpenSSL::Crypto)

add_executable(fuzz_sound_archive SoundArchiveFuzz.cpp)
target_compile_options(fuzz_sound_archive PRIVATE ${qvt_fuzz_flags})
target_link_options(fuzz_sound_archive PRIVATE -fsanitize=fuzzer,address)
target_link_libraries(fuzz_sound_archive PRIVATE qvt_bcsar_fuzz)
