// The installation mode of qvtpatch: the same job, workers, language texts and log entries as
// the window, with each log entry printed on its own lines.
//
//   qvtpatch --source IMAGE --output PATH --kind cia|cxi|3ds [--patch FOLDER]
//            [--voice 0|1|2] [--lang NAME]
//
// Exit status: 0 after the success entry, 1 when the run failed or was cancelled, 2 when the
// run was refused before it started (bad arguments, an unusable source, a patch for another
// region, an output kind the source does not offer, the output being the source itself).

#include "cli/qvtpatch_modes.h"

#include "core/FileTools.h"
#include "core/Identify.h"
#include "core/Install3DS.h"
#include "core/InstallCIA.h"
#include "core/InstallCXI.h"
#include "core/InstallHost.h"
#include "core/InstallJob.h"
#include "core/InstallWorker.h"
#include "core/Language.h"
#include "core/PatchCatalogue.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutex>

#include <cstdio>
#include <memory>

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;

const char kUsage[] = "usage: qvtpatch --source IMAGE --output PATH --kind cia|cxi|3ds "
                      "[--patch FOLDER] [--voice 0|1|2] [--lang NAME]\n"
                      "       qvtpatch --identify IMAGE";

void PrintLines(FILE* stream, const QString& text) {
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    line.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

int Refuse(const QString& message) {
    PrintLines(stderr, message);
    return kExitRefused;
}

// The console's install host: log entries go to standard output as the worker writes them;
// the selections are those of the command line, fixed for the run.
class TConsoleHost : public TInstallHost {
public:
    TConsoleHost(int patch, int voice, bool no_voice_choice)
        : m_patch(patch), m_voice(voice), m_no_voice_choice(no_voice_choice) {}

    void AppendLog(const QString& entry) override {
        QMutexLocker lock(&m_mutex);
        PrintLines(stdout, entry);
    }
    void SetProgress(int) override {}
    void SetProgressDoubleBuffered() override {}
    void DisableLanguageChoice() override {}
    int SelectedPatch() override { return m_patch; }
    int SelectedVoice() override { return m_voice; }
    bool NoVoiceChoice() override { return m_no_voice_choice; }
    TTrackList* TrackList() override { return nullptr; } // no music changes from here
    void ShowErrorMessage(const QString& text) override {
        QMutexLocker lock(&m_mutex);
        PrintLines(stderr, text);
    }
    void RequestFinish(TInstallWorker* worker) override {
        // The finish routine runs on the main thread once the worker's thread has ended.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [worker] {
                worker->wait();
                DeleteFolder(worker->Job().ProgramFolder + QStringLiteral("tools/temp"));
                QCoreApplication::exit(worker->Succeeded() ? 0 : kExitFailed);
            },
            Qt::QueuedConnection);
    }

private:
    QMutex m_mutex;
    int m_patch;
    int m_voice;
    bool m_no_voice_choice;
};

struct TOptions {
    QString Source;
    QString Output;
    QString Kind;
    QString Patch;
    int Voice = 0;
    QString Language = QStringLiteral("English");
};

// Reads the options; an empty result text means they are complete and valid.
QString ParseOptions(const QStringList& args, TOptions& options) {
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& name = args.at(i);
        if (i + 1 >= args.size())
            return QStringLiteral("missing value for ") + name;
        const QString value = args.at(++i);
        if (name == QLatin1String("--source")) {
            options.Source = value;
        } else if (name == QLatin1String("--output")) {
            options.Output = value;
        } else if (name == QLatin1String("--kind")) {
            if (value != QLatin1String("cia") && value != QLatin1String("cxi") &&
                value != QLatin1String("3ds"))
                return QStringLiteral("--kind must be cia, cxi or 3ds");
            options.Kind = QLatin1Char('.') + value;
        } else if (name == QLatin1String("--patch")) {
            options.Patch = value;
        } else if (name == QLatin1String("--voice")) {
            bool ok = false;
            options.Voice = value.toInt(&ok);
            if (!ok || options.Voice < 0 || options.Voice > 2)
                return QStringLiteral("--voice must be 0, 1 or 2");
        } else if (name == QLatin1String("--lang")) {
            options.Language = value;
        } else {
            return QStringLiteral("unknown option ") + name;
        }
    }
    if (options.Source.isEmpty() || options.Output.isEmpty() || options.Kind.isEmpty())
        return QStringLiteral("--source, --output and --kind are required");
    return QString();
}

} // namespace

