#include "sound_archive/N3DSbcsar.h"

#include "ctr/ByteReader.h"
#include "ctr/Platform.h"
#include "sound_archive/FileBasics.h"
#include "sound_archive/PieceFiles.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <system_error>
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
using TBuffer = std::vector<std::uint8_t>;

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

void Log(bool verbose, const std::string& text) {
    if (!verbose)
        return;
    std::string line = text;
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stdout);
}

void ShowMessageBox(const std::string& text) {
    if (t_message_handler) {
        t_message_handler(text);
        return;
    }
    std::string line = text;
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

// A structure field or part reaches past the end of what holds it.
int Corrupt(bool verbose, const std::string& what) {
    Log(verbose, "Corrupt sound archive: " + what);
    return -1;
}

int TooLarge(bool verbose, const std::string& what) {
    Log(verbose, "Sound archive too large: " + what);
    return -1;
}

// The bytes of `stream` from `start` on, or nothing when start lies outside.
std::optional<TBytes> From(TBytes stream, std::int64_t start) {
    if (start < 0 || static_cast<std::uint64_t>(start) > stream.size())
        return std::nullopt;
    return stream.subspan(static_cast<std::size_t>(start));
}

// `bytes` at `offset` for `length`, when all of them lie inside.
std::optional<TBytes> Range(TBytes bytes, std::uint64_t offset, std::uint64_t length) {
    if (offset > bytes.size() || length > bytes.size() - offset)
        return std::nullopt;
    return bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

// A piece's path: the folder as given, '/' and the name, so that every message shows the
// path in the same form on every system.
fs::path Join(const fs::path& folder, const std::string& name) {
    fs::path path = folder;
    path += "/";
    path += ctr::PathFromUtf8(name);
    return path;
}

std::string Text(const fs::path& path) {
    return ctr::PathToUtf8(path);
}

std::string ClipName(std::uint64_t index) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%.3llu", static_cast<unsigned long long>(index));
    return std::string(digits) + ".bcwav";
}

std::string Hex8(std::uint32_t value) {
    char digits[12];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(value));
    return digits;
}

void Save(const fs::path& path, TBytes bytes) {
    WritePiece(path, bytes);
}

std::uint32_t U32At(const TBuffer& bytes, std::size_t offset) {
    return *TByteReader(TBytes(bytes)).U32(offset);
}

void PutU32(TBuffer& bytes, std::size_t offset, std::uint64_t value) {
    PutLE(bytes.data() + offset, static_cast<std::uint32_t>(value));
}

void Append(TBuffer& buffer, TBytes bytes) {
    buffer.insert(buffer.end(), bytes.begin(), bytes.end());
}

void AppendZeros(TBuffer& buffer, std::uint64_t count) {
    buffer.insert(buffer.end(), static_cast<std::size_t>(count), std::uint8_t{0});
}

// Deletes `folder` when it exists and creates it afresh, one level only, so nothing from an
// earlier run survives inside.
bool ReplaceFolder(const fs::path& folder, bool verbose) {
    std::error_code ec;
    try {
        if (fs::symlink_status(folder, ec).type() == fs::file_type::directory)
            DeleteFolder(folder); // a failure shows when the folder cannot be created below
    } catch (const std::exception&) {
        Log(verbose, "Cannot delete " + Text(folder));
        return false;
    }
    if (!fs::create_directory(folder, ec) || ec) {
        Log(verbose, "Cannot create " + Text(folder));
        return false;
    }
    return true;
}

std::string ClassName(const std::exception& error) {
    const char* mangled = typeid(error).name();
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
    return status == 0 && demangled ? demangled.get() : mangled;
}

// Runs a nested unpack step on its part. An error raised inside is shown in a message box and
// the step's half-written subfolder is removed.
template <typename TStep>
int RunNested(TStep step, TBytes part, const fs::path& subfolder, bool verbose) {
    std::string message;
    try {
        return step(part, subfolder, 0, verbose);
    } catch (const TSystemError& error) {
        message = error.Reason() + "\r\n" + ClassName(error);
    } catch (const std::exception& error) {
        message = error.what() + std::string("\r\n") + ClassName(error);
    }
    ShowMessageBox(message);
    DeleteFolder(subfolder);
    return -1;
}

