// Benchmark of the emulator's compressed sources against their plain form:
//  1. a mod folder run through the real window (offscreen) from a .zcia against the same run
//     from the .cia it was made from, alternating three times; the ratio of the best of each;
//  2. identification of the .zcia (best of five) against that of the .cia;
//  3. the process's peak memory (VmHWM) during the runs from each, the peak set back before
//     each run (Linux), so that making the .zcia here does not count.
//
//   bench_compressed_source [--size BYTES] [--work FOLDER]     (default 1 GiB in the system's temp)

#include "ctr/Z3ds.h"
#include "ctr/Z3dsWrite.h"
#include "desktop/FileTools.h"
#include "desktop/Identify.h"
#include "desktop/Language.h"
#include "gui/Main.h"
#include "gui/MessageBoxes.h"
#include "sample/SampleImage.h"

#include "bench/gui/WindowRun.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace bench;

namespace {

// The process's peak resident memory in MiB (Linux), or -1.
double PeakMemoryMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

// Sets the peak back to the memory in use now (Linux); false where that cannot be done.
bool ResetPeakMemory() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

double BestIdentify(const QString& image, const TLanguageTable& texts) {
    double best = -1;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer clock;
        clock.start();
        const TIdentifyResult result = IdentifySourceImage(image, texts);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (!result.Usable())
            return -1;
        if (best < 0 || seconds < best)
            best = seconds;
    }
    return best;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto bench = SetUpSampleBench(app, "bench_compressed_source", sample::TImageKind::Cia,
                                        QStringLiteral("source.cia"));
    if (!bench)
        return 1;
    const QString program = bench->Program;
    const QString plain = bench->Source;
    const QString compressed = bench->Path(QStringLiteral("source.zcia"));
    try {
        ctr::CompressImage(ToPath(plain), ctr::TImageKind::Cia, ToPath(compressed));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::printf("sizes: .cia %lld bytes, .zcia %lld bytes\n", QFileInfo(plain).size(),
                QFileInfo(compressed).size());

    TLanguageTable texts;
    texts.LoadFile(program + "/lang/English.lng");
    const double identify_plain = BestIdentify(plain, texts);
    const double identify_compressed = BestIdentify(compressed, texts);
    std::printf("identification (best of five): .cia %.4f s, .zcia %.4f s\n", identify_plain,
                identify_compressed);

    TRun best_plain, best_compressed;
    double memory_plain = 0, memory_compressed = 0;
    bool memory_reset = true;
    for (int round = 0; round < 3; ++round) {
        const QString mods = bench->Path(QStringLiteral("mods"));
        QDir(mods).removeRecursively();
        memory_reset = ResetPeakMemory() && memory_reset;
        const TRun from_plain = RunOnce(app, program, plain, mods, 3);
        memory_plain = std::max(memory_plain, PeakMemoryMiB());
        QDir(mods).removeRecursively();
        memory_reset = ResetPeakMemory() && memory_reset;
        const TRun from_compressed = RunOnce(app, program, compressed, mods, 3);
        memory_compressed = std::max(memory_compressed, PeakMemoryMiB());
        QDir(mods).removeRecursively();
        std::printf("round %d: .cia %.3f s, .zcia %.3f s\n", round + 1, from_plain.Seconds,
                    from_compressed.Seconds);
        std::fflush(stdout);
        if (!from_plain.Success || !from_compressed.Success) {
            PrintStages("run from .cia", from_plain);
            PrintStages("run from .zcia", from_compressed);
            return 1;
        }
        if (round == 0 || from_plain.Seconds < best_plain.Seconds)
            best_plain = from_plain;
        if (round == 0 || from_compressed.Seconds < best_compressed.Seconds)
            best_compressed = from_compressed;
    }
    PrintStages("best mod folder run from .cia", best_plain);
    PrintStages("best mod folder run from .zcia", best_compressed);
    std::printf("\nratio mod folder from .zcia / from .cia (best of three each): %.3f\n",
                best_compressed.Seconds / best_plain.Seconds);
    std::printf("ratio identification .zcia / .cia: %.2f\n", identify_compressed / identify_plain);
    std::printf("peak memory of the process during the runs%s: from .cia %.0f MiB, from .zcia "
                "%.0f MiB, ratio %.2f\n",
                memory_reset ? "" : " (not set back: the making of the .zcia counts too)",
                memory_plain, memory_compressed, memory_compressed / memory_plain);
    return 0;
}
