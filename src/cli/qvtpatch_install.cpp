// The installation of qvtpatch: the same job, workers, language texts and log entries as the
// window, with each log entry printed on its own lines and, on a terminal, a progress line.
//
// Exit status: 0 after the success entry, 1 when the run failed, 2 when the run was refused
// before it started (bad arguments, an unusable source, a patch for another region, an output
// kind the source does not offer, the output being the source itself), 130 or 143 when Ctrl+C
// or SIGTERM cancelled it.
//
// Ctrl+C and SIGTERM cancel as the window's Cancel button does, and more firmly: the cancel
// entry is written, the running tool is ended, the run stops at its next checkpoint, and
// tools/temp and the partial files of the output go. Further interrupts while that happens
// are ignored, so nothing is left half removed.

#include "cli/ConsoleText.h"
#include "cli/Interrupt.h"
#include "cli/qvtpatch_modes.h"

#include "desktop/FileTools.h"
#include "desktop/Identify.h"
#include "desktop/InstallHost.h"
#include "desktop/InstallJob.h"
#include "desktop/InstallRun.h"
#include "desktop/InstallWorker.h"
#include "desktop/Language.h"
#include "desktop/ModFolder.h"
#include "desktop/OutputForms.h"
#include "desktop/PatchCatalogue.h"
#include "desktop/TrackList.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutex>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

// The console's install host: log entries go to standard output as the worker writes them,
// progress to the progress line.
class TConsoleHost : public TInstallHost {
public:
    TConsoleHost(TProgressLine& progress, bool replace)
        : m_progress(progress), m_replace(replace) {}

    void AppendLog(const QString& entry) override {
        QMutexLocker lock(&m_mutex);
        m_progress.Clear();
        WriteLines(stdout, entry);
        m_progress.SetStage(entry);
    }
    void SetProgress(int value) override {
        QMutexLocker lock(&m_mutex);
        m_progress.SetPercent(value);
    }
    void SetProgressDoubleBuffered() override {}
    void DisableLanguageChoice() override {}
    // Nobody to ask: --replace is the answer given beforehand.
    bool ReplaceForeignModFiles(const QString&, const QStringList&) override { return m_replace; }
    void ShowErrorMessage(const QString& text) override {
        QMutexLocker lock(&m_mutex);
        m_progress.Clear();
        WriteLines(stderr, text);
    }
    void RequestFinish(TInstallWorker* worker) override {
        // The finish routine runs on the main thread once the worker's thread has ended.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, worker] {
                worker->wait();
                // An interrupt whose handler call is still queued counts all the same.
                const int interrupt = ReceivedInterrupt();
                if (interrupt != 0 && !worker->Succeeded())
                    Cancel(worker);
                DeleteFolder(worker->Job().ProgramFolder + QStringLiteral("tools/temp"));
                if (worker->Succeeded()) {
                    if (!m_success_note.isEmpty())
                        AppendLog(m_success_note);
                    QCoreApplication::exit(0); // the output was whole before the interrupt
                    return;
                }
                // A tool ended mid-write leaves its partial output file beside the output.
                if (interrupt != 0)
                    RemovePartialFiles(worker->OutputFile());
                QCoreApplication::exit(interrupt != 0 ? interrupt : kExitFailed);
            },
            Qt::QueuedConnection);
    }

    /// The window's Cancel, and the running tool ended; only the first call counts.
    void Cancel(TInstallWorker* worker) {
        if (m_cancelled)
            return;
        m_cancelled = true;
        AppendLog(m_cancel_entry);
        worker->requestInterruption();
        worker->KillRunningTool();
    }
    void SetCancelEntry(const QString& entry) { m_cancel_entry = entry; }
    /// An entry after the success entry.
    void SetSuccessNote(const QString& entry) { m_success_note = entry; }

private:
    QMutex m_mutex;
    TProgressLine& m_progress;
    bool m_replace;
    QString m_cancel_entry;
    QString m_success_note;
    bool m_cancelled = false; // main thread only
};

} // namespace

QStringList OutputKindNames() {
    QStringList names;
    for (const TOutputForm& form : OutputForms())
        names.append(QLatin1String(form.Name));
    return names;
}

