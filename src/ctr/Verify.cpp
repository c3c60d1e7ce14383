#include "ctr/Verify.h"

#include "ctr/Blz.h"
#include "ctr/Cia.h"
#include "ctr/ExeFs.h"
#include "ctr/FileIo.h"
#include "ctr/Ncch.h"
#include "ctr/Ncsd.h"
#include "ctr/RomFs.h"
#include "ctr/Z3ds.h"

#include <algorithm>

namespace ctr {

namespace {

constexpr std::size_t NcchOffProgramId = 0x118;

} // namespace

TImageNcch LocateImageNcch(TInFile& file, TImageKind kind) {
    switch (kind) {
    case TImageKind::Cxi:
        return {0, file.Size()};
    case TImageKind::Cci: {
        const TNcsdPartition partition = ReadNcsdPartition0(file);
        return {partition.Offset, partition.Size};
    }
    case TImageKind::Cia: {
        const TCiaLayout layout = ReadCia(file);
        const TCiaContent& content = layout.Contents.front();
        if (!content.Present)
            throw TCtrError("the CIA lacks content 0");
        return {content.Offset, content.Size};
    }
    }
    throw TCtrError("unknown image kind");
}

std::optional<TImageKind> ImageKindFromText(std::string text) {
    if (!text.empty() && text.front() == '.')
        text.erase(0, 1);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (text == "cia")
        return TImageKind::Cia;
    if (text == "cxi")
        return TImageKind::Cxi;
    if (text == "3ds" || text == "cci")
        return TImageKind::Cci;
    return std::nullopt;
}

std::string
VerifyImage(const std::filesystem::path& image, TImageKind kind,
            const std::function<bool(std::uint64_t done, std::uint64_t total)>& progress) {
    try {
        const std::unique_ptr<TInFile> opened = OpenImageFile(image);
        TInFile& file = *opened;
        // The checks add the bytes they read to the total before reading them.
        TProgress state{progress, 0, 0};
        TProgress* sink = progress ? &state : nullptr;
        std::string failure;
        if (kind == TImageKind::Cia) {
            failure = VerifyCia(file, sink);
        } else {
            const auto [base, size] = LocateImageNcch(file, kind);
            failure = VerifyNcch(file, base, size, true, sink);
        }
        // The hashes cover what was read; a compressed image's frames are checked whole.
        if (failure.empty())
            file.ConfirmReads();
        return failure;
    } catch (const TCtrError& error) {
        return error.what();
    }
}

// The RomFS of the image's decrypted NCCH; throws when there is none to read.
static TRomFsReader ImageRomFs(TInFile& file, TImageKind kind) {
    const auto [base, size] = LocateImageNcch(file, kind);
    const TNcchHeader header = ReadNcchHeader(file, base, size);
    if (!header.NoCrypto())
        throw TCtrError("the NCCH is encrypted");
    if (header.RomFs.Size == 0)
        throw TCtrError("the NCCH has no RomFS");
    return TRomFsReader(file, base + header.RomFs.Offset, header.RomFs.Size);
}

std::optional<TImageFileLocation> FindRomFsFile(const std::filesystem::path& image, TImageKind kind,
                                                const std::string& path, std::string* error) {
    try {
        const std::unique_ptr<TInFile> opened = OpenImageFile(image);
        TInFile& file = *opened;
        TRomFsReader romfs = ImageRomFs(file, kind);
        const auto found = romfs.Find(path);
        if (!found)
            return std::nullopt;
        return TImageFileLocation{found->Offset, found->Size};
    } catch (const TCtrError& failure) {
        if (error)
            *error = failure.what();
        return std::nullopt;
    }
}

std::vector<TImageRomFsFile> ListRomFsFiles(const std::filesystem::path& image, TImageKind kind) {
    const std::unique_ptr<TInFile> opened = OpenImageFile(image);
    TInFile& file = *opened;
    return ListRomFsFiles(file, kind);
}

std::vector<TImageRomFsFile> ListRomFsFiles(TInFile& file, TImageKind kind) {
    TRomFsReader romfs = ImageRomFs(file, kind);
    std::vector<TImageRomFsFile> files;
    for (auto& [path, place] : romfs.ListFiles())
        files.push_back({std::move(path), {place.Offset, place.Size}});
    return files;
}

namespace {

// The ExeFS of the image's game NCCH: where it starts and its header.
std::pair<std::uint64_t, TExeFsHeader> ReadImageExeFsHeader(TInFile& file, TImageKind kind) {
    const auto [base, size] = LocateImageNcch(file, kind);
    const TNcchHeader header = ReadNcchHeader(file, base, size);
    if (!header.NoCrypto())
        throw TCtrError("the NCCH is encrypted");
    if (header.ExeFs.Size == 0)
        throw TCtrError("the NCCH has no ExeFS");
    const std::uint64_t exefs = base + header.ExeFs.Offset;
    return {exefs, ReadExeFsHeader(file, exefs, header.ExeFs.Size)};
}

} // namespace

std::uint64_t ImageProgramId(TInFile& file, TImageKind kind) {
    const auto [base, size] = LocateImageNcch(file, kind);
    return GetLE<std::uint64_t>(&ReadNcchHeader(file, base, size).Raw[NcchOffProgramId]);
}

std::vector<std::uint8_t> ReadImageCode(const std::filesystem::path& image, TImageKind kind) {
    const std::unique_ptr<TInFile> opened = OpenImageFile(image);
    TInFile& file = *opened;
    return ReadImageCode(file, kind);
}

std::vector<std::uint8_t> ReadImageCode(TInFile& file, TImageKind kind) {
    const auto [exefs, exefs_header] = ReadImageExeFsHeader(file, kind);
    // Entry 0 is the code, as the unpacked ExeFS folder names it code.bin.
    const TExeFsEntry& entry = exefs_header.Entries[0];
    if (entry.Name.empty())
        throw TCtrError("the ExeFS has no code");
    std::vector<std::uint8_t> code =
        file.ReadVector(exefs + ExeFsHeaderSize + entry.Offset, entry.Size, "ExeFS code");
    if (auto plain = BlzDecompress(code))
        return std::move(*plain);
    return code;
}

std::optional<std::vector<std::uint8_t>>
ReadImageExeFsFile(const std::filesystem::path& image, TImageKind kind, const std::string& name) {
    return ReadImageExeFsFile(*OpenImageFile(image), kind, name);
}

std::optional<std::vector<std::uint8_t>> ReadImageExeFsFile(TInFile& file, TImageKind kind,
                                                            const std::string& name) {
    const auto [exefs, exefs_header] = ReadImageExeFsHeader(file, kind);
    for (const TExeFsEntry& entry : exefs_header.Entries) {
        if (!entry.Name.empty() && entry.Name == name)
            return file.ReadVector(exefs + ExeFsHeaderSize + entry.Offset, entry.Size,
                                   "ExeFS file");
    }
    return std::nullopt;
}

} // namespace ctr
