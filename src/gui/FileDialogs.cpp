#include "gui/FileDialogs.h"

#include "desktop/ModFolder.h"
#include "desktop/PatchCatalogue.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>

#include <deque>

namespace {

std::deque<TFileDialogAnswer>& Answers() {
    static std::deque<TFileDialogAnswer> answers;
    return answers;
}

QString& LastFilter() {
    static QString filter;
    return filter;
}

QString& LastFolder() {
    static QString folder;
    return folder;
}

QStringList& LastSidebar() {
    static QStringList sidebar;
    return sidebar;
}

// A place's folder may not exist yet (the emulator makes load/mods on first use): the dialog
// shows the nearest folder that does.
QString ExistingFolder(const QString& path) {
    QString folder = QDir::cleanPath(path);
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            break;
        folder = parent;
    }
    return folder;
}

// "Desc|*.a|Desc2|*.b|" becomes the Qt filter entries "Desc (*.a)" etc.; a description that
// already names its pattern is kept as it is.
QStringList QtFilters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts.at(i);
        const QString pattern =
            QString(parts.at(i + 1)).replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt shows (and reports back) a filter with runs of blanks collapsed; keep them
        // collapsed here too, so the chosen entry is found again.
        filters.append((description.contains(QLatin1Char('(')) ? description
                                                               : description + " (" + pattern + ")")
                           .simplified());
    }
    return filters;
}

std::optional<TFileDialogAnswer> TakeAnswer(const QString& filter) {
    LastFilter() = filter;
    if (Answers().empty())
        return std::nullopt;
    TFileDialogAnswer answer = Answers().front();
    Answers().pop_front();
    return answer;
}

} // namespace

void QueueFileDialogAnswer(const TFileDialogAnswer& answer) {
    Answers().push_back(answer);
}

QString LastFileDialogFilter() {
    return LastFilter();
}

QString LastFileDialogFolder() {
    return LastFolder();
}

QStringList LastFileDialogSidebar() {
    return LastSidebar();
}

std::optional<QString> SelectOpenFile(QWidget* parent, const QString& folder, const QString& filter,
                                      int shown) {
    if (auto answer = TakeAnswer(filter)) {
        if (!answer->Accepted)
            return std::nullopt;
        return answer->Path;
    }
    QFileDialog dialog(parent, QString(), folder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = QtFilters(filter);
    dialog.setNameFilters(filters);
    if (shown >= 1 && shown <= filters.size())
        dialog.selectNameFilter(filters.at(shown - 1));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

bool SelectSaveFile(QWidget* parent, const QString& folder, const QString& filter, QString& path,
                    QString& kind, const QStringList& mod_places) {
    const QStringList filters = QtFilters(filter);
    qsizetype mod_filter = -1;
    for (qsizetype i = 0; i < filters.size(); ++i) {
        if (IsModFolderKind(OutputKindOfFilter(filter, static_cast<int>(i) + 1)))
            mod_filter = i;
    }
    QStringList sidebar;
    for (const QString& place : mod_places)
        sidebar << ExistingFolder(place);
    const QString mod_folder = sidebar.isEmpty() ? folder : sidebar.first();
    const bool mods = IsModFolderKind(kind) && mod_filter >= 0;
    LastFolder() = mods ? mod_folder : folder;
    LastSidebar() = sidebar;

    TFileDialogAnswer result;
    if (auto answer = TakeAnswer(filter)) {
        result = *answer;
    } else {
        QFileDialog dialog(parent, QString(), LastFolder());
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilters(filters);
        QList<QUrl> urls = dialog.sidebarUrls();
        for (const QString& place : sidebar)
            urls << QUrl::fromLocalFile(place);
        dialog.setSidebarUrls(urls);
        if (mods)
            dialog.selectNameFilter(filters.at(mod_filter));
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog, &filters, mod_filter, mod_folder](const QString& chosen) {
                             if (mod_filter >= 0 && chosen.simplified() == filters.at(mod_filter))
                                 dialog.setDirectory(mod_folder);
                         });
        result.Accepted = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
        if (result.Accepted) {
            result.Path = dialog.selectedFiles().first();
            result.FilterIndex =
                static_cast<int>(filters.indexOf(dialog.selectedNameFilter().simplified())) + 1;
        }
    }
    if (!result.Accepted)
        return false;
    path = result.Path;
    const QString chosen = OutputKindOfFilter(filter, result.FilterIndex);
    if (!chosen.isEmpty())
        kind = chosen;
    return true;
}
