// The window side of an installation run: starting the worker for the source kind, the
// install host it reports through, cancel, and the finish routine that gives the controls back.

#include "gui/Main.h"

#include "desktop/FileTools.h"
#include "desktop/InstallJob.h"
#include "desktop/InstallRun.h"
#include "desktop/InstallWorker.h"
#include "desktop/ModFolder.h"
#include "desktop/Places.h"
#include "gui/MessageBoxes.h"

#include "ui_Main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

#include <cstdlib>

namespace {

// How long closing the window waits for a running worker to reach its next checkpoint after
// its tool was stopped. A worker still busy after that cannot be waited for any longer.
constexpr int kCloseWaitMs = 5000;

// How many files a message box names at most; the rest are counted.
constexpr int kShownFiles = 20;

// Marks the helper threads that delete tools/temp, so closing can wait for them.
constexpr char kCleanerName[] = "qvt-temp-cleaner";

} // namespace

// ---- The install host ----

void TForm1::RunOnWindowThread(const std::function<void()>& operation) {
    if (QThread::currentThread() == thread()) {
        operation(); // waiting for ourselves would deadlock
        return;
    }
    // While the window closes, requests of the worker are dropped instead of queued.
    const auto* worker = qobject_cast<const TInstallWorker*>(QThread::currentThread());
    if (worker != nullptr && worker->HostClosing())
        return;
    QMetaObject::invokeMethod(
        this, [&operation] { operation(); }, Qt::BlockingQueuedConnection);
}

void TForm1::AppendLog(const QString& entry) {
    RunOnWindowThread([&] { AddLogEntry(entry); });
}

void TForm1::SetProgress(int value) {
    RunOnWindowThread([&] { m_ui->ProgressBar1->setValue(value); });
}

void TForm1::SetProgressDoubleBuffered() {
    // Qt paints every widget through a back buffer already; the bar never flickers.
    RunOnWindowThread([] {});
}

void TForm1::DisableLanguageChoice() {
    RunOnWindowThread([&] { m_ui->CBLang->setEnabled(false); });
}

void TForm1::ShowErrorMessage(const QString& text) {
    RunOnWindowThread([&] {
        if (!m_worker || !m_worker->HostClosing())
            ShowMessage(this, TMessageKind::Error, text);
    });
}

bool TForm1::ReplaceForeignModFiles(const QString& folder, const QStringList& files) {
    bool go_on = false;
    RunOnWindowThread([&] {
        if (m_worker && m_worker->HostClosing())
            return;
        const TLanguageTable& texts = m_state.LanguageTable;
        const QString text = texts.Lookup(QStringLiteral("ModForeignFiles")) +
                             QStringLiteral("\r\n[") + folder + QStringLiteral("]\r\n") +
                             FileListText(files, kShownFiles, texts) + QStringLiteral("\r\n\r\n") +
                             texts.Lookup(QStringLiteral("ModForeignFilesQuestion"))
                                 .arg(QFileInfo(folder).fileName());
        go_on = ShowMessageWithChoice(this, TMessageKind::Warning, text,
                                      texts.Lookup(QStringLiteral("ModForeignFilesGoOn")));
    });
    return go_on;
}

void TForm1::RequestFinish(TInstallWorker* worker) {
    // Queued, never waited for: the finish routine waits for this worker's thread to end.
    QMetaObject::invokeMethod(
        this, [this, worker] { ThreadCancel(worker); }, Qt::QueuedConnection);
}

// ---- Start, cancel, finish ----

