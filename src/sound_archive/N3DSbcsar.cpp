#include "sound_archive/N3DSbcsar.h"

#include "ctr/ByteReader.h"
#include "sound_archive/FileBasics.h"
#include "sound_archive/PieceFiles.h"

#include <QFile>
#include <QSet>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cxxabi.h>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <typeinfo>
#include <vector>

namespace fs = std::filesystem;
using bcsar::AppendFileOrThrow;
using bcsar::AppendFileTo;
using bcsar::PlainFileSize;
using bcsar::WritePiece;
using ctr::MakeMagic;
using ctr::PutLE;
using ctr::TByteReader;

namespace {

using TBytes = std::span<const std::uint8_t>;

constexpr std::uint32_t kMagicCsar = MakeMagic('C', 'S', 'A', 'R');
constexpr std::uint32_t kMagicStrg = MakeMagic('S', 'T', 'R', 'G');
constexpr std::uint32_t kMagicInfo = MakeMagic('I', 'N', 'F', 'O');
constexpr std::uint32_t kMagicFile = MakeMagic('F', 'I', 'L', 'E');
constexpr std::uint32_t kMagicCwsd = MakeMagic('C', 'W', 'S', 'D');
constexpr std::uint32_t kMagicCwar = MakeMagic('C', 'W', 'A', 'R');

// CSAR archive header, from the archive start.
constexpr std::size_t kCsarHeaderLength = 6;   // u16: the first H bytes are the header piece
constexpr std::size_t kCsarArchiveLength = 12; // u32: rewritten when packing
constexpr std::size_t kCsarStrgOffset = 24;    // u32 offset, u32 length at +4
constexpr std::size_t kCsarInfoOffset = 36;    // u32 offset, u32 length at +4
constexpr std::size_t kCsarFileOffset = 48;    // u32 offset, u32 length at +4
constexpr std::size_t kCsarFileLength = 52;    // u32: rewritten when packing
constexpr std::size_t kCsarHeaderMinimum = 56; // the header must hold every field above

// FILE partition, from the partition start.
constexpr std::size_t kFileHeaderSize = 32;       // saved whole
constexpr std::size_t kFilePartitionLength = 4;   // u32 inside the header, rewritten
constexpr std::size_t kFileCwsdMagic = 32;        // "CWSD"
constexpr std::size_t kFileCwsdHeaderLength = 38; // u16 C: where the CWSD part is taken from
constexpr std::size_t kFileCwsdLength = 44;       // u32 S: the CWSD part's length
constexpr std::size_t kFileFieldsEnd = 48;
constexpr std::uint64_t kCwarGap = 8; // the CWAR starts 8 bytes after the CWSD part

// CWAR header, from the CWAR start.
constexpr std::size_t kCwarHeaderLength = 6; // u16 HW
constexpr std::size_t kCwarLength = 12;      // u32: rewritten when packing
constexpr std::size_t kCwarInfoOffset = 24;  // u32, INFO length u32 at 28
constexpr std::size_t kCwarInfoLength = 28;
constexpr std::size_t kCwarBlockOffset = 36;   // u32: the FILE block
constexpr std::size_t kCwarBlockLength = 40;   // u32: rewritten when packing
constexpr std::size_t kCwarHeaderMinimum = 44; // the header must hold every field above

// CWAR INFO section, from the INFO start.
constexpr std::size_t kInfoClipCount = 8; // u32 n
constexpr std::size_t kInfoEntries = 12;  // n entries of 12 bytes follow
constexpr std::size_t kEntrySize = 12;
constexpr std::size_t kEntryType = 0;   // u32 type word
constexpr std::size_t kEntryOffset = 4; // u32 clip offset from the FILE block start + 8
constexpr std::size_t kEntryLength = 8; // u32 clip length

// CWAR FILE block: "FILE", u32 length, 24 zero bytes, then the clips.
constexpr std::size_t kBlockHeaderSize = 32;
constexpr std::size_t kBlockLength = 4;
constexpr std::uint64_t kClipBase = 8; // clip offsets count from here

constexpr std::uint64_t kMaxLength32 = 0xFFFFFFFFu;

thread_local TBcsarMessageHandler t_message_handler;

void Log(bool verbose, const QString& text) {
    if (!verbose)
        return;
    QByteArray line = text.toUtf8();
    line.append('\n');
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
}

void ShowMessageBox(const QString& text) {
    if (t_message_handler) {
        t_message_handler(text);
        return;
    }
    QByteArray line = text.toUtf8();
    line.append('\n');
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
    std::fflush(stderr);
}

// A structure field or part reaches past the end of what holds it.
int Corrupt(bool verbose, const QString& what) {
    Log(verbose, QStringLiteral("Corrupt sound archive: ") + what);
    return -1;
}

int TooLarge(bool verbose, const QString& what) {
    Log(verbose, QStringLiteral("Sound archive too large: ") + what);
    return -1;
}

// The bytes of `stream` from `start` on, or nothing when start lies outside.
std::optional<TBytes> From(const QByteArray& stream, qint64 start) {
    if (start < 0 || start > stream.size())
        return std::nullopt;
    return TBytes(reinterpret_cast<const std::uint8_t*>(stream.constData()),
                  static_cast<std::size_t>(stream.size()))
        .subspan(static_cast<std::size_t>(start));
}

// `bytes` at `offset` for `length`, when all of them lie inside.
std::optional<TBytes> Range(TBytes bytes, std::uint64_t offset, std::uint64_t length) {
    if (offset > bytes.size() || length > bytes.size() - offset)
        return std::nullopt;
    return bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

QString Join(const QString& folder, const char* name) {
    return folder + QLatin1Char('/') + QLatin1String(name);
}

QString ClipName(std::uint64_t index) {
    return QString::asprintf("%.3llu", static_cast<unsigned long long>(index)) +
           QStringLiteral(".bcwav");
}

QString Hex8(std::uint32_t value) {
    return QString::asprintf("%08X", value);
}

void Save(const QString& path, TBytes bytes) {
    WritePiece(path, reinterpret_cast<const char*>(bytes.data()),
               static_cast<qint64>(bytes.size()));
}

QByteArray CopyOf(TBytes bytes) {
    QByteArray copy;
    bcsar::ReserveLarge(copy, static_cast<qsizetype>(bytes.size()));
    copy.append(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    return copy;
}

std::uint32_t U32At(const QByteArray& bytes, std::size_t offset) {
    return *TByteReader(TBytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               static_cast<std::size_t>(bytes.size())))
                .U32(offset);
}

void PutU32(QByteArray& bytes, std::size_t offset, std::uint64_t value) {
    PutLE(reinterpret_cast<std::uint8_t*>(bytes.data()) + offset,
          static_cast<std::uint32_t>(value));
}

// Deletes `folder` when it exists and creates it afresh, one level only, so nothing from an
// earlier run survives inside.
bool ReplaceFolder(const QString& folder, bool verbose) {
    std::error_code ec;
    try {
        if (fs::symlink_status(ToPath(folder), ec).type() == fs::file_type::directory)
            DeleteFolder(folder); // a failure shows when the folder cannot be created below
    } catch (const std::exception&) {
        Log(verbose, QStringLiteral("Cannot delete ") + folder);
        return false;
    }
    if (!fs::create_directory(ToPath(folder), ec) || ec) {
        Log(verbose, QStringLiteral("Cannot create ") + folder);
        return false;
    }
    return true;
}

QString ClassName(const std::exception& error) {
    const char* mangled = typeid(error).name();
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
    return QString::fromUtf8(status == 0 && demangled ? demangled.get() : mangled);
}

// Runs a nested unpack step on a fresh copy of its part. An error raised inside is shown in a
// message box and the step's half-written subfolder is removed.
template <typename TStep>
int RunNested(TStep step, TBytes part, const QString& subfolder, bool verbose) {
    QString message;
    try {
        const QByteArray copy = CopyOf(part);
        return step(copy, subfolder, 0, verbose);
    } catch (const TSystemError& error) {
        message = error.Reason() + QStringLiteral("\r\n") + ClassName(error);
    } catch (const std::exception& error) {
        message = QString::fromUtf8(error.what()) + QStringLiteral("\r\n") + ClassName(error);
    }
    ShowMessageBox(message);
    DeleteFolder(subfolder);
    return -1;
}

// A clip file found in 3_BCWAV, with its sort key.
struct TClipFile {
    QString Name;
    bool Numeric = false;
    QString Digits; // the number without leading zeros, when Numeric
};

// Clip files in numeric order of the part before ".bcwav" (so 1000 follows 999), then the
// names that are no whole number, in name order.
bool ClipOrder(const TClipFile& a, const TClipFile& b) {
    if (a.Numeric != b.Numeric)
        return a.Numeric;
    if (a.Numeric && a.Digits != b.Digits) {
        if (a.Digits.size() != b.Digits.size())
            return a.Digits.size() < b.Digits.size();
        return a.Digits < b.Digits;
    }
    const int no_case = a.Name.compare(b.Name, Qt::CaseInsensitive);
    if (no_case != 0)
        return no_case < 0;
    return a.Name < b.Name;
}

// The plain, visible files of `folder` whose names match "*.bcwav*" in any letter case.
std::vector<TClipFile> ListClipFiles(const QString& folder) {
    std::vector<TClipFile> files;
    std::error_code ec;
    for (fs::directory_iterator it(ToPath(folder), ec), end; !ec && it != end; it.increment(ec)) {
        const QString name = FromPath(it->path().filename());
        const qsizetype extension = name.indexOf(QLatin1String(".bcwav"), 0, Qt::CaseInsensitive);
        std::error_code type_ec;
        if (extension < 0 || name.startsWith(QLatin1Char('.')) || !it->is_regular_file(type_ec))
            continue;
        TClipFile file{name, false, {}};
        const QString stem = name.left(extension);
        file.Numeric = !stem.isEmpty() && std::all_of(stem.begin(), stem.end(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        });
        if (file.Numeric) {
            qsizetype first = 0;
            while (first + 1 < stem.size() && stem[first] == QLatin1Char('0'))
                ++first;
            file.Digits = stem.mid(first);
        }
        files.push_back(std::move(file));
    }
    std::sort(files.begin(), files.end(), ClipOrder);
    return files;
}

// The name of the first clip among the first `count` whose file is missing from `files`.
QString FirstMissingClip(const std::vector<TClipFile>& files, std::uint64_t count) {
    QSet<QString> present;
    for (const TClipFile& file : files)
        present.insert(file.Name.toLower());
    for (std::uint64_t i = 0; i < count; ++i) {
        if (!present.contains(ClipName(i)))
            return ClipName(i);
    }
    return ClipName(files.size());
}

} // namespace

void SetBcsarMessageHandler(TBcsarMessageHandler handler) {
    t_message_handler = std::move(handler);
}

int UnpackBcsar(const QByteArray& stream, const QString& folder, qint64 start, bool verbose) {
    const std::optional<TBytes> archive = From(stream, start);
    if (!archive)
        return Corrupt(verbose, QStringLiteral("start position"));
    const TByteReader in(*archive);
    if (in.U32(0) != kMagicCsar) {
        Log(verbose, QStringLiteral("This is not a BCSAR file.\r\n"));
        return -1;
    }
    if (in.Size() < kCsarHeaderMinimum)
        return Corrupt(verbose, QStringLiteral("CSAR header"));
    const std::uint16_t header_length = *in.U16(kCsarHeaderLength);
    if (header_length < kCsarHeaderMinimum || header_length > in.Size())
        return Corrupt(verbose, QStringLiteral("CSAR header length"));

    Save(Join(folder, "1_CSAR_Header.bin"), archive->first(header_length));
    Log(verbose, QStringLiteral("CSAR Header saved to [") + Join(folder, "1_CSAR_Header.bin") +
                     QLatin1Char(']'));

    struct TPartition {
        const char* Name;
        std::uint32_t Magic;
        std::size_t Field;
        const char* Piece;
    };
    static constexpr TPartition kPartitions[] = {
        {"STRG", kMagicStrg, kCsarStrgOffset, "2_CSAR_STRG.bin"},
        {"INFO", kMagicInfo, kCsarInfoOffset, "3_CSAR_INFO.bin"},
        {"FILE", kMagicFile, kCsarFileOffset, "4_CSAR_FILE.bin"},
    };
    TBytes file_partition;
    for (const TPartition& partition : kPartitions) {
        const std::uint32_t offset = *in.U32(partition.Field);
        const std::uint32_t length = *in.U32(partition.Field + 4);
        const QString name = QLatin1String(partition.Name);
        const std::optional<std::uint32_t> magic = in.U32(offset);
        if (!magic)
            return Corrupt(verbose, name + QStringLiteral(" partition offset"));
        if (*magic != partition.Magic)
            return -1;
        const std::optional<TBytes> bytes = Range(*archive, offset, length);
        if (!bytes)
            return Corrupt(verbose, name + QStringLiteral(" partition length"));
        Save(Join(folder, partition.Piece), *bytes);
        Log(verbose, QStringLiteral("CSAR %1 partition saved to [").arg(name) +
                         Join(folder, partition.Piece) + QLatin1Char(']'));
        file_partition = *bytes;
    }

    const QString subfolder = Join(folder, "4_CSAR_FILE");
    if (!ReplaceFolder(subfolder, verbose))
        return -1;
    Log(verbose, QStringLiteral("\r\nUnpacking CSAR FILE"));
    return RunNested(UnpackCsarFile, file_partition, subfolder, verbose);
}

int UnpackCsarFile(const QByteArray& stream, const QString& folder, qint64 start, bool verbose) {
    const std::optional<TBytes> partition = From(stream, start);
    if (!partition)
        return Corrupt(verbose, QStringLiteral("start position"));
    const TByteReader in(*partition);
    if (in.Size() < kFileHeaderSize)
        return Corrupt(verbose, QStringLiteral("FILE partition header"));
    Save(Join(folder, "1_FILE_Header.bin"), partition->first(kFileHeaderSize));
    Log(verbose, QStringLiteral("FILE header saved to [") + Join(folder, "1_FILE_Header.bin") +
                     QLatin1Char(']'));

    const std::optional<std::uint32_t> cwsd_magic = in.U32(kFileCwsdMagic);
    if (!cwsd_magic)
        return Corrupt(verbose, QStringLiteral("CWSD header"));
    if (*cwsd_magic != kMagicCwsd)
        return -1;
    if (in.Size() < kFileFieldsEnd)
        return Corrupt(verbose, QStringLiteral("CWSD header"));
    const std::uint64_t cwsd_at = *in.U16(kFileCwsdHeaderLength);
    const std::uint64_t cwsd_length = *in.U32(kFileCwsdLength);
    const std::optional<TBytes> cwsd = Range(*partition, cwsd_at, cwsd_length);
    if (!cwsd)
        return Corrupt(verbose, QStringLiteral("CWSD part"));
    Save(Join(folder, "2_FILE_CWSD.bin"), *cwsd);
    Log(verbose, QStringLiteral("FILE CWSD saved to [") + Join(folder, "2_FILE_CWSD.bin") +
                     QLatin1Char(']'));

    const std::uint64_t cwar_at = cwsd_at + cwsd_length + kCwarGap;
    // A wrong magic fails quietly, like every other magic, even where the rest of the CWAR
    // header would not fit.
    const std::optional<TBytes> cwar_magic = Range(*partition, cwar_at, 4);
    if (cwar_magic && *TByteReader(*cwar_magic).U32(0) != kMagicCwar)
        return -1;
    const std::optional<TBytes> cwar_fields = Range(*partition, cwar_at, kCwarLength + 4);
    if (!cwar_fields)
        return Corrupt(verbose, QStringLiteral("CWAR header"));
    const TByteReader cwar_in(*cwar_fields);
    const std::optional<TBytes> cwar = Range(*partition, cwar_at, *cwar_in.U32(kCwarLength));
    if (!cwar)
        return Corrupt(verbose, QStringLiteral("CWAR length"));
    Save(Join(folder, "3_CWAR.bin"), *cwar);
    Log(verbose, QStringLiteral("CWAR saved to [") + Join(folder, "3_CWAR.bin") + QLatin1Char(']'));

    const QString subfolder = Join(folder, "3_CWAR");
    if (!ReplaceFolder(subfolder, verbose))
        return -1;
    Log(verbose, QStringLiteral("\r\nUnpacking CWAR"));
    return RunNested(UnpackCwar, *cwar, subfolder, verbose);
}

int UnpackCwar(const QByteArray& stream, const QString& folder, qint64 start, bool verbose) {
    const std::optional<TBytes> cwar = From(stream, start);
    if (!cwar)
        return Corrupt(verbose, QStringLiteral("start position"));
    const TByteReader in(*cwar);
    if (in.Size() < kCwarHeaderMinimum)
        return Corrupt(verbose, QStringLiteral("CWAR header"));
    const std::uint16_t header_length = *in.U16(kCwarHeaderLength);
    if (header_length < kCwarHeaderMinimum || header_length > in.Size())
        return Corrupt(verbose, QStringLiteral("CWAR header length"));
    const std::optional<TBytes> info =
        Range(*cwar, *in.U32(kCwarInfoOffset), *in.U32(kCwarInfoLength));
    if (!info || info->size() < kInfoEntries)
        return Corrupt(verbose, QStringLiteral("CWAR INFO section"));
    const TByteReader info_in(*info);
    const std::uint64_t count = *info_in.U32(kInfoClipCount);
    if (count > (info->size() - kInfoEntries) / kEntrySize)
        return Corrupt(verbose, QStringLiteral("CWAR clip table"));
    const std::uint64_t clip_base = std::uint64_t{*in.U32(kCwarBlockOffset)} + kClipBase;

    // Clip i from its table entry, or nothing when it reaches past the CWAR.
    auto clip_at = [&](std::uint64_t i, std::uint32_t* offset) {
        const std::size_t entry = kInfoEntries + kEntrySize * static_cast<std::size_t>(i);
        *offset = *info_in.U32(entry + kEntryOffset);
        return Range(*cwar, clip_base + *offset, *info_in.U32(entry + kEntryLength));
    };
    // Every clip is checked before anything of this level is written.
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint32_t offset = 0;
        if (!clip_at(i, &offset))
            return Corrupt(verbose, QStringLiteral("clip ") + ClipName(i));
    }

