#pragma once
// Backward LZ77 ("BLZ") as used for the executable code of 3DS titles: decoded from the end
// of the buffer towards its start, so the loader can decompress in place.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ctr {

/// Largest decompressed size accepted, to bound memory on hostile footers.
inline constexpr std::uint64_t BlzMaxOutput = 128u << 20;

/// Decompresses `data`; nothing when the footer or the token stream is not valid.
std::optional<std::vector<std::uint8_t>> BlzDecompress(std::span<const std::uint8_t> data);
/// True when `data` ends in a footer that decodes cleanly.
bool BlzIsCompressed(std::span<const std::uint8_t> data);
/// Compresses `data`; nothing when the result would not be strictly smaller (or the input is
/// at most 8 bytes), in which case callers store the data raw.
std::optional<std::vector<std::uint8_t>> BlzCompress(std::span<const std::uint8_t> data);

} // namespace ctr
