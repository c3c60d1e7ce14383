#pragma once
// Whole-file input and output for the sound archive's piece files, with the system's reason
// on failure.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

namespace bcsar {

using TByteBuffer = std::vector<std::uint8_t>;

/// Writes `bytes` as the file `path`, replacing any file there.
/// Throws TSystemError (errno and "Cannot write PATH: reason") when that fails.
void WritePiece(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

/// Appends the whole content of the plain file `path` to `buffer`. On failure the buffer is
/// left as it was, the result is false and `error_number` (when given) holds errno.
bool AppendFileTo(TByteBuffer& buffer, const std::filesystem::path& path,
                  int* error_number = nullptr);

/// Like AppendFileTo, but throws TSystemError ("Cannot load PATH: reason") on failure.
void AppendFileOrThrow(TByteBuffer& buffer, const std::filesystem::path& path);

/// Size of the plain file `path`, or -1 when it is missing or not a plain file.
std::int64_t PlainFileSize(const std::filesystem::path& path);

/// Reserves room for `capacity` bytes in `buffer`; a growing buffer gets room ahead so that
/// repeated appends stay linear. Where the system offers it, large blocks are marked for huge
/// pages, which spares most page faults when tens of MiB are filled at once.
void ReserveLarge(TByteBuffer& buffer, std::size_t capacity);

/// Test seam: while set, the hook runs before every piece write on the calling thread, with
/// the path and the bytes. It may throw to stand for a failing disk, or return true when it
/// has taken the bytes itself, so that no file is written (the fuzz target keeps pieces in
/// memory that way).
using TPieceWriteHook =
    std::function<bool(const std::filesystem::path& path, std::span<const std::uint8_t> bytes)>;
void SetPieceWriteHook(TPieceWriteHook hook);

} // namespace bcsar
