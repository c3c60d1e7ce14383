#include "sample/SampleData.h"
#include "sound_archive/N3DSbcsar.h"

#include "sound_archive/MusicSlots.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

namespace sample {

namespace {

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;

/// splitmix64 step, used to turn small seeds into well-spread generator states.
std::uint64_t Mix(std::uint64_t value) {
    value += kGolden;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
    return value ^ (value >> 31);
}

void PutText(TBytes& bytes, std::size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

void PutUtf16(TBytes& bytes, std::size_t at, std::size_t capacity, const std::u16string& text) {
    for (std::size_t i = 0; i < text.size() && 2 * i + 1 < capacity; ++i) {
        bytes[at + 2 * i] = static_cast<std::uint8_t>(text[i] & 0xFF);
        bytes[at + 2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
    }
}

} // namespace

TFastRandom::TFastRandom(std::uint64_t seed) : m_state(Mix(seed)) {
    if (m_state == 0)
        m_state = kGolden;
}

void TFastRandom::Fill(std::span<std::uint8_t> out) {
    std::size_t i = 0;
    for (; i + 8 <= out.size(); i += 8) {
        const std::uint64_t value = Next();
        std::memcpy(out.data() + i, &value, 8);
    }
    if (i < out.size()) {
        const std::uint64_t value = Next();
        std::memcpy(out.data() + i, &value, out.size() - i);
    }
}

void TByteWriter::U16(std::uint16_t value) {
    U8(static_cast<std::uint8_t>(value));
    U8(static_cast<std::uint8_t>(value >> 8));
}
void TByteWriter::U32(std::uint32_t value) {
    U16(static_cast<std::uint16_t>(value));
    U16(static_cast<std::uint16_t>(value >> 16));
}
void TByteWriter::U64(std::uint64_t value) {
    U32(static_cast<std::uint32_t>(value));
    U32(static_cast<std::uint32_t>(value >> 32));
}
void TByteWriter::PadTo(std::size_t alignment, std::uint8_t fill) {
    while (m_bytes.size() % alignment != 0)
        m_bytes.push_back(fill);
}
void TByteWriter::PutU16(std::size_t at, std::uint16_t value) {
    m_bytes[at] = static_cast<std::uint8_t>(value);
    m_bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
void TByteWriter::PutU32(std::size_t at, std::uint32_t value) {
    PutU16(at, static_cast<std::uint16_t>(value));
    PutU16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

// ---- Data archive ----------------------------------------------------------------------

namespace {

constexpr std::size_t kPackChunk = 4u << 20;
constexpr int kChangedStretches = 8;
constexpr std::uint64_t kChangedTail = 5000;

struct TStretch {
    std::uint64_t Start;
    TBytes Bytes;
};

/// The stretches a translation rewrites: one in each eighth of the archive, of a few KiB.
std::vector<TStretch> ChangedStretches(std::uint64_t seed, std::uint64_t size) {
    std::vector<TStretch> stretches;
    for (int k = 0; k < kChangedStretches; ++k) {
        const std::uint64_t start = size * static_cast<std::uint64_t>(k) / kChangedStretches +
                                    static_cast<std::uint64_t>(k) * 4099 % 0x2000;
        if (start >= size)
            continue;
        const std::uint64_t length = std::min<std::uint64_t>(3000 + 517 * k, size - start);
        TStretch stretch{start, TBytes(length)};
        TFastRandom(seed ^ 0x5EED0000 ^ static_cast<std::uint64_t>(k)).Fill(stretch.Bytes);
        stretches.push_back(std::move(stretch));
    }
    return stretches;
}

} // namespace

std::uint64_t ChangedPackDatSize(std::uint64_t size) {
    return size + kChangedTail;
}

void StreamPackDat(std::uint64_t seed, std::uint64_t size, bool changed,
                   const std::function<void(std::span<const std::uint8_t>)>& sink) {
    const std::vector<TStretch> stretches =
        changed ? ChangedStretches(seed, size) : std::vector<TStretch>{};
    TBytes buffer(kPackChunk);
    std::uint64_t chunk_index = 0;
    for (std::uint64_t position = 0; position < size; position += kPackChunk, ++chunk_index) {
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(kPackChunk, size - position));
        std::span<std::uint8_t> chunk(buffer.data(), length);
        // Each chunk has its own generator, so the changed archive shares every untouched
        // byte with the original.
        TFastRandom(seed * kGolden + chunk_index).Fill(chunk);
        for (const TStretch& stretch : stretches) {
            const std::uint64_t begin = std::max(stretch.Start, position);
            const std::uint64_t end =
                std::min(stretch.Start + stretch.Bytes.size(), position + length);
            if (begin < end)
                std::memcpy(chunk.data() + (begin - position),
                            stretch.Bytes.data() + (begin - stretch.Start), end - begin);
        }
        sink(chunk);
    }
    if (changed) {
        TBytes tail(kChangedTail);
        TFastRandom(seed ^ 0x7A110000).Fill(tail);
        sink(tail);
    }
}

TBytes MakePackInc(std::uint64_t seed, std::uint64_t pack_dat_size, bool changed) {
    const std::uint64_t size = changed ? ChangedPackDatSize(pack_dat_size) : pack_dat_size;
    constexpr std::uint64_t kMaxEntries = 4096;
    std::uint64_t block = 0x10000;
    while ((size + block - 1) / block > kMaxEntries)
        block *= 2;
    const std::uint64_t count = (size + block - 1) / block;

    TByteWriter out;
    out.Text("VPIX");                   // index magic
    out.U32(changed ? 0x0102 : 0x0101); // index version: the translation bumps it
    out.U32(static_cast<std::uint32_t>(count));
    out.U32(static_cast<std::uint32_t>(block));
    out.U64(size);
    out.Zeros(8);
    TFastRandom random(seed ^ (changed ? 0x1C0000 : 0x1B0000));
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t offset = i * block;
        out.U64(offset);
        out.U32(static_cast<std::uint32_t>(std::min(block, size - offset)));
        out.U32(static_cast<std::uint32_t>(random.Next())); // block check word
    }
    return std::move(out.Bytes());
}

// ---- Sound archive ---------------------------------------------------------------------

std::string DefaultSlotTrackId(int slot) {
    // The default assignment: slot s plays the version of game 1 + s mod 3 of the track of
    // group 1 + s div 3; group 4 has one track for games 2 and 3; slot 33 is the menu.
    static const std::array<std::array<const char*, 3>, 11> kGroups = {{
        {"BGM008", "BGM077", "BGM117"},
        {"BGM013", "BGM069", "BGM118"},
        {"BGM010", "BGM072", "BGM119"},
        {"BGM005", "BGM071", "BGM071"},
        {"BGM004", "BGM070", "BGM121"},
        {"BGM011", "BGM073", "BGM120"},
        {"BGM002", "BGM074", "BGM123"},
        {"BGM024", "BGM078", "BGM122"},
        {"BGM003", "BGM075", "BGM124"},
        {"BGM025", "BGM065", "BGM126"},
        {"BGM012", "BGM088", "BGM137"},
    }};
    if (slot == 33)
        return "BGM200";
    return kGroups[static_cast<std::size_t>(slot / 3)][static_cast<std::size_t>(slot % 3)];
}

TBytes MakeClip(std::uint64_t seed, std::uint32_t length) {
    length = std::max<std::uint32_t>(length, 0xC0);
    TByteWriter out;
    out.Text("CWAV");
    out.U16(0xFEFF);     // byte-order mark
    out.U16(0x40);       // header length
    out.U32(0x02010000); // version
    out.U32(length);
    out.U16(2); // blocks
    out.U16(0);
    out.U16(0x7000); // INFO block reference
    out.U16(0);
    out.U32(0x40);
    out.U32(0x40);
    out.U16(0x7001); // DATA block reference
    out.U16(0);
    out.U32(0x80);
    out.U32(length - 0x80);
    out.PadTo(0x40);

    TFastRandom random(seed);
    const std::uint32_t sample_rate = 32728;
    const std::uint32_t samples = (length - 0xA0) / 2;
    out.Text("INFO");
    out.U32(0x40);
    out.U8(2); // 16-bit PCM
    out.U8(0); // no loop
    out.U16(0);
    out.U32(sample_rate);
    out.U32(0);       // loop start
    out.U32(samples); // loop end
    out.U32(0);
    out.U32(1); // one channel
    out.U16(0x7100);
    out.U16(0);
    out.U32(0x1C);
    out.PadTo(0x80);

    out.Text("DATA");
    out.U32(length - 0x80);
    out.PadTo(0xA0);
    const double frequency = 220.0 + random.Below(660);
    const double step = 2.0 * std::numbers::pi * frequency / sample_rate;
    for (std::uint32_t i = 0; i < samples; ++i) {
        const double envelope = 1.0 - static_cast<double>(i) / samples;
        out.U16(static_cast<std::uint16_t>(
            static_cast<std::int16_t>(std::lround(9000.0 * envelope * std::sin(step * i)))));
    }
    while (out.Size() < length)
        out.U8(0);
    return std::move(out.Bytes());
}

namespace {

TBytes MakeStrg() {
    std::vector<std::string> names;
    for (int i = 0; i < 34; ++i)
        names.push_back("STRM_" + DefaultSlotTrackId(i) + "_VRD");
    for (const char* scene : {"FIELD", "HARBOR", "LANTERN", "ARCHIVE", "MENU"})
        names.push_back(std::string("SEQ_VRD_") + scene);
    for (int i = 0; i < kSampleClipCount; ++i)
        names.push_back("WSD_VOICE_" + std::to_string(100 + i));
    names.push_back("WARC_VOICE");
    names.push_back("GROUP_VOICE");

    TByteWriter table;
    table.U32(static_cast<std::uint32_t>(names.size()));
    std::uint32_t string_offset = 4 + 12 * static_cast<std::uint32_t>(names.size());
    for (const std::string& name : names) {
        table.U16(0x1F01); // string reference
        table.U16(0);
        table.U32(string_offset);
        table.U32(static_cast<std::uint32_t>(name.size() + 1));
        string_offset += static_cast<std::uint32_t>(name.size() + 1);
    }
    for (const std::string& name : names) {
        table.Text(name);
        table.U8(0);
    }

    TByteWriter out;
    out.Text("STRG");
    out.U32(0);      // length, below
    out.U16(0x2400); // string table reference
    out.U16(0);
    out.U32(0x10);
    out.Raw(table.Bytes());
    out.PadTo(0x20);
    out.PutU32(4, static_cast<std::uint32_t>(out.Size()));
    return std::move(out.Bytes());
}

/// INFO partition: a reference table, then 44-byte sound entries whose 6-character name
/// lies 11 bytes into the entry; the music slots are the names of some of those entries.
TBytes MakeCsarInfo() {
    constexpr std::uint32_t kEntrySize = 44;
    constexpr std::uint32_t kNameOffset = 11;
    TBytes info(kCsarInfoLength, 0);
    PutText(info, 0, "INFO");
    TByteWriter head;
    head.U32(kCsarInfoLength);
    for (std::uint16_t i = 0; i < 8; ++i) {
        head.U16(static_cast<std::uint16_t>(0x2100 + i));
        head.U16(0);
        head.U32(0x58 + i * 0x1A00u);
    }
    std::copy(head.Bytes().begin(), head.Bytes().end(), info.begin() + 4);

    std::uint32_t index = 0;
    for (std::uint32_t entry = 2 * kEntrySize; entry + kEntrySize <= kCsarInfoLength;
         entry += kEntrySize, ++index) {
        TByteWriter record;
        record.U32(0x01000000 + index); // sound id
        record.U32(index);              // string id
        record.U8(0x7F);                // volume
        record.U8(0x40);                // pan
        record.U8(0x40);                // player priority
        char name[8];
        std::snprintf(name, sizeof(name), "SFX%03u", index % 1000);
        record.Text(std::string(name, 6));
        record.U8(static_cast<std::uint8_t>(index & 0x3));
        record.U16(0);
        record.U32(0x02000000 + index % 97); // file id
        record.U32(0x00010000 | (index % 5));
        record.Zeros(kEntrySize - record.Size());
        std::copy(record.Bytes().begin(), record.Bytes().end(), info.begin() + entry);
    }
    static_assert(kNameOffset == 4 + 4 + 3);
    for (int slot = 0; slot < kMusicSlotCount; ++slot)
        PutText(info, static_cast<std::size_t>(kMusicSlotOffsets[static_cast<std::size_t>(slot)]),
                DefaultSlotTrackId(slot));
    return info;
}

TBytes MakeCwsd(std::uint64_t seed) {
    // The unpacker finds the wave archive 8 bytes after the CWSD and the packer puts it
    // after the CWSD padded by its rule; both agree only when S leaves 24 modulo 32.
    constexpr std::uint32_t kLength = 0x1B8;
    static_assert(kLength % 32 == 24);
    TByteWriter out;
    out.Text("CWSD");
    out.U16(0xFEFF);
    out.U16(0x20); // header length: the unpacker reads the CWSD from this offset
    out.U32(0x01000000);
    out.U32(kLength);
    out.U16(1);
    out.U16(0);
    out.U16(0x7800);
    out.U16(0);
    out.U32(0x20);
    out.U32(kLength - 0x20);
    out.PadTo(0x20);
    out.Text("INFO");
    out.U32(kLength - 0x20);
    out.U32(kSampleClipCount);
    TFastRandom random(seed ^ 0xC45D);
    for (int i = 0; i < kSampleClipCount; ++i) {
        out.U16(0x4900);
        out.U16(0);
        out.U32(0x10 + 0x20u * static_cast<std::uint32_t>(i));
    }
    while (out.Size() < kLength) {
        out.U8(static_cast<std::uint8_t>(random.Below(4) == 0 ? random.Next() : 0));
    }
    return std::move(out.Bytes());
}

} // namespace

TBytes MakeSoundArchive(std::uint64_t seed, TSoundArchiveLayout* layout_out) {
    TSoundArchiveLayout layout;
    const TBytes strg = MakeStrg();
    const TBytes info = MakeCsarInfo();
    const TBytes cwsd = MakeCwsd(seed);

    // Clip lengths chosen to meet every case of the packer's padding rule.
    static constexpr std::array<std::uint32_t, kSampleClipCount> kClipLengths = {
        0x1F08, 0x2410, 0x1A18, 0x2000, 0x1E06, 0x2C2C, 0x1988, 0x3318};
    TByteWriter file_block;
    file_block.Text("FILE");
    file_block.U32(0);
    file_block.Zeros(24);
    std::vector<std::uint32_t> clip_offsets;
    for (int i = 0; i < kSampleClipCount; ++i) {
        const std::uint32_t length = kClipLengths[static_cast<std::size_t>(i)];
        clip_offsets.push_back(static_cast<std::uint32_t>(file_block.Size()) - 8);
        file_block.Raw(MakeClip(seed * 131 + static_cast<std::uint64_t>(i), length));
        file_block.Zeros(static_cast<std::uint32_t>(AlignmentPad(length)));
        layout.ClipLengths.push_back(length);
    }
    file_block.PutU32(4, static_cast<std::uint32_t>(file_block.Size()));

    TByteWriter cwar_info;
    cwar_info.Text("INFO");
    cwar_info.U32(0);
    cwar_info.U32(kSampleClipCount);
    for (int i = 0; i < kSampleClipCount; ++i) {
        cwar_info.U32(0x1F00); // clip reference type
        cwar_info.U32(clip_offsets[static_cast<std::size_t>(i)]);
        cwar_info.U32(kClipLengths[static_cast<std::size_t>(i)]);
    }
    cwar_info.PadTo(0x20);
    cwar_info.PutU32(4, static_cast<std::uint32_t>(cwar_info.Size()));

    constexpr std::uint32_t kCwarHeader = 0x40;
    const std::uint32_t cwar_length = kCwarHeader + static_cast<std::uint32_t>(cwar_info.Size()) +
                                      static_cast<std::uint32_t>(file_block.Size());
    TByteWriter cwar;
    cwar.Text("CWAR");
    cwar.U16(0xFEFF);
    cwar.U16(kCwarHeader);
    cwar.U32(0x01000000);
    cwar.U32(cwar_length);
    cwar.U16(2);
    cwar.U16(0);
    cwar.U16(0x6800); // INFO reference
    cwar.U16(0);
    cwar.U32(kCwarHeader);
    cwar.U32(static_cast<std::uint32_t>(cwar_info.Size()));
    cwar.U16(0x6801); // FILE reference
    cwar.U16(0);
    cwar.U32(kCwarHeader + static_cast<std::uint32_t>(cwar_info.Size()));
    cwar.U32(static_cast<std::uint32_t>(file_block.Size()));
    cwar.PadTo(kCwarHeader);
    cwar.Raw(cwar_info.Bytes());
    cwar.Raw(file_block.Bytes());

    TByteWriter file;
    file.Text("FILE");
    file.U32(0);
    file.Zeros(24);
    file.Raw(cwsd);
    file.Zeros(static_cast<std::uint32_t>(AlignmentPad(cwsd.size())));
    const std::uint32_t cwar_in_file = static_cast<std::uint32_t>(file.Size());
    file.Raw(cwar.Bytes());
    file.PutU32(4, static_cast<std::uint32_t>(file.Size()));

    layout.StrgOffset = kCsarHeaderLength;
    layout.StrgLength = static_cast<std::uint32_t>(strg.size());
    layout.InfoOffset = layout.StrgOffset + layout.StrgLength;
    layout.InfoLength = static_cast<std::uint32_t>(info.size());
    layout.FileOffset = layout.InfoOffset + layout.InfoLength;
    layout.FileLength = static_cast<std::uint32_t>(file.Size());
    layout.CwsdLength = static_cast<std::uint32_t>(cwsd.size());
    layout.CwarOffset = layout.FileOffset + cwar_in_file;
    layout.CwarLength = cwar_length;

    TByteWriter csar;
    csar.Text("CSAR");
    csar.U16(0xFEFF);
    csar.U16(kCsarHeaderLength);
    csar.U32(0x02050000); // version
    csar.U32(layout.FileOffset + layout.FileLength);
    csar.U16(3); // partitions
    csar.U16(0);
    const std::array<std::array<std::uint32_t, 3>, 3> references = {{
        {0x2000, layout.StrgOffset, layout.StrgLength},
        {0x2001, layout.InfoOffset, layout.InfoLength},
        {0x2002, layout.FileOffset, layout.FileLength},
    }};
    for (const auto& reference : references) {
        csar.U16(static_cast<std::uint16_t>(reference[0]));
        csar.U16(0);
        csar.U32(reference[1]);
        csar.U32(reference[2]);
    }
    csar.PadTo(kCsarHeaderLength);
    csar.Raw(strg);
    csar.Raw(info);
    csar.Raw(file.Bytes());
    if (layout_out)
        *layout_out = layout;
    return std::move(csar.Bytes());
}

// ---- Executable file system ------------------------------------------------------------

TBytes MakeCode(std::uint64_t seed) {
    TFastRandom random(seed ^ 0xC0DE);
    TByteWriter out;
    constexpr std::uint32_t kBase = 0x00100000;
    // Low registers are far more common than high ones, as in compiled code.
    auto reg = [&random]() -> std::uint32_t {
        const std::uint32_t roll = random.Below(16);
        return roll < 10 ? roll % 4 : roll < 14 ? 4 + roll % 4 : 8 + random.Below(5);
    };
    while (out.Size() + 0x100 < kCodeTextSize) {
        const std::uint32_t saved = 0x10 | (0xF0u & (0xF0u << random.Below(4)));
        out.U32(0xE92D4000 | saved); // push {…, lr}
        const std::uint32_t body = 4 + random.Below(40);
        std::vector<std::uint32_t> literals;
        for (std::uint32_t i = 0; i < body; ++i) {
            const std::uint32_t here = kBase + static_cast<std::uint32_t>(out.Size());
            switch (random.Below(9)) {
            case 0: // mov rd, rm
                out.U32(0xE1A00000 | reg() << 12 | reg());
                break;
            case 1: // ldr rd, [rn, #imm]
                out.U32(0xE5900000 | reg() << 16 | reg() << 12 | 4 * random.Below(16));
                break;
            case 2: // str rd, [rn, #imm]
                out.U32(0xE5800000 | reg() << 16 | reg() << 12 | 4 * random.Below(16));
                break;
            case 3: // add rd, rn, #imm
                out.U32(0xE2800000 | reg() << 16 | reg() << 12 | random.Below(64));
                break;
            case 4: // cmp rn, #imm
                out.U32(0xE3500000 | reg() << 16 | random.Below(16));
                break;
            case 5: { // bl to an earlier function
                const std::uint32_t target = kBase + 4 * random.Below(1 + (here - kBase) / 4);
                const std::int32_t delta = static_cast<std::int32_t>(target - here - 8) / 4;
                out.U32(0xEB000000 | (static_cast<std::uint32_t>(delta) & 0xFFFFFF));
                break;
            }
            case 6: // conditional branch forward
                out.U32((random.Below(2) ? 0x1A000000 : 0x0A000000) | random.Below(8));
                break;
            case 7: // ldr rd, [pc, #imm]: from the literal pool
                out.U32(0xE59F0000 | reg() << 12 | 4 * static_cast<std::uint32_t>(literals.size()));
                literals.push_back(kBase + kCodeTextSize + 4 * random.Below(0x1000));
                break;
            default: // mov rd, #imm
                out.U32(0xE3A00000 | reg() << 12 | random.Below(8));
                break;
            }
        }
        out.U32(0xE8BD8000 | saved); // pop {…, pc}
        for (std::uint32_t literal : literals)
            out.U32(literal);
    }
    out.Zeros(kCodeTextSize - out.Size());

    static const char* const kStrings[] = {"veridane/field/%s.map",
                                           "veridane/lantern/%02d.lyt",
                                           "pack.dat",
                                           "pack.inc",
                                           "sound/QK123.bcsar",
                                           "Failed to open %s (%d)",
                                           "Save data is damaged.",
                                           "scene_%03d",
                                           "chapter_%02d_%s",
                                           "VRD_DEBUG: %s:%d",
                                           "rom:/",
                                           "data:/"};
    while (out.Size() < kCodeTextSize + kCodeReadOnlySize - 0x40) {
        const char* text = kStrings[random.Below(std::size(kStrings))];
        out.Text(text);
        out.U8(0);
        out.PadTo(4);
        if (random.Below(3) == 0) // a small float table
            for (int i = 0; i < 4; ++i)
                out.U32(0x3F800000 + 0x00100000 * random.Below(8));
    }
    out.Zeros(kCodeTextSize + kCodeReadOnlySize - out.Size());
    while (out.Size() < kCodeTextSize + kCodeReadOnlySize + kCodeDataSize)
        out.U32(random.Below(4) == 0 ? kBase + 4 * random.Below(0x6000) : 0);
    return std::move(out.Bytes());
}

TBytes MakeBanner(std::uint64_t seed, bool patched) {
    TFastRandom random(seed ^ (patched ? 0xBA2 : 0xBA1));
    TByteWriter out;
    out.Text("CBMD");
    out.U32(0);
    out.U32(0x88); // common model
    out.Zeros(0x84 - out.Size());
    out.U32(0); // sound offset, below
    TByteWriter model;
    model.Text("CGFX");
    model.U16(0xFEFF);
    model.U16(0x14);
    model.U32(0x05000000);
    model.U32(0);
    model.U32(2);
    model.Text(patched ? "VRD banner (English)" : "VRD banner");
    while (model.Size() < 0x2400) {
        // Vertex data: slowly varying values, like a real model.
        model.U16(static_cast<std::uint16_t>(0x3C00 + random.Below(0x200)));
        model.U16(static_cast<std::uint16_t>(model.Size() / 8));
    }
    model.PutU32(0x0C, static_cast<std::uint32_t>(model.Size()));
    out.Raw(model.Bytes());
    out.PadTo(0x20);
    out.PutU32(0x84, static_cast<std::uint32_t>(out.Size()));
    out.Raw(MakeClip(seed ^ (patched ? 0x5B2 : 0x5B1), 0x1000));
    return std::move(out.Bytes());
}

TBytes MakeIcon(const std::string& region) {
    TBytes icon(kIconSize, 0);
    PutText(icon, 0, "SMDH");
    const std::u16string short_title = u"Veridane";
    const std::u16string long_title = u"Veridane: The Three Lanterns";
    const std::u16string publisher = u"Veridane Project Team";
    for (std::size_t language = 0; language < 16; ++language) {
        const std::size_t at = 8 + language * 0x200;
        PutUtf16(icon, at, 0x80, short_title);
        PutUtf16(icon, at + 0x80, 0x100, long_title);
        PutUtf16(icon, at + 0x180, 0x80, publisher);
    }
    const std::uint32_t lockout = region == "JAP" ? 0x01 : region == "USA" ? 0x02 : 0x0C;
    TByteWriter settings;
    settings.Zeros(0x10);  // age ratings
    settings.U32(lockout); // region lockout
    settings.Zeros(0x0C);  // match maker ids
    settings.U32(0x0001);  // visible in the home menu
    settings.U16(0);       // EULA version
    settings.U16(0);
    settings.U32(0x3F800000); // default animation frame of the banner
    settings.U32(0);          // streetpass id
    std::copy(settings.Bytes().begin(), settings.Bytes().end(), icon.begin() + 0x2008);
    // Two icons (24 × 24 and 48 × 48, RGB565): a green disc on a dark background.
    auto paint = [&icon](std::size_t at, int side) {
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const int dx = 2 * x - side + 1, dy = 2 * y - side + 1;
                const bool inside = dx * dx + dy * dy < side * side * 3 / 4;
                const std::uint16_t colour =
                    inside ? static_cast<std::uint16_t>(0x07E0 - (y / 4) * 0x40) : 0x18E3;
                const std::size_t pixel = at + 2 * static_cast<std::size_t>(y * side + x);
                icon[pixel] = static_cast<std::uint8_t>(colour);
                icon[pixel + 1] = static_cast<std::uint8_t>(colour >> 8);
            }
    };
    paint(0x2040, 24);
    paint(0x24C0, 48);
    return icon;
}

TBytes MakeLogo(std::uint64_t seed) {
    TBytes logo(0x2000, 0);
    TFastRandom random(seed ^ 0x1060);
    logo[0] = 0x11; // compressed darc, 0x3A00 bytes unpacked
    logo[1] = 0x00;
    logo[2] = 0x3A;
    logo[3] = 0x00;
    PutText(logo, 4, "darc");
    for (std::size_t i = 8; i < 0x1C40; ++i)
        logo[i] = static_cast<std::uint8_t>(random.Below(3) == 0 ? random.Next() : i / 64);
    return logo;
}

} // namespace sample
