#pragma once
// Checking a finished image and locating files in its RomFS, both without loading the image.

#include "ctr/ImageKind.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ctr {

class TInFile;

/// The kind for an extension or kind word: "cia", "cxi", "3ds"/"cci" (with or without dot,
/// any letter case).
std::optional<TImageKind> ImageKindFromText(std::string text);

/// Checks structure and every SHA-256 of the image (NCCH exheader, logo, ExeFS and RomFS
/// superblocks, ExeFS files, all RomFS IVFC levels; for a CIA also the TMD info record and
/// content hashes). Signatures are not checked. Returns an empty text on success, else a
/// short English description of what failed.
/// One walk reads what is hashed, once, in file order; only the small headers and RomFS
/// tables that give the layout are read beforehand as well. `progress` (optional) is called
/// as the walk advances with the bytes read and the total it reads; returning false cancels
/// the check.
std::string
VerifyImage(const std::filesystem::path& image, TImageKind kind,
            const std::function<bool(std::uint64_t done, std::uint64_t total)>& progress = {});

/// Location of a RomFS file inside the image file: absolute offset and size.
struct TImageFileLocation {
    std::uint64_t Offset = 0;
    std::uint64_t Size = 0;
};

/// Finds a file by its '/'-separated RomFS path (exact names first, then letter case
/// ignored). Nothing when the path is not in the RomFS; `error` (when given) receives the
/// reason when the image itself cannot be read.
std::optional<TImageFileLocation> FindRomFsFile(const std::filesystem::path& image, TImageKind kind,
                                                const std::string& path,
                                                std::string* error = nullptr);

/// A file of the image's RomFS: its '/'-separated path as stored and where its data lies in
/// the image file.
struct TImageRomFsFile {
    std::string Path;
    TImageFileLocation Location;
};

/// Every file of the image's RomFS, read from its tables only. Throws TCtrError when the
/// image cannot be read.
std::vector<TImageRomFsFile> ListRomFsFiles(const std::filesystem::path& image, TImageKind kind);
/// The same from an open image (which may be read through its decryption).
std::vector<TImageRomFsFile> ListRomFsFiles(TInFile& image, TImageKind kind);

/// Where the image's game NCCH lies: its start and the bytes it may take (a CIA's content 0, a
/// card image's partition 0, a CXI whole).
struct TImageNcch {
    std::uint64_t Offset = 0;
    std::uint64_t Size = 0;
};
TImageNcch LocateImageNcch(TInFile& image, TImageKind kind);

/// The program ID of the image's game NCCH, from its header.
std::uint64_t ImageProgramId(TInFile& image, TImageKind kind);

/// The game's code (ExeFS entry 0), decompressed when it carries a valid compression
/// footer. Throws TCtrError when the image or its ExeFS cannot be read.
std::vector<std::uint8_t> ReadImageCode(const std::filesystem::path& image, TImageKind kind);
std::vector<std::uint8_t> ReadImageCode(TInFile& image, TImageKind kind);

/// The ExeFS entry `name` ("banner", "icon") as stored; nothing when the ExeFS has no such
/// entry. Throws TCtrError when the image or its ExeFS cannot be read.
std::optional<std::vector<std::uint8_t>>
ReadImageExeFsFile(const std::filesystem::path& image, TImageKind kind, const std::string& name);
std::optional<std::vector<std::uint8_t>> ReadImageExeFsFile(TInFile& image, TImageKind kind,
                                                            const std::string& name);

} // namespace ctr
