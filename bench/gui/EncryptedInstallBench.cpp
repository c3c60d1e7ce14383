// Benchmark of installs from an encrypted CIA against the same image decrypted, through the
// real window (offscreen) with the sample patch, a voice choice and a changed music
// assignment: CIA -> CIA and CIA -> mod folder. The encrypted copy is made with made-up keys
// written into the program folder's keys/, as a user's own key file would lie there. Each pair
// alternates three times; the best of each gives the ratio encrypted / decrypted, and the stage
// times of those runs are printed.
//
//   bench_encrypted_install [--size BYTES] [--work FOLDER]   (default 1 GiB in the system's temp)

#include "desktop/FileTools.h"
#include "gui/MessageBoxes.h"
#include "sample/SampleCrypt.h"
#include "sample/SampleImage.h"

#include "bench/gui/WindowRun.h"

#include <QTemporaryDir>

#include <random>

using namespace bench;

namespace {

// Best of three alternating runs of the decrypted and the encrypted source to one output kind;
// false when a run failed.
bool Compare(QApplication& app, const QString& program, const QString& plain,
             const QString& encrypted, const QString& work, bool mod_folder) {
    const QString output = work + (mod_folder ? "/mods" : "/output.cia");
    const auto clear = [&] {
        QFile::remove(output);
        QDir(output).removeRecursively();
    };
    TRun best_plain, best_encrypted;
    for (int round = 0; round < 3; ++round) {
        clear();
        const TRun from_plain = RunOnce(app, program, plain, output, mod_folder ? 3 : 1);
        clear();
        const TRun from_encrypted = RunOnce(app, program, encrypted, output, mod_folder ? 3 : 1);
        clear();
        std::printf("%s round %d: decrypted %.3f s, encrypted %.3f s\n",
                    mod_folder ? "mod folder" : "CIA image", round + 1, from_plain.Seconds,
                    from_encrypted.Seconds);
        std::fflush(stdout);
        if (!from_plain.Success || !from_encrypted.Success) {
            PrintStages("decrypted source", from_plain);
            PrintStages("encrypted source", from_encrypted);
            return false;
        }
        if (round == 0 || from_plain.Seconds < best_plain.Seconds)
            best_plain = from_plain;
        if (round == 0 || from_encrypted.Seconds < best_encrypted.Seconds)
            best_encrypted = from_encrypted;
    }
    PrintStages(mod_folder ? "best decrypted -> mod folder" : "best decrypted CIA -> CIA",
                best_plain);
    PrintStages(mod_folder ? "best encrypted -> mod folder" : "best encrypted CIA -> CIA",
                best_encrypted);
    std::printf("\nratio encrypted / decrypted, %s (best of three each): %.3f\n\n",
                mod_folder ? "mod folder" : "CIA image",
                best_encrypted.Seconds / best_plain.Seconds);
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto [size, work] = bench::ReadBenchArguments(app.arguments());
    QTemporaryDir dir(work + "/bench_encrypted_install-XXXXXX");
    const QString program = dir.path() + "/program";
    if (!dir.isValid() || !CopyTools(program) || !QDir().mkpath(program + "/keys")) {
        std::fprintf(stderr, "cannot lay out a program folder under %s\n", qPrintable(work));
        return 1;
    }
    SetMessageHook([](TMessageKind, const QString& text) {
        std::fprintf(stderr, "message box: %s\n", qPrintable(text));
    });
    const QString plain = dir.path() + "/decrypted.cia";
    const QString encrypted = dir.path() + "/encrypted.cia";
    sample::TSampleOptions options;
    options.Kind = sample::TImageKind::Cia;
    options.PackSize = size;
    options.OutPath = plain;
    options.PatchFolder = program + "/patch/Demo";
    options.ToolsFolder = program + "/tools";
    std::printf("writing a sample CIA with a %llu-byte data archive and its encrypted copy...\n",
                static_cast<unsigned long long>(size));
    std::fflush(stdout);
    try {
        sample::GenerateSample(options);
        std::mt19937_64 random{std::random_device{}()};
        ctr::TCryptoKeys keys = sample::MakeUpKeys(random());
        sample::TEncryption encryption;
        for (auto& byte : encryption.TitleKey)
            byte = static_cast<std::uint8_t>(random());
        sample::EncryptImage(plain.toStdU16String(), ctr::TImageKind::Cia,
                             encrypted.toStdU16String(), encryption, keys);
        sample::WriteKeyFiles((program + "/keys/aes_keys.txt").toStdU16String(), keys);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    if (!Compare(app, program, plain, encrypted, dir.path(), false) ||
        !Compare(app, program, plain, encrypted, dir.path(), true))
        return 1;
    return 0;
}
