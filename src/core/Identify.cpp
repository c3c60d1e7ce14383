#include "core/Identify.h"

#include "core/Decryption.h"
#include "core/FileTools.h"
#include "ctr/ByteReader.h"
#include "ctr/Cia.h"
#include "ctr/Decrypt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <filesystem>
#include <limits>
#include <memory>

namespace {

// CIA header: four 32-bit section sizes; each section is aligned to 64 bytes.
constexpr std::int64_t kCiaHeaderSize = 0x00;
constexpr std::int64_t kCiaCertChainSize = 0x08;
constexpr std::int64_t kCiaTicketSize = 0x0C;
constexpr std::int64_t kCiaTmdSize = 0x10;
constexpr std::uint32_t kCiaExpectedHeaderSize = 0x2020;

// Magic of NCSD and NCCH headers.
constexpr std::int64_t kMagicOffset = 0x100;
constexpr std::uint32_t kMagicNcsd = ctr::MakeMagic('N', 'C', 'S', 'D');
constexpr std::uint32_t kMagicNcch = ctr::MakeMagic('N', 'C', 'C', 'H');

// Fields of an NCCH header, from its start.
constexpr std::int64_t kNcchProgramId = 0x118;
constexpr std::int64_t kNcchProductCode = 0x150;
constexpr std::int64_t kNcchRomFsOffset = 0x1B0; // in media units
constexpr std::int64_t kExHeaderProgramId = 0x400;
constexpr std::int64_t kNcchRomFsLevel3 = 0x1000; // level 3 after the IVFC header block

// An NCSD image holds a copy of partition 0's NCCH header from its magic on at 0x1100;
// partition 0 itself starts at 0x4000, its extended header's jump ID at 0x43C8.
constexpr std::int64_t kNcsdProgramId = 0x1118;
constexpr std::int64_t kNcsdProductCode = 0x1150;
constexpr std::int64_t kNcsdRomFsOffset = 0x11B0;
constexpr std::int64_t kNcsdExHeaderJumpId = 0x43C8;
constexpr std::int64_t kNcsdRomFsLevel3 = 0x5000; // partition start + level 3 offset

constexpr std::int64_t kMediaUnit = 0x200;
constexpr int kProductCodeLength = 10;

// RomFS level 3 header: offsets, relative to level 3, of the file metadata table and the
// file data area. The game's sound archive is the file entry 0x60 bytes into the table;
// a file entry holds its 64-bit data offset at 0x08.
constexpr std::int64_t kL3FileMetaOffset = 0x1C;
constexpr std::int64_t kL3FileDataOffset = 0x24;
constexpr std::int64_t kSoundArchiveEntryDataOffset = 0x60 + 0x08;
// Sound archive header: offset of the INFO partition, relative to the archive.
constexpr std::int64_t kCsarInfoOffset = 0x24;

struct TRegion {
    std::uint32_t ProgramIdLow;
    const char* Name;
};
constexpr std::array<TRegion, 3> kRegions = {{
    {0x00108800, "JAP"},
    {0x00138F00, "USA"},
    {0x00133300, "EUR"},
}};

constexpr std::int64_t kUnreachable = std::numeric_limits<std::int64_t>::max();

/// Sum of non-negative positions that saturates instead of overflowing; a saturated
/// position lies beyond every file and so reads as zero.
std::int64_t Add(std::int64_t a, std::int64_t b) {
    if (a < 0 || b < 0 || a > kUnreachable - b)
        return kUnreachable;
    return a + b;
}

/// Reads fields of an open image by seeking; bytes beyond the end read as zero. Once an
/// encrypted image's keys are known, the fields come through its decrypting reader.
class TFieldReader {
public:
    explicit TFieldReader(QFile& file) : m_file(file), m_size(file.size()) {}
    void DecryptWith(std::unique_ptr<ctr::TDecryptingReader> reader) {
        m_decrypting = std::move(reader);
    }

    QByteArray Bytes(std::int64_t position, int length) {
        QByteArray bytes(length, '\0');
        if (position < 0 || position >= m_size)
            return bytes;
        const std::int64_t available = std::min<std::int64_t>(length, m_size - position);
        if (m_decrypting) {
            try {
                m_decrypting->Read(static_cast<std::uint64_t>(position),
                                   std::span(reinterpret_cast<std::uint8_t*>(bytes.data()),
                                             static_cast<std::size_t>(available)));
                m_bytes_read += available;
            } catch (const std::exception&) {
            }
            return bytes;
        }
        if (!m_file.seek(position))
            return bytes;
        const qint64 got = m_file.read(bytes.data(), available);
        if (got > 0)
            m_bytes_read += got;
        return bytes;
    }

    std::uint32_t U32(std::int64_t position) { return Value<std::uint32_t>(position); }
    std::uint64_t U64(std::int64_t position) { return Value<std::uint64_t>(position); }
    std::int64_t BytesRead() const { return m_bytes_read; }

private:
    template <typename T> T Value(std::int64_t position) {
        const QByteArray bytes = Bytes(position, sizeof(T));
        const ctr::TByteReader reader(std::span<const std::uint8_t>(
            reinterpret_cast<const std::uint8_t*>(bytes.constData()), sizeof(T)));
        return reader.Read<T>(0).value_or(0);
    }