QString ResolvePatch(const QString& patch, const QString& language, const QString& region,
                     QString& problem) {
    const QFileInfo folder(patch);
    if (folder.isDir()) {
        const QString path = folder.absoluteFilePath();
        const QString chosen =
            ChooseDescriptionFile(ListPatchEntries(path, false, QStringLiteral(".dsc")), language,
                                  QStringLiteral(".dsc"));
        if (chosen.isEmpty())
            problem = QStringLiteral("No description file (.dsc) in the patch folder ") + path;
        return chosen.isEmpty() ? QString() : WithTrailingSeparator(path) + chosen;
    }
    // A title as the patch list shows it: an exact match, else the one title it begins.
    const std::vector<TPatchEntry> entries =
        ScanPatchFolders(FindEntryNoCase(ProgramFolder(), QStringLiteral("patch")), true,
                         QStringLiteral(".dsc"), language, region);
    QStringList exact;
    QStringList prefixed;
    QString found_exact;
    QString found_prefixed;
    for (const TPatchEntry& entry : entries) {
        if (entry.Title.compare(patch, Qt::CaseInsensitive) == 0) {
            exact.append(entry.Title);
            found_exact = entry.DescriptionPath;
        } else if (entry.Title.startsWith(patch, Qt::CaseInsensitive)) {
            prefixed.append(entry.Title);
            found_prefixed = entry.DescriptionPath;
        }
    }
    if (exact.size() == 1)
        return found_exact;
    if (exact.isEmpty() && prefixed.size() == 1)
        return found_prefixed;
    prefixed = exact.isEmpty() ? prefixed : exact;
    problem = prefixed.isEmpty()
                  ? QStringLiteral("--patch: no patch folder or patch title '%1' for region %2")
                        .arg(patch, region)
                  : QStringLiteral("--patch: '%1' matches several patches: %2")
                        .arg(patch, prefixed.join(QStringLiteral(", ")));
    return QString();
}

