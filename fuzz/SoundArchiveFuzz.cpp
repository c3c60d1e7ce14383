// libFuzzer target: unpacks arbitrary bytes as a sound archive. It must not crash or touch
// memory out of bounds, and every failure must come back as -1. The piece files are taken
// in memory through the write seam (each byte is read, so the sanitizer checks every piece's
// bounds); the folders are made and replaced for real, in /dev/shm when it exists.

#include "install/FileTools.h"
#include "sound_archive/N3DSbcsar.h"
#include "sound_archive/PieceFiles.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

QString g_folder;
volatile std::uint8_t g_sink;

void RemoveFolder() {
    DeleteFolder(g_folder);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const QString ram = QStringLiteral("/dev/shm");
    g_folder = (QFileInfo(ram).isDir() ? ram : QDir::tempPath()) +
               QStringLiteral("/qvt-bcsar-fuzz-%1").arg(::getpid());
    QDir().mkpath(g_folder);
    std::atexit(RemoveFolder);
    SetBcsarMessageHandler([](const QString&) {});
    bcsar::SetPieceWriteHook([](const QString&, const char* data, qint64 length) {
        std::uint8_t sum = 0;
        for (qint64 i = 0; i < length; ++i)
            sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(data[i]));
        g_sink = sum;
        return true;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray stream =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const int result = UnpackBcsar(stream, g_folder, 0, false);
    if (result != 0 && result != -1)
        std::abort();
    return 0;
}
