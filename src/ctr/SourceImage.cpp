#include "ctr/SourceImage.h"

#include "ctr/ByteReader.h"
#include "ctr/Cia.h"
#include "ctr/Decrypt.h"
#include "ctr/Ncch.h"
#include "ctr/Ncsd.h"
#include "ctr/Z3ds.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace ctr {

namespace {

// NCCH header fields, from its start, and the extended header's copy of the program ID
// (its ARM11 local capabilities), which only a decrypted image shows in plain.
constexpr std::uint64_t NcchOffMagic = 0x100;
constexpr std::uint64_t NcchOffProgramId = 0x118;
constexpr std::uint64_t NcchOffProductCode = 0x150;
constexpr std::uint64_t NcchOffExheaderProgramId = 0x400;
constexpr std::size_t ProductCodeLength = 10;

// Bytes read at a time for the digests. In the browser every read is one slice of the user's
// file through the worker, and pieces of 16 MiB checked a 1 GiB sample about a third faster
// than 4 MiB (bench/web/bench_fit_check.sh).
constexpr std::size_t DigestPiece = 16u << 20;

constexpr std::uint32_t NcchMagic = MakeMagic('N', 'C', 'C', 'H');
constexpr std::uint32_t Z3dsMagic = MakeMagic('Z', '3', 'D', 'S');

struct TRegion {
    std::uint32_t ProgramIdLow;
    const char* Name;
};
constexpr std::array<TRegion, 3> Regions = {{
    {0x00108800, "JAP"},
    {0x00138F00, "USA"},
    {0x00133300, "EUR"},
}};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// `length` bytes at `offset`, or nothing when they do not all lie inside the file. A read that
// fails throws.
std::optional<std::vector<std::uint8_t>> ReadField(TInFile& file, std::uint64_t offset,
                                                   std::size_t length) {
    if (!file.Contains(offset, length))
        return std::nullopt;
    return file.ReadVector(offset, length, "a header field");
}

std::optional<std::uint64_t> ReadU64(TInFile& file, std::uint64_t offset) {
    const auto bytes = ReadField(file, offset, 8);
    return bytes ? TByteReader(*bytes).U64(0) : std::nullopt;
}

bool StartsWithZ3ds(const std::filesystem::path& path) {
    TInFile raw(path);
    std::array<std::uint8_t, 4> magic{};
    if (raw.Size() < magic.size())
        return false;
    raw.ReadAt(0, magic, "magic");
    return TByteReader(magic).U32(0) == Z3dsMagic;
}

// The fields of the game's NCCH at `base`: the encryption test as the desktop makes it (a
// decrypted image repeats the program ID in its extended header; a CIA whose content layer is
// encrypted hides even the NCCH header), then the product code and the region.
void ReadNcchFields(TInFile& image, std::uint64_t base, TSourceIdentity& result) {
    const auto magic = ReadField(image, base + NcchOffMagic, 4);
    const bool has_ncch = magic && TByteReader(*magic).U32(0) == NcchMagic;
    const std::optional<std::uint64_t> program_id = ReadU64(image, base + NcchOffProgramId);
    const std::optional<std::uint64_t> repeated = ReadU64(image, base + NcchOffExheaderProgramId);
    if (has_ncch && program_id && !result.TitleId)
        result.TitleId = program_id;
    if (!has_ncch || !program_id || program_id != repeated) {
        result.Encrypted = true;
        return;
    }
    if (const auto code = ReadField(image, base + NcchOffProductCode, ProductCodeLength)) {
        for (const std::uint8_t c : *code) {
            if (c == 0)
                break;
            result.ProductCode += static_cast<char>(c);
        }
    }
    const auto low = static_cast<std::uint32_t>(*program_id);
    for (const TRegion& region : Regions)
        if (region.ProgramIdLow == low)
            result.Region = region.Name;
    if (result.Region.empty())
        result.ErrorKey = "ErrorWrongROM";
}

// Where the game's NCCH starts in the image; a CIA's title ID (from its TMD) goes to `title_id`.
std::uint64_t GameNcchBase(TInFile& image, TImageKind kind,
                           std::optional<std::uint64_t>& title_id) {
    if (kind == TImageKind::Cci)
        return ReadNcsdPartition0(image).Offset;
    if (kind != TImageKind::Cia)
        return 0;
    const TCiaLayout layout = ReadCia(image);
    title_id = layout.TitleId;
    if (layout.Contents.empty() || !layout.Contents.front().Present)
        throw TCtrError("the CIA lacks content 0");
    return layout.Contents.front().Offset;
}

// The image at `path` read as its bytes: decompressed, and decrypted with `keys` when given.
struct TImageView {
    std::unique_ptr<TDecryptingReader> Decrypting;
    std::unique_ptr<TInFile> File;
};

TImageView OpenView(const std::filesystem::path& path, TImageKind kind, const TCryptoKeys* keys) {
    TImageView view;
    view.File = OpenImageFile(path);
    if (keys) {
        view.Decrypting = std::make_unique<TDecryptingReader>(path, kind, *keys);
        view.Decrypting->Serve(*view.File);
    }
    return view;
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
    std::string extension = dot == std::string::npos ? std::string() : Lower(name.substr(dot));
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

TSourceIdentity IdentifySource(const std::filesystem::path& path, const std::string& name) {
    TSourceIdentity result;
    std::unique_ptr<TInFile> image;
    try {
        result.Compressed = StartsWithZ3ds(path);
        image = OpenImageFile(path);
    } catch (const TCtrError& error) {
        result.ErrorKey = result.Compressed ? "ErrorCompressedImage" : "ErrorLoadingROM";
        result.Problem = error.what();
        return result;
    }
    bool named_compressed = false;
    const std::optional<TImageKind> named = ImageKindOfName(name, &named_compressed);
    try {
        result.Kind = DetectImageKind(*image);
    } catch (const TCtrError& error) {
        // A plain file's magic lies inside it, so only the reading failed; a compressed one's
        // frames may be damaged.
        result.ErrorKey = result.Compressed ? "ErrorCompressedImage" : "ErrorLoadingROM";
        result.Problem = error.what();
        return result;
    }
    if (!result.Kind) {
        result.ErrorKey = result.Compressed ? "ErrorCompressedImage" : RefusalOfName(named);
        return result;
    }
    result.KindByContent = named != result.Kind || named_compressed != result.Compressed;

    // Where the game's NCCH starts; a CIA names its title in the TMD, which is never encrypted.
    std::uint64_t base = 0;
    try {
        base = GameNcchBase(*image, *result.Kind, result.TitleId);
    } catch (const TCtrError& error) {
        result.ErrorKey = result.Compressed ? "ErrorCompressedImage" : RefusalOfName(result.Kind);
        result.Problem = error.what();
        return result;
    }

    try {
        ReadNcchFields(*image, base, result);
    } catch (const TCtrError& error) {
        // The file could be opened but no longer read (a browser's file withdrawn or changed).
        result.ErrorKey = "ErrorLoadingROM";
        result.Problem = error.what();
    }
    return result;
}

TSourceIdentity IdentifySource(const std::filesystem::path& path, const std::string& name,
                               const TCryptoKeys& keys) {
    TSourceIdentity result = IdentifySource(path, name);
    if (!result.Encrypted || !result.Kind)
        return result;
    try {
        const TImageView view = OpenView(path, *result.Kind, &keys);
        const std::uint64_t base = GameNcchBase(*view.File, *result.Kind, result.TitleId);
        TSourceIdentity decrypted = result;
        decrypted.Encrypted = false;
        ReadNcchFields(*view.File, base, decrypted);
        if (decrypted.Encrypted)
            throw TCtrError(KeysDoNotFitText);
        decrypted.Decrypted = true;
        return decrypted;
    } catch (const TCtrError& error) {
        result.KeyProblem = error.what();
        return result;
    }
}

TPackDigestText TakePackDigestText(const std::filesystem::path& path, TImageKind kind,
                                   TProgress* progress, const TCryptoKeys* keys) {
    const TImageView view = OpenView(path, kind, keys);
    TInFile* const image = view.File.get();
    const std::vector<TImageRomFsFile> files = ListRomFsFiles(*image, kind);
    const auto find = [&](const char* wanted) -> const TImageRomFsFile* {
        for (const TImageRomFsFile& file : files)
            if (Lower(file.Path) == wanted)
                return &file;
        return nullptr;
    };
    const TImageRomFsFile* pack_dat = find("pack.dat");
    const TImageRomFsFile* pack_inc = find("pack.inc");
    if (!pack_dat)
        throw TCtrError("pack.dat is not in the RomFS");
    if (progress)
        progress->Total += pack_dat->Location.Size + (pack_inc ? pack_inc->Location.Size : 0);
    std::vector<std::uint8_t> chunk;
    const auto digest = [&](const TImageRomFsFile& file) {
        TMd5 md5;
        for (std::uint64_t done = 0; done < file.Location.Size;) {
            const auto part = static_cast<std::size_t>(
                std::min<std::uint64_t>(file.Location.Size - done, DigestPiece));
            chunk.resize(part);
            image->ReadAt(file.Location.Offset + done, chunk, file.Path.c_str());
            md5.Update(chunk);
            done += part;
            if (progress)
                progress->Advance(part);
        }
        const TMd5Digest value = md5.Final();
        return HexUpper(value);
    };
    TPackDigestText result;
    result.PackDat = digest(*pack_dat);
    if (pack_inc)
        result.PackInc = digest(*pack_inc);
    return result;
}

} // namespace ctr
