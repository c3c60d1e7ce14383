#pragma once
// The open and save dialogs, with a seam through which tests answer them.

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

/// Shows the open dialog in `folder` with a filter in the form "Description|*.ext|...",
/// entry `shown` (1-based) selected. The chosen path, or nothing when the user cancels (the
/// caller then stops silently).
std::optional<QString> SelectOpenFile(QWidget* parent, const QString& folder,
                                      const QString& filter, int shown = 1);

/// Shows the save dialog (asks before overwriting). When confirmed, `path` becomes the name
/// as returned and `kind` follows the pattern of the chosen filter entry (OutputKindOfFilter);
/// an entry of no known kind leaves `kind`. Cancelling leaves both. True when confirmed.
/// `mod_places` are the folders a mod folder can go into, the preferred first: the sidebar
/// lists them, and the dialog opens in the first when the mod folder form is chosen (already
/// `kind`, or picked in the dialog).
bool SelectSaveFile(QWidget* parent, const QString& folder, const QString& filter, QString& path,
                    QString& kind, const QStringList& mod_places = {});

/// Test seam: the next dialog takes this answer instead of showing itself.
struct TFileDialogAnswer {
    bool Accepted = true;
    QString Path;
    int FilterIndex = 1; // 1-based, as the dialog reports it
};
void QueueFileDialogAnswer(const TFileDialogAnswer& answer);
/// Filters of the dialogs shown (or answered) so far, the latest last; for tests.
QString LastFileDialogFilter();
/// The folder the latest dialog opened in, and the folders its sidebar added; for tests.
QString LastFileDialogFolder();
QStringList LastFileDialogSidebar();
