#pragma once
// Builds small CSAR sound archives in memory for tests, benchmarks and fuzz seeds: a 0x40-byte
// header, STRG, INFO, and a FILE partition holding a 32-byte header, a CWSD part and a CWAR
// (0x40-byte header, INFO clip table, FILE block). Parts are stored back to back; clips and
// the CWSD part are followed by the archive's alignment padding.

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace synth {

inline std::uint32_t Get32(const QByteArray& bytes, qsizetype at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

inline void Set32(QByteArray& bytes, qsizetype at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i));
}

inline void Set16(QByteArray& bytes, qsizetype at, std::uint16_t value) {
    bytes[at] = static_cast<char>(value);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

inline void SetMagic(QByteArray& bytes, const char* magic) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = magic[i];
}

/// Zero bytes the archive puts after a part of `length` bytes (8, 16, 24 modulo 32 only).
inline qsizetype Pad(qsizetype length) {
    const qsizetype rest = length % 32;
    return rest == 8 || rest == 16 || rest == 24 ? 32 - rest : 0;
}

/// `length` bytes of a pattern that differs with `seed`.
inline QByteArray Pattern(qsizetype length, int seed) {
    QByteArray bytes(length, '\0');
    for (qsizetype i = 0; i < length; ++i)
        bytes[i] = static_cast<char>((i * 7 + seed * 13 + 1) & 0xFF);
    return bytes;
}

struct TLayout {
    std::vector<QByteArray> Clips;
    std::uint32_t ClipType = 0x1F00;
    qsizetype StrgLength = 0x58;
    qsizetype InfoLength = 0x70;
    std::uint32_t CwsdLength = 56;       // S; 24 modulo 32 rebuilds byte for byte
    std::uint16_t CwsdHeaderLength = 32; // C, at least 32: where the CWSD part is read from
};

/// Absolute positions of the structures inside a built archive.
struct TArchive {
    QByteArray Bytes;
    qsizetype FileAt = 0;      // FILE partition
    qsizetype CwarAt = 0;      // CWAR
    qsizetype CwarInfoAt = 0;  // CWAR INFO section
    qsizetype CwarBlockAt = 0; // CWAR FILE block
};

inline QByteArray Header(const char* magic, std::uint16_t length) {
    QByteArray bytes(length, '\0');
    SetMagic(bytes, magic);
    Set16(bytes, 4, 0xFEFF);
    Set16(bytes, 6, length);
    Set32(bytes, 8, 0x01000000);
    return bytes;
}

inline QByteArray Partition(const char* magic, qsizetype length, int seed) {
    QByteArray bytes = Pattern(length, seed);
    SetMagic(bytes, magic);
    Set32(bytes, 4, static_cast<std::uint32_t>(length));
    return bytes;
}

inline QByteArray BuildCwar(const std::vector<QByteArray>& clips, std::uint32_t type) {
    const qsizetype count = static_cast<qsizetype>(clips.size());
    const qsizetype info_length = (12 + 12 * count + 31) / 32 * 32;
    QByteArray info(info_length, '\0');
    SetMagic(info, "INFO");
    Set32(info, 4, static_cast<std::uint32_t>(info_length));
    Set32(info, 8, static_cast<std::uint32_t>(count));
    QByteArray block(32, '\0');
    SetMagic(block, "FILE");
    for (qsizetype i = 0; i < count; ++i) {
        Set32(info, 12 + 12 * i, type);
        Set32(info, 16 + 12 * i, static_cast<std::uint32_t>(block.size() - 8));
        Set32(info, 20 + 12 * i, static_cast<std::uint32_t>(clips[i].size()));
        block += clips[i] + QByteArray(Pad(clips[i].size()), '\0');
    }
    Set32(block, 4, static_cast<std::uint32_t>(block.size()));
    QByteArray cwar = Header("CWAR", 0x40);
    Set16(cwar, 16, 2);
    Set32(cwar, 24, 0x40);
    Set32(cwar, 28, static_cast<std::uint32_t>(info_length));
    Set32(cwar, 36, static_cast<std::uint32_t>(0x40 + info_length));
    Set32(cwar, 40, static_cast<std::uint32_t>(block.size()));
    cwar += info + block;
    Set32(cwar, 12, static_cast<std::uint32_t>(cwar.size()));
    return cwar;
}

inline TArchive Build(const TLayout& layout) {
    TArchive archive;
    QByteArray file(32, '\0');
    SetMagic(file, "FILE");
    QByteArray cwsd = Pattern(layout.CwsdLength, 5);
    SetMagic(cwsd, "CWSD");
    Set16(cwsd, 6, layout.CwsdHeaderLength);
    Set32(cwsd, 12, layout.CwsdLength);
    file += cwsd;
    file += QByteArray(layout.CwsdHeaderLength + layout.CwsdLength + 8 - file.size(), '\0');
    const QByteArray cwar = BuildCwar(layout.Clips, layout.ClipType);
    const qsizetype cwar_in_file = file.size();
    file += cwar;
    Set32(file, 4, static_cast<std::uint32_t>(file.size()));

    QByteArray& bytes = archive.Bytes;
    bytes = Header("CSAR", 0x40);
    Set16(bytes, 16, 3);
    const QByteArray strg = Partition("STRG", layout.StrgLength, 1);
    const QByteArray info = Partition("INFO", layout.InfoLength, 2);
    Set32(bytes, 24, 0x40);
    Set32(bytes, 28, static_cast<std::uint32_t>(strg.size()));
    Set32(bytes, 36, static_cast<std::uint32_t>(0x40 + strg.size()));
    Set32(bytes, 40, static_cast<std::uint32_t>(info.size()));
    archive.FileAt = 0x40 + strg.size() + info.size();
    Set32(bytes, 48, static_cast<std::uint32_t>(archive.FileAt));
    Set32(bytes, 52, static_cast<std::uint32_t>(file.size()));
    bytes += strg + info + file;
    Set32(bytes, 12, static_cast<std::uint32_t>(bytes.size()));
    archive.CwarAt = archive.FileAt + cwar_in_file;
    archive.CwarInfoAt = archive.CwarAt + 0x40;
    archive.CwarBlockAt = archive.CwarAt + Get32(cwar, 36);
    return archive;
}

/// `count` clips of `length` bytes each; from 4 bytes on, each starts with its index.
inline std::vector<QByteArray> Clips(int count, qsizetype length) {
    std::vector<QByteArray> clips;
    for (int i = 0; i < count; ++i) {
        clips.push_back(Pattern(length, i + 100));
        if (length >= 4)
            Set32(clips.back(), 0, static_cast<std::uint32_t>(i));
    }
    return clips;
}

} // namespace synth
