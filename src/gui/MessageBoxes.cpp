#include "gui/MessageBoxes.h"

#include <QMessageBox>

namespace {
TMessageHook& Hook() {
    static TMessageHook hook;
    return hook;
}
} // namespace

void SetMessageHook(TMessageHook hook) {
    Hook() = std::move(hook);
}

void ShowMessage(QWidget* parent, TMessageKind kind, const QString& text) {
    if (Hook()) {
        Hook()(kind, text);
        return;
    }
    switch (kind) {
    case TMessageKind::Error:
        QMessageBox::critical(parent, QStringLiteral("Error"), text);
        break;
    case TMessageKind::Warning:
        QMessageBox::warning(parent, QStringLiteral("Warning"), text);
        break;
    case TMessageKind::LanguageMissing:
        QMessageBox::critical(parent, QStringLiteral("QVtool"), text);
        break;
    }
}
