#pragma once
// What reading and writing a compressed image share: the Z3DS header, metadata and seek table,
// the frame sizes the emulator writes, the frames' checksum, and the buffers frames are
// (de)compressed in by batches. Only the two halves of the format include it.

#include "ctr/FileIo.h"
#include "ctr/ImageKind.h"

#include <zstd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <thread>
#include <vector>

namespace ctr::z3ds {

// Header, 0x20 bytes.
constexpr std::uint32_t Z3dsMagic = MakeMagic('Z', '3', 'D', 'S');
constexpr std::size_t OffMagic = 0x00;
constexpr std::size_t OffUnderlyingMagic = 0x04;  // what the image is: NCSD, NCCH or "CIA\0"
constexpr std::size_t OffVersion = 0x08;          // u8, 1
constexpr std::size_t OffHeaderSize = 0x0A;       // u16, where the metadata starts
constexpr std::size_t OffMetadataSize = 0x0C;     // u32, a multiple of 16
constexpr std::size_t OffCompressedSize = 0x10;   // u64, bytes of the seekable stream
constexpr std::size_t OffUncompressedSize = 0x18; // u64, bytes of the image
constexpr std::uint16_t HeaderSize = 0x20;
constexpr std::uint8_t Z3dsVersion = 1;

// Metadata: a version byte, then items {type u8, name length u8, value length u16, name,
// value} up to an item of type 0, then zeros up to a multiple of 16.
constexpr std::uint8_t MetadataVersion = 1;
constexpr std::size_t MetadataItemHeader = 4;
constexpr std::uint8_t MetadataEnd = 0;
constexpr std::uint8_t MetadataBinary = 1;
constexpr std::size_t MetadataAlignment = 16;

// The seek table: a skippable frame {magic u32, content size u32, entries, footer} at the
// end of the stream. An entry is {compressed u32, decompressed u32[, checksum u32]}; the
// 9-byte footer is {frame count u32, descriptor u8, magic u32}.
constexpr std::uint32_t SkippableMagic = 0x184D2A5E;
constexpr std::uint32_t SeekTableMagic = 0x8F92EAB1;
constexpr std::size_t SkippableHeaderSize = 8;
constexpr std::size_t FooterSize = 9;
constexpr std::size_t FooterOffFrameCount = 0;
constexpr std::size_t FooterOffDescriptor = 4;
constexpr std::size_t FooterOffMagic = 5;
constexpr std::uint8_t DescriptorChecksumBit = 0x80;
// The seekable format's limit on one frame's decompressed bytes.
constexpr std::uint64_t MaxFrameSize = 1u << 30;

// Where the inner image shows what it is.
constexpr std::size_t ImageOffMagic = 0x100;
constexpr std::uint32_t CiaHeaderSize = 0x2020;
constexpr std::uint32_t NcsdMagic = MakeMagic('N', 'C', 'S', 'D');
constexpr std::uint32_t NcchMagic = MakeMagic('N', 'C', 'C', 'H');
constexpr std::uint32_t CiaMagic = MakeMagic('C', 'I', 'A', '\0');

// Frames as the emulator writes them: small ones for card images and NCCHs, large ones for a
// CIA, whose contents are read whole anyway.
constexpr std::uint32_t CardFrameSize = 256u << 10;
constexpr std::uint32_t CiaFrameSize = 32u << 20;
// Frames up to this size are decompressed whole and a few of them kept, within CacheBudget
// bytes (a card image's 256 KiB frames: sixteen of them). A read across a boundary copies its
// part of one frame before the next is loaded, so one slot is enough.
constexpr std::uint64_t WholeFrameLimit = 1u << 20;
constexpr std::uint64_t CacheBudget = 4u << 20;
constexpr std::size_t MinCachedFrames = 1;
constexpr std::size_t MaxCachedFrames = 16;
// Larger frames (a CIA's 32 MiB ones) are decompressed as they are read, keeping only the
// latest StreamWindow bytes: a mod folder run holds two readers at once (the difference and
// the digest) next to the difference's own source window, and reads mostly forward. A read
// behind the window starts its frame again.
constexpr std::uint64_t StreamWindow = 2u << 20;
// What a read that needs only a few bytes decompresses at least, so small reads in a row do
// not each call zstd; and the compressed bytes read at a time for such a frame.
constexpr std::size_t StreamStep = 256u << 10;
// Freed frame buffers and windows kept for the next reader, within this many bytes.
constexpr std::uint64_t PoolBudget = 16u << 20;
// zstd's level for writing; level 1 keeps a compressed output about as quick to write as a
// plain one on two cores (bench/ctr/Z3dsBench.cpp) and still shrinks images well.
constexpr int CompressionLevel = 1;
// Each frame read from a stream goes to zstd in pieces of this size.
constexpr std::size_t StreamPiece = 1u << 20;

// titleinfo: title ID u64, content size u64, version u16, unused u16, type u32.
constexpr std::size_t TitleInfoSize = 0x18;

inline std::uint32_t UnderlyingMagic(TImageKind kind) {
    switch (kind) {
    case TImageKind::Cci:
        return NcsdMagic;
    case TImageKind::Cxi:
        return NcchMagic;
    case TImageKind::Cia:
        return CiaMagic;
    }
    throw TCtrError("unknown image kind");
}

inline const char* KindName(TImageKind kind) {
    switch (kind) {
    case TImageKind::Cci:
        return "card image (NCSD)";
    case TImageKind::Cxi:
        return "NCCH";
    case TImageKind::Cia:
        return "CIA";
    }
    return "image";
}

// XXH64 (seed 0) as the seekable format's checksums use it, after the algorithm's published
// description, taken piece by piece as a frame is decompressed. libzstd carries its own copy but
// does not export it.
class TXxh64 {
public:
    static std::uint64_t Of(std::span<const std::uint8_t> data) {
        TXxh64 hash;
        hash.Update(data);
        return hash.Digest();
    }

