#pragma once
// The work of the container tools ctrtool, 3dstool and makerom as library functions: their
// programs' main() and the installer's in-process tools both call these.

#include "ctr/FileIo.h"

#include <filesystem>
#include <string>
#include <vector>

namespace ctr {

/// The tools' usage texts, printed after a wrong command line.
extern const char* const CtrtoolUsage;
extern const char* const Tool3dsUsage;
extern const char* const MakeromUsage;

/// The path a tool argument names: `utf8` as it is when absolute or when `folder` is empty
/// (the program's current folder), else below `folder`.
inline std::filesystem::path ToolArgumentPath(const std::filesystem::path& folder,
                                              const std::string& utf8) {
    const std::filesystem::path path = PathFromUtf8(utf8);
    if (folder.empty() || path.is_absolute())
        return path;
    return folder / path;
}

/// Each tool's work over its command line (`arguments` without the program's name), relative
/// paths taken below `folder`. Throws TUsageError for a wrong command line, TCtrError (or a
/// file system error) for anything else; what the tool writes is whole or absent.
void RunCtrtool(const std::vector<std::string>& arguments,
                const std::filesystem::path& folder = {});
void Run3dstool(const std::vector<std::string>& arguments,
                const std::filesystem::path& folder = {});
void RunMakerom(const std::vector<std::string>& arguments,
                const std::filesystem::path& folder = {});

} // namespace ctr
