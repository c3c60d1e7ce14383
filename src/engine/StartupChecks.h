#pragma once
// What the program checks as it starts, and how it writes the free space it finds: the tools
// beside it and a number of gibibytes in the general format.

#include "engine/Text.h"

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace engine {

/// The language key of the first start-up tool missing under `program_folder` (tools/3dstool,
/// tools/ctrtool, tools/makerom, in that order, each with ToolFileName's suffix; a folder of
/// that name counts as missing), or an empty text when all three are there.
std::string_view FirstMissingToolKey(const std::filesystem::path& program_folder);

/// A number in the general format with 4 significant digits: trailing zeros and a trailing
/// decimal separator dropped; scientific form (at least three exponent digits) only when the
/// whole part has more than 4 digits or the value is below 0.00001.
TText FormatGeneral4(double value, std::u16string_view decimal_point);

/// Free bytes as gibibytes in single precision, written by FormatGeneral4.
TText FormatGibibytes(std::int64_t bytes, std::u16string_view decimal_point);

} // namespace engine
