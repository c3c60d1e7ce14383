// libFuzzer target: an ExeFS is checked and extracted with its code decompressed. Bad input
// must end in a TCtrError.

#include "Scratch.h"
#include "ctr/ExeFs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path input = fuzz::WriteInput(data, size);
    const std::filesystem::path out = fuzz::FreshFolder();
    try {
        ctr::TInFile file(input);
        (void)ctr::VerifyExeFs(file, 0, file.Size());
    } catch (const ctr::TCtrError&) {
    }
    try {
        ctr::ExtractExeFs(input, out / "exefs", out / "header.bin", true);
    } catch (const ctr::TCtrError&) {
    }
    return 0;
}
