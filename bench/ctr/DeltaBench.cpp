// Applying a difference inside the process against the xdelta3 program on the same files, in
// the same run (best of three rounds each, outputs committed to the disk): a data archive of
// the given size and a changed copy of it (moved stretches, rewritten stretches, new bytes),
// the difference made by xdelta3 with its default settings.
//
//   bench_delta [MiB] [work folder]     (default 256 MiB in the system's temporary folder)

#include "ctr/Delta.h"
#include "tests/ctr/CtrTestSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>

namespace fs = std::filesystem;

namespace {

double BestOfThree(const std::function<void()>& step) {
    double best = 1e30;
    for (int round = 0; round < 3; ++round) {
        const auto start = std::chrono::steady_clock::now();
        step();
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

// Per 1 MiB: three quarters code-like words, one quarter noise; the target moves every
// eighth MiB elsewhere, rewrites a stretch in every fourth and adds a little.
void WritePair(const fs::path& source, const fs::path& target, std::uint64_t mib) {
    const std::vector<std::uint8_t> code = ctr_test::CodeLikeBytes(3u << 20, 9);
    std::mt19937_64 random(5);
    std::vector<std::vector<std::uint8_t>> blocks(mib, std::vector<std::uint8_t>(1u << 20));
    for (auto& block : blocks) {
        const std::size_t quarter = block.size() / 4;
        std::copy_n(code.begin() + static_cast<std::ptrdiff_t>(random() % (2u << 20)), 3 * quarter,
                    block.begin());
        for (std::size_t i = 3 * quarter; i < block.size(); ++i)
            block[i] = static_cast<std::uint8_t>(random());
    }
    std::ofstream out_source(source, std::ios::binary);
    for (const auto& block : blocks)
        out_source.write(reinterpret_cast<const char*>(block.data()), block.size());
    for (std::size_t i = 0; i + 8 < blocks.size(); i += 8)
        std::swap(blocks[i], blocks[i + 5]);
    for (std::size_t i = 0; i < blocks.size(); i += 4)
        std::generate_n(blocks[i].begin() + 4096, 65536,
                        [&random] { return static_cast<std::uint8_t>(random()); });
    std::ofstream out_target(target, std::ios::binary);
    for (const auto& block : blocks)
        out_target.write(reinterpret_cast<const char*>(block.data()), block.size());
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    const fs::path work =
        fs::path(argc > 2 ? argv[2] : fs::temp_directory_path().string()) / "qvt-bench-delta";
    fs::remove_all(work);
    fs::create_directories(work);
    const fs::path xdelta = ctr_test::ToolPath("xdelta");
    WritePair(work / "source.bin", work / "target.bin", mib);
    if (ctr_test::Run(xdelta, {"-e", "-f", "-s", "source.bin", "target.bin", "delta.vcdiff"},
                      work) != 0) {
        std::fprintf(stderr, "bench_delta: xdelta3 could not make the difference\n");
        return 1;
    }
    const double program = BestOfThree([&] {
        ctr_test::Run(xdelta, {"-d", "-f", "-s", "source.bin", "delta.vcdiff", "program.bin"},
                      work);
    });
    const double inside = BestOfThree([&] {
        ctr::TInFile source(work / "source.bin");
        ctr::TInFile delta(work / "delta.vcdiff");
        ctr::TOutFile out(work / "inside.bin");
        out.MarkScratch(); // as the program's output, not forced to the disk
        ctr::ApplyDelta(source, delta, out);
        out.Commit();
    });
    const bool same =
        ctr_test::Sha256Hex(work / "program.bin") == ctr_test::Sha256Hex(work / "target.bin") &&
        ctr_test::Sha256Hex(work / "inside.bin") == ctr_test::Sha256Hex(work / "target.bin");
    std::printf("data archive %llu MiB, difference %.1f MiB\n",
                static_cast<unsigned long long>(mib),
                static_cast<double>(fs::file_size(work / "delta.vcdiff")) / (1 << 20));
    std::printf("xdelta3 program      %.3f s\n", program);
    std::printf("inside the process   %.3f s  (%.2fx the program)\n", inside, inside / program);
    std::printf("results equal the target: %s\n", same ? "yes" : "NO");
    fs::remove_all(work);
    return same ? 0 : 1;
}
