#pragma once
// Minimal source images for identification tests: only the fields that identification and
// the track list read (container header, program IDs, product code, RomFS offset, the RomFS
// level 3 tables, the sound archive header and its INFO partition) are written; everything
// else is zero. Large positions are written sparsely.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <map>

namespace sample {

inline constexpr std::uint32_t kJap = 0x00108800;
inline constexpr std::uint32_t kUsa = 0x00138F00;
inline constexpr std::uint32_t kEur = 0x00133300;

struct TImageSpec {
    QString Kind = QStringLiteral(".cia");
    std::uint32_t ProgramIdLow = kEur;
    bool Encrypted = false;
    std::uint32_t CiaHeaderSize = 0x2020;
    QByteArray ProductCode = "CTR-P-QVTE";
    std::int64_t ArchiveGap = 0x100; // offset of the sound archive in the RomFS data area
};

/// Positions of the fields in a built image, for cutting it short at each of them.
struct TImageLayout {
    std::int64_t Container = 0;
    std::int64_t ProgramId = 0;
    std::int64_t ExHeaderProgramId = 0;
    std::int64_t ProductCode = 0;
    std::int64_t RomFsOffset = 0;
    std::int64_t Level3 = 0;
    std::int64_t SoundArchiveEntry = 0;
    std::int64_t Archive = 0;
    std::int64_t InfoPosition = 0;
    std::int64_t Size = 0;
};

class TImageBuilder {
public:
    void Put(std::int64_t position, const QByteArray& bytes) { m_writes[position] = bytes; }
    void Put32(std::int64_t position, std::uint32_t value) { Put(position, LE(value, 4)); }
    void Put64(std::int64_t position, std::uint64_t value) { Put(position, LE(value, 8)); }

    /// Writes the image, `size` bytes long (sparse where nothing was put), cut at `cut` when
    /// that is smaller.
    bool Write(const QString& path, std::int64_t size, std::int64_t cut = -1) const {
        const std::int64_t length = cut >= 0 && cut < size ? cut : size;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(length))
            return false;
        for (const auto& [position, bytes] : m_writes) {
            if (position >= length)
                continue;
            const QByteArray part = bytes.left(static_cast<qsizetype>(length - position));
            if (!file.seek(position) || file.write(part) != part.size())
                return false;
        }
        return true;
    }

    static QByteArray LE(std::uint64_t value, int width) {
        QByteArray bytes(width, '\0');
        for (int i = 0; i < width; ++i)
            bytes[i] = static_cast<char>(value >> (8 * i));
        return bytes;
    }

private:
    std::map<std::int64_t, QByteArray> m_writes;
};

/// Builds the fields of an image described by `shape`; returns where they lie.
inline TImageLayout BuildImage(const TImageSpec& shape, TImageBuilder& image) {
    TImageLayout layout;
    const std::uint64_t program_id = 0x0004000000000000ULL | shape.ProgramIdLow;
    const std::uint64_t exheader_id =
        shape.Encrypted ? program_id ^ 0x5A5A5A5A00000000ULL : program_id;
    const std::uint32_t romfs_units = 0x10;
    std::int64_t ncch = 0;
    if (shape.Kind == QLatin1String(".cia")) {
        // Header 0x2020, certificates 0xA00, ticket 0x350, TMD 0xB34, each 64-byte aligned.
        image.Put32(0x00, shape.CiaHeaderSize);
        image.Put32(0x08, 0xA00);
        image.Put32(0x0C, 0x350);
        image.Put32(0x10, 0xB34);
        layout.Container = 0;
        ncch = 0x2040 + 0xA00 + 0x380 + 0xB40;
    }
    if (shape.Kind == QLatin1String(".3ds")) {
        image.Put(0x100, "NCSD");
        layout.Container = 0x100;
        image.Put(0x1100, "NCCH");
        layout.ProgramId = 0x1118;
        layout.ProductCode = 0x1150;
        layout.RomFsOffset = 0x11B0;
        layout.ExHeaderProgramId = 0x43C8;
        image.Put(0x4100, "NCCH");
        image.Put64(0x4118, program_id);
        layout.Level3 = std::int64_t(romfs_units) * 0x200 + 0x5000;
    } else {
        image.Put(ncch + 0x100, "NCCH");
        if (shape.Kind == QLatin1String(".cxi"))
            layout.Container = 0x100;
        layout.ProgramId = ncch + 0x118;
        layout.ProductCode = ncch + 0x150;
        layout.RomFsOffset = ncch + 0x1B0;
        layout.ExHeaderProgramId = ncch + 0x400;
        layout.Level3 = ncch + std::int64_t(romfs_units) * 0x200 + 0x1000;
    }
    image.Put64(layout.ProgramId, program_id);
    image.Put64(layout.ExHeaderProgramId, exheader_id);
    image.Put(layout.ProductCode, shape.ProductCode.left(10).leftJustified(10, '\0'));
    image.Put32(layout.RomFsOffset, romfs_units);
    // Level 3: file metadata table at +0x200, file data at +0x400; the sound archive is the
    // file entry 0x60 bytes into the table, its data offset at entry + 8.
    image.Put32(layout.Level3 + 0x1C, 0x200);
    image.Put32(layout.Level3 + 0x24, 0x400);
    layout.SoundArchiveEntry = layout.Level3 + 0x200 + 0x68;
    image.Put64(layout.SoundArchiveEntry, static_cast<std::uint64_t>(shape.ArchiveGap));
    layout.Archive = layout.Level3 + 0x400 + shape.ArchiveGap;
    image.Put(layout.Archive, "CSAR");
    image.Put32(layout.Archive + 0x24, 0x40);
    layout.InfoPosition = layout.Archive + 0x40;
    image.Put(layout.InfoPosition, "INFO");
    layout.Size = layout.InfoPosition + 0xE300;
    return layout;
}

/// Writes an image of `shape` to `path`; returns its layout. `cut` shortens the file.
inline TImageLayout WriteImage(const TImageSpec& shape, const QString& path,
                               std::int64_t cut = -1) {
    TImageBuilder image;
    const TImageLayout layout = BuildImage(shape, image);
    image.Write(path, layout.Size, cut);
    return layout;
}

} // namespace sample
