#pragma once
// ExeFS: a 0x200-byte header (ten named entries, their SHA-256 values stored in reverse
// order) followed by the files, each on a 0x200 boundary.

#include "ctr/FileIo.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace ctr {

inline constexpr std::uint32_t ExeFsHeaderSize = 0x200;
inline constexpr int ExeFsEntryCount = 10;

struct TExeFsEntry {
    std::string Name;         // empty for an unused entry
    std::uint32_t Offset = 0; // from the end of the header
    std::uint32_t Size = 0;
    TSha256Digest Hash{};
};

struct TExeFsHeader {
    std::array<std::uint8_t, ExeFsHeaderSize> Raw{};
    std::array<TExeFsEntry, ExeFsEntryCount> Entries;
};

/// Parses a header; with `region_size`, every file must lie inside that many bytes.
TExeFsHeader ParseExeFsHeader(std::span<const std::uint8_t> raw, std::uint64_t region_size);
TExeFsHeader ReadExeFsHeader(TInFile& file, std::uint64_t base, std::uint64_t region_size);
/// Hash offset of entry `index` in the header.
constexpr std::size_t ExeFsHashOffset(int index) {
    return 0x1E0 - 0x20 * static_cast<std::size_t>(index);
}
/// File name an entry takes in an unpacked ExeFS folder.
std::string ExeFsFolderName(int index, const std::string& name);

/// Writes the header to `header_out` and each file into `folder`; with `decompress_code`,
/// entry 0 is written decompressed when it carries a valid compression footer.
void ExtractExeFs(const std::filesystem::path& exefs, const std::filesystem::path& folder,
                  const std::filesystem::path& header_out, bool decompress_code);
/// The bytes of ExeFS entry `index` (0 to 9) as the extraction writes them: with
/// `decompress_code`, entry 0 decompressed when it carries a valid compression footer.
std::vector<std::uint8_t> ExeFsFile(std::span<const std::uint8_t> exefs, int index,
                                    bool decompress_code);
/// Where an ExeFS build takes the bytes of entry `index` named `name`.
using TExeFsFileSource =
    std::function<std::vector<std::uint8_t>(int index, const std::string& name)>;
/// Builds an ExeFS in memory from a header, keeping entry order and names, each entry's bytes
/// from `file`; with `compress_code`, entry 0 is compressed when that makes it smaller.
std::vector<std::uint8_t> BuildExeFs(std::span<const std::uint8_t> header,
                                     const TExeFsFileSource& file, bool compress_code);
/// Builds an ExeFS from a header file and a folder, keeping entry order and names; with
/// `compress_code`, entry 0 is compressed when that makes it smaller.
void BuildExeFs(const std::filesystem::path& header_file, const std::filesystem::path& folder,
                const std::filesystem::path& output, bool compress_code);
/// Empty text when every file hash matches, else what failed.
std::string VerifyExeFs(TInFile& file, std::uint64_t base, std::uint64_t region_size,
                        TProgress* progress = nullptr);

} // namespace ctr
