#pragma once
// The digests of a source image's game data archive, read through the image's layers
// (compressed, encrypted) without Qt: the one way the window, the command line, the runs and
// the browser take them.

#include "ctr/FileIo.h"
#include "ctr/Keys.h"
#include "ctr/Verify.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ctr {

/// A region of an image whose MD5 is wanted. `Copy`, when set, also receives the region's
/// bytes in order on the reading thread: a copy made from the same read.
struct TDigestRegion {
    std::uint64_t Offset = 0;
    std::uint64_t Size = 0;
    std::function<void(std::span<const std::uint8_t>)> Copy;
};

/// The MD5 of each of `regions` of `image` (seen through its layers) as 32 upper-case
/// hexadecimal digits, from one read of the file in increasing order; where there are threads,
/// a helper hashes each block while the next is read. `progress` counts the bytes read and may
/// cancel ("the check was cancelled"). The frames of a compressed image read in part are then
/// confirmed, so that damage there throws as damage instead of giving a digest that looks like
/// a dump that does not fit. Throws TCtrError when a read fails.
std::vector<std::string> TakeDigests(TInFile& image, const std::vector<TDigestRegion>& regions,
                                     TProgress* progress = nullptr);

/// MD5 digests of the game's data archive (pack.dat) and its index (pack.inc, absent from
/// some releases), as upper-case hexadecimal digits.
struct TPackDigestText {
    std::string PackDat;
    std::string PackInc; // empty when the RomFS has no pack.inc
};

/// The digests of pack.dat and pack.inc (names in any letter case) of the RomFS of `image` of
/// `kind`, taken by TakeDigests in one pass. Throws TCtrError when the image cannot be read,
/// has no pack.dat or the check is cancelled.
TPackDigestText TakePackDigestText(TInFile& image, TImageKind kind, TProgress* progress = nullptr);

/// The same for the image at `path` (a compressed one through its frames, an encrypted one
/// through its decryption with `keys`).
TPackDigestText TakePackDigestText(const std::filesystem::path& path, TImageKind kind,
                                   TProgress* progress = nullptr,
                                   const TCryptoKeys* keys = nullptr);

} // namespace ctr
