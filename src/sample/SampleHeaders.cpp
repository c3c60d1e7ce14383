#include "sample/SampleHeaders.h"

#include "ctr/Hash.h"

#include <algorithm>
#include <array>

namespace sample {

namespace {

void PutU32(TBytes& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void PutU64(TBytes& bytes, std::size_t at, std::uint64_t value) {
    for (std::size_t i = 0; i < 8; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void PutText(TBytes& bytes, std::size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}
void PutBytes(TBytes& bytes, std::size_t at, std::span<const std::uint8_t> source) {
    std::copy(source.begin(), source.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// NCCH header fields (offsets from the header start).
constexpr std::size_t kNcchMagic = 0x100;
constexpr std::size_t kNcchPartitionId = 0x108;
constexpr std::size_t kNcchMakerCode = 0x110;
constexpr std::size_t kNcchVersion = 0x112;
constexpr std::size_t kNcchProgramId = 0x118;
constexpr std::size_t kNcchProductCode = 0x150;
constexpr std::size_t kNcchExheaderSize = 0x180;
constexpr std::size_t kNcchFlags = 0x188;

// Extended header fields.
constexpr std::size_t kSciTitle = 0x000;
constexpr std::size_t kSciTextCodeSet = 0x010;
constexpr std::size_t kSciStackSize = 0x01C;
constexpr std::size_t kSciReadOnlyCodeSet = 0x020;
constexpr std::size_t kSciDataCodeSet = 0x030;
constexpr std::size_t kSciBssSize = 0x03C;
constexpr std::size_t kSciSaveDataSize = 0x1C0;
constexpr std::size_t kSciJumpId = 0x1C8;
constexpr std::size_t kAci = 0x200;
constexpr std::size_t kAciCoreVersion = 0x208;
constexpr std::size_t kAciStorageInfo = 0x230;
constexpr std::size_t kAciServices = 0x250;
constexpr std::size_t kAciKernelCaps = 0x370;
constexpr std::size_t kAciArm9Access = 0x3F0;
constexpr std::size_t kAccessDescSignature = 0x400;
constexpr std::size_t kAccessDescModulus = 0x500;
constexpr std::size_t kAccessDescAci = 0x600;

constexpr std::uint32_t kCodeAddress = 0x00100000;
constexpr std::uint32_t kPage = 0x1000;

void PutCodeSet(TBytes& bytes, std::size_t at, std::uint32_t address, std::uint32_t size) {
    PutU32(bytes, at, address);
    PutU32(bytes, at + 4, (size + kPage - 1) / kPage);
    PutU32(bytes, at + 8, size);
}

} // namespace

std::optional<std::uint32_t> RegionTitleLow(const std::string& region) {
    if (region == "JAP")
        return 0x00108800;
    if (region == "USA")
        return 0x00138F00;
    if (region == "EUR")
        return 0x00133300;
    return std::nullopt;
}

TSampleTitle MakeTitle(const std::string& region, std::optional<std::uint32_t> title_low) {
    const std::uint32_t low = title_low ? *title_low : RegionTitleLow(region).value_or(0);
    const char letter = region == "JAP" ? 'J' : region == "USA" ? 'E' : 'P';
    return TSampleTitle{region, static_cast<std::uint64_t>(kProgramIdHigh) << 32 | low,
                        std::string("CTR-P-Q9V") + letter};
}

TBytes MakeNcchHeader(const TSampleTitle& title, std::uint64_t seed) {
    TBytes header(0x200, 0);
    TFastRandom(seed ^ 0x5160).Fill(std::span(header).first(0x100));
    PutText(header, kNcchMagic, "NCCH");
    PutU64(header, kNcchPartitionId, title.ProgramId);
    PutText(header, kNcchMakerCode, "00");
    header[kNcchVersion] = 2; // executable
    PutU64(header, kNcchProgramId, title.ProgramId);
    PutText(header, kNcchProductCode, title.ProductCode);
    PutU32(header, kNcchExheaderSize, 0x400);
    header[kNcchFlags + 4] = 1;    // platform: CTR
    header[kNcchFlags + 5] = 0x03; // executable with RomFS
    header[kNcchFlags + 7] = 0x04; // NoCrypto
    return header;
}

TBytes MakeExheader(const TSampleTitle& title, bool encrypted, std::uint64_t seed) {
    TBytes exheader(0x800, 0);
    PutText(exheader, kSciTitle, "Veridane");
    PutCodeSet(exheader, kSciTextCodeSet, kCodeAddress, kCodeTextSize);
    PutU32(exheader, kSciStackSize, 0x4000);
    PutCodeSet(exheader, kSciReadOnlyCodeSet, kCodeAddress + kCodeTextSize, kCodeReadOnlySize);
    PutCodeSet(exheader, kSciDataCodeSet, kCodeAddress + kCodeTextSize + kCodeReadOnlySize,
               kCodeDataSize);
    PutU32(exheader, kSciBssSize, 0x2000);
    PutU64(exheader, kSciSaveDataSize, 0x80000);
    PutU64(exheader, kSciJumpId, title.ProgramId);

    PutU64(exheader, kAci, title.ProgramId);
    PutU32(exheader, kAciCoreVersion, 2);
    exheader[kAci + 0x0C] = 0x00; // flag 1
    exheader[kAci + 0x0D] = 0x00; // flag 2
    exheader[kAci + 0x0E] = 0x00; // ideal processor, affinity, system mode
    exheader[kAci + 0x0F] = 0x30; // thread priority
    const std::uint64_t unique_id = (title.ProgramId >> 8) & 0xFFFFF;
    PutU64(exheader, kAciStorageInfo, unique_id);             // extra data ID
    PutU64(exheader, kAciStorageInfo + 0x10, unique_id << 8); // accessible unique IDs
    static const std::array<const char*, 9> kServices = {
        "APT:U", "cfg:u", "dsp::DSP", "fs:USER", "gsp::Gpu", "hid:USER", "ndm:u", "ptm:u", "srv:"};
    for (std::size_t i = 0; i < kServices.size(); ++i)
        PutText(exheader, kAciServices + 8 * i, kServices[i]);
    for (std::size_t i = 0; i < 28; ++i)
        PutU32(exheader, kAciKernelCaps + 4 * i, 0xFFFFFFFF); // unused descriptor
    PutU32(exheader, kAciKernelCaps, 0xFC00022C);             // kernel release version
    PutU32(exheader, kAciKernelCaps + 4, 0xFF91F000);         // handle table size
    exheader[kAciArm9Access] = 0x01;                          // mount NAND
    exheader[kAciArm9Access + 0x0F] = 2;                      // descriptor version

    TFastRandom(seed ^ 0xAC51).Fill(std::span(exheader).subspan(kAccessDescSignature, 0x100));
    TFastRandom(seed ^ 0xAC52).Fill(std::span(exheader).subspan(kAccessDescModulus, 0x100));
    exheader[kAccessDescModulus] |= 0x80;
    std::copy(exheader.begin() + kAci, exheader.begin() + kAci + 0x200,
              exheader.begin() + kAccessDescAci);

    if (encrypted) {
        TBytes keystream(exheader.size());
        TFastRandom(seed ^ 0xE4C0).Fill(keystream);
        for (std::size_t i = 0; i < exheader.size(); ++i)
            exheader[i] ^= keystream[i];
    }
    return exheader;
}

TBytes MakeExefsHeader(std::span<const std::uint8_t> code, std::span<const std::uint8_t> banner,
                       std::span<const std::uint8_t> icon) {
    TBytes header(0x200, 0);
    const std::array<std::pair<const char*, std::span<const std::uint8_t>>, 3> files = {
        {{".code", code}, {"banner", banner}, {"icon", icon}}};
    std::uint32_t offset = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        PutText(header, 16 * i, files[i].first);
        PutU32(header, 16 * i + 8, offset);
        PutU32(header, 16 * i + 12, static_cast<std::uint32_t>(files[i].second.size()));
        const ctr::TSha256Digest digest = ctr::Sha256(files[i].second);
        PutBytes(header, 0x1E0 - 0x20 * i, digest);
        offset += (static_cast<std::uint32_t>(files[i].second.size()) + 0x1FF) & ~0x1FFu;
    }
    return header;
}

TBytes MakeNcsdHeader(const TSampleTitle& title, std::span<const std::uint8_t> ncch_header,
                      std::span<const std::uint8_t> exheader, std::uint64_t seed) {
    TBytes header(0x4000, 0);
    TFastRandom(seed ^ 0x5C5D).Fill(std::span(header).first(0x100));
    PutText(header, 0x100, "NCSD");
    PutU64(header, 0x108, title.ProgramId); // media ID
    PutU32(header, 0x120, 0x4000 / 0x200);  // partition 0 offset (MU); size set by the build
    PutBytes(header, 0x160, ctr::Sha256(exheader.first(0x400)));
    header[0x188 + 4] = 1;                  // platform: CTR
    header[0x188 + 5] = 1;                  // media type: CARD1
    PutU64(header, 0x190, title.ProgramId); // partition 0 ID
    PutU32(header, 0x200, 0xFFFFFFFF);      // writable address: none on CARD1
    TFastRandom(seed ^ 0x1D17).Fill(std::span(header).subspan(0x1000, 0x30)); // initial data
    PutBytes(header, 0x1100, ncch_header.subspan(0x100, 0x100));
    std::fill(header.begin() + 0x1500, header.end(), 0xFF);
    return header;
}

} // namespace sample
