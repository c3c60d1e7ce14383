#include "sound_archive/FileBasics.h"

#include <system_error>

namespace fs = std::filesystem;

bool DeleteFolder(const fs::path& folder) {
    std::error_code ec;
    if (fs::symlink_status(folder, ec).type() != fs::file_type::directory)
        return false;
    fs::remove_all(folder, ec); // removes links themselves, never what they point to
    return !ec;
}

std::int64_t PadTo64(std::int64_t size) {
    const std::int64_t rest = size % 64;
    return rest == 0 ? 0 : 64 - rest;
}
