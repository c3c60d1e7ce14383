#include "ctr/SourceImage.h"

#include "ctr/Decrypt.h"
#include "ctr/Hash.h"
#include "ctr/Z3ds.h"

#include <algorithm>
#include <cctype>
#include <memory>

namespace ctr {

namespace {

// A browser's WebAssembly build has no threads: there the reading thread hashes too. Each of
// its reads is one slice of the user's file through the page's worker, and pieces of 16 MiB
// checked a 1 GiB sample about a third faster than 4 MiB (bench/web/bench_fit_check.sh).
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
constexpr bool HashBeside = false;
constexpr std::size_t DigestPiece = 16u << 20;
#else
constexpr bool HashBeside = true;
constexpr std::size_t DigestPiece = CopyChunkSize;
#endif

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

std::vector<std::string> TakeDigests(TInFile& image, const std::vector<TDigestRegion>& regions,
                                     TProgress* progress) {
    std::vector<std::unique_ptr<TMd5>> hashes;
    TFilePass pass(image, DigestPiece);
    for (const TDigestRegion& region : regions) {
        TMd5& md5 = *hashes.emplace_back(std::make_unique<TMd5>());
        pass.Add(
            region.Offset, region.Size,
            [&md5](std::span<const std::uint8_t> bytes) { md5.Update(bytes); }, HashBeside);
        if (region.Copy)
            pass.Add(region.Offset, region.Size, region.Copy);
    }
    pass.Run(progress);
    image.ConfirmReads();
    std::vector<std::string> digests;
    for (const std::unique_ptr<TMd5>& md5 : hashes) {
        const TMd5Digest value = md5->Final();
        digests.push_back(HexUpper(value));
    }
    return digests;
}

TPackDigestText TakePackDigestText(TInFile& image, TImageKind kind, TProgress* progress) {
    const std::vector<TImageRomFsFile> files = ListRomFsFiles(image, kind);
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
    std::vector<TDigestRegion> regions{{pack_dat->Location.Offset, pack_dat->Location.Size, {}}};
    if (pack_inc)
        regions.push_back({pack_inc->Location.Offset, pack_inc->Location.Size, {}});
    const std::vector<std::string> digests = TakeDigests(image, regions, progress);
    TPackDigestText result;
    result.PackDat = digests[0];
    if (pack_inc)
        result.PackInc = digests[1];
    return result;
}

TPackDigestText TakePackDigestText(const std::filesystem::path& path, TImageKind kind,
                                   TProgress* progress, const TCryptoKeys* keys) {
    const std::unique_ptr<TInFile> image = OpenImageFile(path);
    std::unique_ptr<TDecryptingReader> decrypting;
    if (keys) {
        decrypting = std::make_unique<TDecryptingReader>(path, kind, *keys);
        decrypting->Serve(*image);
    }
    return TakePackDigestText(*image, kind, progress);
}

} // namespace ctr
