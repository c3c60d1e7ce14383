#include "gui/FileDialogs.h"

#include "core/PatchCatalogue.h"

#include <QFileDialog>
#include <QStringList>

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

std::optional<QString> SelectOpenFile(QWidget* parent, const QString& folder,
                                      const QString& filter) {
    if (auto answer = TakeAnswer(filter)) {
        if (!answer->Accepted)
            return std::nullopt;
        return answer->Path;
    }
    QFileDialog dialog(parent, QString(), folder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(QtFilters(filter));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

bool SelectSaveFile(QWidget* parent, const QString& folder, const QString& filter, QString& path,
                    QString& kind) {
    TFileDialogAnswer result;
    if (auto answer = TakeAnswer(filter)) {
        result = *answer;
    } else {
        QFileDialog dialog(parent, QString(), folder);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        const QStringList filters = QtFilters(filter);
        dialog.setNameFilters(filters);
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
