#pragma once
// NCCH (CXI/CFA): header, extended header, logo, plain region, ExeFS and RomFS.

#include "ctr/FileIo.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace ctr {

inline constexpr std::uint32_t NcchHeaderSize = 0x200;
inline constexpr std::uint32_t ExheaderSize = 0x400;     // hashed part
inline constexpr std::uint32_t ExheaderFileSize = 0x800; // with the access descriptor
inline constexpr std::uint8_t NcchFlagNoCrypto = 0x04;

struct TNcchRegion {
    std::uint64_t Offset = 0; // bytes from the NCCH start
    std::uint64_t Size = 0;   // bytes
    std::uint64_t HashSize = 0;
};

struct TNcchHeader {
    std::array<std::uint8_t, NcchHeaderSize> Raw{};
    std::uint64_t MediaUnit = 0x200;
    std::uint64_t ContentSize = 0; // bytes
    std::uint32_t ExheaderSize = 0;
    TNcchRegion Plain, Logo, ExeFs, RomFs;
    std::uint64_t PartitionId = 0;
    std::uint8_t Flag(int index) const { return Raw[0x188 + static_cast<std::size_t>(index)]; }
    bool NoCrypto() const { return Flag(7) & NcchFlagNoCrypto; }
    /// 1 data, 2 executable without RomFS, 3 executable with RomFS.
    int FormType() const { return Flag(5) & 3; }
};

/// Parses and checks a header: magic, format version, exheader size, regions inside the
/// content, and the content inside `available` bytes.
TNcchHeader ParseNcchHeader(std::span<const std::uint8_t> raw, std::uint64_t available);
TNcchHeader ReadNcchHeader(TInFile& file, std::uint64_t base, std::uint64_t available);

/// Where the parts of an NCCH go; empty paths are not written.
struct TNcchParts {
    std::filesystem::path Header, Exheader, Logo, Plain, ExeFs, RomFs;
};
/// Writes the named parts of the NCCH in `input`. `executable_only` refuses anything but a
/// CXI form type. Exheader, ExeFS and RomFS need a decrypted (NoCrypto) NCCH.
void ExtractNcchParts(const std::filesystem::path& input, const TNcchParts& parts,
                      bool executable_only);

/// The parts of a CXI to build: the small ones in memory, the RomFS written as the CXI is.
struct TCxiParts {
    std::vector<std::uint8_t> Header;   // at least 0x200 bytes
    std::vector<std::uint8_t> Exheader; // at least 0x800 bytes
    std::vector<std::uint8_t> Logo;     // empty: no logo region
    std::vector<std::uint8_t> ExeFs;    // empty: no ExeFS
    /// Writes the RomFS image through positioned writes (offsets from its start) and returns
    /// its size; unset: no RomFS.
    std::function<std::uint64_t(const TWriteAt& write_at)> RomFs;
};
/// Builds a decrypted CXI through `write_at` (offsets from its start) and returns its size.
/// The header is written last, with the hashes of the parts; the RomFS superblock's hash is
/// taken from the bytes the RomFS wrote. The code-compression flag of the exheader is set to
/// match the ExeFS's .code.
std::uint64_t BuildCxi(TCxiParts parts, const TWriteAt& write_at);

/// Builds a decrypted CXI from the parts. `Header` (>= 0x200 bytes) and `Exheader`
/// (>= 0x800 bytes) are required; a missing ExeFS/RomFS/logo path leaves that region out.
/// The code-compression flag of the exheader is set to match the ExeFS's .code.
void BuildCxi(const TNcchParts& parts, const std::filesystem::path& output);

/// Empty text when every hash of the NCCH at `base` matches, else what failed. Without
/// `deep`, the RomFS hash tree below its superblock is not read (the other checks are cheap).
std::string VerifyNcch(TInFile& file, std::uint64_t base, std::uint64_t available, bool deep = true,
                       TProgress* progress = nullptr);
/// VerifyNcch's checks within a larger walk of the file (a CIA hashes the same bytes as
/// its content): the headers are read and parsed now, the hashed regions go to `pass`. After
/// the walk, the returned function gives VerifyNcch's answer.
std::function<std::string()> AddNcchCheck(TFilePass& pass, std::uint64_t base,
                                          std::uint64_t available, bool deep = true);

} // namespace ctr
