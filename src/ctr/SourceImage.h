#pragma once
// What a chosen source image is, without Qt: its container kind by content, whether it is the
// emulator's compressed form, whether it is encrypted, its title ID and region, and the
// digests of the game's data archive. The browser's build identifies with this; a refusal is
// named by the language key the desktop shows for it.

#include "ctr/FileIo.h"
#include "ctr/Keys.h"
#include "ctr/Verify.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace ctr {

/// The kind a file's name claims: ".cia", ".cxi", ".3ds", ".cci" and the compressed ".zcia",
/// ".zcxi", ".zcci" (letter case ignored); `compressed` tells which. Nothing for other names.
std::optional<TImageKind> ImageKindOfName(const std::string& name, bool* compressed = nullptr);

/// "CIA", "3DS/CCI" or "CXI", with ", compressed" for the compressed form.
std::string SourceFormName(TImageKind kind, bool compressed);

struct TSourceIdentity {
    std::optional<TImageKind> Kind; // by content; empty when the file is no image
    bool Compressed = false;
    bool KindByContent = false; // the name claims another kind (or none)
    bool Encrypted = false;     // the program ID is not repeated in the extended header
    bool Decrypted = false;     // it was, and the keys given open it: read through them
    std::string KeyProblem;     // why the keys given do not open it (a key by name, no value)
    std::optional<std::uint64_t> TitleId;
    std::string ProductCode;
    std::string Region;   // "JAP", "USA" or "EUR"; empty when the title is not the game
    std::string ErrorKey; // language key of the refusal; empty when the image is usable
    std::string Problem;  // English reason of a damaged file
    /// True when the image can be taken apart for a run.
    bool Usable() const { return ErrorKey.empty() && !Encrypted && !Region.empty(); }
};

/// Identifies the image at `path` (any readable or served file), reading its headers only.
/// `name` is the file's name as the user sees it, which only chooses the words of a refusal.
TSourceIdentity IdentifySource(const std::filesystem::path& path, const std::string& name);
/// The same for an encrypted image read through its decryption with the user's `keys`: when
/// they open it, `Decrypted` is set and the fields are the decrypted image's; when not,
/// `KeyProblem` says why and the image stays refused as encrypted.
TSourceIdentity IdentifySource(const std::filesystem::path& path, const std::string& name,
                               const TCryptoKeys& keys);

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
