// TEMPORARY stand-ins for the window side of installation runs, so that the window links
// until the install control arrives from its own branch (which replaces this file).
#include "main_window/Main.h"
#include "main_window/PendingParts.h"

#if __has_include("install/InstallWorker.h")
#include "install/InstallWorker.h"
#endif

#include "main_window/MessageBoxes.h"
#include "ui_Main.h"

#include <QButtonGroup>
#include <QCloseEvent>

void TForm1::AppendLog(const QString& entry) { AddLogEntry(entry); }
void TForm1::SetProgress(int value) { m_ui->ProgressBar1->setValue(value); }
void TForm1::SetProgressDoubleBuffered() {}
void TForm1::DisableLanguageChoice() { m_ui->CBLang->setEnabled(false); }
int TForm1::SelectedPatch() { return m_ui->CBPatch->currentIndex(); }
int TForm1::SelectedVoice() { return CheckedVoiceIndex(); }
bool TForm1::NoVoiceChoice() { return m_state.NoVoiceChoice; }
TTrackList* TForm1::TrackList() { return m_state.TrackList.get(); }
void TForm1::ShowErrorMessage(const QString& text) { ShowMessage(this, TMessageKind::Error, text); }
void TForm1::RequestFinish(TInstallWorker*) {}
void TForm1::BTNInstallPatchClick() {}
void TForm1::BTNCancelClick() {}
void TForm1::ThreadCancel(TInstallWorker*) {}
void TForm1::RunOnWindowThread(const std::function<void()>& operation) { operation(); }
void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}
