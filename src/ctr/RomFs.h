#pragma once
// RomFS: an IVFC hash tree over "level 3", which holds the directory and file tables and the
// file data. Builds and reads stream the file data; only tables and hash levels are held.

#include "ctr/FileIo.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ctr {

inline constexpr std::uint32_t RomFsBlockSize = 0x1000;

/// Name hash of the level-3 tables over UTF-16 code units.
std::uint32_t RomFsNameHash(std::uint32_t parent_offset, const std::u16string& name);
/// Number of hash buckets for `count` entries.
std::uint32_t RomFsBucketCount(std::uint32_t count);

/// One file of a RomFS being built: its '/'-separated UTF-8 path inside the RomFS, its size,
/// and where its bytes come from (a file, a range of an image through OpenRange), read in
/// chunks as the image is written.
struct TRomFsEntry {
    std::string Path;
    std::uint64_t Size = 0;
    std::function<std::unique_ptr<TInFile>()> Open;
};

/// Builds a RomFS image of `entries` through `write_at` (offsets from the image start) and
/// returns its size. Directories are those the paths name; the list's order does not matter.
/// Throws on an empty path part, a path listed twice, or a file that is not `Size` bytes.
std::uint64_t BuildRomFs(const std::vector<TRomFsEntry>& entries, const TWriteAt& write_at);
/// Builds a RomFS image of `folder` (a missing folder gives a root-only image) into `out`,
/// starting at its current position, which must be the image start. Returns the image size.
std::uint64_t BuildRomFs(const std::filesystem::path& folder, TOutFile& out);
void BuildRomFsFile(const std::filesystem::path& folder, const std::filesystem::path& output);

/// Location of a file's data in the file that holds the RomFS.
struct TRomFsFileLocation {
    std::uint64_t Offset = 0;
    std::uint64_t Size = 0;
};

/// A RomFS inside a file at `base`, `size` bytes long: IVFC header, level layout and the
/// level-3 tables are read and checked on opening.
class TRomFsReader {
public:
    TRomFsReader(TInFile& file, std::uint64_t base, std::uint64_t size);

    /// Writes the tree under `folder` (created with a single-level create).
    void Extract(const std::filesystem::path& folder);
    /// The file at a '/'-separated path; exact names first, then ASCII case ignored.
    std::optional<TRomFsFileLocation> Find(const std::string& path);
    /// Every file with its '/'-separated path (names as stored) and its data's location.
    std::vector<std::pair<std::string, TRomFsFileLocation>> ListFiles();
    /// Checks master hash, levels 1 and 2 and every level-3 block; empty text when all
    /// match, else what failed.
    std::string VerifyHashes(TProgress* progress = nullptr);
    /// The same checks within a larger walk: the master hash and levels 1 and 2 are read
    /// ahead and checked now, level 3 as `pass` walks it. After the walk, the returned
    /// function gives VerifyHashes' answer. Throws when the levels cannot be read.
    std::function<std::string()> AddHashCheck(TFilePass& pass);
    std::uint64_t MasterHashSize() const { return m_master_size; }

    struct TEntry {
        std::u16string Name;
        std::uint32_t Parent = 0, Sibling = 0, Child = 0, File = 0;
        std::uint64_t DataOffset = 0, DataSize = 0;
    };
    TEntry Directory(std::uint32_t offset) const;
    TEntry FileEntry(std::uint32_t offset) const;

private:
    void
    WalkFiles(const std::function<void(const std::vector<std::u16string>&, const TEntry&)>& on_file,
              const std::function<void(const std::vector<std::u16string>&)>& on_directory);

    TInFile& m_file;
    std::uint64_t m_base;
    std::uint64_t m_size;
    std::uint64_t m_master_size = 0;
    std::uint64_t m_level_size[3] = {};
    std::uint64_t m_level_offset[3] = {}; // physical, relative to m_base
    std::uint64_t m_data_offset = 0;      // relative to level 3
    std::vector<std::uint8_t> m_directories;
    std::vector<std::uint8_t> m_files;
};

/// UTF-16 to UTF-8 for names; throws on unpaired surrogates.
std::string Utf16ToUtf8(const std::u16string& text);
/// UTF-8 to UTF-16; throws on invalid sequences.
std::u16string Utf8ToUtf16(const std::string& text);

} // namespace ctr