// A clip file found in 3_BCWAV, with its sort key.
struct TClipFile {
    std::string Name; // UTF-8
    fs::path Path;
    bool Numeric = false;
    std::string Digits; // the number without leading zeros, when Numeric
};

// Letter case of the ASCII letters ignored: the names that matter (numbered clips and the
// ".bcwav" extension) hold no others.
std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

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
    const int no_case = LowerAscii(a.Name).compare(LowerAscii(b.Name));
    if (no_case != 0)
        return no_case < 0;
    return a.Name < b.Name;
}

// The plain, visible files of `folder` whose names match "*.bcwav*" in any letter case.
std::vector<TClipFile> ListClipFiles(const fs::path& folder) {
    std::vector<TClipFile> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = Text(it->path().filename());
        const std::size_t extension = LowerAscii(name).find(".bcwav");
        std::error_code type_ec;
        if (extension == std::string::npos || name.starts_with('.') ||
            !it->is_regular_file(type_ec))
            continue;
        TClipFile file{name, it->path(), false, {}};
        const std::string stem = name.substr(0, extension);
        file.Numeric = !stem.empty() && std::all_of(stem.begin(), stem.end(),
                                                    [](char c) { return c >= '0' && c <= '9'; });
        if (file.Numeric) {
            std::size_t first = 0;
            while (first + 1 < stem.size() && stem[first] == '0')
                ++first;
            file.Digits = stem.substr(first);
        }
        files.push_back(std::move(file));
    }
    std::sort(files.begin(), files.end(), ClipOrder);
    return files;
}

// The name of the first clip among the first `count` whose file is missing from `files`.
std::string FirstMissingClip(const std::vector<TClipFile>& files, std::uint64_t count) {
    std::set<std::string> present;
    for (const TClipFile& file : files)
        present.insert(LowerAscii(file.Name));
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

int UnpackBcsar(TBytes stream, const fs::path& folder, std::int64_t start, bool verbose) {
    const std::optional<TBytes> archive = From(stream, start);
    if (!archive)
        return Corrupt(verbose, "start position");
    const TByteReader in(*archive);
    if (in.U32(0) != kMagicCsar) {
        Log(verbose, "This is not a BCSAR file.\r\n");
        return -1;
    }
    if (in.Size() < kCsarHeaderMinimum)
        return Corrupt(verbose, "CSAR header");
    const std::uint16_t header_length = *in.U16(kCsarHeaderLength);
    if (header_length < kCsarHeaderMinimum || header_length > in.Size())
        return Corrupt(verbose, "CSAR header length");

    Save(Join(folder, "1_CSAR_Header.bin"), archive->first(header_length));
    Log(verbose, "CSAR Header saved to [" + Text(Join(folder, "1_CSAR_Header.bin")) + ']');

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
        const std::string name = partition.Name;
        const std::optional<std::uint32_t> magic = in.U32(offset);
        if (!magic)
            return Corrupt(verbose, name + " partition offset");
        if (*magic != partition.Magic)
            return -1;
        const std::optional<TBytes> bytes = Range(*archive, offset, length);
        if (!bytes)
            return Corrupt(verbose, name + " partition length");
        Save(Join(folder, partition.Piece), *bytes);
        Log(verbose,
            "CSAR " + name + " partition saved to [" + Text(Join(folder, partition.Piece)) + ']');
        file_partition = *bytes;
    }

    const fs::path subfolder = Join(folder, "4_CSAR_FILE");
    if (!ReplaceFolder(subfolder, verbose))
        return -1;
    Log(verbose, "\r\nUnpacking CSAR FILE");
    return RunNested(UnpackCsarFile, file_partition, subfolder, verbose);
}