    QFile& m_file;
    std::int64_t m_size;
    std::int64_t m_bytes_read = 0;
    std::unique_ptr<ctr::TDecryptingReader> m_decrypting;
};

// The entries that follow the refusal of an encrypted image: why it could not be taken apart
// (a missing key by its name, a title without its seed by its ID, never a key itself) and the
// files read, then how to get a decrypted image.
void AppendKeyAdvice(TIdentifyResult& result, const TSourceCrypto& crypto,
                     const TLanguageTable& texts) {
    // A reason of several lines starts on a line of its own.
    const auto reason = [&](const char* key) {
        const QString separator = crypto.Problem.contains(QLatin1Char('\n'))
                                      ? QStringLiteral("\r\n")
                                      : QStringLiteral(" ");
        result.LogEntries.append(texts.Lookup(QLatin1String(key)) + separator + crypto.Problem);
    };
    if (crypto.ImageProblem) {
        reason("LogEncryptedImageProblem");
    } else if (crypto.KeysMissing && !crypto.KeyFileFound) {
        result.LogEntries.append(texts.Lookup(QStringLiteral("LogEncryptedNoKeys")));
    } else {
        reason("LogEncryptedKeyProblem");
        QStringList files;
        for (const QString& file : crypto.FilesRead)
            files << QDir::toNativeSeparators(file);
        result.LogEntries.append(texts.Lookup(QStringLiteral("LogEncryptedFilesRead")) +
                                 QLatin1Char(' ') + files.join(QStringLiteral(", ")));
    }
    result.LogEntries.append(texts.Lookup(QStringLiteral("LogEncryptedGodMode9")));
}

// The title ID of a CIA by its TMD, which is never encrypted; empty when the CIA cannot be
// read that far.
QString CiaTitleId(const QString& path) {
    try {
        ctr::TInFile file(std::filesystem::path(path.toStdU16String()));
        return QStringLiteral("%1")
            .arg(ctr::ReadCia(file).TitleId, 16, 16, QLatin1Char('0'))
            .toUpper();
    } catch (const ctr::TCtrError&) {
        return QString();
    }
}

/// Where the fields of each kind lie.
struct TLayout {
    std::int64_t ProgramId;
    std::int64_t ExHeaderProgramId;
    std::int64_t ProductCode;
    std::int64_t RomFsOffset;
    std::int64_t Level3Base; // added to RomFS offset × media unit
};

TLayout LayoutFor(const QString& kind, std::int64_t content_offset) {
    if (kind == QLatin1String(".3ds"))
        return {kNcsdProgramId, kNcsdExHeaderJumpId, kNcsdProductCode, kNcsdRomFsOffset,
                kNcsdRomFsLevel3};
    const std::int64_t c = kind == QLatin1String(".cia") ? content_offset : 0;
    return {Add(c, kNcchProgramId), Add(c, kExHeaderProgramId), Add(c, kNcchProductCode),
            Add(c, kNcchRomFsOffset), Add(c, kNcchRomFsLevel3)};
}

} // namespace

QString SourceKindOfPath(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return QString();
    const QString extension = name.mid(dot).toLower();
    if (extension == QLatin1String(".cia") || extension == QLatin1String(".3ds") ||
        extension == QLatin1String(".cxi"))
        return extension;
    return QString();
}

QString SourceImageFilter() {
    return QStringLiteral("Decrypted CIA ROM (*.cia)|*.cia|Decrypted CXI ROM (*.cxi)|*.cxi|"
                          "Decrypted 3DS ROM (*.3ds)|*.3ds");
}

