#pragma once
// Applying the interface texts of the language table to the main window.

#include <QString>

class QTextBrowser;
class QWidget;
class TLanguageTable;

/// Loads the language `name` of `program_folder` into `table` and puts the main window's texts
/// on the controls of `window`, found by name; selects the first voice. On failure shows the
/// missing-language message, leaves `table` empty and the controls untouched, returns -1.
int LoadLanguage(const QString& name, TLanguageTable& table, const QString& program_folder,
                 QWidget* window);

/// Puts the main window's texts of `table` on the controls of `window`.
void ApplyMainWindowTexts(const TLanguageTable& table, QWidget* window);

/// Shows a description as plain text, its links clickable.
void ShowPlainDescription(QTextBrowser* view, const QString& text);

/// The text of the missing-language message box.
QString LanguageMissingText();