void TForm1::BTNInstallPatchClick() {
    if (m_worker)
        return; // one run at a time; the last one is still being finished
    if (!ChosenPatchFits())
        return;

    // An installed update of the game hides a mod folder from the console's game patching: a
    // warning. A destination whose titles cannot be looked at is refused before anything runs.
    QString update_warning;
    if (IsModFolderKind(m_state.OutputKind)) {
        const QString folder = QFileInfo(m_state.OutputPath).absoluteFilePath();
        const std::vector<TPlace> places = FindPlaces(SystemPlaceInputs());
        if (const TPlace* place = PlaceOf(places, folder)) {
            const TUpdateSearch search = FindInstalledUpdate(*place, m_state.SourceTitleId);
            if (!search.Unreadable.isEmpty()) {
                ShowMessage(this, TMessageKind::Error,
                            InstalledUpdateText(*place, search, m_state.LanguageTable));
                return;
            }
            update_warning = InstalledUpdateText(*place, search, m_state.LanguageTable);
        }
    }

    TInstallJob job;
    job.ProgramFolder = m_state.ProgramFolder;
    job.SourcePath = m_state.SourcePath;
    job.OutputPath = m_state.OutputPath;
    job.OutputKind = m_state.OutputKind;
    job.OriginalPackDatMD5 = m_state.OriginalPackDatMD5;
    job.OriginalPackIncMD5 = m_state.OriginalPackIncMD5;
    job.LanguageTable = &m_state.LanguageTable;
    job.PatchFolder = SelectedPatchFolder(m_state.PatchList, m_ui->CBPatch->currentIndex());
    if (!job.PatchFolder.isEmpty())
        job.PatchDescription = m_state.PatchList.value(m_ui->CBPatch->currentIndex());
    job.NoXdelta = m_state.NoXdelta;
    job.NoPatch = m_state.NoPatch;
    job.Voice = CheckedVoiceIndex();
    job.NoVoiceChoice = m_state.NoVoiceChoice;
    if (m_state.TrackList)
        job.Tracks = std::make_shared<const TTrackList>(*m_state.TrackList);
    // Refused from the job alone (an image output that is the source itself); the mod folder's
    // own refusal above applies to mod folders only, so the two never meet.
    if (const QString refusal = JobRefusalKey(job, m_state.SourceKind); !refusal.isEmpty()) {
        ShowErrorKey(refusal);
        return;
    }
    std::unique_ptr<TInstallWorker> worker = MakeInstallWorker(m_state.SourceKind, job, this);
    if (!worker)
        return;

    // The start entry comes before every entry of the worker.
    AddLogEntry(QStringLiteral("\r\n") +
                m_state.LanguageTable.Lookup(QStringLiteral("StartPatching")) +
                QStringLiteral("\r\n"));
    if (IsModFolderKind(m_state.OutputKind)) {
        const QString folder = QFileInfo(m_state.OutputPath).absoluteFilePath();
        const std::vector<TPlace> places = FindPlaces(SystemPlaceInputs());
        AddLogEntry(ModDestinationEntry(PlaceOf(places, folder), folder, m_state.LanguageTable));
        if (!update_warning.isEmpty())
            AddLogEntry(update_warning);
    }
    m_ui->BTNCancel->setEnabled(true);
    // The worker's first stage disables the language box as well; doing it here already
    // closes the moment in which a language change could reload the table it reads.
    m_ui->CBLang->setEnabled(false);
    for (QWidget* control :
         {static_cast<QWidget*>(m_ui->TntRadioGroup2), static_cast<QWidget*>(m_ui->BTNMusicChange),
          static_cast<QWidget*>(m_ui->CBPatch), static_cast<QWidget*>(m_ui->btOldRomPath),
          static_cast<QWidget*>(m_ui->btNewRomPath), static_cast<QWidget*>(m_ui->BTNInstallPatch),
          static_cast<QWidget*>(m_ui->ebOldRom), static_cast<QWidget*>(m_ui->ebNewRom),
          static_cast<QWidget*>(m_ui->BTNAddPatch), static_cast<QWidget*>(m_ui->BTNRemoveMods)})
        control->setEnabled(false);
    m_worker = std::move(worker);
    m_worker->start();
}

