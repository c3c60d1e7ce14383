// libFuzzer target for the user's key files: arbitrary text parses into keys or ends in a
// TCtrError, and a parsed set written out again reads back as the same keys.

#include "ctr/Keys.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const ctr::TKeySet keys =
            ctr::ParseKeyFile(std::string(reinterpret_cast<const char*>(data), size));
        if (ctr::FormatKeyFile(ctr::ParseKeyFile(ctr::FormatKeyFile(keys))) !=
            ctr::FormatKeyFile(keys))
            std::abort();
    } catch (const ctr::TCtrError&) {
    }
    try {
        (void)ctr::ParseSeedDb(std::span<const std::uint8_t>(data, size));
    } catch (const ctr::TCtrError&) {
    }
    return 0;
}
