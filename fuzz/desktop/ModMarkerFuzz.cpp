// libFuzzer target for the marker a mod folder run leaves beside romfs/: whatever a card holds
// under its name is read without a crash, and a marker that reads back writes out as itself.

#include "desktop/ModFolder.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<TModMarker> marker = ParseModMarker(bytes);
    if (marker && ParseModMarker(ModMarkerText(*marker)) != marker)
        std::abort();
    return 0;
}
