// The installer's whole CIA → CIA tool chain (ctrtool, 3dstool, xdelta, makerom; every
// stage but the sound archive step) on a large sample image, against `cp` of the same
// image in the same run. Prints each stage's time and the ratio of the chain to the copy.

#include "desktop/Language.h"
#include "sample/SampleImage.h"
#include "sample/ToolChain.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include <sys/resource.h>

namespace {

double Seconds(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

void Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw sample::TSampleError(program + QStringLiteral(" failed"));
}

/// Time of `cp from to`; with `flush`, of `cp` followed by `sync` of the copy, so that the
/// copy has reached the disk (the chain writes several times more than the page cache
/// holds dirty, so its later stages run at disk speed).
double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct TCopyTime {
    double Seconds;
    double CpuSeconds;
};

TCopyTime TimeCopy(const QString& from, const QString& to, bool flush) {
    Run(QStringLiteral("sync"), {});
    const double cpu_before = ChildrenCpuSeconds();
    QElapsedTimer timer;
    timer.start();
    Run(QStringLiteral("cp"), {from, to});
    if (flush)
        Run(QStringLiteral("sync"), {QStringLiteral("-d"), to});
    const TCopyTime time{Seconds(timer), ChildrenCpuSeconds() - cpu_before};
    QFile::remove(to);
    return time;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    std::uint64_t size = 1ULL << 30;
    QString app_dir = QStringLiteral(QVT_APP_DIR_DEFAULT);
    QString work_root = QDir::currentPath();
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == QLatin1String("--size"))
            size = arguments[i + 1].toULongLong(nullptr, 0);
        else if (arguments[i] == QLatin1String("--app"))
            app_dir = arguments[i + 1];
        else if (arguments[i] == QLatin1String("--work"))
            work_root = arguments[i + 1];
    }
    std::printf("chain benchmark: CIA -> CIA, pack.dat %llu bytes\n",
                static_cast<unsigned long long>(size));

    QTemporaryDir work(work_root + QStringLiteral("/qvt-chain-bench-XXXXXX"));
    if (!work.isValid()) {
        std::fprintf(stderr, "cannot create a work folder in %s\n", qPrintable(work_root));
        return 1;
    }
    try {
        const QString program = work.filePath(QStringLiteral("program"));
        QDir().mkpath(program + QStringLiteral("/tools"));
        for (const char* tool : {"ctrtool", "3dstool", "makerom", "xdelta"})
            QFile::link(app_dir + QStringLiteral("/tools/") + QLatin1String(tool),
                        program + QStringLiteral("/tools/") + QLatin1String(tool));

        const QString source = work.filePath(QStringLiteral("Veridane.cia"));
        const QString patch = work.filePath(QStringLiteral("patch"));
        QElapsedTimer timer;
        timer.start();
        QProcess generator;
        generator.setProcessChannelMode(QProcess::ForwardedChannels);
        generator.start(app_dir + QStringLiteral("/qvtsample"),
                        {QStringLiteral("--kind"), QStringLiteral("cia"),
                         QStringLiteral("--region"), QStringLiteral("EUR"), QStringLiteral("--out"),
                         source, QStringLiteral("--pack-size"), QString::number(size),
                         QStringLiteral("--patch"), patch});
        generator.waitForFinished(-1);
        if (generator.exitCode() != 0)
            throw sample::TSampleError(QStringLiteral("qvtsample failed"));
        std::printf("sample image and patch generated in %.2f s (image %.1f MiB, patch.xdelta %lld "
                    "bytes)\n",
                    Seconds(timer), static_cast<double>(QFileInfo(source).size()) / (1 << 20),
                    QFileInfo(patch + QStringLiteral("/patch.xdelta")).size());

        const QString copy_path = work.filePath(QStringLiteral("copy.cia"));
        const TCopyTime copy_before = TimeCopy(source, copy_path, false);
        const TCopyTime synced_copy = TimeCopy(source, copy_path, true);
        Run(QStringLiteral("sync"), {});

        sample::TChainJob job;
        job.ProgramFolder = program;
        job.SourcePath = source;
        job.OutputBase = work.filePath(QStringLiteral("Veridane patched"));
        job.OutputKind = QStringLiteral(".cia");
        job.PatchFolder = patch;
        QStringList tokens;
        if (!ReadTokenFile(patch + QStringLiteral("/English.dsc"), QLatin1Char('='), tokens))
            throw sample::TSampleError(QStringLiteral("cannot read the patch's English.dsc"));
        job.PackDatMD5 = ValueOfKey(tokens, QStringLiteral("OriginalPackDatMD5"));
        job.PackIncMD5 = ValueOfKey(tokens, QStringLiteral("OriginalPackIncMD5"));
        std::vector<sample::TStageTime> stages;
        timer.restart();
        sample::RunToolChain(job, &stages);
        const double chain = Seconds(timer);
        const TCopyTime copy_after = TimeCopy(source, copy_path, false);
        const double copy = (copy_before.Seconds + copy_after.Seconds) / 2;
        const double copy_cpu = (copy_before.CpuSeconds + copy_after.CpuSeconds) / 2;
        double chain_cpu = 0;
        for (const sample::TStageTime& stage : stages)
            chain_cpu += stage.CpuSeconds;

        std::printf("\n%-26s %9s %7s %9s %7s\n", "stage", "wall s", "x cp", "cpu s", "x cp");
        for (const sample::TStageTime& stage : stages)
            std::printf("%-26s %9.3f %7.2f %9.3f %7.2f\n", qPrintable(stage.Name), stage.Seconds,
                        stage.Seconds / copy, stage.CpuSeconds, stage.CpuSeconds / copy_cpu);
        std::printf("%-26s %9.3f %7.2f %9.3f %7.2f\n", "whole chain", chain, chain / copy,
                    chain_cpu, chain_cpu / copy_cpu);
        std::printf("%-26s %9.3f %7s %9.3f   (wall before %.3f, after %.3f)\n", "cp of the image",
                    copy, "", copy_cpu, copy_before.Seconds, copy_after.Seconds);
        std::printf("%-26s %9.3f %7s %9.3f\n", "cp + sync of the image", synced_copy.Seconds, "",
                    synced_copy.CpuSeconds);
        std::printf("\nratio chain / cp: %.2f wall, %.2f cpu\n", chain / copy,
                    chain_cpu / copy_cpu);
        std::printf("ratio chain / (cp + sync): %.2f wall\n", chain / synced_copy.Seconds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "chain benchmark failed: %s\n", error.what());
        return 1;
    }
    return 0;
}
