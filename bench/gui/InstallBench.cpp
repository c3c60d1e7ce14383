// Benchmark of a whole CIA -> CIA installation through the real main window (offscreen) on a
// large sample image with the sample patch, a voice choice and a changed music assignment:
// the run's time as a ratio to `cp` + `sync` of the same image in the same run, the time of every
// stage, and the longest time the window's thread was kept from its event loop.
//
//   bench_install [--size BYTES] [--work FOLDER]     (default 1 GiB in the system's temp)

#include "desktop/FileTools.h"
#include "desktop/TrackList.h"
#include "gui/FileDialogs.h"
#include "gui/Main.h"
#include "gui/MessageBoxes.h"
#include "sample/SampleImage.h"

#include "bench/gui/WindowRun.h"

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

constexpr int kTickMs = 2; // the event-loop probe's interval

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto [size, work] = bench::ReadBenchArguments(app.arguments());
    QTemporaryDir dir(work + "/bench_install-XXXXXX");
    const QString program = dir.path() + "/program";
    if (!dir.isValid() || !bench::CopyTools(program)) {
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
    const qint64 image_size = QFileInfo(source).size();

    QElapsedTimer clock;
    clock.start();
    QProcess::execute("sync", {});
    clock.restart();
    const int cp = QProcess::execute("cp", {source, dir.path() + "/copy.cia"});
    QProcess::execute("sync", {});
    const qint64 cp_ns = clock.nsecsElapsed();
    QFile::remove(dir.path() + "/copy.cia");
    if (cp != 0)
        return 1;

    TTimedForm form(program, clock);
    form.show();
    QueueFileDialogAnswer({true, source, 1});
    form.findChild<QPushButton*>("btOldRomPath")->click();
    QueueFileDialogAnswer({true, dir.path() + "/output.cia", 1});
    form.findChild<QPushButton*>("btNewRomPath")->click();
    form.findChild<QComboBox*>("CBPatch")->setCurrentIndex(1);
    form.findChild<QRadioButton*>("TntRadioGroup2Item1")->click();
    if (TTrackList* tracks = form.State().TrackList.get()) {
        tracks->SetSlotTrack(0, tracks->GetTrackTitle(tracks->GetTrackCount() - 1));
        tracks->SetChanged(true);
    }

    // The probe: a fast timer on the window's thread; a late tick means the thread was busy.
    qint64 last_tick = 0;
    qint64 longest_gap = 0;
    qint64 longest_gap_end = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last_tick != 0 && now - last_tick > longest_gap) {
            longest_gap = now - last_tick;
            longest_gap_end = now;
        }
        last_tick = now;
    });

    QPushButton* install = form.findChild<QPushButton*>("BTNInstallPatch");
    if (!install->isEnabled()) {
        std::fprintf(stderr, "the window did not reach the ready state\n");
        return 1;
    }
    const qint64 start = clock.nsecsElapsed();
    probe.start(kTickMs);
    last_tick = clock.nsecsElapsed();
    install->click();
    qint64 end = 0;
    QTimer finished;
    QObject::connect(&finished, &QTimer::timeout, [&] {
        if (form.Worker() == nullptr && install->isEnabled()) {
            end = clock.nsecsElapsed();
            app.quit();
        }
    });
    finished.start(20);
    app.exec();
    probe.stop();

    const auto entries = form.Entries();
    const bool success = !entries.empty() && entries.back().Text.contains(QLatin1Char('['));
    std::printf("\nimage %.2f GiB; run %s\n", static_cast<double>(image_size) / (1 << 30),
                success ? "succeeded" : "FAILED");
    std::printf("stage times (from each entry to the next):\n");
    for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
        QString text = entries[i].Text.trimmed().replace(QLatin1String("\r\n"), QLatin1String(" "));
        if (text.size() > 50)
            text = text.left(47) + "...";
        const double took = Seconds(entries[i + 1].At - entries[i].At);
        if (took >= 0.005)
            std::printf("  %8.3f s  %s\n", took, qPrintable(text));
    }
    std::printf("  %8.3f s  finish routine (temporary folder deleted, controls back)\n",
                Seconds(end - entries.back().At));
    const double run = Seconds(end - start);
    std::printf("\ncp + sync of the image: %7.3f s\n", Seconds(cp_ns));
    std::printf("whole install:         %8.3f s\n", run);
    std::printf("ratio install / cp+sync: %6.2f\n", run / Seconds(cp_ns));
    std::printf("longest window block:  %8.1f ms (probe every %d ms), ending %.3f s into the run",
                static_cast<double>(longest_gap) / 1e6 - kTickMs, kTickMs,
                Seconds(longest_gap_end - start));
    QString during;
    for (const auto& entry : entries) {
        if (entry.At <= longest_gap_end)
            during = entry.Text.trimmed().replace(QLatin1String("\r\n"), QLatin1String(" "));
    }
    std::printf(" (after \"%s\")\n", qPrintable(during.left(50)));
    form.close();
    return success ? 0 : 1;
}
