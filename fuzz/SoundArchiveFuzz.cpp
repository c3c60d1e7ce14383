// libFuzzer target: unpacks arbitrary bytes as a sound archive into a folder in RAM and, when
// that succeeds, packs the pieces again. Neither may crash or touch memory out of bounds;
// failures must come back as -1.

#include "install/FileTools.h"
#include "sound_archive/N3DSbcsar.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

QString g_folder;

void RemoveFolder() { DeleteFolder(g_folder); }

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // One folder per process, in RAM when /dev/shm exists; unpacking replaces its content on
    // every run, so nothing piles up.
    const QString ram = QStringLiteral("/dev/shm");
    g_folder = (QFileInfo(ram).isDir() ? ram : QDir::tempPath()) +
               QStringLiteral("/qvt-bcsar-fuzz-%1").arg(::getpid());
    QDir().mkpath(g_folder);
    std::atexit(RemoveFolder);
    SetBcsarMessageHandler([](const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray stream =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (UnpackBcsar(stream, g_folder, 0, false) == 0) {
        QByteArray packed;
        PackBcsar(packed, g_folder, false);
    }
    return 0;
}
