#pragma once
// What the program checks as it starts: the tools beside it.

#include <filesystem>
#include <string_view>

namespace engine {

/// The language key of the first start-up tool missing under `program_folder` (tools/3dstool,
/// tools/ctrtool, tools/makerom, in that order, each with ToolFileName's suffix; a folder of
/// that name counts as missing), or an empty text when all three are there.
std::string_view FirstMissingToolKey(const std::filesystem::path& program_folder);

} // namespace engine
