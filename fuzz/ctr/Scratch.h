#pragma once
// Scratch space for the file-based fuzz targets: the input is written to a file, outputs go
// to a folder, both in RAM (/dev/shm) when the system has it, removed at exit and between
// runs.

#include "ctr/Platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace fuzz {

inline std::filesystem::path& ScratchRoot() {
    static std::filesystem::path root;
    return root;
}

inline void RemoveScratch() {
    std::error_code error;
    std::filesystem::remove_all(ScratchRoot(), error);
}

/// Creates the scratch folder once per process.
inline const std::filesystem::path& Scratch() {
    std::filesystem::path& root = ScratchRoot();
    if (root.empty()) {
        std::error_code error;
        const std::filesystem::path ram("/dev/shm");
        const std::filesystem::path base = std::filesystem::is_directory(ram, error)
                                               ? ram
                                               : std::filesystem::temp_directory_path();
        root = base / ("qvt-fuzz-" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(root);
        std::atexit(RemoveScratch);
    }
    return root;
}

/// Writes the input to `name` in the scratch folder and returns its path.
inline std::filesystem::path WriteInput(const std::uint8_t* data, std::size_t size,
                                        const std::string& name = "input.bin") {
    const std::filesystem::path path = Scratch() / name;
    std::FILE* file = ctr::OpenFile(path, "wb");
    if (!file || (size > 0 && std::fwrite(data, 1, size, file) != size))
        std::abort();
    std::fclose(file);
    return path;
}

/// An empty output folder in the scratch folder (the previous run's outputs removed).
inline std::filesystem::path FreshFolder(const std::string& name = "out") {
    const std::filesystem::path folder = Scratch() / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

} // namespace fuzz
