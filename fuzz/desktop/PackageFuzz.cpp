// libFuzzer target: a patch package is added to a scratch program folder's patch folder. Any
// verdict is fine; a crash, an out-of-bounds read, a refused package that leaves anything
// behind, or a file written beside the patch folder is not.

#include "../ctr/Scratch.h"
#include "desktop/FileTools.h"
#include "desktop/Language.h"
#include "desktop/PatchPackage.h"

#include <QString>

#include <iterator>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path input = fuzz::WriteInput(data, size, "input.qvtpatch");
    const std::filesystem::path program = fuzz::FreshFolder("program");
    static const TLanguageTable texts;
    // Small limits keep every run quick; the checks are the same at any size.
    const TPackageLimits limits{200, std::int64_t(4) << 20};
    const TAddPatchResult result = AddPatchPackage(FromPath(input), FromPath(program / "patch"),
                                                   QStringLiteral("English"), texts, {}, limits);
    const auto count = [](const std::filesystem::path& folder) {
        std::error_code error;
        std::filesystem::directory_iterator entries(folder, error);
        return error ? 0 : std::distance(entries, std::filesystem::directory_iterator());
    };
    const auto patches = count(program / "patch");
    if (count(program) > 1)
        std::abort();
    if (result.Outcome == TAddPatchResult::TOutcome::Refused && patches != 0)
        std::abort();
    if (result.Outcome == TAddPatchResult::TOutcome::Added &&
        (patches != 1 || !std::filesystem::is_regular_file(ToPath(result.DescriptionPath))))
        std::abort();
    return 0;
}