    Save(Join(folder, "1_CWAR_Header.bin"), cwar->first(header_length));
    Log(verbose, QStringLiteral("CWAR header saved to [") + Join(folder, "1_CWAR_Header.bin") +
                     QLatin1Char(']'));
    Save(Join(folder, "2_CWAR_INFO.bin"), *info);
    Log(verbose, QStringLiteral("CWAR INFO saved to [") + Join(folder, "2_CWAR_INFO.bin") +
                     QLatin1Char(']'));

    const QString clip_folder = Join(folder, "3_BCWAV");
    std::error_code ec;
    if (!fs::create_directory(ToPath(clip_folder), ec) || ec) {
        Log(verbose, QStringLiteral("Cannot create ") + clip_folder);
        return -1;
    }
    const QString clip_prefix = clip_folder + QLatin1Char('/');
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint32_t offset = 0;
        const TBytes clip = *clip_at(i, &offset);
        const QString name = ClipName(i);
        Save(clip_prefix + name, clip);
        if (verbose) {
            Log(verbose, QStringLiteral("Offset: ") + Hex8(offset) + QStringLiteral("; Size: ") +
                             Hex8(static_cast<std::uint32_t>(clip.size())));
            Log(verbose, QStringLiteral("File saved as [") + name + QStringLiteral("]\r\n"));
        }
    }
    return 0;
}

