#pragma once
// NCSD (CCI, ".3ds" card image): a 0x4000-byte header area and up to eight NCCH partitions.

#include "ctr/FileIo.h"
#include "ctr/Ncch.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace ctr {

inline constexpr std::uint64_t NcsdHeaderAreaSize = 0x4000;

struct TNcsdPartition {
    std::uint64_t Offset = 0; // bytes
    std::uint64_t Size = 0;   // bytes
};

/// Reads and checks the NCSD header and returns partition 0, which must lie in the file.
TNcsdPartition ReadNcsdPartition0(TInFile& file);
/// Writes the 0x4000-byte header area to `header_out` and partition 0 to `partition_out`
/// (an empty path skips that output).
void ExtractNcsd(const std::filesystem::path& image, const std::filesystem::path& header_out,
                 const std::filesystem::path& partition_out);
/// The parts the tools extract of the decrypted CXI at `base` in `image` (`available` bytes
/// there): header, extended header, logo, ExeFS as stored; `ncch` gets its header. The RomFS is
/// the caller's to give.
TCxiParts ReadCxiParts(TInFile& image, std::uint64_t base, std::uint64_t available,
                       TNcchHeader& ncch);
/// What a card image is rebuilt from, read out of one: its header area, partition 0's place,
/// NCCH header and the CXI parts the tools extract (header, extended header, logo, ExeFS as
/// stored). The RomFS is the caller's to give.
struct TCardParts {
    std::vector<std::uint8_t> HeaderArea;
    TNcsdPartition Partition;
    TNcchHeader Ncch;
    TCxiParts Cxi;
};
/// Reads the parts of the card image `image` (through its layers: a compressed or decrypted
/// image reads as the plain one). Partition 0 must be a decrypted CXI.
TCardParts ReadCardParts(TInFile& image);

/// Writes a partition through positioned writes (offsets from its start); returns its size.
using TPartitionWriter = std::function<std::uint64_t(const TWriteAt& write_at)>;
/// Builds a card image through `write_at`: the saved header area `header` (>= 0x1500 bytes)
/// and the CXI that `partition0` writes, whose header is copied into the card header once
/// written. Other partitions are dropped; `pad` fills the image with 0xFF up to its
/// power-of-two size. Returns the image's size.
std::uint64_t BuildNcsd(std::vector<std::uint8_t> header, const TPartitionWriter& partition0,
                        const TWriteAt& write_at, bool pad = true);
/// Builds a card image from a saved header area (>= 0x1500 bytes) and a CXI as partition 0;
/// other partitions are dropped. `pad` fills the image with 0xFF up to its power-of-two size.
void BuildNcsd(const std::filesystem::path& header_file, const std::filesystem::path& cxi,
               const std::filesystem::path& output, bool pad = true);

} // namespace ctr
