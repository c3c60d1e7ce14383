#pragma once
// What a running install worker tells the one who started it: its log, progress, error
// messages and the finish. The window carries out each request on its own thread, in the order
// issued; the worker waits for each but RequestFinish. The run's inputs all come in its job.

#include <QString>
#include <QStringList>

class TInstallWorker;

class TInstallHost {
public:
    virtual ~TInstallHost() = default;
    /// Appends one entry (it may hold CR LF line breaks) to the log.
    virtual void AppendLog(const QString& entry) = 0;
    /// Moves the progress bar (0 to 100).
    virtual void SetProgress(int value) = 0;
    /// Switches the progress bar to flicker-free drawing.
    virtual void SetProgressDoubleBuffered() = 0;
    /// Disables the language box for the run.
    virtual void DisableLanguageChoice() = 0;
    /// Shows an error message box with one OK button and waits until it is closed.
    virtual void ShowErrorMessage(const QString& text) = 0;
    /// The mod folder run found files it did not write in the game's folder `folder` (`files`
    /// relative to it): true to go on, the folder then kept beside the new one under another
    /// name; false to end the run with nothing changed. Without an answer of the host's own,
    /// the run ends.
    virtual bool ReplaceForeignModFiles(const QString& folder, const QStringList& files) {
        (void)folder;
        (void)files;
        return false;
    }
    /// Asks for the finish routine for `worker`; does not wait. The worker stops after it.
    virtual void RequestFinish(TInstallWorker* worker) = 0;
};
