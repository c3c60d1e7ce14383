// libFuzzer target: an NCCH (CXI/CFA) is checked and every part extracted. Bad input must
// end in a TCtrError, never a crash, an out-of-bounds access or another exception.
// Decryption with stand-in keys reads it too.

#include "Scratch.h"
#include "ctr/Ncch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path input = fuzz::WriteInput(data, size);
    const std::filesystem::path out = fuzz::FreshFolder();
    try {
        ctr::TInFile file(input);
        (void)ctr::VerifyNcch(file, 0, file.Size());
    } catch (const ctr::TCtrError&) {
    }
    try {
        ctr::ExtractNcchParts(input,
                              {out / "header.bin", out / "exheader.bin", out / "logo.bin",
                               out / "plain.bin", out / "exefs.bin", out / "romfs.bin"},
                              false);
    } catch (const ctr::TCtrError&) {
    }
    fuzz::TryDecrypt(input, out, ctr::TImageKind::Cxi);
    return 0;
}