int UnpackCsarFile(TBytes stream, const fs::path& folder, std::int64_t start, bool verbose) {
    const std::optional<TBytes> partition = From(stream, start);
    if (!partition)
        return Corrupt(verbose, "start position");
    const TByteReader in(*partition);
    if (in.Size() < kFileHeaderSize)
        return Corrupt(verbose, "FILE partition header");
    Save(Join(folder, "1_FILE_Header.bin"), partition->first(kFileHeaderSize));
    Log(verbose, "FILE header saved to [" + Text(Join(folder, "1_FILE_Header.bin")) + ']');

    const std::optional<std::uint32_t> cwsd_magic = in.U32(kFileCwsdMagic);
    if (!cwsd_magic)
        return Corrupt(verbose, "CWSD header");
    if (*cwsd_magic != kMagicCwsd)
        return -1;
    if (in.Size() < kFileFieldsEnd)
        return Corrupt(verbose, "CWSD header");
    const std::uint64_t cwsd_at = *in.U16(kFileCwsdHeaderLength);
    const std::uint64_t cwsd_length = *in.U32(kFileCwsdLength);
    const std::optional<TBytes> cwsd = Range(*partition, cwsd_at, cwsd_length);
    if (!cwsd)
        return Corrupt(verbose, "CWSD part");
    Save(Join(folder, "2_FILE_CWSD.bin"), *cwsd);
    Log(verbose, "FILE CWSD saved to [" + Text(Join(folder, "2_FILE_CWSD.bin")) + ']');

    const std::uint64_t cwar_at = cwsd_at + cwsd_length + kCwarGap;
    // A wrong magic fails quietly, like every other magic, even where the rest of the CWAR
    // header would not fit.
    const std::optional<TBytes> cwar_magic = Range(*partition, cwar_at, 4);
    if (cwar_magic && *TByteReader(*cwar_magic).U32(0) != kMagicCwar)
        return -1;
    const std::optional<TBytes> cwar_fields = Range(*partition, cwar_at, kCwarLength + 4);
    if (!cwar_fields)
        return Corrupt(verbose, "CWAR header");
    const TByteReader cwar_in(*cwar_fields);
    const std::optional<TBytes> cwar = Range(*partition, cwar_at, *cwar_in.U32(kCwarLength));
    if (!cwar)
        return Corrupt(verbose, "CWAR length");
    Save(Join(folder, "3_CWAR.bin"), *cwar);
    Log(verbose, "CWAR saved to [" + Text(Join(folder, "3_CWAR.bin")) + ']');

    const fs::path subfolder = Join(folder, "3_CWAR");
    if (!ReplaceFolder(subfolder, verbose))
        return -1;
    Log(verbose, "\r\nUnpacking CWAR");
    return RunNested(UnpackCwar, *cwar, subfolder, verbose);
}

int UnpackCwar(TBytes stream, const fs::path& folder, std::int64_t start, bool verbose) {
    const std::optional<TBytes> cwar = From(stream, start);
    if (!cwar)
        return Corrupt(verbose, "start position");
    const TByteReader in(*cwar);
    if (in.Size() < kCwarHeaderMinimum)
        return Corrupt(verbose, "CWAR header");
    const std::uint16_t header_length = *in.U16(kCwarHeaderLength);
    if (header_length < kCwarHeaderMinimum || header_length > in.Size())
        return Corrupt(verbose, "CWAR header length");
    const std::optional<TBytes> info =
        Range(*cwar, *in.U32(kCwarInfoOffset), *in.U32(kCwarInfoLength));
    if (!info || info->size() < kInfoEntries)
        return Corrupt(verbose, "CWAR INFO section");
    const TByteReader info_in(*info);
    const std::uint64_t count = *info_in.U32(kInfoClipCount);
    if (count > (info->size() - kInfoEntries) / kEntrySize)
        return Corrupt(verbose, "CWAR clip table");
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
            return Corrupt(verbose, "clip " + ClipName(i));
    }

    Save(Join(folder, "1_CWAR_Header.bin"), cwar->first(header_length));
    Log(verbose, "CWAR header saved to [" + Text(Join(folder, "1_CWAR_Header.bin")) + ']');
    Save(Join(folder, "2_CWAR_INFO.bin"), *info);
    Log(verbose, "CWAR INFO saved to [" + Text(Join(folder, "2_CWAR_INFO.bin")) + ']');

    const fs::path clip_folder = Join(folder, "3_BCWAV");
    std::error_code ec;
    if (!fs::create_directory(clip_folder, ec) || ec) {
        Log(verbose, "Cannot create " + Text(clip_folder));
        return -1;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint32_t offset = 0;
        const TBytes clip = *clip_at(i, &offset);
        const std::string name = ClipName(i);
        Save(Join(clip_folder, name), clip);
        if (verbose) {
            Log(verbose, "Offset: " + Hex8(offset) +
                             "; Size: " + Hex8(static_cast<std::uint32_t>(clip.size())));
            Log(verbose, "File saved as [" + name + "]\r\n");
        }
    }
    return 0;
}

