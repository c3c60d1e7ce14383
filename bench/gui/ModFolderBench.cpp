// Benchmark of the mod folder output against a CIA -> CIA installation of the same large
// sample image, both through the real window (offscreen) with the sample patch, a voice choice
// and a changed music assignment. The two runs alternate three times; the best of each gives
// the ratio mod folder / image, and the stage times of those runs are printed.
//
//   bench_mod_folder [--size BYTES] [--work FOLDER]     (default 1 GiB in the system's temp)

#include "core/FileTools.h"
#include "core/TrackList.h"
#include "gui/FileDialogs.h"
#include "gui/Main.h"
#include "gui/MessageBoxes.h"
#include "sample/SampleImage.h"

#include "bench/gui/TimedForm.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QMutex>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <vector>

namespace {

bool CopyTools(const QString& program) {
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

struct TRun {
    double Seconds = 0;
    bool Success = false;
    std::vector<TTimedForm::TEntry> Entries;
    qint64 End = 0;
};

TRun RunOnce(QApplication& app, const QString& program, const QString& source,
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

void PrintStages(const char* title, const TRun& run) {
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

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::uint64_t size = 1ull << 30;
    QString work = QDir::tempPath();
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--size")
            size = args[i + 1].toULongLong();
        else if (args[i] == "--work")
            work = args[i + 1];
    }
    QTemporaryDir dir(work + "/bench_mod_folder-XXXXXX");
    const QString program = dir.path() + "/program";
    if (!dir.isValid() || !CopyTools(program)) {
        std::fprintf(stderr, "cannot lay out a program folder under %s\n", qPrintable(work));
        return 1;
    }
    SetMessageHook([](TMessageKind, const QString& text) {
        std::fprintf(stderr, "message box: %s\n", qPrintable(text));
    });
    const QString source = dir.path() + "/source.cia";
    sample::TSampleOptions options;
    options.Kind = sample::TImageKind::Cia;
    options.PackSize = size;
    options.OutPath = source;
    options.PatchFolder = program + "/patch/Demo";
    options.ToolsFolder = program + "/tools";
    std::printf("writing a sample CIA with a %llu-byte data archive...\n",
                static_cast<unsigned long long>(size));
    std::fflush(stdout);
    try {
        sample::GenerateSample(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }

    TRun best_image, best_mods;
    for (int round = 0; round < 3; ++round) {
        const QString image_output = dir.path() + "/output.cia";
        const QString mods_output = dir.path() + "/mods";
        QFile::remove(image_output);
        QDir(mods_output).removeRecursively();
        const TRun image = RunOnce(app, program, source, image_output, 1);
        QFile::remove(image_output);
        const TRun mods = RunOnce(app, program, source, mods_output, 3);
        QDir(mods_output).removeRecursively();
        std::printf("round %d: image %.3f s, mod folder %.3f s\n", round + 1, image.Seconds,
                    mods.Seconds);
        std::fflush(stdout);
        if (!image.Success || !mods.Success) {
            PrintStages("image run", image);
            PrintStages("mod folder run", mods);
            return 1;
        }
        if (round == 0 || image.Seconds < best_image.Seconds)
            best_image = image;
        if (round == 0 || mods.Seconds < best_mods.Seconds)
            best_mods = mods;
    }
    PrintStages("best CIA -> CIA run", best_image);
    PrintStages("best mod folder run", best_mods);
    std::printf("\nratio mod folder / CIA image (best of three each): %.3f\n",
                best_mods.Seconds / best_image.Seconds);
    return 0;
}
