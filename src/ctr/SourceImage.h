#pragma once
// The digests of a source image's game data archive, read through the image's layers
// (compressed, encrypted) without Qt; the browser's fit check takes them so.

#include "ctr/FileIo.h"
#include "ctr/Keys.h"
#include "ctr/Verify.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace ctr {

/// MD5 digests of the game's data archive (pack.dat) and its index (pack.inc, absent from
/// some releases), as upper-case hexadecimal digits.
struct TPackDigestText {
    std::string PackDat;
    std::string PackInc; // empty when the RomFS has no pack.inc
};

/// Reads pack.dat and pack.inc from the RomFS of the image at `path` (a compressed one through
/// its frames, an encrypted one through its decryption with `keys`) in 16 MiB pieces,
/// never the whole file. `progress` counts the bytes hashed and may cancel. Throws TCtrError
/// when the image cannot be read or has no pack.dat.
TPackDigestText TakePackDigestText(const std::filesystem::path& path, TImageKind kind,
                                   TProgress* progress = nullptr,
                                   const TCryptoKeys* keys = nullptr);

} // namespace ctr