namespace {

// Appends the rebuilt CWAR to `buffer`; its fields are written relative to where it starts.
// On failure the buffer is cut back to its old size.
int AppendCwar(TBuffer& buffer, const fs::path& folder, bool verbose) {
    const std::size_t base = buffer.size();
    auto fail = [&](int result) {
        buffer.resize(base);
        return result;
    };
    TBuffer info;
    if (!AppendFileTo(buffer, Join(folder, "1_CWAR_Header.bin")) ||
        !AppendFileTo(info, Join(folder, "2_CWAR_INFO.bin"))) {
        Log(verbose, "Selected folder doesn't contain BCSAR files.\r\n");
        return fail(-1);
    }
    if (info.size() < 4 || U32At(info, 0) != kMagicInfo) {
        Log(verbose, "This is not a INFO file\r\n");
        return fail(-1);
    }
    const std::uint64_t header_length = buffer.size() - base;
    if (header_length < kCwarHeaderMinimum)
        return fail(Corrupt(verbose, "CWAR header"));
    if (info.size() < kInfoEntries)
        return fail(Corrupt(verbose, "CWAR INFO section"));
    const std::uint64_t count = U32At(info, kInfoClipCount);
    if (count > (info.size() - kInfoEntries) / kEntrySize)
        return fail(Corrupt(verbose, "CWAR clip table"));
    const std::uint32_t type = count > 0 ? U32At(info, kInfoEntries + kEntryType) : 0;

    const std::vector<TClipFile> files = ListClipFiles(Join(folder, "3_BCWAV"));
    if (files.size() < count) {
        Log(verbose, "Missing clip file " + FirstMissingClip(files, count));
        return fail(-1);
    }

    // Plan the size from the files as they are now, so the CWAR is built in one buffer.
    std::uint64_t planned = header_length + info.size() + kBlockHeaderSize;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t size = PlainFileSize(files[i].Path);
        if (size > 0)
            planned += static_cast<std::uint64_t>(size) + AlignmentPad(size);
    }
    if (planned > kMaxLength32)
        return fail(TooLarge(verbose, "CWAR"));
    bcsar::ReserveLarge(buffer, base + static_cast<std::size_t>(planned));

    const std::size_t table_at = buffer.size() + kInfoEntries;
    Append(buffer, info);
    info = TBuffer();
    const std::size_t block_at = buffer.size();
    Append(buffer, TBytes(reinterpret_cast<const std::uint8_t*>("FILE"), 4));
    AppendZeros(buffer, kBlockHeaderSize - 4);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& name = files[i].Name;
        const std::uint64_t clip_at = buffer.size();
        if (!AppendFileTo(buffer, files[i].Path)) {
            ShowMessageBox("Cannot load " + name);
            return fail(-1);
        }
        const std::uint64_t clip_length = buffer.size() - clip_at;
        AppendZeros(buffer, AlignmentPad(clip_length));
        if (buffer.size() - base > kMaxLength32)
            return fail(TooLarge(verbose, "CWAR"));
        const std::size_t entry = table_at + kEntrySize * i;
        PutU32(buffer, entry + kEntryType, type);
        PutU32(buffer, entry + kEntryOffset, clip_at - block_at - kClipBase);
        PutU32(buffer, entry + kEntryLength, clip_length);
        Log(verbose, "File [" + name + "] imported");
    }
    const std::uint64_t block_length = buffer.size() - block_at;
    PutU32(buffer, block_at + kBlockLength, block_length);
    PutU32(buffer, base + kCwarBlockLength, block_length);
    PutU32(buffer, base + kCwarLength, buffer.size() - base);
    Log(verbose, "\r\nCWAR created.\r\n");
    return 0;
}

const char kFilePiecesError[] =
    "An error has occured while loading 1_FILE_Header.bin and 2_FILE_CWSD.bin\r\n";

// Appends the FILE partition header piece, the CWSD piece and the CWSD's padding. False when
// either piece cannot be loaded; the buffer is then cut back.
bool AppendFilePieces(TBuffer& buffer, const fs::path& folder, std::size_t* header_length) {
    const std::size_t base = buffer.size();
    if (!AppendFileTo(buffer, Join(folder, "1_FILE_Header.bin")))
        return false;
    *header_length = buffer.size() - base;
    if (!AppendFileTo(buffer, Join(folder, "2_FILE_CWSD.bin"))) {
        buffer.resize(base);
        return false;
    }
    const std::uint64_t cwsd_length = buffer.size() - base - *header_length;
    AppendZeros(buffer, AlignmentPad(cwsd_length));
    return true;
}

