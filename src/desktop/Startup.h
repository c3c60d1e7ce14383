#pragma once
// Start-up checks of the main window: the tools the program needs and the free disk space.

#include <QString>

#include <cstdint>
#include <optional>

/// The language key of the first start-up tool missing under `program_folder` (tools/3dstool,
/// tools/ctrtool, tools/makerom, in that order, each with ToolFileName's suffix; a folder of
/// that name counts as missing), or an empty text when all three are there.
QString FirstMissingToolKey(const QString& program_folder);

/// The file system that holds a folder: its root path and the bytes available to the user.
struct TFreeSpace {
    QString RootPath; // with the system's separators: "/", "C:\" or a network share's root
    std::int64_t BytesAvailable = 0;
};
/// Nothing when the folder does not exist or its storage cannot be read.
std::optional<TFreeSpace> FreeSpaceOf(const QString& folder);

/// A number in the general format with 4 significant digits: trailing zeros and a trailing
/// decimal separator dropped; scientific form (at least three exponent digits) only when the
/// whole part has more than 4 digits or the value is below 0.00001.
QString FormatGeneral4(double value, const QString& decimal_point);

/// Free bytes as gibibytes in single precision, written by FormatGeneral4.
QString FormatGibibytes(std::int64_t bytes, const QString& decimal_point);
