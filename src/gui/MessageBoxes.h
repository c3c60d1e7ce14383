#pragma once
// Every message box of the program goes through here, so tests can answer them.

#include <QString>

#include <functional>

class QWidget;

enum class TMessageKind {
    Error,           // caption "Error", error icon, one OK button
    Warning,         // caption "Warning", warning icon, one OK button
    LanguageMissing, // caption "QVtool", error icon, one OK button
};

/// Shows a modal message box and returns when it is closed.
void ShowMessage(QWidget* parent, TMessageKind kind, const QString& text);

/// Test seam: while set, each message goes to the hook instead of a dialog.
using TMessageHook = std::function<void(TMessageKind kind, const QString& text)>;
void SetMessageHook(TMessageHook hook);
