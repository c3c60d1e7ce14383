// The run's tools both ways in one sitting: the programs in the tools folder (the desktop)
// against the same work in the process (the browser, the stage tests). Three stages of an
// image run, each timed alternately three times, best of three, and the ratio in-process /
// programs:
//  1. a RomFS built from a folder (3dstool -ctf romfs);
//  2. that RomFS taken apart again (3dstool -xtf romfs);
//  3. a difference applied to a data archive as large as the RomFS (xdelta3 -d).
// Usage: bench_tools [size in MiB, default 256] [work folder]
// QVT_APP_DIR names the build's program folder (default: the build's app folder).
#include "desktop/FileTools.h"
#include "desktop/Tools.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>

namespace {

bool WriteData(const QString& path, std::int64_t bytes, std::uint64_t seed) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    std::mt19937_64 random(seed);
    QByteArray block(1 << 20, '\0');
    for (std::int64_t written = 0; written < bytes; written += block.size()) {
        auto* words = reinterpret_cast<std::uint64_t*>(block.data());
        for (qsizetype i = 0; i < block.size() / 8; ++i)
            words[i] = random();
        const qint64 part = std::min<qint64>(block.size(), bytes - written);
        if (file.write(block.constData(), part) != part)
            return false;
    }
    return true;
}

// Seconds of one task, or a negative number when it failed.
double Time(const std::function<std::unique_ptr<TToolTask>()>& start) {
    QElapsedTimer timer;
    timer.start();
    const std::uint32_t code = start()->Wait();
    return code == 0 ? double(timer.nsecsElapsed()) / 1e9 : -1.0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const std::int64_t mebibytes = args.size() > 1 ? args[1].toLongLong() : 256;
    QTemporaryDir dir(args.size() > 2 ? args[2] + "/bench-tools-XXXXXX" : QString());
    QString app_dir = qEnvironmentVariable("QVT_APP_DIR");
    if (app_dir.isEmpty())
        app_dir = QCoreApplication::applicationDirPath() + "/../app";
    if (!dir.isValid() || mebibytes <= 0) {
        std::fprintf(stderr, "usage: bench_tools [MiB] [work folder]\n");
        return 1;
    }

    // A program folder whose tools are the build's.
    const QString folder = dir.path() + QLatin1Char('/');
    QDir().mkpath(folder + "tools/temp");
    for (const TTool tool : {TTool::Tool3ds, TTool::Xdelta}) {
        const QString name = QFileInfo(ToolProgramPath(folder, tool)).fileName();
        if (!QFile::link(QDir(app_dir + "/tools").absoluteFilePath(name), folder + "tools/" + name))
            return 1;
    }
    const std::int64_t bytes = mebibytes << 20;
    const int files = 64;
    for (int i = 0; i < files; ++i) {
        if (!WriteData(folder + QStringLiteral("tools/temp/romfs/data/%1.bin").arg(i),
                       bytes / files, std::uint64_t(i)))
            return 1;
    }
    // The changed archive: the old one with a stretch replaced every eighth MiB.
    if (!WriteData(folder + "tools/temp/old_pack.dat", bytes, 7))
        return 1;
    {
        QFile old_file(folder + "tools/temp/old_pack.dat");
        QFile changed(folder + "work/new_pack.dat");
        QDir().mkpath(folder + "work");
        if (!old_file.open(QIODevice::ReadOnly) || !changed.open(QIODevice::WriteOnly))
            return 1;
        for (std::int64_t at = 0; at < bytes; at += 1 << 20) {
            QByteArray block = old_file.read(1 << 20);
            if ((at >> 20) % 8 == 0)
                block.replace(100, 4096, QByteArray(4096, char(at >> 20)));
            changed.write(block);
        }
    }
    if (RunTool(
            ToolProgramPath(folder, TTool::Xdelta),
            {"-e", "-f", "-s", "tools/temp/old_pack.dat", "work/new_pack.dat", "work/patch.xdelta"},
            folder) != 0)
        return 1;

    const std::unique_ptr<TTools> programs = MakeDesktopTools(folder);
    const std::unique_ptr<TTools> in_process = MakeInProcessTools(folder);
    const struct {
        const char* Name;
        std::function<std::unique_ptr<TToolTask>(TTools&)> Start;
    } stages[] = {
        {"RomFS built",
         [](TTools& tools) {
             return tools.Start(
                 TTool::Tool3ds,
                 {"-ctf", "romfs", "tools/temp/romfs.bin", "--romfs-dir", "tools/temp/romfs"}, {},
                 true);
         }},
        {"RomFS taken apart",
         [](TTools& tools) {
             return tools.Start(
                 TTool::Tool3ds,
                 {"-xtf", "romfs", "tools/temp/romfs.bin", "--romfs-dir", "tools/temp/again"}, {},
                 true);
         }},
        {"difference applied",
         [](TTools& tools) {
             return tools.StartDifference("tools/temp/old_pack.dat", "work/patch.xdelta",
                                          "tools/temp/pack.dat", {});
         }},
    };
    std::printf("%lld MiB, best of 3, programs against in-process\n",
                static_cast<long long>(mebibytes));
    for (const auto& stage : stages) {
        double best_programs = 1e9;
        double best_in_process = 1e9;
        for (int round = 0; round < 3; ++round) {
            QFile::remove(folder + "tools/temp/pack.dat");
            QDir(folder + "tools/temp/again").removeRecursively();
            const double a = Time([&] { return stage.Start(*programs); });
            QFile::remove(folder + "tools/temp/pack.dat");
            QDir(folder + "tools/temp/again").removeRecursively();
            const double b = Time([&] { return stage.Start(*in_process); });
            if (a < 0 || b < 0) {
                std::fprintf(stderr, "%s failed\n", stage.Name);
                return 1;
            }
            best_programs = std::min(best_programs, a);
            best_in_process = std::min(best_in_process, b);
        }
        std::printf(
            "%-20s programs %7.3f s  in-process %7.3f s  ratio in-process / programs %.2f\n",
            stage.Name, best_programs, best_in_process, best_in_process / best_programs);
    }
    return 0;
}
