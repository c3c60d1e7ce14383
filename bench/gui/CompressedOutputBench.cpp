// Benchmark of the compressed card image output (.zcci) against the plain card image (.3ds)
// from the same large sample 3DS image, both through the real window (offscreen) with the
// sample patch, a voice choice and a changed music assignment. The two runs alternate three
// times; the best of each gives the ratio .zcci / .3ds, and the stage times of those runs and
// the output sizes are printed.
//
//   bench_compressed_output [--size BYTES] [--work FOLDER]  (default 1 GiB in the system's temp)

#include "gui/MessageBoxes.h"
#include "sample/SampleImage.h"

#include "bench/gui/WindowRun.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

using namespace bench;

namespace {

// Entries of a card image source's save dialog filter.
constexpr int kPlainCardEntry = 3;      // .3ds
constexpr int kCompressedCardEntry = 8; // .zcci

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto bench = SetUpSampleBench(app, "bench_compressed_output", sample::TImageKind::Cci,
                                        QStringLiteral("source.3ds"));
    if (!bench)
        return 1;
    const QString& program = bench->Program;
    const QString& source = bench->Source;

    TRun best_plain, best_compressed;
    qint64 plain_size = 0;
    qint64 compressed_size = 0;
    for (int round = 0; round < 3; ++round) {
        const QString plain_output = bench->Path(QStringLiteral("output.3ds"));
        const QString compressed_output = bench->Path(QStringLiteral("output.zcci"));
        const TRun plain = RunOnce(app, program, source, plain_output, kPlainCardEntry);
        plain_size = QFileInfo(plain_output).size();
        QFile::remove(plain_output);
        const TRun compressed =
            RunOnce(app, program, source, compressed_output, kCompressedCardEntry);
        compressed_size = QFileInfo(compressed_output).size();
        QFile::remove(compressed_output);
        std::printf("round %d: .3ds %.3f s, .zcci %.3f s\n", round + 1, plain.Seconds,
                    compressed.Seconds);
        std::fflush(stdout);
        if (!plain.Success || !compressed.Success) {
            PrintStages(".3ds run", plain);
            PrintStages(".zcci run", compressed);
            return 1;
        }
        if (round == 0 || plain.Seconds < best_plain.Seconds)
            best_plain = plain;
        if (round == 0 || compressed.Seconds < best_compressed.Seconds)
            best_compressed = compressed;
    }
    PrintStages("best 3DS -> .3ds run", best_plain);
    PrintStages("best 3DS -> .zcci run", best_compressed);
    std::printf("\noutput sizes: .3ds %lld bytes, .zcci %lld bytes (%.3f)\n",
                static_cast<long long>(plain_size), static_cast<long long>(compressed_size),
                plain_size > 0 ? double(compressed_size) / double(plain_size) : 0.0);
    std::printf("ratio .zcci / .3ds (best of three each): %.3f\n",
                best_compressed.Seconds / best_plain.Seconds);
    return 0;
}
