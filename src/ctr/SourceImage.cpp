#include "ctr/SourceImage.h"

#include "ctr/Decrypt.h"
#include "ctr/Hash.h"
#include "ctr/Z3ds.h"

#include <algorithm>
#include <cctype>

namespace ctr {

namespace {

// Bytes read at a time for the digests. In the browser every read is one slice of the user's
// file through the worker, and pieces of 16 MiB checked a 1 GiB sample about a third faster
// than 4 MiB (bench/web/bench_fit_check.sh).
constexpr std::size_t DigestPiece = 16u << 20;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
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

} // namespace

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
    // A compressed image's frame read in part is checked to its end: damage there is named as
    // damage, not left to look like a dump that does not fit.
    image->ConfirmReads();
    return result;
}

} // namespace ctr
