#pragma once
// The window runs of the install benchmarks: a program folder beside the build's tools, and
// one whole run through the real window (offscreen) with the sample patch, a voice choice and a
// changed music assignment, timed from the install button to the finish routine.

#include "desktop/TrackList.h"
#include "gui/FileDialogs.h"
#include "gui/Main.h"
#include "gui/MessageBoxes.h"
#include "sample/SampleImage.h"

#include "bench/gui/TimedForm.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace bench {

/// The options every window benchmark takes: --size BYTES (1 GiB unless given) and
/// --work FOLDER (the system's temp unless given).
struct TBenchArguments {
    std::uint64_t Size = 1ull << 30;
    QString Work = QDir::tempPath();
};

inline TBenchArguments ReadBenchArguments(const QStringList& args) {
    TBenchArguments read;
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--size")
            read.Size = args[i + 1].toULongLong();
        else if (args[i] == "--work")
            read.Work = args[i + 1];
    }
    return read;
}

inline bool CopyTools(const QString& program) {
    const QString app = QStringLiteral(QVT_APP_DIR_DEFAULT);
    QDir().mkpath(program + "/tools");
    QDir().mkpath(program + "/lang");
    QDir().mkpath(program + "/patch");
    for (const char* tool : {"ctrtool", "3dstool", "makerom"}) {
        if (!QFile::copy(app + "/tools/" + tool, program + "/tools/" + tool))
            return false;
    }
    if (!QFile::link(QFileInfo(app + "/tools/xdelta").canonicalFilePath(),
                     program + "/tools/xdelta"))
        return false;
    for (const QString& name : QDir(app + "/lang").entryList(QDir::Files))
        QFile::copy(app + "/lang/" + name, program + "/lang/" + name);
    return true;
}

/// The start every sample-image benchmark shares: its arguments read, a scratch folder under
/// --work named after the benchmark, a program folder there beside the build's tools, message
/// boxes printed instead of shown, and a sample image of `kind` named `source_name` whose patch
/// is the program folder's patch/Demo.
struct TSampleBench {
    std::unique_ptr<QTemporaryDir> Dir;
    QString Program;
    QString Source;
    std::uint64_t Size = 0;
    QString Path(const QString& name) const { return Dir->path() + QLatin1Char('/') + name; }
};

/// Nothing, with the reason printed, when any of it fails.
inline std::optional<TSampleBench> SetUpSampleBench(const QApplication& app, const char* name,
                                                    sample::TImageKind kind,
                                                    const QString& source_name) {
    const TBenchArguments arguments = ReadBenchArguments(app.arguments());
    TSampleBench bench;
    bench.Size = arguments.Size;
    bench.Dir = std::make_unique<QTemporaryDir>(arguments.Work + "/" + name + "-XXXXXX");
    bench.Program = bench.Dir->path() + "/program";
    if (!bench.Dir->isValid() || !CopyTools(bench.Program)) {
        std::fprintf(stderr, "cannot lay out a program folder under %s\n",
                     qPrintable(arguments.Work));
        return std::nullopt;
    }
    SetMessageHook([](TMessageKind, const QString& text) {
        std::fprintf(stderr, "message box: %s\n", qPrintable(text));
    });
    bench.Source = bench.Path(source_name);
    sample::TSampleOptions options;
    options.Kind = kind;
    options.PackSize = bench.Size;
    options.OutPath = bench.Source;
    options.PatchFolder = bench.Program + "/patch/Demo";
    options.ToolsFolder = bench.Program + "/tools";
    std::printf("writing a sample image with a %llu-byte data archive...\n",
                static_cast<unsigned long long>(bench.Size));
    std::fflush(stdout);
    try {
        sample::GenerateSample(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return std::nullopt;
    }
    return bench;
}

struct TRun {
    double Seconds = 0;
    bool Success = false;
    std::vector<TTimedForm::TEntry> Entries;
    qint64 End = 0;
};

inline TRun RunOnce(QApplication& app, const QString& program, const QString& source,
                    const QString& output, int filter_index) {
    QElapsedTimer clock;
    clock.start();
    TTimedForm form(program, clock);
    form.show();
    QueueFileDialogAnswer({true, source, 1});
    form.findChild<QPushButton*>("btOldRomPath")->click();
    QueueFileDialogAnswer({true, output, filter_index});
    form.findChild<QPushButton*>("btNewRomPath")->click();
    form.findChild<QComboBox*>("CBPatch")->setCurrentIndex(1);
    form.findChild<QRadioButton*>("TntRadioGroup2Item1")->click();
    if (TTrackList* tracks = form.State().TrackList.get()) {
        tracks->SetSlotTrack(0, tracks->GetTrackTitle(tracks->GetTrackCount() - 1));
        tracks->SetChanged(true);
    }
    QPushButton* install = form.findChild<QPushButton*>("BTNInstallPatch");
    TRun run;
    if (!install->isEnabled())
        return run;
    const qint64 start = clock.nsecsElapsed();
    install->click();
    QTimer finished;
    QObject::connect(&finished, &QTimer::timeout, [&] {
        if (form.Worker() == nullptr && install->isEnabled()) {
            run.End = clock.nsecsElapsed();
            app.quit();
        }
    });
    finished.start(20);
    app.exec();
    run.Entries = form.Entries();
    run.Success = !run.Entries.empty() && run.Entries.back().Text.contains(QLatin1Char('['));
    run.Seconds = Seconds(run.End - start);
    form.close();
    return run;
}

inline void PrintStages(const char* title, const TRun& run) {
    std::printf("\n%s: %.3f s%s\n", title, run.Seconds, run.Success ? "" : " (FAILED)");
    for (std::size_t i = 0; i + 1 < run.Entries.size(); ++i) {
        QString text =
            run.Entries[i].Text.trimmed().replace(QLatin1String("\r\n"), QLatin1String(" "));
        if (text.size() > 50)
            text = text.left(47) + "...";
        const double took = Seconds(run.Entries[i + 1].At - run.Entries[i].At);
        if (took >= 0.005)
            std::printf("  %8.3f s  %s\n", took, qPrintable(text));
    }
    if (!run.Entries.empty())
        std::printf("  %8.3f s  finish routine\n", Seconds(run.End - run.Entries.back().At));
}

} // namespace bench
