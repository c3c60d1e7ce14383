#pragma once
// The open and save dialogs, with a seam through which tests answer them.

#include <QString>

#include <optional>

class QWidget;

/// Shows the open dialog in `folder` with a filter in the form "Description|*.ext|...".
/// The chosen path, or nothing when the user cancels (the caller then stops silently).
std::optional<QString> SelectOpenFile(QWidget* parent, const QString& folder,
                                      const QString& filter);

/// Shows the save dialog (asks before overwriting). When confirmed, `path` becomes the name
/// as returned and `kind` follows the pattern of the chosen filter entry (OutputKindOfFilter);
/// an entry of no known kind leaves `kind`. Cancelling leaves both. True when confirmed.
bool SelectSaveFile(QWidget* parent, const QString& folder, const QString& filter, QString& path,
                    QString& kind);

/// Test seam: the next dialog takes this answer instead of showing itself.
struct TFileDialogAnswer {
    bool Accepted = true;
    QString Path;
    int FilterIndex = 1; // 1-based, as the dialog reports it
};
void QueueFileDialogAnswer(const TFileDialogAnswer& answer);
/// Filters of the dialogs shown (or answered) so far, the latest last; for tests.
QString LastFileDialogFilter();
