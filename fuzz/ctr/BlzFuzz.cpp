// libFuzzer target for the code compression: arbitrary bytes are decompressed (nothing or a
// bounded result, never a crash), and compressing the input then decompressing the result
// must give the input back.

#include "ctr/Blz.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    if (const auto plain = ctr::BlzDecompress(input)) {
        if (plain->size() > ctr::BlzMaxOutput)
            std::abort();
    }
    if (const auto packed = ctr::BlzCompress(input)) {
        if (packed->size() >= size || !ctr::BlzIsCompressed(*packed))
            std::abort();
        const auto back = ctr::BlzDecompress(*packed);
        if (!back || !std::equal(back->begin(), back->end(), input.begin(), input.end()))
            std::abort();
    }
    return 0;
}