// Completes the FILE partition that begins at `partition_at` and ends with the buffer.
int FinishCsarFile(TBuffer& buffer, std::size_t partition_at, std::size_t header_length,
                   bool verbose) {
    if (header_length != kFileHeaderSize)
        return Corrupt(verbose, "FILE partition header");
    const std::uint64_t length = buffer.size() - partition_at;
    if (length > kMaxLength32)
        return TooLarge(verbose, "FILE partition");
    PutU32(buffer, partition_at + kFilePartitionLength, length);
    Log(verbose, "CSAR_FILE created.\r\n");
    return 0;
}

} // namespace

int PackCwar(TBuffer& output, const fs::path& folder, bool verbose) {
    TBuffer cwar;
    if (AppendCwar(cwar, folder, verbose) != 0)
        return -1;
    output = std::move(cwar);
    return 0;
}

int PackCsarFile(TBuffer& output, TBytes cwar, const fs::path& folder, bool verbose) {
    TBuffer partition;
    const std::int64_t cwsd_size = PlainFileSize(Join(folder, "2_FILE_CWSD.bin"));
    bcsar::ReserveLarge(partition,
                        cwar.size() + kFileHeaderSize +
                            static_cast<std::size_t>(std::max<std::int64_t>(cwsd_size, 0)) + 32);
    std::size_t header_length = 0;
    if (!AppendFilePieces(partition, folder, &header_length)) {
        Log(verbose, kFilePiecesError);
        return -1;
    }
    Append(partition, cwar);
    if (FinishCsarFile(partition, 0, header_length, verbose) != 0)
        return -1;
    output = std::move(partition);
    return 0;
}

int PackBcsar(TBuffer& output, const fs::path& folder, bool verbose) {
    // The archive is built in one buffer with every part at its final place: the pieces in
    // front of the CWAR are loaded first. A failure to load one of them is reported where the
    // rebuild reaches that piece, after the CWAR (and for the CSAR pieces, the FILE partition)
    // has been rebuilt, so the results and messages are those of rebuilding inside out.
    Log(verbose, "Packing 3_CWAR\r\n");
    TBuffer archive;
    std::exception_ptr csar_error;
    std::size_t csar_header_length = 0;
    try {
        AppendFileOrThrow(archive, Join(folder, "1_CSAR_Header.bin"));
        csar_header_length = archive.size();
        AppendFileOrThrow(archive, Join(folder, "2_CSAR_STRG.bin"));
        AppendFileOrThrow(archive, Join(folder, "3_CSAR_INFO.bin"));
    } catch (const TSystemError&) {
        csar_error = std::current_exception();
    }
    const std::size_t partition_at = archive.size();
    std::size_t file_header_length = 0;
    const bool file_pieces =
        AppendFilePieces(archive, Join(folder, "4_CSAR_FILE"), &file_header_length);
    if (AppendCwar(archive, Join(Join(folder, "4_CSAR_FILE"), "3_CWAR"), verbose) != 0)
        return -1;

    Log(verbose, "Packing 4_CSAR_FILE\r\n");
    if (!file_pieces) {
        Log(verbose, kFilePiecesError);
        return -1;
    }
    if (FinishCsarFile(archive, partition_at, file_header_length, verbose) != 0)
        return -1;

    std::string name = Text(folder);
    while (name.size() > 1 && name.ends_with('/'))
        name.pop_back();
    name = name.substr(name.rfind('/') + 1); // the whole text when it holds no '/'
    Log(verbose, "Packing " + name + ".bcsar\r\n");
    if (csar_error)
        std::rethrow_exception(csar_error);
    if (csar_header_length < kCsarHeaderMinimum)
        return Corrupt(verbose, "CSAR header");
    if (archive.size() > kMaxLength32)
        return TooLarge(verbose, "archive");
    PutU32(archive, kCsarArchiveLength, archive.size());
    PutU32(archive, kCsarFileLength, archive.size() - partition_at);
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
