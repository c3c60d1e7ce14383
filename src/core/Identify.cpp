#include "core/Identify.h"

#include "core/Decryption.h"
#include "core/FileTools.h"
#include "ctr/ByteReader.h"
#include "ctr/Cia.h"
#include "ctr/Decrypt.h"
#include "ctr/Z3ds.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <array>
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

/// Reads fields of an open image by seeking; bytes beyond the end read as zero. A compressed
/// image is read as the image it holds. Once an encrypted image's keys are known, the fields
/// come through its decrypting reader.
class TFieldReader {
public:
    explicit TFieldReader(ctr::TInFile& file)
        : m_file(file), m_size(static_cast<std::int64_t>(file.Size())) {}
    void DecryptWith(std::unique_ptr<ctr::TDecryptingReader> reader) {
        m_decrypting = std::move(reader);
    }

    QByteArray Bytes(std::int64_t position, int length) {
        QByteArray bytes(length, '\0');
        if (position < 0 || position >= m_size)
            return bytes;
        const std::int64_t available = std::min<std::int64_t>(length, m_size - position);
        const std::span out(reinterpret_cast<std::uint8_t*>(bytes.data()),
                            static_cast<std::size_t>(available));
        try {
            if (m_decrypting)
                m_decrypting->Read(static_cast<std::uint64_t>(position), out);
            else
                m_file.ReadAt(static_cast<std::uint64_t>(position), out, "a header field");
            m_bytes_read += available;
        } catch (const std::exception&) {
            std::fill(out.begin(), out.end(), std::uint8_t{0});
        }
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

    ctr::TInFile& m_file;
    std::int64_t m_size;
    std::int64_t m_bytes_read = 0;
    std::unique_ptr<ctr::TDecryptingReader> m_decrypting;
};

QString KindText(ctr::TImageKind kind) {
    switch (kind) {
    case ctr::TImageKind::Cia:
        return QStringLiteral(".cia");
    case ctr::TImageKind::Cci:
        return QStringLiteral(".3ds");
    case ctr::TImageKind::Cxi:
        break;
    }
    return QStringLiteral(".cxi");
}

/// Opens the image for its fields: a compressed one through its frames. Null when it cannot
/// be read, with the reason of a damaged compressed file in `problem`.
std::unique_ptr<ctr::TInFile> OpenForFields(const QString& path, QString& problem) {
    try {
        return ctr::OpenImageFile(ToPath(path));
    } catch (const std::exception& error) {
        if (ctr::IsZ3dsFile(ToPath(path)))
            problem = QString::fromUtf8(error.what());
        return nullptr;
    }
}

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
        return QStringLiteral("%1")
            .arg(ctr::ReadCia(*ctr::OpenImageFile(ToPath(path))).TitleId, 16, 16, QLatin1Char('0'))
            .toUpper();
    } catch (const std::exception&) {
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

QString SourceKindOfPath(const QString& path, bool* compressed) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    QString extension = dot < 0 ? QString() : name.mid(dot).toLower();
    const bool z = extension.startsWith(QLatin1String(".z"));
    if (compressed)
        *compressed = false;
    if (z)
        extension.remove(1, 1);
    QString kind;
    if (extension == QLatin1String(".cia") || extension == QLatin1String(".cxi") ||
        (!z && extension == QLatin1String(".3ds")))
        kind = extension;
    else if (extension == QLatin1String(".cci"))
        kind = QStringLiteral(".3ds");
    if (compressed && !kind.isEmpty())
        *compressed = z;
    return kind;
}

TSourceForm SourceFormOfFile(const QString& path) {
    TSourceForm form;
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return form;
    const std::unique_ptr<ctr::TInFile> image = OpenForFields(path, form.Problem);
    form.Compressed = !form.Problem.isEmpty();
    if (!image)
        return form;
    form.Opened = true;
    form.Compressed = !image->Direct();
    try {
        if (const auto kind = ctr::DetectImageKind(*image))
            form.Kind = KindText(*kind);
    } catch (const std::exception& error) {
        if (form.Compressed)
            form.Problem = QString::fromUtf8(error.what());
    }
    return form;
}

