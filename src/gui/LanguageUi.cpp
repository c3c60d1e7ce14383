#include "gui/LanguageUi.h"

#include "desktop/DescriptionText.h"
#include "desktop/Language.h"
#include "gui/MessageBoxes.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QTextBrowser>

namespace {

// Control name, key, in the order the texts are set.
struct TCaption {
    const char* Control;
    const char* Key;
};
constexpr TCaption kCaptions[] = {
    {"TntGroupBox1", "GroupBox1"},          {"TntGroupBox2", "GroupBox2"},
    {"BTNInstallPatch", "BTNInstallPatch"}, {"BTNCancel", "BTNCancel"},
    {"BTNMusicChange", "BTNMusicChange"},   {"BTNAddPatch", "BTNAddPatch"},
};
constexpr TCaption kLabels[] = {
    {"TntLabel0", "Label0"},
    {"TntLabel1", "Label1"},
    {"TntLabel2", "Label2"},
    {"TntLabel3", "Label3"},
};
constexpr const char* kVoiceKeys[] = {"RadioGroup2BTN1", "RadioGroup2BTN2", "RadioGroup2BTN3"};

void SetCaption(QWidget* window, const char* control, const QString& text) {
    QWidget* widget = window->findChild<QWidget*>(QLatin1String(control));
    if (auto* box = qobject_cast<QGroupBox*>(widget))
        box->setTitle(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(widget))
        button->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(text);
}

} // namespace

QString LanguageMissingText() {
    return QStringLiteral("Отсутствуют языковые файлы.\r\nLanguage files are missing.");
}

void ShowPlainDescription(QTextBrowser* view, const QString& text) {
    view->clear();
    view->setHtml(DescriptionHtml(text));
}

void ApplyMainWindowTexts(const TLanguageTable& table, QWidget* window) {
    for (const TCaption& caption : kCaptions)
        SetCaption(window, caption.Control, table.Lookup(QLatin1String(caption.Key)));
    if (auto* desc = window->findChild<QTextBrowser*>(QStringLiteral("RichDesc")))
        ShowPlainDescription(desc, table.Lookup(QStringLiteral("DescriptionDefault")));
    for (const TCaption& label : kLabels)
        SetCaption(window, label.Control, table.Lookup(QLatin1String(label.Key)));
    SetCaption(window, "TntRadioGroup2", table.Lookup(QStringLiteral("RadioGroup2")));
    if (auto* remove = window->findChild<QWidget*>(QStringLiteral("BTNRemoveMods")))
        remove->setToolTip(table.Lookup(QStringLiteral("BTNRemoveModsHint")));
    for (int i = 0; i < 3; ++i) {
        const QString name = QStringLiteral("TntRadioGroup2Item%1").arg(i);
        if (auto* item = window->findChild<QAbstractButton*>(name))
            item->setText(table.Lookup(QLatin1String(kVoiceKeys[i])));
    }
}

int LoadLanguage(const QString& name, TLanguageTable& table, const QString& program_folder,
                 QWidget* window) {
    table.Clear();
    if (!table.LoadFile(LanguageFilePath(program_folder, name))) {
        table.Clear();
        ShowMessage(window, TMessageKind::LanguageMissing, LanguageMissingText());
        return -1;
    }
    ApplyMainWindowTexts(table, window);
    if (auto* first = window->findChild<QAbstractButton*>(QStringLiteral("TntRadioGroup2Item0")))
        first->setChecked(true);
    return 0;
}
