// Benchmarks of the source-side checks:
//  1. FileMD5Hex on a large file against `md5sum` on the same file, in the same run;
//  2. identification of a 4 GiB sparse image: the bytes it reads (its own count and the
//     process's read counter from /proc/self/io).
// Usage: bench_identify [size in MiB for the digest file, default 1024] [work folder]
#include "desktop/FileTools.h"
#include "desktop/Identify.h"
#include "tests/desktop/SampleImages.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <random>

namespace {

std::int64_t ReadCharCount() {
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

bool WriteDataFile(const QString& path, std::int64_t bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    std::mt19937_64 random(2026);
    QByteArray block(1 << 20, '\0');
    for (std::int64_t written = 0; written < bytes; written += block.size()) {
        auto* words = reinterpret_cast<std::uint64_t*>(block.data());
        for (qsizetype i = 0; i < block.size() / 8; ++i)
            words[i] = random();
        if (file.write(block) != block.size())
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const std::int64_t mebibytes = args.size() > 1 ? args[1].toLongLong() : 1024;
    QTemporaryDir dir(args.size() > 2 ? args[2] + "/bench-identify-XXXXXX" : QString());
    if (!dir.isValid()) {
        std::fprintf(stderr, "no work folder\n");
        return 1;
    }

    // 1. Digest of a large file.
    const QString data = dir.filePath(QStringLiteral("data.bin"));
    if (!WriteDataFile(data, mebibytes << 20)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(data));
        return 1;
    }
    FileMD5Hex(data); // both runs read from the page cache
    QElapsedTimer timer;
    timer.start();
    const QString ours = FileMD5Hex(data);
    const double ours_s = timer.nsecsElapsed() / 1e9;
    timer.restart();
    QProcess md5sum;
    md5sum.start(QStringLiteral("md5sum"), {data});
    md5sum.waitForFinished(-1);
    const double theirs_s = timer.nsecsElapsed() / 1e9;
    const QString theirs = QString::fromLatin1(md5sum.readAllStandardOutput().left(32)).toUpper();
    std::printf("FileMD5Hex %lld MiB: %.3f s (%.0f MiB/s); md5sum: %.3f s; ratio ours/md5sum %.2f; "
                "digests %s\n",
                static_cast<long long>(mebibytes), ours_s, mebibytes / ours_s, theirs_s,
                ours_s / theirs_s, ours == theirs ? "equal" : "DIFFER");
    QFile::remove(data);

    // 2. Identification of a 4 GiB sparse image whose sound archive lies near its end.
    sample::TImageSpec shape;
    shape.ArchiveGap = (std::int64_t(4) << 30) - 0x20000;
    const QString image = dir.filePath(QStringLiteral("sparse.cia"));
    const auto layout = sample::WriteImage(shape, image);
    TLanguageTable texts;
    const std::int64_t before = ReadCharCount();
    timer.restart();
    const TIdentifyResult result = IdentifySourceImage(image, texts);
    const double identify_ms = timer.nsecsElapsed() / 1e6;
    const std::int64_t after = ReadCharCount();
    std::printf("Identify %.2f GiB sparse image: %s, InfoPosition %s, %lld bytes read by its "
                "count, %lld by /proc/self/io rchar, %.3f ms; under 1 KiB: %s\n",
                layout.Size / double(1 << 30), result.Usable() ? "usable" : "NOT usable",
                result.InfoPosition == layout.InfoPosition ? "right" : "WRONG",
                static_cast<long long>(result.BytesRead), static_cast<long long>(after - before),
                identify_ms, after - before < 1024 && result.BytesRead < 1024 ? "yes" : "NO");
    return ours == theirs && result.Usable() && after - before < 1024 ? 0 : 1;
}
