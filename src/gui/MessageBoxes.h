#pragma once
// Every message box of the program goes through here, so tests can answer them.

#include <QString>

#include <functional>

class QWidget;

enum class TMessageKind {
    Error,           // caption "Error", error icon, one OK button
    Warning,         // caption "Warning", warning icon, one OK button
    LanguageMissing, // caption "QVtool", error icon, one OK button
    Information,     // caption "Information", information icon, one OK button
};

/// Shows a modal message box and returns when it is closed.
void ShowMessage(QWidget* parent, TMessageKind kind, const QString& text);

/// Shows a modal message box with a second button `choice` beside OK; true when the user
/// pressed `choice`, false for OK or closing the box.
bool ShowMessageWithChoice(QWidget* parent, TMessageKind kind, const QString& text,
                           const QString& choice);

/// Test seam: while set, each message goes to the hook instead of a dialog.
using TMessageHook = std::function<void(TMessageKind kind, const QString& text)>;
void SetMessageHook(TMessageHook hook);
/// Test seam: while set, it answers the messages with a choice (true: the choice). Without it,
/// such a message goes to the message hook, when one is set, and is answered with OK.
using TChoiceHook =
    std::function<bool(TMessageKind kind, const QString& text, const QString& choice)>;
void SetChoiceHook(TChoiceHook hook);