int RunInstallMode(const QStringList& args) {
    TOptions options;
    const QString problem = ParseOptions(args, options);
    if (!problem.isEmpty())
        return Refuse(problem + QLatin1Char('\n') + QLatin1String(kUsage));

    const QString program_folder = WithTrailingSeparator(QCoreApplication::applicationDirPath());
    TLanguageTable texts;
    if (!texts.LoadFile(LanguageFilePath(program_folder, options.Language)))
        return Refuse(QStringLiteral("Language file not found: ") + options.Language);

    // The tools run in the program folder: every path they get must be absolute.
    const QString source = QFileInfo(options.Source).absoluteFilePath();
    const QString output = QFileInfo(options.Output).absoluteFilePath();

    const TIdentifyResult identity = IdentifySourceImage(source, texts);
    for (const QString& entry : identity.LogEntries)
        PrintLines(stdout, entry);
    if (!identity.Opened || !identity.Usable()) {
        return Refuse(identity.ErrorKey.isEmpty()
                          ? QStringLiteral("The source image cannot be used.")
                          : texts.Lookup(identity.ErrorKey));
    }
    if (options.Kind == QLatin1String(".3ds") && identity.Kind != QLatin1String(".3ds"))
        return Refuse(QStringLiteral("A 3DS output can be built only from a 3DS source image."));

    QStringList patch_list = {QString()};
    int patch_index = 0;
    bool no_voice_choice = true;
    bool no_xdelta = true;
    bool no_patch = true;
    QString pack_dat_md5;
    QString pack_inc_md5;
    if (!options.Patch.isEmpty()) {
        const QString folder = QFileInfo(options.Patch).absoluteFilePath();
        const QString chosen =
            ChooseDescriptionFile(ListPatchEntries(folder, false, QStringLiteral(".dsc")),
                                  options.Language, QStringLiteral(".dsc"));
        if (chosen.isEmpty())
            return Refuse(QStringLiteral("No description file (.dsc) in the patch folder ") +
                          folder);
        const QString description_path = WithTrailingSeparator(folder) + chosen;
        const auto description = ReadPatchDescription(description_path);
        if (!description)
            return Refuse(texts.Lookup(QStringLiteral("LoadDescError")));
        if (!description->Region.isEmpty() && description->Region != identity.Region) {
            return Refuse(QStringLiteral("The patch is for region ") + description->Region +
                          QStringLiteral(", the source image is ") + identity.Region +
                          QLatin1Char('.'));
        }
        patch_list.append(description_path);
        patch_index = 1;
        no_patch = false;
        no_xdelta = !PatchHasXdelta(folder);
        no_voice_choice = !PatchHasVoiceFolder(folder);
        pack_dat_md5 = description->OriginalPackDatMD5;
        pack_inc_md5 = description->OriginalPackIncMD5;
    }

    const bool three_ds = identity.Kind == QLatin1String(".3ds");
    if (OutputIsSource(source, OutputBase(output, three_ds) + options.Kind))
        return Refuse(texts.Lookup(QStringLiteral("ErrorOutputIsSource")));

    TConsoleHost host(patch_index, options.Voice, no_voice_choice);
    std::unique_ptr<TInstallWorker> worker;
    const auto make = [&](auto* tag) {
        using TWorker = std::remove_pointer_t<decltype(tag)>;
        worker =
            std::make_unique<TWorker>(program_folder, source, output, options.Kind, pack_dat_md5,
                                      pack_inc_md5, texts, patch_list, no_xdelta, no_patch, &host);
    };
    if (identity.Kind == QLatin1String(".cia"))
        make(static_cast<TInstallCIA*>(nullptr));
    else if (three_ds)
        make(static_cast<TInstall3DS*>(nullptr));
    else
        make(static_cast<TInstallCXI*>(nullptr));

    PrintLines(stdout, QStringLiteral("\r\n") + texts.Lookup(QStringLiteral("StartPatching")) +
                           QStringLiteral("\r\n"));
    worker->start();
    return QCoreApplication::exec();
}
