// libFuzzer target: a RomFS is opened, searched, checked and extracted into a scratch folder
// (emptied before each run). Bad input must end in a TCtrError, and nothing may be written
// outside the folder.

#include "Scratch.h"
#include "ctr/RomFs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path input = fuzz::WriteInput(data, size);
    const std::filesystem::path out = fuzz::FreshFolder();
    const std::filesystem::path tree = out / "romfs";
    try {
        ctr::TInFile file(input);
        ctr::TRomFsReader reader(file, 0, file.Size());
        (void)reader.Find("sound/A.bcsar");
        (void)reader.VerifyHashes();
        reader.Extract(tree);
    } catch (const ctr::TCtrError&) {
    }
    // Whatever was extracted stays inside the folder it was extracted to.
    // (Compared by path elements: Windows writes either separator.)
    const std::filesystem::path root = tree.lexically_normal();
    for (const auto& entry : std::filesystem::recursive_directory_iterator(out)) {
        const std::filesystem::path inside =
            entry.path().lexically_normal().lexically_relative(root);
        if (inside.empty() || *inside.begin() == "..")
            std::abort();
    }
    return 0;
}
