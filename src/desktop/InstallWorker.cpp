#include "desktop/InstallWorker.h"

#include "ctr/Decrypt.h"
#include "desktop/Decryption.h"
#include "desktop/FileTools.h"
#include "desktop/InstallHost.h"
#include "desktop/Language.h"
#include "desktop/ModFolder.h"
#include "desktop/OutputForms.h"
#include "engine/InstallRun.h"
#include "sound_archive/N3DSbcsar.h"

#include <QLocale>

#include <memory>

namespace {

TInstallJob WithFolderSeparator(TInstallJob job) {
    job.ProgramFolder = WithTrailingSeparator(job.ProgramFolder);
    return job;
}

// What the run asks of the desktop: the volumes and their free space as Qt tells them, the
// sizes written with the system's decimal point, and the output check (tests replace the
// free-space query and the check).
engine::TRunPlatform DesktopPlatform(const TLanguageTable& texts) {
    engine::TRunPlatform platform;
    platform.FreeBytes = [](const std::filesystem::path& path) {
        return FreeBytesAt(FromPath(path));
    };
    platform.SameVolume = [](const std::filesystem::path& a, const std::filesystem::path& b) {
        return FileSystemRootOf(FromPath(a)) == FileSystemRootOf(FromPath(b));
    };
    platform.DecimalPoint = QLocale::system().decimalPoint().toStdString();
    platform.RussianLocale = LocaleIsRussian();
    platform.CheckOutput = [&texts](const std::filesystem::path& image, std::string_view kind,
                                    const std::atomic<bool>* stop,
                                    const engine::TTools::TReport& report) {
        return CheckOutputImage(FromPath(image), QString::fromUtf8(kind.data(), kind.size()), texts,
                                stop, report)
            .toStdString();
    };
    return platform;
}

} // namespace

TInstallWorker::TInstallWorker(const TInstallJob& job, TInstallHost* host, TTools* tools,
                               QObject* parent)
    : QThread(parent), m_job(WithFolderSeparator(job)), m_host(host),
      m_run(m_job, *job.LanguageTable,
            TRunCallbacks{[this](const QString& entry) { m_host->AppendLog(entry); },
                          [this](int value) { m_host->SetProgress(value); },
                          [this](const QString& text) { m_host->ShowErrorMessage(text); },
                          [this] { m_host->RequestFinish(this); },
                          [this] { return isInterruptionRequested(); },
                          [this](const QString& folder, const QStringList& files) {
                              return m_host->ReplaceForeignModFiles(folder, files);
                          }},
            tools) {}

TInstallWorker::~TInstallWorker() {
    // The window joins the thread before releasing the worker; this only guards a worker
    // released some other way.
    KillRunningTool();
    requestInterruption();
    wait();
}

void TInstallWorker::run() {
    Execute();
}

QString TInstallWorker::OutputFile() const {
    if (IsModFolderKind(m_job.OutputKind))
        return m_job.OutputPath;
    return OutputBase(m_job.OutputPath, StripsThreeDsSuffix()) + m_job.OutputKind;
}

void TInstallWorker::Execute() {
    // The progress bar and the language box.
    m_host->SetProgressDoubleBuffered();
    m_host->DisableLanguageChoice();
    // The run looks for the keys of an encrypted source where the process looks for them.
    m_run.Engine().Job.KeyPlaces = KeyPlacesOf(KeySearchFor(m_job.ProgramFolder));
    // Message boxes of the sound archive code appear on the window's thread, and the run
    // waits for their OK.
    SetBcsarMessageHandler([this](const std::string& text) { m_run.Engine().Message(text); });
    engine::RunInstall(m_run.Engine(), SourceKind().toStdString(), DesktopPlatform(m_run.Texts));
    SetBcsarMessageHandler({});
}
