// libFuzzer target: a compressed image (Z3DS) is opened, read at its frame boundaries and
// checked as the image it holds. Bad input must end in a TCtrError.

#include "Scratch.h"
#include "ctr/Verify.h"
#include "ctr/Z3ds.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path input = fuzz::WriteInput(data, size);
    try {
        ctr::TZ3dsReader reader(input);
        // A few reads around the start, the middle and the end, across frame boundaries;
        // a small file may claim a large image, so the bytes read stay bounded.
        const std::uint64_t image = reader.Size();
        std::vector<std::uint8_t> out;
        for (const std::uint64_t at :
             {std::uint64_t{0}, image / 2, image > 4096 ? image - 4096 : 0}) {
            out.resize(static_cast<std::size_t>(std::min<std::uint64_t>(image - at, 1u << 16)));
            reader.Read(at, out);
        }
    } catch (const ctr::TCtrError&) {
    }
    for (const ctr::TImageKind kind :
         {ctr::TImageKind::Cxi, ctr::TImageKind::Cci, ctr::TImageKind::Cia})
        (void)ctr::VerifyImage(input, kind);
    return 0;
}
