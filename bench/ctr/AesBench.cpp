// AES-128-CTR throughput of the container library's keystream (TAesCtr, as the decryption of
// images uses it) against `openssl speed -evp aes-128-ctr` on the same machine in the same run,
// at the same block sizes. openssl speed divides by the CPU time its process spent unless told
// -elapsed; both ways are measured, ours by this thread's CPU time and by the wall clock, so a
// loaded machine weighs on both sides alike. The two alternate three times; the best of each
// gives the ratio ours / openssl per block size. A made-up key: nothing here is a real key.
//
//   bench_aes [--seconds S]     (seconds per measurement, default 2)

#include "ctr/Aes.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <time.h>

namespace {

// Bytes per second of openssl's own AES-128-CTR for `block` bytes per call; 0 when openssl
// cannot be run or its table cannot be read.
double OpensslSpeed(std::size_t block, int seconds, bool elapsed) {
    const std::string command = "openssl speed " + std::string(elapsed ? "-elapsed " : "") +
                                "-evp aes-128-ctr -seconds " + std::to_string(seconds) +
                                " -bytes " + std::to_string(block) + " 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return 0;
    double speed = 0;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        // "AES-128-CTR    9401346.59k": thousands of bytes per second.
        const std::string text(line);
        if (text.rfind("AES-128-CTR", 0) == 0 || text.rfind("aes-128-ctr", 0) == 0) {
            const std::size_t number = text.find_first_of("0123456789", 11);
            if (number != std::string::npos)
                speed = std::strtod(text.c_str() + number, nullptr) * 1000.0;
        }
    }
    pclose(pipe);
    return speed;
}

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct TSpeed {
    double Cpu = 0;  // bytes per second of this thread's CPU time
    double Wall = 0; // bytes per second of wall-clock time
};

// Bytes per second of TAesCtr over `block`-byte pieces of a buffer, each piece at its own
// stream position as an image's regions are decrypted.
TSpeed OurSpeed(std::size_t block, int seconds) {
    std::mt19937_64 random{std::random_device{}()};
    ctr::TAesKey key{};
    ctr::TAesBlock counter{};
    for (auto& byte : key)
        byte = static_cast<std::uint8_t>(random());
    for (auto& byte : counter)
        byte = static_cast<std::uint8_t>(random());
    ctr::TAesCtr aes(key, counter);
    std::vector<std::uint8_t> data(block, 0x5A);
    std::uint64_t position = 0;
    std::uint64_t bytes = 0;
    const double cpu_start = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + std::chrono::seconds(seconds);
    auto now = start;
    while (now < until) {
        for (int i = 0; i < 16; ++i) {
            aes.Apply(position, data);
            position += block;
            bytes += block;
        }
        now = std::chrono::steady_clock::now();
    }
    const double cpu = CpuSeconds() - cpu_start;
    return {static_cast<double>(bytes) / cpu,
            static_cast<double>(bytes) / std::chrono::duration<double>(now - start).count()};
}

} // namespace

int main(int argc, char* argv[]) {
    int seconds = 2;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--seconds")
            seconds = std::max(1, std::atoi(argv[i + 1]));
    const std::array<std::size_t, 3> blocks = {16u << 10, 1u << 20, 4u << 20};
    std::printf("AES-128-CTR, best of three alternating measurements of %d s each, MB/s\n",
                seconds);
    std::printf("%10s %10s %10s %8s   %10s %10s %8s\n", "block", "ours cpu", "openssl", "ratio",
                "ours wall", "-elapsed", "ratio");
    bool failed = false;
    for (const std::size_t block : blocks) {
        TSpeed ours;
        double theirs_cpu = 0, theirs_wall = 0;
        for (int round = 0; round < 3; ++round) {
            theirs_cpu = std::max(theirs_cpu, OpensslSpeed(block, seconds, false));
            theirs_wall = std::max(theirs_wall, OpensslSpeed(block, seconds, true));
            const TSpeed speed = OurSpeed(block, seconds);
            ours.Cpu = std::max(ours.Cpu, speed.Cpu);
            ours.Wall = std::max(ours.Wall, speed.Wall);
        }
        if (theirs_cpu <= 0 || theirs_wall <= 0) {
            std::fprintf(stderr, "openssl speed gave no figure for %zu bytes\n", block);
            failed = true;
            continue;
        }
        std::printf("%10zu %10.0f %10.0f %8.3f   %10.0f %10.0f %8.3f\n", block, ours.Cpu / 1e6,
                    theirs_cpu / 1e6, ours.Cpu / theirs_cpu, ours.Wall / 1e6, theirs_wall / 1e6,
                    ours.Wall / theirs_wall);
    }
    return failed ? 1 : 0;
}
