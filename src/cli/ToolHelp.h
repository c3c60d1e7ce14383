#pragma once
// --help and --version of the container tools, which keep their own command lines and link
// no Qt.

#include <cstdio>
#include <cstring>

/// Answers a lone `--help` or `-h` (the usage on standard output) and a lone `--version`
/// (the tool's name and the project's version); true when it did, and the tool exits 0.
inline bool AnswerHelpOrVersion(int argc, char** argv, const char* tool, const char* usage) {
    if (argc != 2)
        return false;
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(usage, stdout);
        std::printf("  -h, --help            show this help\n"
                    "  --version             show the version\n");
        return true;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", tool, QVT_VERSION);
        return true;
    }
    return false;
}
