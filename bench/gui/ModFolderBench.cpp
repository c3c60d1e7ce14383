// Benchmark of the mod folder output against a CIA -> CIA installation of the same large
// sample image, both through the real window (offscreen) with the sample patch, a voice choice
// and a changed music assignment. The two runs alternate three times; the best of each gives
// the ratio mod folder / image, and the stage times of those runs are printed.
//
//   bench_mod_folder [--size BYTES] [--work FOLDER]     (default 1 GiB in the system's temp)

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

using namespace bench;

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto bench = SetUpSampleBench(app, "bench_mod_folder", sample::TImageKind::Cia,
                                        QStringLiteral("source.cia"));
    if (!bench)
        return 1;
    const QString& program = bench->Program;
    const QString& source = bench->Source;

    TRun best_image, best_mods;
    for (int round = 0; round < 3; ++round) {
        const QString image_output = bench->Path(QStringLiteral("output.cia"));
        const QString mods_output = bench->Path(QStringLiteral("mods"));
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
