// libFuzzer target: unpacks arbitrary bytes as a sound archive. It must not crash or touch
// memory out of bounds, and every failure must come back as -1. The piece files are taken
// in memory through the write seam (each byte is read, so the sanitizer checks every piece's
// bounds); the folders are made and replaced for real, in /dev/shm when it exists.
// With QVT_FUZZ_PACK=1 in the environment the pieces are written as files instead and, after
// a successful unpack, packed again, so the packer meets every odd piece the unpacker lets by.

#include "sound_archive/FileBasics.h"
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
bool g_pack = false;
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
    g_pack = qEnvironmentVariable("QVT_FUZZ_PACK") == QLatin1String("1");
    if (g_pack)
        return 0;
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
    if (g_pack && result == 0) {
        QByteArray packed;
        const int packed_result = PackBcsar(packed, g_folder, false);
        if (packed_result != 0 && packed_result != -1)
            std::abort();
    }
    return 0;
}
