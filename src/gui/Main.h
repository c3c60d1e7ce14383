#pragma once
// The main window: start-up checks, source, output and patch choice, install control.

#include "desktop/FitCheck.h"
#include "desktop/InstallHost.h"
#include "gui/WindowState.h"

#include <QPointer>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace Ui {
class TForm1;
}
class QButtonGroup;
class QComboBox;
class TInstallWorker;

class TForm1 : public QWidget, public TInstallHost {
    Q_OBJECT

public:
    /// Creates the window for the program folder `program_folder` (the executable's folder
    /// when empty) and runs FormCreate. Check StartupFailed() before showing it.
    explicit TForm1(const QString& program_folder = QString(), QWidget* parent = nullptr);
    ~TForm1() override;

    /// True when FormCreate ended the program (no language file, a missing tool).
    bool StartupFailed() const { return m_startup_failed; }

    TWindowState& State() { return m_state; }
    const TWindowState& State() const { return m_state; }

    /// What the music window reads of the main window.
    struct TMusicWindowContext {
        TLanguageTable* LanguageTable;
        QString ProgramFolder;
        QString LanguageName;
    };
    TMusicWindowContext MusicWindowContext();

    /// Appends a text to the log (also used by the music window for its warnings).
    void AddLogEntry(const QString& entry);

    // Event handlers and window operations.
    void FormCreate();
    void FormClose();
    void FindLanguageFiles();
    void CBLangChange();
    void btOldRomPathClick();
    /// The steps after the open dialog, for a chosen path (also used by drag and drop).
    void OpenSourceImage(const QString& path);
    void btNewRomPathClick(QObject* sender);
    void PopulatePatchComboBox(QComboBox* box, const QString& folder, bool recurse,
                               const QString& extension);
    void CBPatchChange();
    void BTNMusicChangeClick();
    void BTNAddPatchClick();
    /// Adds a patch package (the add button's choice, or a package dropped on the window): its
    /// questions go through the message boxes; the added patch is selected when the list
    /// offers it.
    void AddPatchPackageFile(const QString& path);
    void BTNInstallPatchClick();
    /// Removes the source game's mod folder the program wrote in the chosen output folder,
    /// after asking, and brings back the earlier one.
    void BTNRemoveModsClick();
    void BTNCancelClick();
    void ThreadCancel(TInstallWorker* worker);

    // The install host, carried out on the window's thread.
    void AppendLog(const QString& entry) override;
    void SetProgress(int value) override;
    void SetProgressDoubleBuffered() override;
    void DisableLanguageChoice() override;
    void ShowErrorMessage(const QString& text) override;
    bool ReplaceForeignModFiles(const QString& folder, const QStringList& files) override;
    void RequestFinish(TInstallWorker* worker) override;

    /// The running or last worker, if any; for tests.
    TInstallWorker* Worker() const { return m_worker.get(); }

    /// The digests of the source's pack.dat and pack.inc once its fit check is done.
    const std::optional<TPackDigests>& SourceDigests() const { return m_source_digests; }
    /// The fit of patch entry `index` (1 and up) with the source; nothing while the digests
    /// are not known or the entry's description cannot be read.
    std::optional<TPatchFit> PatchFitOf(int index) const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void ConnectWidgetEvents();
    /// Whether a file dropped on the window is taken now: a patch package while patches can be
    /// added, another file while a source image can be chosen.
    bool TakesDroppedFile(const QString& path) const;
    void ApplyLanguageTexts();
    void RebuildTrackList(const QString& patch_folder);
    /// Runs `operation` on the window's thread and waits for it (directly when already there).
    void RunOnWindowThread(const std::function<void()>& operation);

    /// Index of the checked voice item (0 to 2).
    int CheckedVoiceIndex() const;
    /// Shows the error dialog with the text of `key`.
    void ShowErrorKey(const QString& key);
    /// Disables the steps after the source image (a source that cannot be used).
    void DisableStepsAfterSource();
    /// The remove button serves a chosen mod folder output of a known game while no run is on.
    void UpdateRemoveModsButton();
    void AddFreeSpaceLines();
    /// For an encrypted image no key file opens: offers to choose the user's key file or seed
    /// database, used from then on in this session, and identifies the image again with it.
    void OfferKeyFileChoice();
    /// After a chosen key file opened the image: offers to copy it into the program's keys.
    void OfferKeyFileCopy();
    void SetUpWindow();

    // The fit check (FitMarks.cpp): the source's digests taken on a thread of their own when
    // it is chosen, progress in LFitStatus, marks on the patch entries.
    void StartFitCheck();
    void StopFitCheck();
    void FitCheckEnded(const TPackDigestResult& result);
    void MarkPatchEntries();
    /// The status line names the fit of the chosen patch once the digests are known.
    void ShowChosenPatchFit();
    /// False, after telling the user why, when the chosen patch does not fit the source.
    bool ChosenPatchFits();

    std::unique_ptr<Ui::TForm1> m_ui;
    TWindowState m_state;
    QString m_given_program_folder;
    QButtonGroup* m_voice_group = nullptr;
    bool m_startup_failed = false;
    // The key files were just chosen: the next identification that succeeds offers to keep them.
    bool m_key_files_chosen = false;
    // The patch entry whose description, flags and track list are in force.
    int m_shown_patch = 0;
    // One worker at a time; the window keeps it until its thread has stopped.
    std::unique_ptr<TInstallWorker> m_worker;
    struct TFitRun {
        std::atomic<bool> Cancel{false};
        std::thread Thread;
        ~TFitRun(); // stops and joins the check
    };
    std::unique_ptr<TFitRun> m_fit_run;
    std::optional<TPackDigests> m_source_digests;
    std::uint64_t m_fit_generation = 0; // counts checks started and stopped
};
