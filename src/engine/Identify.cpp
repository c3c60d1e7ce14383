#include "engine/Identify.h"

#include "ctr/ByteReader.h"
#include "ctr/Cia.h"
#include "ctr/Decrypt.h"
#include "ctr/Z3ds.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>
#include <vector>

namespace engine {

namespace {

using ctr::TImageKind;

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

std::int64_t PadTo64(std::int64_t size) {
    const std::int64_t rest = size % 64;
    return rest == 0 ? 0 : 64 - rest;
}

using TBytes = std::vector<std::uint8_t>;

/// Reads fields of an open image by seeking; bytes beyond the end, and bytes that cannot be
/// read, read as zero. Once an encrypted image's keys are known, the fields come through its
/// decrypting reader.
class TFieldReader {
public:
    explicit TFieldReader(ctr::TInFile& file)
        : m_file(file), m_size(static_cast<std::int64_t>(file.Size())) {}
    void DecryptWith(std::unique_ptr<ctr::TDecryptingReader> reader) {
        m_decrypting = std::move(reader);
    }

    TBytes Bytes(std::int64_t position, int length) {
        TBytes bytes(static_cast<std::size_t>(length), 0);
        if (position < 0 || position >= m_size)
            return bytes;
        const std::int64_t available = std::min<std::int64_t>(length, m_size - position);
        const std::span out(bytes.data(), static_cast<std::size_t>(available));
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

    std::uint32_t U32(std::int64_t position) {
        return ctr::TByteReader(Bytes(position, 4)).U32(0).value_or(0);
    }
    std::uint64_t U64(std::int64_t position) {
        return ctr::TByteReader(Bytes(position, 8)).U64(0).value_or(0);
    }
    std::int64_t BytesRead() const { return m_bytes_read; }

private:
    ctr::TInFile& m_file;
    std::int64_t m_size;
    std::int64_t m_bytes_read = 0;
    std::unique_ptr<ctr::TDecryptingReader> m_decrypting;
};

/// Opens the image for its fields: a compressed one (by its magic) through its frames. Null
/// when it cannot be read, with the reason of a damaged compressed file in `problem`.
std::unique_ptr<ctr::TInFile> OpenForFields(const std::filesystem::path& path,
                                            std::string& problem) {
    try {
        return ctr::OpenImageFile(path);
    } catch (const std::exception& error) {
        if (ctr::IsZ3dsFile(path))
            problem = error.what();
        return nullptr;
    }
}

// The title ID of a CIA by its TMD, which is never encrypted; nothing when the CIA cannot be
// read that far.
std::optional<std::uint64_t> CiaTitleId(const std::filesystem::path& path) {
    try {
        return ctr::ReadCia(*ctr::OpenImageFile(path)).TitleId;
    } catch (const std::exception&) {
        return std::nullopt;
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

TLayout LayoutFor(TImageKind kind, std::int64_t content_offset) {
    if (kind == TImageKind::Cci)
        return {kNcsdProgramId, kNcsdExHeaderJumpId, kNcsdProductCode, kNcsdRomFsOffset,
                kNcsdRomFsLevel3};
    const std::int64_t c = kind == TImageKind::Cia ? content_offset : 0;
    return {Add(c, kNcchProgramId), Add(c, kExHeaderProgramId), Add(c, kNcchProductCode),
            Add(c, kNcchRomFsOffset), Add(c, kNcchRomFsLevel3)};
}

const char* RefusalOfName(std::optional<TImageKind> named) {
    if (!named)
        return "ErrorNotAnImage";
    switch (*named) {
    case TImageKind::Cia:
        return "ErrorNOTCIAROM";
    case TImageKind::Cci:
        return "ErrorNOT3DSROM";
    case TImageKind::Cxi:
        break;
    }
    return "ErrorNOTCXIROM";
}

} // namespace

std::optional<TImageKind> ImageKindOfName(const std::string& name, bool* compressed) {
    const std::size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool z = extension.size() > 2 && extension[1] == 'z';
    if (z)
        extension.erase(1, 1);
    std::optional<TImageKind> kind;
    if (extension == ".cia")
        kind = TImageKind::Cia;
    else if (extension == ".cxi")
        kind = TImageKind::Cxi;
    else if (extension == ".cci" || (!z && extension == ".3ds"))
        kind = TImageKind::Cci;
    if (compressed)
        *compressed = kind && z;
    return kind;
}

std::string SourceFormName(TImageKind kind, bool compressed) {
    std::string name = kind == TImageKind::Cia   ? "CIA"
                       : kind == TImageKind::Cci ? "3DS/CCI"
                                                 : "CXI";
    if (compressed)
        name += ", compressed";
    return name;
}

TSourceForm SourceFormOfFile(const std::filesystem::path& path) {
    TSourceForm form;
    const std::unique_ptr<ctr::TInFile> image = OpenForFields(path, form.Problem);
    form.Compressed = !form.Problem.empty();
    if (!image)
        return form;
    form.Opened = true;
    form.Compressed = ctr::IsZ3dsFile(path);
    try {
        form.Kind = ctr::DetectImageKind(*image);
    } catch (const std::exception& error) {
        if (form.Compressed)
            form.Problem = error.what();
    }
    return form;
}

TIdentity IdentifyImage(const std::filesystem::path& path, const std::string& name,
                        const TOpenDecryption& open_decryption) {
    TIdentity result;
    const std::unique_ptr<ctr::TInFile> image = OpenForFields(path, result.Problem);
    if (!image && result.Problem.empty()) {
        result.ErrorKey = "ErrorLoadingROM";
        return result;
    }
    result.Opened = true;
    if (!image) {
        // A compressed file whose header, seek table or frames do not hold together.
        result.Compressed = true;
        result.ErrorKey = "ErrorCompressedImage";
        return result;
    }
    // A served file is read through a layer too: the magic tells a compressed one.
    result.Compressed = ctr::IsZ3dsFile(path);
    TFieldReader reader(*image);
    const auto finish = [&]() -> TIdentity {
        result.BytesRead = reader.BytesRead();
        return std::move(result);
    };

    // Container test by the content: the CIA header size, or the magic at 0x100. The name's
    // extension only chooses the words of the refusal when the content is none of them.
    bool named_compressed = false;
    const std::optional<TImageKind> named = ImageKindOfName(name, &named_compressed);
    std::optional<TImageKind> kind;
    if (reader.U32(kMagicOffset) == kMagicNcsd)
        kind = TImageKind::Cci;
    else if (reader.U32(kMagicOffset) == kMagicNcch)
        kind = TImageKind::Cxi;
    else if (reader.U32(kCiaHeaderSize) == kCiaExpectedHeaderSize)
        kind = TImageKind::Cia;
    if (!kind) {
        result.ErrorKey = RefusalOfName(named);
        return finish();
    }
    result.KindByContent = kind != named || result.Compressed != named_compressed;
    std::int64_t content_offset = 0;
    if (kind == TImageKind::Cia) {
        for (const std::int64_t field :
             {kCiaHeaderSize, kCiaCertChainSize, kCiaTicketSize, kCiaTmdSize}) {
            const std::int64_t size = reader.U32(field);
            content_offset = Add(content_offset, Add(size, PadTo64(size)));
        }
    }
    result.Kind = kind;
    const TLayout layout = LayoutFor(*kind, content_offset);

    // Encryption test: a decrypted image repeats the program ID in its extended header.
    TBytes program_id;
    const auto read_program_id = [&] {
        program_id = reader.Bytes(layout.ProgramId, 8);
        result.TitleId = ctr::TByteReader(program_id).U64(0).value_or(0);
    };
    read_program_id();
    if (program_id != reader.Bytes(layout.ExHeaderProgramId, 8)) {
        result.Encrypted = true;
        if (open_decryption) {
            if (std::unique_ptr<ctr::TDecryptingReader> decrypting = open_decryption(*kind)) {
                reader.DecryptWith(std::move(decrypting));
                read_program_id(); // a CIA's content layer hides its NCCH header too
                result.KeysFound = program_id == reader.Bytes(layout.ExHeaderProgramId, 8);
            }
        }
        if (!result.KeysFound) {
            // What was read as a CIA's program ID is still encrypted.
            if (kind == TImageKind::Cia)
                result.TitleId = CiaTitleId(path);
            return finish();
        }
    }

    // Product code, then the sound archive through the RomFS level 3 tables.
    const TBytes product_code = reader.Bytes(layout.ProductCode, kProductCodeLength);
    result.ProductCode.assign(product_code.begin(), product_code.end());
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

    // Region by the low half of the program ID.
    const std::uint32_t id_low = ctr::TByteReader(program_id).U32(0).value_or(0);
    for (const TRegion& region : kRegions) {
        if (region.ProgramIdLow == id_low) {
            result.Region = region.Name;
            return finish();
        }
    }
    result.ErrorKey = "ErrorWrongROM";
    return finish();
}

} // namespace engine
