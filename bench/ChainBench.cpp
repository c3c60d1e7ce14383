// The installer's whole CIA → CIA tool chain (ctrtool, 3dstool, xdelta, makerom; every
// stage but the sound archive step) on a large sample image, against `cp` of the same
// image in the same run. Prints each stage's time and the ratio of the chain to the copy.

#include "cli/sample/SampleImage.h"
#include "cli/sample/ToolChain.h"
#include "localisation/Language.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

double Seconds(const QElapsedTimer& timer) { return static_cast<double>(timer.nsecsElapsed()) / 1e9; }

double TimeCopy(const QString& from, const QString& to) {
    QElapsedTimer timer;
    timer.start();
    QProcess cp;
    cp.start(QStringLiteral("cp"), {from, to});
    cp.waitForFinished(-1);
    const double seconds = Seconds(timer);
    if (cp.exitCode() != 0)
        throw sample::TSampleError(QStringLiteral("cp failed"));
    QFile::remove(to);
    return seconds;
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
                        {QStringLiteral("--kind"), QStringLiteral("cia"), QStringLiteral("--region"),
                         QStringLiteral("EUR"), QStringLiteral("--out"), source,
                         QStringLiteral("--pack-size"), QString::number(size),
                         QStringLiteral("--patch"), patch});
        generator.waitForFinished(-1);
        if (generator.exitCode() != 0)
            throw sample::TSampleError(QStringLiteral("qvtsample failed"));
        std::printf("sample image and patch generated in %.2f s (image %.1f MiB, patch.xdelta %lld bytes)\n",
                    Seconds(timer), static_cast<double>(QFileInfo(source).size()) / (1 << 20),
                    QFileInfo(patch + QStringLiteral("/patch.xdelta")).size());

        const QString copy_path = work.filePath(QStringLiteral("copy.cia"));
        const double copy_before = TimeCopy(source, copy_path);

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
        const double copy_after = TimeCopy(source, copy_path);
        const double copy = (copy_before + copy_after) / 2;

        std::printf("\n%-26s %9s %9s\n", "stage", "seconds", "x cp");
        for (const sample::TStageTime& stage : stages)
            std::printf("%-26s %9.3f %9.2f\n", qPrintable(stage.Name), stage.Seconds,
                        stage.Seconds / copy);
        std::printf("%-26s %9.3f %9.2f\n", "whole chain", chain, chain / copy);
        std::printf("%-26s %9.3f (before %.3f, after %.3f)\n", "cp of the image", copy,
                    copy_before, copy_after);
        std::printf("\nratio chain / cp: %.2f\n", chain / copy);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "chain benchmark failed: %s\n", error.what());
        return 1;
    }
    return 0;
}
