// Holds a file open the way an editor or a virus scanner does (reading and writing shared,
// deleting and renaming over it not), until its standard input closes. The archive's test
// starts it to see the installer refuse to replace an output that another program has open.
//   hold_file PATH
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2)
        return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    std::puts("held");
    std::fflush(stdout);
    char buffer[64];
    while (std::fgets(buffer, sizeof buffer, stdin) != nullptr) {
    }
    CloseHandle(file);
    return 0;
}
