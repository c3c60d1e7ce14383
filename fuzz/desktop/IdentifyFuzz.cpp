// libFuzzer target: a source image is identified. The first byte picks the extension the file
// is given (CIA, 3DS or CXI), the rest is the file. Any verdict is fine; a crash, an
// out-of-bounds read or a usable verdict without a region is not.

#include "../ctr/Scratch.h"
#include "desktop/FileTools.h"
#include "desktop/Identify.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static const char* const names[] = {"image.cia", "image.3ds", "image.cxi"};
    const std::filesystem::path path = fuzz::WriteInput(data + 1, size - 1, names[data[0] % 3]);
    static const TLanguageTable texts;
    const TIdentifyResult result = IdentifySourceImage(FromPath(path), texts);
    if (!result.Opened || (result.Usable() && (result.Kind.isEmpty() || !result.HasInfoPosition)))
        std::abort();
    return 0;
}