QString SourceFormName(const QString& kind, bool compressed) {
    QString name =
        kind == QLatin1String(".3ds") ? QStringLiteral("3DS/CCI") : kind.mid(1).toUpper();
    if (compressed)
        name += QStringLiteral(", compressed");
    return name;
}

QString SourceImageFilter() {
    return QStringLiteral("Decrypted CIA ROM (*.cia)|*.cia|Decrypted CXI ROM (*.cxi)|*.cxi|"
                          "Decrypted 3DS ROM (*.3ds)|*.3ds|"
                          "CCI ROM (*.cci)|*.cci|"
                          "Compressed ROM (*.zcia *.zcxi *.zcci)|*.zcia;*.zcxi;*.zcci|"
                          "All game images (*.cia *.cxi *.3ds *.cci *.zcia *.zcxi *.zcci)|"
                          "*.cia;*.cxi;*.3ds;*.cci;*.zcia;*.zcxi;*.zcci|"
                          "All files (*)|*");
}

TIdentifyResult IdentifySourceImage(const QString& path, const TLanguageTable& texts) {
    TIdentifyResult result;
    // Only a regular file can be an image: opening a named pipe would wait for a writer.
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        result.ErrorKey = QStringLiteral("ErrorLoadingROM");
        return result;
    }
    QString problem;
    const std::unique_ptr<ctr::TInFile> image = OpenForFields(path, problem);
    if (!image && problem.isEmpty()) {
        result.ErrorKey = QStringLiteral("ErrorLoadingROM");
        return result;
    }
    result.Opened = true;
    if (!image) {
        // A compressed file whose header, seek table or frames do not hold together.
        result.Compressed = true;
        result.LogEntries.append(texts.Lookup(QStringLiteral("ErrorCompressedImage")) +
                                 QStringLiteral("\r\n") + problem);
        result.ErrorKey = QStringLiteral("ErrorCompressedImage");
        return result;
    }
    result.Compressed = !image->Direct();
    TFieldReader reader(*image);
    const auto finish = [&]() -> TIdentifyResult {
        result.BytesRead = reader.BytesRead();
        return result;
    };

    // Container test by the content: the CIA header size, or the magic at 0x100. The name's
    // extension only chooses the words of the refusal when the content is none of them.
    bool named_compressed = false;
    const QString named_kind = SourceKindOfPath(path, &named_compressed);
    QString kind;
    if (reader.U32(kMagicOffset) == kMagicNcsd)
        kind = QStringLiteral(".3ds");
    else if (reader.U32(kMagicOffset) == kMagicNcch)
        kind = QStringLiteral(".cxi");
    else if (reader.U32(kCiaHeaderSize) == kCiaExpectedHeaderSize)
        kind = QStringLiteral(".cia");
    if (kind.isEmpty()) {
        if (named_kind == QLatin1String(".cia"))
            result.ErrorKey = QStringLiteral("ErrorNOTCIAROM");
        else if (named_kind == QLatin1String(".3ds"))
            result.ErrorKey = QStringLiteral("ErrorNOT3DSROM");
        else if (named_kind == QLatin1String(".cxi"))
            result.ErrorKey = QStringLiteral("ErrorNOTCXIROM");
        else
            result.ErrorKey = QStringLiteral("ErrorNotAnImage");
        return finish();
    }
    if (kind != named_kind || result.Compressed != named_compressed) {
        // The name says otherwise (or nothing): the content decides, and the log says so.
        result.LogEntries.append(texts.Lookup(QStringLiteral("LogKindByContent")) +
                                 QLatin1Char(' ') + SourceFormName(kind, result.Compressed));
    }
    std::int64_t content_offset = 0;
    if (kind == QLatin1String(".cia")) {
        for (const std::int64_t field :
             {kCiaHeaderSize, kCiaCertChainSize, kCiaTicketSize, kCiaTmdSize}) {
            const std::int64_t size = reader.U32(field);
            content_offset = Add(content_offset, Add(size, PadTo64(size)));
        }
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
