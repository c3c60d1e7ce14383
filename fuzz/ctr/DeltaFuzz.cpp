// libFuzzer target: a difference is applied to a fixed source with xdelta3's decoder. Bad
// input must end in a TCtrError, and the output stays bounded by the decoder's windows.

#include "Scratch.h"
#include "ctr/Delta.h"

namespace {

// 64 KiB of bytes the seed differences were made against (fuzz/ctr/corpus/delta).
const std::filesystem::path& Source() {
    static const std::filesystem::path path = [] {
        std::vector<std::uint8_t> bytes(64u << 10);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>((i * 31) ^ (i >> 8));
        return fuzz::WriteInput(bytes.data(), bytes.size(), "source.bin");
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path& source_path = Source();
    const std::filesystem::path input = fuzz::WriteInput(data, size);
    try {
        ctr::TInFile source(source_path);
        ctr::TInFile delta(input);
        ctr::TOutFile output(fuzz::Scratch() / "output.bin");
        ctr::ApplyDelta(source, delta, output);
    } catch (const ctr::TCtrError&) {
    }
    return 0;
}