    void Update(std::span<const std::uint8_t> data) {
        const std::uint8_t* at = data.data();
        const std::uint8_t* const end = at + data.size();
        m_length += data.size();
        // A stripe begun by an earlier piece is completed first.
        if (m_buffered > 0) {
            const std::size_t part = std::min<std::size_t>(Stripe - m_buffered, data.size());
            std::copy_n(at, part, m_buffer.data() + m_buffered);
            m_buffered += part;
            at += part;
            if (m_buffered < Stripe)
                return;
            Consume(m_buffer.data());
            m_buffered = 0;
        }
        for (; static_cast<std::size_t>(end - at) >= Stripe; at += Stripe)
            Consume(at);
        m_buffered = static_cast<std::size_t>(end - at);
        std::copy(at, end, m_buffer.data());
    }

    std::uint64_t Digest() const {
        std::uint64_t hash;
        if (m_length >= Stripe) {
            hash = Rotl(m_lanes[0], 1) + Rotl(m_lanes[1], 7) + Rotl(m_lanes[2], 12) +
                   Rotl(m_lanes[3], 18);
            for (const std::uint64_t lane : m_lanes)
                hash = (hash ^ Round(0, lane)) * P1 + P4;
        } else {
            hash = P5;
        }
        hash += m_length;
        const std::uint8_t* at = m_buffer.data();
        const std::uint8_t* const end = at + m_buffered;
        for (; end - at >= 8; at += 8)
            hash = Rotl(hash ^ Round(0, GetLE<std::uint64_t>(at)), 27) * P1 + P4;
        if (end - at >= 4) {
            hash = Rotl(hash ^ GetLE<std::uint32_t>(at) * P1, 23) * P2 + P3;
            at += 4;
        }
        for (; at < end; ++at)
            hash = Rotl(hash ^ *at * P5, 11) * P1;
        hash ^= hash >> 33;
        hash *= P2;
        hash ^= hash >> 29;
        hash *= P3;
        return hash ^ hash >> 32;
    }

private:
    static constexpr std::size_t Stripe = 32;
    static constexpr std::uint64_t P1 = 0x9E3779B185EBCA87;
    static constexpr std::uint64_t P2 = 0xC2B2AE3D27D4EB4F;
    static constexpr std::uint64_t P3 = 0x165667B19E3779F9;
    static constexpr std::uint64_t P4 = 0x85EBCA77C2B2AE63;
    static constexpr std::uint64_t P5 = 0x27D4EB2F165667C5;
    static std::uint64_t Rotl(std::uint64_t value, int bits) {
        return value << bits | value >> (64 - bits);
    }
    static std::uint64_t Round(std::uint64_t lane, std::uint64_t input) {
        return Rotl(lane + input * P2, 31) * P1;
    }
    void Consume(const std::uint8_t* stripe) {
        for (int i = 0; i < 4; ++i)
            m_lanes[i] = Round(m_lanes[i], GetLE<std::uint64_t>(stripe + 8 * i));
    }

    std::uint64_t m_lanes[4] = {P1 + P2, P2, 0, 0 - P1};
    std::uint64_t m_length = 0;
    std::array<std::uint8_t, Stripe> m_buffer{};
    std::size_t m_buffered = 0;
};

struct TCCtxDeleter {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

// Bytes whose pages are taken only as they are written (no zero fill), so a buffer sized for
// the worst case costs what is used.
struct TBuffer {
    std::unique_ptr<std::uint8_t[]> Data;
    std::size_t Capacity = 0;
    std::size_t Size = 0;

    void Reserve(std::size_t size) {
        if (Capacity < size) {
            Data.reset();
            Data = std::unique_ptr<std::uint8_t[]>(new std::uint8_t[size]);
            Capacity = size;
        }
    }
    std::span<std::uint8_t> Bytes() { return {Data.get(), Size}; }
};

// Frames compressed together: read on the caller's thread, compressed on the workers',
// written in order on the caller's.
struct TBatch {
    std::vector<TBuffer> Plain;
    std::vector<TBuffer> Packed;
    std::vector<std::uint32_t> Checksums;
    std::size_t Count = 0;
    std::vector<std::thread> Workers;
    std::vector<std::exception_ptr> Failures;

    ~TBatch() { Join(); }
    void Join() {
        for (std::thread& worker : Workers)
            worker.join();
        Workers.clear();
    }
};

} // namespace ctr::z3ds
