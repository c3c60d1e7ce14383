#include "gui/MessageBoxes.h"

#include <QMessageBox>
#include <QPushButton>

namespace {
TMessageHook& Hook() {
    static TMessageHook hook;
    return hook;
}
TChoiceHook& ChoiceHook() {
    static TChoiceHook hook;
    return hook;
}

QString Caption(TMessageKind kind) {
    switch (kind) {
    case TMessageKind::Error:
        return QStringLiteral("Error");
    case TMessageKind::Warning:
        return QStringLiteral("Warning");
    case TMessageKind::LanguageMissing:
        return QStringLiteral("QVtool");
    case TMessageKind::Information:
        return QStringLiteral("Information");
    }
    return QString();
}

QMessageBox::Icon Icon(TMessageKind kind) {
    switch (kind) {
    case TMessageKind::Warning:
        return QMessageBox::Warning;
    case TMessageKind::Information:
        return QMessageBox::Information;
    case TMessageKind::Error:
    case TMessageKind::LanguageMissing:
        break;
    }
    return QMessageBox::Critical;
}
} // namespace

void SetChoiceHook(TChoiceHook hook) {
    ChoiceHook() = std::move(hook);
}

bool ShowMessageWithChoice(QWidget* parent, TMessageKind kind, const QString& text,
                           const QString& choice) {
    if (ChoiceHook())
        return ChoiceHook()(kind, text, choice);
    if (Hook()) {
        Hook()(kind, text);
        return false;
    }
    QMessageBox box(Icon(kind), Caption(kind), text, QMessageBox::Ok, parent);
    QPushButton* choice_button = box.addButton(choice, QMessageBox::ActionRole);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
    return box.clickedButton() == choice_button;
}

void SetMessageHook(TMessageHook hook) {
    Hook() = std::move(hook);
}

void ShowMessage(QWidget* parent, TMessageKind kind, const QString& text) {
    if (Hook()) {
        Hook()(kind, text);
        return;
    }
    QMessageBox box(Icon(kind), Caption(kind), text, QMessageBox::Ok, parent);
    box.exec();
}
