// Compressed images (Z3DS) against the plain image, in the same run: writing (CompressImage
// and DecompressImage against a buffered copy of the plain image, all committed to the
// disk; best of three rounds), reading (the whole image in 4 MiB blocks and 64 KiB reads at
// random places, through the reader against the plain file from the page cache) and the
// peak memory of a process that reads the image through OpenImageFile. The images are a CIA
// and a card image around an NCCH whose RomFS holds MiB of mostly compressible data
// (code-like runs, a quarter noise), built here and deleted after.
//
//   bench_z3ds [MiB] [work folder]     (default 1024 MiB in the system's temporary folder)

#include "ctr/Cia.h"
#include "ctr/FileIo.h"
#include "ctr/Ncsd.h"
#include "ctr/Z3ds.h"
#include "ctr/Z3dsWrite.h"
#include "tests/ctr/CtrTestSupport.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

double Seconds(const std::function<void()>& step) {
    const auto start = std::chrono::steady_clock::now();
    step();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The data archive: per 1 MiB, three quarters code-like words, one quarter noise.
void WritePackDat(const fs::path& path, std::uint64_t size) {
    const std::vector<std::uint8_t> code = ctr_test::CodeLikeBytes(3u << 20, 9);
    std::mt19937_64 random(5);
    std::vector<std::uint8_t> block(1u << 20);
    std::ofstream out(path, std::ios::binary);
    for (std::uint64_t done = 0; done < size; done += block.size()) {
        const std::size_t quarter = block.size() / 4;
        std::copy_n(code.begin() + static_cast<std::ptrdiff_t>(random() % (2u << 20)), 3 * quarter,
                    block.begin());
        for (std::size_t i = 3 * quarter; i < block.size(); i += 8) {
            const std::uint64_t word = random();
            std::copy_n(reinterpret_cast<const std::uint8_t*>(&word), 8, block.begin() + i);
        }
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(std::min<std::uint64_t>(block.size(), size - done)));
    }
}

void PlainCopy(const fs::path& from, const fs::path& to) {
    ctr::TInFile in(from);
    ctr::TOutFile out(to);
    std::vector<std::uint8_t> block(ctr::CopyChunkSize);
    for (std::uint64_t at = 0; at < in.Size(); at += block.size()) {
        const std::span<std::uint8_t> part(
            block.data(),
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), in.Size() - at)));
        in.ReadAt(at, part);
        out.Write(part);
    }
    out.Commit();
}

// Reads the whole image in 4 MiB blocks, then 64 KiB at random places; returns the seconds
// of each.
std::pair<double, double> ReadTimes(const fs::path& path) {
    const auto image = ctr::OpenImageFile(path);
    std::vector<std::uint8_t> block(4u << 20);
    const double whole = Seconds([&] {
        for (std::uint64_t at = 0; at < image->Size(); at += block.size())
            image->ReadAt(at,
                          std::span(block.data(), static_cast<std::size_t>(std::min<std::uint64_t>(
                                                      block.size(), image->Size() - at))));
    });
    std::mt19937_64 random(3);
    const double scattered = Seconds([&] {
        for (int i = 0; i < 200; ++i)
            image->ReadAt(random() % (image->Size() - 65536), std::span(block.data(), 65536));
    });
    return {whole, scattered};
}

// Peak resident memory (KiB) of this program reading `path` whole through OpenImageFile in
// a process of its own.
long PeakMemory(const char* self, const fs::path& path) {
    const pid_t child = fork();
    if (child == 0) {
        execl(self, self, "--read", path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "bench_z3ds: the reading process failed\n");
        std::exit(1);
    }
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--read") {
        ReadTimes(argv[2]);
        return 0;
    }
    const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const fs::path base = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
    const fs::path dir = base / ("qvt-bench-z3ds-" + std::to_string(getpid()));
    fs::create_directories(dir);
    try {
        ctr_test::WriteTitleParts(dir);
        WritePackDat(dir / "romfs" / "pack.dat", mib << 20);
        ctr_test::BuildTitleCxi(dir);
        fs::remove(dir / "romfs" / "pack.dat");
        fs::remove(dir / "romfs.bin");
        ctr::BuildCia(dir / "title.cxi", dir / "title.cia");
        ctr::BuildNcsd(dir / "mainncchheader.bin", dir / "title.cxi", dir / "title.3ds");
        fs::remove(dir / "title.cxi");
        std::printf("image data %llu MiB, 2 threads; ratios compressed / plain\n",
                    static_cast<unsigned long long>(mib));
        const struct {
            const char* Plain;
            const char* Compressed;
            ctr::TImageKind Kind;
        } kinds[] = {{"title.cia", "title.zcia", ctr::TImageKind::Cia},
                     {"title.3ds", "title.zcci", ctr::TImageKind::Cci}};
        for (const auto& kind : kinds) {
            const fs::path plain = dir / kind.Plain, compressed = dir / kind.Compressed;
            // The three alternate three times and the best of each counts, so a machine
            // busy with something else weighs on all of them alike.
            double copy = 1e9, write = 1e9, unpack = 1e9;
            for (int round = 0; round < 3; ++round) {
                copy = std::min(copy, Seconds([&] { PlainCopy(plain, dir / "copy"); }));
                fs::remove(dir / "copy");
                write = std::min(
                    write, Seconds([&] { ctr::CompressImage(plain, kind.Kind, compressed); }));
                unpack = std::min(unpack,
                                  Seconds([&] { ctr::DecompressImage(compressed, dir / "copy"); }));
                fs::remove(dir / "copy");
            }
            const auto [plain_whole, plain_scattered] = ReadTimes(plain);
            const auto [whole, scattered] = ReadTimes(compressed);
            const long plain_memory = PeakMemory(argv[0], plain);
            const long memory = PeakMemory(argv[0], compressed);
            std::printf("%s: %.1f MiB -> %.1f MiB (%.2f)\n", kind.Compressed,
                        fs::file_size(plain) / 1048576.0, fs::file_size(compressed) / 1048576.0,
                        double(fs::file_size(compressed)) / fs::file_size(plain));
            std::printf("  write        %6.2f s vs copy %6.2f s   ratio %.2f\n", write, copy,
                        write / copy);
            std::printf("  decompress   %6.2f s vs copy %6.2f s   ratio %.2f\n", unpack, copy,
                        unpack / copy);
            std::printf("  read whole   %6.2f s vs plain %6.2f s  ratio %.2f (%.0f MiB/s)\n", whole,
                        plain_whole, whole / plain_whole, fs::file_size(plain) / 1048576.0 / whole);
            std::printf("  read 64 KiB  %6.3f s vs plain %6.3f s  ratio %.2f (200 reads)\n",
                        scattered, plain_scattered, scattered / plain_scattered);
            std::printf("  peak memory  %6.1f MiB vs plain %6.1f MiB\n", memory / 1024.0,
                        plain_memory / 1024.0);
            fs::remove(compressed);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_z3ds: %s\n", error.what());
        fs::remove_all(dir);
        return 1;
    }
    fs::remove_all(dir);
    return 0;
}
