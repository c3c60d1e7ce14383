#pragma once
// Header files of the sample game, in the form the container tools extract and rebuild
// them: NCCH header, extended header, ExeFS header and the card image header.

#include "sample/SampleData.h"

#include <cstdint>
#include <optional>
#include <string>

namespace sample {

inline constexpr std::uint32_t kProgramIdHigh = 0x00040000;

/// Who the image says it is.
struct TSampleTitle {
    std::string Region;      // "JAP", "USA" or "EUR"
    std::uint64_t ProgramId; // 0x00040000 in the high word, the region's code in the low
    std::string ProductCode; // 10 characters
};

/// Low word of the program ID for a region ("JAP", "USA", "EUR"); empty for another text.
std::optional<std::uint32_t> RegionTitleLow(const std::string& region);

/// The sample title for `region`; `title_low` replaces the region's low word (a foreign
/// title). The product code is "CTR-P-Q9V" followed by the region letter J, E or P.
TSampleTitle MakeTitle(const std::string& region, std::optional<std::uint32_t> title_low);

/// NCCH header (0x200): signature, magic, IDs, product code, flags of a decrypted
/// executable with RomFS. Sizes, offsets and hashes are left for the CXI builder.
TBytes MakeNcchHeader(const TSampleTitle& title, std::uint64_t seed);

/// Extended header (0x800) with jump ID and ACI program ID equal to the program ID.
/// `encrypted` scrambles all of it, as an image that was never decrypted looks.
TBytes MakeExheader(const TSampleTitle& title, bool encrypted, std::uint64_t seed);

/// ExeFS header (0x200) naming `.code`, `banner` and `icon` with their sizes and hashes.
TBytes MakeExefsHeader(std::span<const std::uint8_t> code, std::span<const std::uint8_t> banner,
                       std::span<const std::uint8_t> icon);

/// Card image header (0x4000) for a CARD1 image with the game in partition 0.
TBytes MakeNcsdHeader(const TSampleTitle& title, std::span<const std::uint8_t> ncch_header,
                      std::span<const std::uint8_t> exheader, std::uint64_t seed);

} // namespace sample
