// libFuzzer target: unpacks arbitrary bytes as a sound archive. It must not crash or touch
// memory out of bounds, and every failure must come back as -1. The piece files are taken
// in memory through the write seam (each byte is read, so the sanitizer checks every piece's
// bounds); the folders are made and replaced for real, in /dev/shm when it exists.
// With QVT_FUZZ_PACK=1 in the environment the pieces are written as files instead and, after
// a successful unpack, packed again, so the packer meets every odd piece the unpacker lets by.

#include "sound_archive/FileBasics.h"
#include "sound_archive/N3DSbcsar.h"
#include "sound_archive/PieceFiles.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path g_folder;
bool g_pack = false;
volatile std::uint8_t g_sink;

void RemoveFolder() {
    DeleteFolder(g_folder);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::error_code error;
    const fs::path ram = "/dev/shm";
    g_folder = (fs::is_directory(ram, error) ? ram : fs::temp_directory_path(error)) /
               ("qvt-bcsar-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(g_folder, error);
    std::atexit(RemoveFolder);
    SetBcsarMessageHandler([](const std::string&) {});
    const char* pack = std::getenv("QVT_FUZZ_PACK");
    g_pack = pack != nullptr && std::string_view(pack) == "1";
    if (g_pack)
        return 0;
    bcsar::SetPieceWriteHook([](const fs::path&, std::span<const std::uint8_t> bytes) {
        std::uint8_t sum = 0;
        for (const std::uint8_t byte : bytes)
            sum = static_cast<std::uint8_t>(sum + byte);
        g_sink = sum;
        return true;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int result = UnpackBcsar(std::span(data, size), g_folder, 0, false);
    if (result != 0 && result != -1)
        std::abort();
    if (g_pack && result == 0) {
        std::vector<std::uint8_t> packed;
        const int packed_result = PackBcsar(packed, g_folder, false);
        if (packed_result != 0 && packed_result != -1)
            std::abort();
    }
    return 0;
}
