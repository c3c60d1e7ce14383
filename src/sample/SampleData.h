#pragma once
// Content of the sample game "Veridane": the data archive, its index, the sound archive,
// the executable code, banner, icon and logo. Everything is derived from a seed, so the
// same options always give the same bytes.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace sample {

using TBytes = std::vector<std::uint8_t>;

/// xorshift64* generator: fast enough to stream a gigabyte of data archive in well under a
/// second, and good enough that no compressor or differ finds structure in it.
class TFastRandom {
public:
    explicit TFastRandom(std::uint64_t seed);
    std::uint64_t Next() {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 0x2545F4914F6CDD1DULL;
    }
    /// A value in [0, bound).
    std::uint32_t Below(std::uint32_t bound) {
        return static_cast<std::uint32_t>((Next() >> 32) % bound);
    }
    void Fill(std::span<std::uint8_t> out);

private:
    std::uint64_t m_state;
};

/// Appends little-endian fields and raw bytes to a growing buffer.
class TByteWriter {
public:
    TBytes& Bytes() { return m_bytes; }
    std::size_t Size() const { return m_bytes.size(); }
    void U8(std::uint8_t value) { m_bytes.push_back(value); }
    void U16(std::uint16_t value);
    void U32(std::uint32_t value);
    void U64(std::uint64_t value);
    void Text(const std::string& text) {
        for (char c : text)
            m_bytes.push_back(static_cast<std::uint8_t>(c));
    }
    void Raw(std::span<const std::uint8_t> bytes) {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    }
    void Zeros(std::size_t count) { m_bytes.resize(m_bytes.size() + count, 0); }
    void PadTo(std::size_t alignment, std::uint8_t fill = 0);
    void PutU16(std::size_t at, std::uint16_t value);
    void PutU32(std::size_t at, std::uint32_t value);

private:
    TBytes m_bytes;
};

// ---- Data archive ----------------------------------------------------------------------

/// The data archive as shipped (`changed` clear) or as a translation patch leaves it
/// (`changed` set): a few stretches rewritten and a tail appended. Delivered in pieces of
/// at most 4 MiB to `sink`, in file order, without ever holding the whole file.
void StreamPackDat(std::uint64_t seed, std::uint64_t size, bool changed,
                   const std::function<void(std::span<const std::uint8_t>)>& sink);

/// Length of the changed data archive for an original of `size` bytes.
std::uint64_t ChangedPackDatSize(std::uint64_t size);

/// The data archive's index: one entry per 64 KiB block of `pack_dat_size` bytes, at most
/// 4096 entries; `changed` gives the index that belongs to the changed archive.
TBytes MakePackInc(std::uint64_t seed, std::uint64_t pack_dat_size, bool changed);

// ---- Sound archive ---------------------------------------------------------------------

inline constexpr std::uint32_t kCsarHeaderLength = 0x40;
inline constexpr std::uint32_t kCsarInfoLength = 0xE240; // covers slot 33 at 0xE20F + 6
inline constexpr int kSampleClipCount = 8;

/// Where the parts of a generated sound archive lie (offsets from the archive start).
struct TSoundArchiveLayout {
    std::uint32_t StrgOffset = 0, StrgLength = 0;
    std::uint32_t InfoOffset = 0, InfoLength = 0;
    std::uint32_t FileOffset = 0, FileLength = 0;
    std::uint32_t CwsdLength = 0; // S, the CWSD's total length
    std::uint32_t CwarOffset = 0; // from the archive start
    std::uint32_t CwarLength = 0;
    std::vector<std::uint32_t> ClipLengths;
};

/// The track id that the game itself plays in music slot `slot` (0 to 33).
std::string DefaultSlotTrackId(int slot);

/// A CWAV clip of `length` bytes (at least 0xC0): header, INFO block and a DATA block of
/// 16-bit samples of a tone that `seed` chooses.
TBytes MakeClip(std::uint64_t seed, std::uint32_t length);

/// The game's CSAR sound archive: header, STRG, INFO (with the default track of every
/// music slot) and FILE (CWSD, CWAR with `kSampleClipCount` clips), stored back to back and
/// padded the way the archive packer pads, so unpacking and packing it gives it back.
TBytes MakeSoundArchive(std::uint64_t seed, TSoundArchiveLayout* layout = nullptr);

// ---- Executable file system ------------------------------------------------------------

inline constexpr std::uint32_t kCodeTextSize = 0x18000;
inline constexpr std::uint32_t kCodeReadOnlySize = 0x5000;
inline constexpr std::uint32_t kCodeDataSize = 0x3000;
inline constexpr std::uint32_t kIconSize = 0x36C0;

/// Uncompressed `.code`: ARM-like instruction words with function prologues, epilogues and
/// literal pools, then read-only strings and data; compresses roughly like real code.
TBytes MakeCode(std::uint64_t seed);
/// The `banner` file (a CBMD container).
TBytes MakeBanner(std::uint64_t seed, bool patched);
/// The `icon` file: an SMDH of 0x36C0 bytes with the titles and the region lockout.
TBytes MakeIcon(const std::string& region);
/// The NCCH logo region, 0x2000 bytes.
TBytes MakeLogo(std::uint64_t seed);

} // namespace sample
