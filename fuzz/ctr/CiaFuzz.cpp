// libFuzzer target: a CIA is read, checked whole and its contents extracted. Bad input must
// end in a TCtrError or a failed check.
// Decryption with stand-in keys reads it too.

#include "Scratch.h"
#include "ctr/Cia.h"
#include "ctr/Verify.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path input = fuzz::WriteInput(data, size);
    const std::filesystem::path out = fuzz::FreshFolder();
    (void)ctr::VerifyImage(input, ctr::TImageKind::Cia);
    (void)ctr::FindRomFsFile(input, ctr::TImageKind::Cia, "sound/a.bcsar");
    try {
        ctr::ExtractCiaContents(input, out / "content");
    } catch (const ctr::TCtrError&) {
    }
    fuzz::TryDecrypt(input, out, ctr::TImageKind::Cia);
    return 0;
}