namespace {

// Appends the rebuilt CWAR to `buffer`; its fields are written relative to where it starts.
// On failure the buffer is cut back to its old size.
int AppendCwar(QByteArray& buffer, const QString& folder, bool verbose) {
    const qsizetype base = buffer.size();
    auto fail = [&](int result) {
        buffer.truncate(base);
        return result;
    };
    QByteArray info;
    if (!AppendFileTo(buffer, Join(folder, "1_CWAR_Header.bin")) ||
        !AppendFileTo(info, Join(folder, "2_CWAR_INFO.bin"))) {
        Log(verbose, QStringLiteral("Selected folder doesn't contain BCSAR files.\r\n"));
        return fail(-1);
    }
    if (info.size() < 4 || U32At(info, 0) != kMagicInfo) {
        Log(verbose, QStringLiteral("This is not a INFO file\r\n"));
        return fail(-1);
    }
    const std::uint64_t header_length = static_cast<std::uint64_t>(buffer.size() - base);
    if (header_length < kCwarHeaderMinimum)
        return fail(Corrupt(verbose, QStringLiteral("CWAR header")));
    if (static_cast<std::size_t>(info.size()) < kInfoEntries)
        return fail(Corrupt(verbose, QStringLiteral("CWAR INFO section")));
    const std::uint64_t count = U32At(info, kInfoClipCount);
    if (count > (static_cast<std::size_t>(info.size()) - kInfoEntries) / kEntrySize)
        return fail(Corrupt(verbose, QStringLiteral("CWAR clip table")));
    const std::uint32_t type = count > 0 ? U32At(info, kInfoEntries + kEntryType) : 0;

    const QString clip_prefix = Join(folder, "3_BCWAV") + QLatin1Char('/');
    const std::vector<TClipFile> files = ListClipFiles(Join(folder, "3_BCWAV"));
    if (files.size() < count) {
        Log(verbose, QStringLiteral("Missing clip file ") + FirstMissingClip(files, count));
        return fail(-1);
    }

    // Plan the size from the files as they are now, so the CWAR is built in one buffer.
    std::uint64_t planned = header_length + info.size() + kBlockHeaderSize;
    for (std::size_t i = 0; i < count; ++i) {
        const qint64 size = PlainFileSize(clip_prefix + files[i].Name);
        if (size > 0)
            planned += static_cast<std::uint64_t>(size) + AlignmentPad(size);
    }
    if (planned > kMaxLength32)
        return fail(TooLarge(verbose, QStringLiteral("CWAR")));
    bcsar::ReserveLarge(buffer, base + static_cast<qsizetype>(planned));

    const std::size_t table_at = static_cast<std::size_t>(buffer.size()) + kInfoEntries;
    buffer.append(info);
    info = QByteArray();
    const std::size_t block_at = static_cast<std::size_t>(buffer.size());
    buffer.append("FILE", 4);
    buffer.append(static_cast<qsizetype>(kBlockHeaderSize - 4), '\0');
    for (std::size_t i = 0; i < count; ++i) {
        const QString& name = files[i].Name;
        const std::uint64_t clip_at = static_cast<std::uint64_t>(buffer.size());
        if (!AppendFileTo(buffer, clip_prefix + name)) {
            ShowMessageBox(QStringLiteral("Cannot load ") + name);
            return fail(-1);
        }
        const std::uint64_t clip_length = static_cast<std::uint64_t>(buffer.size()) - clip_at;
        buffer.append(static_cast<qsizetype>(AlignmentPad(clip_length)), '\0');
        if (static_cast<std::uint64_t>(buffer.size() - base) > kMaxLength32)
            return fail(TooLarge(verbose, QStringLiteral("CWAR")));
        const std::size_t entry = table_at + kEntrySize * i;
        PutU32(buffer, entry + kEntryType, type);
        PutU32(buffer, entry + kEntryOffset, clip_at - block_at - kClipBase);
        PutU32(buffer, entry + kEntryLength, clip_length);
        Log(verbose, QStringLiteral("File [") + name + QStringLiteral("] imported"));
    }
    const std::uint64_t block_length = static_cast<std::uint64_t>(buffer.size()) - block_at;
    PutU32(buffer, block_at + kBlockLength, block_length);
    PutU32(buffer, base + kCwarBlockLength, block_length);
    PutU32(buffer, base + kCwarLength, static_cast<std::uint64_t>(buffer.size() - base));
    Log(verbose, QStringLiteral("\r\nCWAR created.\r\n"));
    return 0;
}

const char kFilePiecesError[] =
    "An error has occured while loading 1_FILE_Header.bin and 2_FILE_CWSD.bin\r\n";

// Appends the FILE partition header piece, the CWSD piece and the CWSD's padding. False when
// either piece cannot be loaded; the buffer is then cut back.
bool AppendFilePieces(QByteArray& buffer, const QString& folder, qsizetype* header_length) {
    const qsizetype base = buffer.size();
    if (!AppendFileTo(buffer, Join(folder, "1_FILE_Header.bin")))
        return false;
    *header_length = buffer.size() - base;
    if (!AppendFileTo(buffer, Join(folder, "2_FILE_CWSD.bin"))) {
        buffer.truncate(base);
        return false;
    }
    const std::uint64_t cwsd_length =
        static_cast<std::uint64_t>(buffer.size() - base - *header_length);
    buffer.append(static_cast<qsizetype>(AlignmentPad(cwsd_length)), '\0');
    return true;
}

// Completes the FILE partition that begins at `partition_at` and ends with the buffer.
int FinishCsarFile(QByteArray& buffer, qsizetype partition_at, qsizetype header_length,
                   bool verbose) {
    if (static_cast<std::size_t>(header_length) != kFileHeaderSize)
        return Corrupt(verbose, QStringLiteral("FILE partition header"));
    const std::uint64_t length = static_cast<std::uint64_t>(buffer.size() - partition_at);
    if (length > kMaxLength32)
        return TooLarge(verbose, QStringLiteral("FILE partition"));
    PutU32(buffer, static_cast<std::size_t>(partition_at) + kFilePartitionLength, length);
    Log(verbose, QStringLiteral("CSAR_FILE created.\r\n"));
    return 0;
}

} // namespace

