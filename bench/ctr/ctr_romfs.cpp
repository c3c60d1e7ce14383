// RomFS build and extraction through 3dstool on about 1 GiB of files, as ratios to `cp` of
// the same bytes in the same run (each step timed up to `sync`). Usage: bench_ctr_romfs [MiB] [work
// folder]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

double RunTimed(const std::vector<std::string>& args, long* max_rss_kib = nullptr) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        std::vector<std::string> copies = args;
        for (std::string& arg : copies)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "command failed: %s\n", args[0].c_str());
        std::exit(1);
    }
    if (max_rss_kib)
        *max_rss_kib = usage.ru_maxrss;
    // Written data counts only once it is on disk, or later steps pay for earlier ones.
    sync();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void WriteFile(const fs::path& path, std::size_t size, std::mt19937_64& random) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    std::vector<std::uint64_t> block(1 << 17);
    while (size > 0) {
        for (auto& word : block)
            word = random();
        const std::size_t part = std::min(size, block.size() * 8);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(part));
        size -= part;
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const fs::path work =
        (argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path()) / "qvt-bench-romfs";
    const std::string tool = std::string(QVT_TOOLS_DIR) + "/3dstool";
    fs::remove_all(work);
    const fs::path input = work / "in";

    // A pack-like layout: a few big files, many middle-sized sound files, small ones.
    std::mt19937_64 random(1);
    std::size_t total = 0;
    const std::size_t target = mib << 20;
    WriteFile(input / "pack.dat", target / 2, random);
    total += target / 2;
    for (int i = 0; total < target; ++i) {
        const std::size_t size =
            i % 10 == 0 ? 4096 + i : (1u << 20) + 4099u * static_cast<std::size_t>(i);
        WriteFile(input / ("sound/sub" + std::to_string(i % 7)) /
                      ("clip" + std::to_string(i) + ".bcwav"),
                  size, random);
        total += size;
    }
    sync();

    // Each step runs three times on a clean target; the fastest run counts, since the disk
    // is shared and writeback timing varies.
    double copy_in = 1e9, build = 1e9, copy_image = 1e9, extract = 1e9;
    long build_rss = 0, extract_rss = 0;
    for (int round = 0; round < 3; ++round) {
        fs::remove_all(work / "copy");
        fs::remove(work / "romfs.bin");
        fs::remove(work / "romfs_copy.bin");
        fs::remove_all(work / "out");
        sync();
        copy_in =
            std::min(copy_in, RunTimed({"cp", "-r", input.string(), (work / "copy").string()}));
        build = std::min(build, RunTimed({tool, "-ctf", "romfs", (work / "romfs.bin").string(),
                                          "--romfs-dir", input.string()},
                                         &build_rss));
        copy_image = std::min(copy_image, RunTimed({"cp", (work / "romfs.bin").string(),
                                                    (work / "romfs_copy.bin").string()}));
        extract = std::min(extract, RunTimed({tool, "-xtf", "romfs", (work / "romfs.bin").string(),
                                              "--romfs-dir", (work / "out").string()},
                                             &extract_rss));
    }

    std::printf("data: %.1f MiB in files\n", static_cast<double>(total) / (1 << 20));
    std::printf("cp -r folder:   %.2f s\n", copy_in);
    std::printf("RomFS build:    %.2f s  ratio to cp -r %.2f  peak memory %ld MiB\n", build,
                build / copy_in, build_rss / 1024);
    std::printf("cp image:       %.2f s\n", copy_image);
    std::printf("RomFS extract:  %.2f s  ratio to cp -r %.2f  ratio to cp image %.2f  peak memory "
                "%ld MiB\n",
                extract, extract / copy_in, extract / copy_image, extract_rss / 1024);
    fs::remove_all(work);
    return 0;
}
