// Unpack plus pack of a 64 MiB sound archive with 2,000 clips, against `cp` of the same file.
//
//   bench_sound_archive [WORK_FOLDER]
//
// Builds the archive in WORK_FOLDER (default: a temporary folder in /dev/shm, so the figures
// are the program's and not the disk's; pass a folder to measure a disk), copies it with cp, then
// runs itself as a child that reads the archive, unpacks it into piece files, packs the pieces back
// into memory and writes the result; the child reports its own times and peak memory, so the
// generator's memory does not count. Each is run three times and the best time kept.

#include "tests/sound_archive/BcsarQt.h"
#include "tests/sound_archive/SyntheticBcsar.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr qint64 kArchiveSize = 64 << 20;
constexpr int kClipCount = 2000;
constexpr qsizetype kClipLength = 33528; // 24 modulo 32: each clip takes 33,536 bytes
constexpr int kRepeats = 3;

// The high-water mark of this process's resident memory since it started. getrusage's
// ru_maxrss would also count what the parent held when it forked this child.
long PeakRssKib() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

double Milliseconds(const QElapsedTimer& timer) {
    return timer.nsecsElapsed() / 1e6;
}

// The child: one read, unpack, pack, write cycle; prints "unpack_ms pack_ms peak_rss_kib".
int RunOnce(const QString& archive_path, const QString& folder, const QString& output_path) {
    QElapsedTimer timer;
    timer.start();
    {
        bcsar::TByteBuffer archive;
        bcsar::AppendFileOrThrow(archive, bcsar_qt::Path(archive_path));
        if (UnpackBcsar(archive, bcsar_qt::Path(folder), 0, false) != 0)
            return 1;
    }
    const double unpack_ms = Milliseconds(timer);
    timer.restart();
    bcsar::TByteBuffer packed;
    if (PackBcsar(packed, bcsar_qt::Path(folder), false) != 0)
        return 1;
    bcsar::WritePiece(bcsar_qt::Path(output_path), packed);
    const double pack_ms = Milliseconds(timer);
    std::printf("%.3f %.3f %ld\n", unpack_ms, pack_ms, PeakRssKib());
    return 0;
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 5 && arguments[1] == QLatin1String("--run"))
        return RunOnce(arguments[2], arguments[3], arguments[4]);

    const QString ram = QStringLiteral("/dev/shm");
    QTemporaryDir temporary((QFileInfo(ram).isDir() ? ram : QDir::tempPath()) +
                            QStringLiteral("/bench_sound_archive-XXXXXX"));
    const QString work = arguments.size() > 1 ? arguments[1] : temporary.path();
    QDir().mkpath(work);
    const QString archive_path = work + QStringLiteral("/bench.bcsar");
    const QString copy_path = work + QStringLiteral("/copy.bcsar");
    const QString packed_path = work + QStringLiteral("/packed.bcsar");
    const QString folder = work + QStringLiteral("/pieces");

    {
        synth::TLayout layout;
        layout.Clips = synth::Clips(kClipCount, kClipLength);
        const qsizetype without_strg = synth::Build(layout).Bytes.size() - layout.StrgLength;
        layout.StrgLength = kArchiveSize - without_strg; // brings the archive to exactly 64 MiB
        const QByteArray archive = synth::Build(layout).Bytes;
        bcsar::WritePiece(bcsar_qt::Path(archive_path), bcsar_qt::Span(archive));
    }

    double cp_ms = 1e300, unpack_ms = 1e300, pack_ms = 1e300;
    long peak_kib = 0;
    for (int i = 0; i < kRepeats; ++i) {
        QFile::remove(copy_path);
        QElapsedTimer timer;
        timer.start();
        if (QProcess::execute(QStringLiteral("cp"), {archive_path, copy_path}) != 0) {
            std::fprintf(stderr, "cp failed\n");
            return 1;
        }
        cp_ms = std::min(cp_ms, Milliseconds(timer));

        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        QFile::remove(packed_path);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--run"), archive_path, folder, packed_path});
        if (!child.waitForFinished(-1) || child.exitCode() != 0) {
            std::fprintf(stderr, "unpack/pack run failed\n");
            return 1;
        }
        double run_unpack = 0, run_pack = 0;
        long run_peak = 0;
        if (std::sscanf(child.readAllStandardOutput().constData(), "%lf %lf %ld", &run_unpack,
                        &run_pack, &run_peak) != 3)
            return 1;
        if (run_unpack + run_pack < unpack_ms + pack_ms) {
            unpack_ms = run_unpack;
            pack_ms = run_pack;
        }
        peak_kib = std::max(peak_kib, run_peak);
    }
    const bool identical = ReadFile(packed_path) == ReadFile(archive_path);
    const double archive_mib = static_cast<double>(kArchiveSize) / (1 << 20);
    std::printf("archive: %.0f MiB, %d clips; rebuilt archive identical: %s\n", archive_mib,
                kClipCount, identical ? "yes" : "NO");
    std::printf("cp: %.1f ms; unpack: %.1f ms; pack: %.1f ms\n", cp_ms, unpack_ms, pack_ms);
    std::printf("unpack+pack / cp: %.2fx (aim <= 8x)\n", (unpack_ms + pack_ms) / cp_ms);
    std::printf("peak RSS: %.1f MiB = %.2fx the archive (aim < 4x)\n", peak_kib / 1024.0,
                peak_kib / 1024.0 / archive_mib);
    return identical ? 0 : 1;
}
