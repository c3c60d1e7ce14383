# tests of localisation: tokens, lookup, encodings, language files
add_executable(localisation_tests localisation/LanguageTest.cpp)
target_link_libraries(localisation_tests PRIVATE qvt_core GTest::gtest_main)
target_compile_definitions(localisation_tests PRIVATE QVT_LANG_DIR="${PROJECT_SOURCE_DIR}/lang")
gtest_discover_tests(localisation_tests)