TIdentifyResult IdentifySourceImage(const QString& path, const TLanguageTable& texts) {
    TIdentifyResult result;
    QFile file(path);
    // Only a regular file can be an image: opening a named pipe would wait for a writer.
    // Unbuffered, so that only the bytes of the fields themselves are read.
    if (path.isEmpty() || !QFileInfo(path).isFile() ||
        !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        result.ErrorKey = QStringLiteral("ErrorLoadingROM");
        return result;
    }
    result.Opened = true;
    TFieldReader reader(file);
    const auto finish = [&]() -> TIdentifyResult {
        result.BytesRead = reader.BytesRead();
        return result;
    };

    // Container test by extension.
    const QString kind = SourceKindOfPath(path);
    std::int64_t content_offset = 0;
    if (kind == QLatin1String(".cia")) {
        if (reader.U32(kCiaHeaderSize) != kCiaExpectedHeaderSize) {
            result.ErrorKey = QStringLiteral("ErrorNOTCIAROM");
            return finish();
        }
        for (const std::int64_t field :
             {kCiaHeaderSize, kCiaCertChainSize, kCiaTicketSize, kCiaTmdSize}) {
            const std::int64_t size = reader.U32(field);
            content_offset = Add(content_offset, Add(size, PadTo64(size)));
        }
    } else if (kind == QLatin1String(".3ds")) {
        if (reader.U32(kMagicOffset) != kMagicNcsd) {
            result.ErrorKey = QStringLiteral("ErrorNOT3DSROM");
            return finish();
        }
    } else if (kind == QLatin1String(".cxi")) {
        if (reader.U32(kMagicOffset) != kMagicNcch) {
            result.ErrorKey = QStringLiteral("ErrorNOTCXIROM");
            return finish();
        }
    } else {
        // Not one of the three kinds: nothing to identify it by.
        result.ErrorKey = QStringLiteral("ErrorLoadingROM");
        return finish();
    }
    result.Kind = kind;
    const TLayout layout = LayoutFor(kind, content_offset);

    // Encryption test: a decrypted image repeats the program ID in its extended header.
    QByteArray program_id;
    const auto read_program_id = [&] {
        program_id = reader.Bytes(layout.ProgramId, 8);
        std::uint64_t title_id = 0;
        for (qsizetype i = program_id.size(); i-- > 0;)
            title_id = (title_id << 8) | static_cast<std::uint8_t>(program_id.at(i));
        result.TitleId = QStringLiteral("%1").arg(title_id, 16, 16, QLatin1Char('0')).toUpper();
    };
    read_program_id();
    if (program_id != reader.Bytes(layout.ExHeaderProgramId, 8)) {
        result.Encrypted = true;
        std::unique_ptr<ctr::TDecryptingReader> decrypting;
        const TSourceCrypto crypto = InspectSourceCrypto(path, kind, KeySearch(), &decrypting);
        if (crypto.Encrypted && crypto.Ready()) {
            reader.DecryptWith(std::move(decrypting));
            read_program_id(); // a CIA's content layer hides its NCCH header too
            result.KeysFound = program_id == reader.Bytes(layout.ExHeaderProgramId, 8);
        }
        if (!result.KeysFound) {
            // Keys would not help an image that cannot be taken apart.
            result.NeedsKeys = crypto.Encrypted && !crypto.ImageProblem;
            // What was read as a CIA's program ID is still encrypted.
            if (kind == QLatin1String(".cia"))
                result.TitleId = CiaTitleId(path);
            result.LogEntries.append(texts.Lookup(QStringLiteral("LogEncrypted")) +
                                     QStringLiteral("\r\n"));
            if (!crypto.Ready())
                AppendKeyAdvice(result, crypto, texts);
            return finish();
        }
        result.LogEntries.append(texts.Lookup(QStringLiteral("LogEncryptedWillDecrypt")));
        if (!crypto.KeyFile.isEmpty())
            result.LogEntries.append(texts.Lookup(QStringLiteral("LogEncryptedKeysFrom")) +
                                     QLatin1Char(' ') + QDir::toNativeSeparators(crypto.KeyFile));
    }

    // Product code, then the sound archive through the RomFS level 3 tables.
    result.ProductCode = reader.Bytes(layout.ProductCode, kProductCodeLength);
    result.LogEntries.append(
        (kind == QLatin1String(".cia") ? QStringLiteral("Product Code: ")
                                       : QStringLiteral("ProductCode: ")) +
        QString::fromLatin1(result.ProductCode.left(result.ProductCode.indexOf('\0') < 0
                                                        ? kProductCodeLength
                                                        : result.ProductCode.indexOf('\0'))));
    const std::int64_t romfs_units = reader.U32(layout.RomFsOffset);
    const std::int64_t level3 = Add(romfs_units * kMediaUnit, layout.Level3Base);
    const std::int64_t meta = reader.U32(Add(level3, kL3FileMetaOffset));
    const std::int64_t data = reader.U32(Add(level3, kL3FileDataOffset));
    const std::uint64_t entry_data =
        reader.U64(Add(Add(level3, meta), kSoundArchiveEntryDataOffset));
    const std::int64_t archive =
        Add(Add(level3, data), entry_data > static_cast<std::uint64_t>(kUnreachable)
                                   ? kUnreachable
                                   : static_cast<std::int64_t>(entry_data));
    result.InfoPosition = Add(archive, reader.U32(Add(archive, kCsarInfoOffset)));
    result.HasInfoPosition = true;

    // Region by the low half of the program ID.
    const std::uint32_t id_low = static_cast<std::uint32_t>(
        ctr::TByteReader(std::span<const std::uint8_t>(
                             reinterpret_cast<const std::uint8_t*>(program_id.constData()), 8))
            .U32(0)
            .value_or(0));
    for (const TRegion& region : kRegions) {
        if (region.ProgramIdLow == id_low) {
            result.Region = QString::fromLatin1(region.Name);
            result.LogEntries.append(QStringLiteral("ROM Region: ") + result.Region);
            return finish();
        }
    }
    result.ErrorKey = QStringLiteral("ErrorWrongROM");
    return finish();
}
