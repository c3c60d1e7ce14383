#pragma once
// Identification of a source image for every front end: its container kind by content, the
// emulator's compressed form, encryption, product code, title ID, region and the position of
// the sound archive's INFO partition. A refusal is named by the language key the front ends
// show for it; the front ends make their log entries from the fields.

#include "ctr/Verify.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ctr {
class TDecryptingReader;
}

namespace engine {

/// The kind a file's name claims: ".cia", ".cxi", ".3ds", ".cci" and the compressed ".zcia",
/// ".zcxi", ".zcci" (letter case ignored); `compressed` tells which. Nothing for other names.
std::optional<ctr::TImageKind> ImageKindOfName(const std::string& name, bool* compressed = nullptr);

/// "CIA", "3DS/CCI" or "CXI", with ", compressed" for the compressed form.
std::string SourceFormName(ctr::TImageKind kind, bool compressed);

/// What a file is by its content: the container kind (none when it is no image), whether it
/// is the emulator's compressed form, and why a compressed one could not be read.
struct TSourceForm {
    bool Opened = false;
    std::optional<ctr::TImageKind> Kind;
    bool Compressed = false;
    std::string Problem; // English; set when a compressed file is damaged
};
TSourceForm SourceFormOfFile(const std::filesystem::path& path);

/// The reader through an encrypted image's decryption, asked for once the image shows itself
/// encrypted; null when the keys at hand do not open it.
using TOpenDecryption =
    std::function<std::unique_ptr<ctr::TDecryptingReader>(ctr::TImageKind kind)>;

/// What identifying a source image found. Fields are set only as far as identification got:
/// `Kind` once the container test passed, `InfoPosition` once the product code was read,
/// `Region` once the region was recognised.
struct TIdentity {
    bool Opened = false; // the file could be opened
    std::string Problem; // English reason of a damaged compressed file
    std::optional<ctr::TImageKind> Kind;
    bool Compressed = false;    // the emulator's compressed form of that kind
    bool KindByContent = false; // the name claims another kind (or none)
    bool Encrypted = false;     // the two program IDs differ in the file
    bool KeysFound = false;     // encrypted, and the decryption given opens it
    // The NCCH program ID; for a CIA that stays encrypted, the title ID of its TMD (nothing
    // when that cannot be read).
    std::optional<std::uint64_t> TitleId;
    std::string ProductCode; // the 10 bytes of the field, NULs included
    std::optional<std::int64_t> InfoPosition;
    std::string Region;         // "JAP", "USA" or "EUR"; empty when not recognised
    std::string ErrorKey;       // language key of the refusal; empty when none
    std::int64_t BytesRead = 0; // bytes read from the image for the fields

    /// True when the image can be taken apart for a run.
    bool Usable() const { return ErrorKey.empty() && (!Encrypted || KeysFound) && !Region.empty(); }
};

/// Identifies the image at `path` (any readable or served file) by its content, reading each
/// field by seeking to it; a field beyond the end of the file reads as zero. `name` is the
/// file's name as the user sees it, which only chooses the words of a refusal and tells
/// whether the kind came from the content. A compressed image is read through its frames; an
/// encrypted one through the reader `open_decryption` gives (may be empty: no keys).
TIdentity IdentifyImage(const std::filesystem::path& path, const std::string& name,
                        const TOpenDecryption& open_decryption);

} // namespace engine