int PackCwar(QByteArray& output, const QString& folder, bool verbose) {
    QByteArray cwar;
    if (AppendCwar(cwar, folder, verbose) != 0)
        return -1;
    output = std::move(cwar);
    return 0;
}

int PackCsarFile(QByteArray& output, const QByteArray& cwar, const QString& folder, bool verbose) {
    QByteArray partition;
    const qint64 cwsd_size = PlainFileSize(Join(folder, "2_FILE_CWSD.bin"));
    bcsar::ReserveLarge(partition,
                        cwar.size() + kFileHeaderSize + std::max<qint64>(cwsd_size, 0) + 32);
    qsizetype header_length = 0;
    if (!AppendFilePieces(partition, folder, &header_length)) {
        Log(verbose, QLatin1String(kFilePiecesError));
        return -1;
    }
    partition.append(cwar);
    if (FinishCsarFile(partition, 0, header_length, verbose) != 0)
        return -1;
    output = std::move(partition);
    return 0;
}

int PackBcsar(QByteArray& output, const QString& folder, bool verbose) {
    // The archive is built in one buffer with every part at its final place: the pieces in
    // front of the CWAR are loaded first. A failure to load one of them is reported where the
    // rebuild reaches that piece, after the CWAR (and for the CSAR pieces, the FILE partition)
    // has been rebuilt, so the results and messages are those of rebuilding inside out.
    Log(verbose, QStringLiteral("Packing 3_CWAR\r\n"));
    QByteArray archive;
    std::exception_ptr csar_error;
    qsizetype csar_header_length = 0;
    try {
        AppendFileOrThrow(archive, Join(folder, "1_CSAR_Header.bin"));
        csar_header_length = archive.size();
        AppendFileOrThrow(archive, Join(folder, "2_CSAR_STRG.bin"));
        AppendFileOrThrow(archive, Join(folder, "3_CSAR_INFO.bin"));
    } catch (const TSystemError&) {
        csar_error = std::current_exception();
    }
    const qsizetype partition_at = archive.size();
    qsizetype file_header_length = 0;
    const bool file_pieces =
        AppendFilePieces(archive, Join(folder, "4_CSAR_FILE"), &file_header_length);
    if (AppendCwar(archive, Join(folder, "4_CSAR_FILE/3_CWAR"), verbose) != 0)
        return -1;

    Log(verbose, QStringLiteral("Packing 4_CSAR_FILE\r\n"));
    if (!file_pieces) {
        Log(verbose, QLatin1String(kFilePiecesError));
        return -1;
    }
    if (FinishCsarFile(archive, partition_at, file_header_length, verbose) != 0)
        return -1;

    QString name = folder;
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    Log(verbose, QStringLiteral("Packing ") + name + QStringLiteral(".bcsar\r\n"));
    if (csar_error)
        std::rethrow_exception(csar_error);
    if (static_cast<std::size_t>(csar_header_length) < kCsarHeaderMinimum)
        return Corrupt(verbose, QStringLiteral("CSAR header"));
    if (static_cast<std::uint64_t>(archive.size()) > kMaxLength32)
        return TooLarge(verbose, QStringLiteral("archive"));
    PutU32(archive, kCsarArchiveLength, static_cast<std::uint64_t>(archive.size()));
    PutU32(archive, kCsarFileLength, static_cast<std::uint64_t>(archive.size() - partition_at));
    output = std::move(archive);
    return 0;
}

// Zero bytes to add after a clip or CWSD part of `length` bytes: only lengths of 8, 16 or 24
// modulo 32 are brought up to the next multiple of 32.
std::uint64_t AlignmentPad(std::uint64_t length) {
    switch (length % 32) {
    case 8:
        return 24;
    case 16:
        return 16;
    case 24:
        return 8;
    default:
        return 0;
    }
}