void TForm1::BTNRemoveModsClick() {
    if (m_worker || !IsModFolderKind(m_state.OutputKind) || m_state.SourceTitleId.isEmpty())
        return;
    const TLanguageTable& texts = m_state.LanguageTable;
    const QString folder = QFileInfo(m_state.OutputPath).absoluteFilePath();
    const TModRemoval check = CheckModRemoval(folder, m_state.SourceTitleId);
    if (check.Outcome != TModRemoval::TOutcome::Ready) {
        ShowMessage(this, TMessageKind::Error, ModRemovalText(check, texts, kShownFiles));
        return;
    }
    if (!ShowMessageWithChoice(this, TMessageKind::Warning, ModRemovalText(check, texts),
                               texts.Lookup(QStringLiteral("ModRemoveChoice"))))
        return;
    const TModRemoval removal = RemoveModFolder(folder, m_state.SourceTitleId);
    if (removal.Outcome != TModRemoval::TOutcome::Removed) {
        ShowMessage(this, TMessageKind::Error, ModRemovalText(removal, texts));
        return;
    }
    AddLogEntry(QStringLiteral("\r\n") + ModRemovalText(removal, texts));
}

void TForm1::BTNCancelClick() {
    AddLogEntry(m_state.LanguageTable.Lookup(QStringLiteral("CancelInstall")));
    if (m_worker)
        m_worker->requestInterruption();
    m_ui->BTNCancel->setEnabled(false);
}

void TForm1::ThreadCancel(TInstallWorker* worker) {
    QApplication::beep();
    if (!m_worker || worker != m_worker.get())
        return;
    m_worker->requestInterruption();
    // The run is over: while tools/temp is being removed there is nothing left to cancel.
    m_ui->BTNCancel->setEnabled(false);

    // tools/temp may hold gigabytes; it goes on a helper thread (after the worker's own thread
    // has ended) so the window keeps answering. The controls come back only once it is gone,
    // so no new run can start while it is being removed.
    const QString temp = m_state.ProgramFolder + QStringLiteral("tools/temp");
    QThread* cleaner = QThread::create([worker, temp] {
        worker->wait();
        DeleteFolder(temp);
    });
    cleaner->setObjectName(QLatin1String(kCleanerName));
    cleaner->setParent(this);
    connect(cleaner, &QThread::finished, this, [this, cleaner, worker] {
        cleaner->deleteLater();
        m_ui->ProgressBar1->setValue(0);
        m_ui->TntRadioGroup2->setEnabled(!m_state.NoVoiceChoice);
        m_ui->BTNInstallPatch->setEnabled(true);
        // The music button follows the track list, as when the patch was chosen.
        m_ui->BTNMusicChange->setEnabled(m_state.TrackList &&
                                         m_state.TrackList->Status() == TTrackListStatus::Ok);
        m_ui->CBLang->setEnabled(true);
        m_ui->CBPatch->setEnabled(true);
        m_ui->BTNCancel->setEnabled(false);
        m_ui->btOldRomPath->setEnabled(true);
        m_ui->btNewRomPath->setEnabled(true);
        m_ui->ebOldRom->setEnabled(true);
        m_ui->ebNewRom->setEnabled(true);
        m_ui->BTNAddPatch->setEnabled(true);
        if (m_worker.get() == worker)
            m_worker.reset(); // its thread has ended: the cleaner waited for it
        UpdateRemoveModsButton();
    });
    cleaner->start();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (m_worker) {
        // Stop the run: no more requests reach the window, the running tool is killed, and the
        // worker ends at its next checkpoint. What it leaves in tools/temp the next run removes.
        m_worker->SetHostClosing();
        m_worker->requestInterruption();
        m_worker->KillRunningTool();
        const QDeadlineTimer deadline(kCloseWaitMs);
        while (m_worker && !deadline.hasExpired()) {
            // Serves a request the worker issued before it saw the closing, and its finish.
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (m_worker && m_worker->isFinished())
                break;
            QThread::msleep(5);
        }
        if (m_worker && !m_worker->isFinished()) {
            // Still busy away from any tool: it cannot be stopped from here, and the window it
            // reports to is going away. End the program now rather than hang or crash.
            std::_Exit(0);
        }
    }
    for (QThread* cleaner : findChildren<QThread*>(QLatin1String(kCleanerName)))
        cleaner->wait();
    if (m_worker)
        m_worker->wait();
    m_worker.reset();
    FormClose();
    event->accept();
}
