// libFuzzer target: a card image (NCSD) is checked whole, and its header area and partition 0
// are extracted. Bad input must end in a TCtrError or a failed check.
// Decryption with stand-in keys reads it too.

#include "Scratch.h"
#include "ctr/Ncsd.h"
#include "ctr/Verify.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path input = fuzz::WriteInput(data, size);
    const std::filesystem::path out = fuzz::FreshFolder();
    (void)ctr::VerifyImage(input, ctr::TImageKind::Cci);
    (void)ctr::FindRomFsFile(input, ctr::TImageKind::Cci, "sound/a.bcsar");
    try {
        ctr::ExtractNcsd(input, out / "header.bin", out / "partition0.cxi");
    } catch (const ctr::TCtrError&) {
    }
    fuzz::TryDecrypt(input, out, ctr::TImageKind::Cci);
    return 0;
}
