// The digests of pack.dat and pack.inc as every front end now takes them (ctr::TakeDigests:
// one pass, a helper thread hashing while the next block is read) against a plain loop that
// reads and hashes on one thread, as the run's background digest and the engine's mod folder
// run did, over the same file from the page cache in the same run. The two alternate five
// times; the best of each gives the ratio.
//
//   bench_digests [MiB] [work folder]     (default 512 MiB in the system's temp)

#include "ctr/FileIo.h"
#include "ctr/Hash.h"
#include "ctr/SourceImage.h"
#include "tests/ctr/CtrTestSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

double Seconds(const std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string OneThread(ctr::TInFile& in) {
    ctr::TMd5 md5;
    std::vector<std::uint8_t> block(ctr::CopyChunkSize);
    for (std::uint64_t done = 0; done < in.Size();) {
        const std::size_t part =
            std::size_t(std::min<std::uint64_t>(block.size(), in.Size() - done));
        in.ReadAt(done, std::span(block.data(), part));
        md5.Update(std::span(block.data(), part));
        done += part;
    }
    return ctr::HexUpper(md5.Final());
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
    const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
    const fs::path file = folder / "bench_digests.bin";
    {
        ctr::TOutFile out(file);
        const std::vector<std::uint8_t> noise = ctr_test::NoiseBytes(1u << 20, 3);
        for (std::uint64_t i = 0; i < mib; ++i)
            out.Write(noise);
        out.Commit();
    }
    double plain = 1e9;
    double ours = 1e9;
    bool same = true;
    for (int round = 0; round < 5; ++round) {
        ctr::TInFile in(file);
        auto start = std::chrono::steady_clock::now();
        const std::string a = OneThread(in);
        plain = std::min(plain, Seconds(start));
        start = std::chrono::steady_clock::now();
        const std::string b = ctr::TakeDigests(in, {{0, in.Size(), {}}})[0];
        ours = std::min(ours, Seconds(start));
        same = same && a == b;
    }
    fs::remove(file);
    std::printf("%llu MiB: one thread %.3f s, TakeDigests %.3f s, ratio %.2f (below 1: faster)%s\n",
                static_cast<unsigned long long>(mib), plain, ours, ours / plain,
                same ? "" : "  DIGESTS DIFFER");
    return same ? 0 : 1;
}