int RunInstall(const TInstallOptions& options) {
    const TOutputForm* output_form = FindOutputFormByName(options.Kind);
    if (output_form == nullptr)
        return Refuse(QStringLiteral("--kind must be ") +
                      OutputKindNames().join(QStringLiteral(", ")));
    const QString extension = QLatin1String(output_form->Kind);
    const QString program_folder = ProgramFolder();
    TLanguageTable texts;
    if (!texts.LoadFile(LanguageFilePath(program_folder, options.Language)))
        return Refuse(QStringLiteral("Language file not found: ") + options.Language);

    // The tools run in the program folder: every path they get must be absolute.
    const QString source = QFileInfo(options.Source).absoluteFilePath();
    QString output = options.Output;
    std::optional<TPlace> place;
    if (IsModFolderKind(extension)) {
        QString problem;
        place = ResolveModOutput(output, options.Emulators, texts, problem);
        if (!problem.isEmpty())
            return Refuse(problem);
    } else if (output == QLatin1String("emulator") || output == QLatin1String("sdcard")) {
        return Refuse(QStringLiteral("--output emulator and --output sdcard go with --kind mods"));
    }
    output = QFileInfo(output).absoluteFilePath();

    const TIdentifyResult identity = IdentifySourceImage(source, texts);
    for (const QString& entry : identity.LogEntries)
        WriteLines(stdout, entry);
    if (!identity.Opened || !identity.Usable())
        return Refuse(UnusableReason(identity, texts));
    if (output_form->CartridgeOnly && !IsCartridgeKind(identity.Kind))
        return Refuse(QStringLiteral("A 3DS output can be built only from a 3DS source image."));

    QStringList patch_list = {QString()};
    int patch_index = 0;
    bool no_voice_choice = true;
    bool no_xdelta = true;
    bool no_patch = true;
    QString pack_dat_md5;
    QString pack_inc_md5;
    QString patch_folder;
    if (!options.Patch.isEmpty()) {
        QString problem;
        const QString description_path =
            ResolvePatch(options.Patch, options.Language, identity.Region, problem);
        if (description_path.isEmpty())
            return Refuse(problem);
        patch_folder = PatchFolderOf(description_path);
        const QString& folder = patch_folder;
        const auto description = ReadPatchDescription(description_path);
        if (!description)
            return Refuse(texts.Lookup(QStringLiteral("LoadDescError")));
        if (!description->Region.isEmpty() && description->Region != identity.Region) {
            return Refuse(QStringLiteral("The patch is for region ") + description->Region +
                          QStringLiteral(", the source image is ") + identity.Region +
                          QLatin1Char('.'));
        }
        const QString refused = ProgramVersionProblem(*description, texts);
        if (!refused.isEmpty()) {
            WriteLines(stderr, refused);
            return kExitFailed;
        }
        patch_list.append(description_path);
        patch_index = 1;
        no_patch = false;
        no_xdelta = !PatchHasXdelta(folder);
        no_voice_choice = !PatchHasVoiceFolder(folder);
        pack_dat_md5 = description->OriginalPackDatMD5;
        pack_inc_md5 = description->OriginalPackIncMD5;
    }

    // The music assignment, read and checked whole before anything runs.
    std::unique_ptr<TTrackList> tracks;
    if (!options.Music.isEmpty()) {
        QString problem;
        tracks = ReadImageTracks(source, patch_folder, identity, texts, problem);
        if (!tracks || !ReadMusicFile(options.Music, *tracks, problem))
            return Refuse(problem);
    }

    TProgressLine progress(!options.Quiet && StreamIsTerminal(stderr));
    TConsoleHost host(progress, options.Replace);
    TInstallJob job;
    job.ProgramFolder = program_folder;
    job.SourcePath = source;
    job.OutputPath = output;
    job.OutputKind = extension;
    job.OriginalPackDatMD5 = pack_dat_md5;
    job.OriginalPackIncMD5 = pack_inc_md5;
    job.LanguageTable = &texts;
    job.PatchFolder = SelectedPatchFolder(patch_list, patch_index);
    if (!job.PatchFolder.isEmpty())
        job.PatchDescription = patch_list.value(patch_index);
    job.NoXdelta = no_xdelta;
    job.NoPatch = no_patch;
    job.Voice = options.Voice;
    job.NoVoiceChoice = no_voice_choice;
    job.Tracks = std::move(tracks);
    if (const QString refusal = JobRefusalKey(job, identity.Kind); !refusal.isEmpty())
        return Refuse(texts.Lookup(refusal));
    std::unique_ptr<TInstallWorker> worker = MakeInstallWorker(identity.Kind, job, &host);
    if (!worker)
        return Refuse(UnusableReason(identity, texts));

    // An installed update of the game hides a mod folder from the console's game patching: a
    // warning. A destination whose titles cannot be looked at is refused before anything runs.
    QString update_warning;
    if (IsModFolderKind(extension) && place) {
        const TUpdateSearch search = FindInstalledUpdate(*place, identity.TitleId);
        if (!search.Unreadable.isEmpty()) {
            WriteLines(stderr, InstalledUpdateText(*place, search, texts));
            return kExitFailed;
        }
        update_warning = InstalledUpdateText(*place, search, texts);
    }

    WriteLines(stdout, QStringLiteral("\r\n") + texts.Lookup(QStringLiteral("StartPatching")) +
                           QStringLiteral("\r\n"));
    if (IsModFolderKind(extension)) {
        WriteLines(stdout, ModDestinationEntry(place ? &*place : nullptr, output, texts));
        if (!update_warning.isEmpty())
            WriteLines(stderr, update_warning);
        // Luma loads a card's mod folders only with game patching turned on.
        if (place && place->Kind == TPlaceKind::SdCard)
            host.SetSuccessNote(texts.Lookup(QStringLiteral("ModSdCardReminder")));
    }
    host.SetCancelEntry(texts.Lookup(QStringLiteral("CancelInstall")));
    WatchInterrupts(QCoreApplication::instance(),
                    [&host, &worker](int) { host.Cancel(worker.get()); });
    worker->start();
    const int status = QCoreApplication::exec();
    progress.Finish(texts.Lookup(QStringLiteral("CliTotalTime")));
    return status;
}
