#pragma once
// What a running install worker may ask of the window. The window carries out each request
// on its own thread, in the order issued; the worker waits for each but RequestFinish.

#include <QString>
#include <QStringList>

class TTrackList;
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
    /// Index of the selected patch entry (0 is "None").
    virtual int SelectedPatch() = 0;
    /// Index of the selected voice (0 English, 1 Japanese modified, 2 Japanese original).
    virtual int SelectedVoice() = 0;
    /// True when the selected entry offers no voice choice.
    virtual bool NoVoiceChoice() = 0;
    /// The current track list; may be null.
    virtual TTrackList* TrackList() = 0;
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
