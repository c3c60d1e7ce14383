#include "desktop/ModFolder.h"

#include "desktop/FileTools.h"
#include "desktop/Language.h"
#include "engine/ModFolderMarker.h"

#include <QDir>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

QStringList TextList(const std::vector<std::string>& texts) {
    QStringList list;
    for (const std::string& text : texts)
        list << FromUtf8(text);
    return list;
}

// A path as the callers hold it: '/'-separated.
QString PathText(const std::filesystem::path& path) {
    return path.empty() ? QString() : QDir::cleanPath(FromPath(path));
}

TModMarker FromEngine(const engine::TModMarker& marker) {
    TModMarker result{FromUtf8(marker.TitleId),
                      FromUtf8(marker.Patch),
                      FromUtf8(marker.PatchVersion),
                      FromUtf8(marker.ProgramVersion),
                      {}};
    for (const engine::TModMarkerFile& file : marker.Files)
        result.Files.push_back({FromUtf8(file.Path), file.Size, FromUtf8(file.MD5)});
    return result;
}

std::optional<TModMarker> FromEngine(const std::optional<engine::TModMarker>& marker) {
    if (!marker)
        return std::nullopt;
    return FromEngine(*marker);
}

TModRemoval FromEngine(const engine::TModRemoval& removal) {
    TModRemoval result;
    result.Outcome = removal.Outcome;
    result.Folder = PathText(removal.Folder);
    result.Previous = PathText(removal.Previous);
    result.Marker = FromEngine(removal.Marker);
    result.Files = TextList(removal.Files);
    result.Candidates = TextList(removal.Candidates);
    result.Problem = FromUtf8(removal.Problem);
    return result;
}

} // namespace

QByteArray ModMarkerText(const TModMarker& marker) {
    const auto text = [](const QString& value) { return value.toStdString(); };
    engine::TModMarker plain{text(marker.TitleId),
                             text(marker.Patch),
                             text(marker.PatchVersion),
                             text(marker.ProgramVersion),
                             {}};
    for (const TModMarkerFile& file : marker.Files)
        plain.Files.push_back({text(file.Path), file.Size, text(file.MD5)});
    return QByteArray::fromStdString(engine::ModMarkerText(plain));
}

std::optional<TModMarker> ParseModMarker(const QByteArray& text) {
    return FromEngine(engine::ParseModMarker(std::string_view(text.constData(), text.size())));
}

std::optional<TModMarker> ReadModMarker(const QString& folder) {
    return FromEngine(engine::ReadModMarker(ToPath(folder)));
}

QStringList ForeignModFiles(const QString& folder) {
    return TextList(engine::ForeignModFiles(ToPath(folder)));
}

TModRemoval CheckModRemoval(const QString& output, const QString& title_id) {
    return FromEngine(engine::CheckModRemoval(ToPath(output), title_id.toStdString()));
}

TModRemoval RemoveModFolder(const QString& output, const QString& title_id) {
    return FromEngine(engine::RemoveModFolder(ToPath(output), title_id.toStdString()));
}

QString FileListText(const QStringList& files, int limit, const TLanguageTable& texts) {
    std::vector<std::string> names;
    for (const QString& file : files)
        names.push_back(file.toStdString());
    return FromUtf8(engine::FileListText(names, limit, texts.Engine()));
}

QString ModRemovalText(const TModRemoval& removal, const TLanguageTable& texts, int file_limit) {
    const auto text = [&](const char* key) { return texts.Lookup(QLatin1String(key)); };
    const auto framed = [](const QString& path) {
        return QLatin1Char('[') + QDir::toNativeSeparators(path) + QLatin1Char(']');
    };
    const auto shown = [](const QString& value) {
        return value.isEmpty() ? QStringLiteral("-") : value;
    };
    QStringList lines;
    switch (removal.Outcome) {
    case TModRemoval::TOutcome::Ready:
        lines << text("ModRemoveQuestion")
                     .arg(shown(removal.Marker ? removal.Marker->Patch : QString()),
                          shown(removal.Marker ? removal.Marker->PatchVersion : QString()))
              << framed(removal.Folder);
        if (!removal.Previous.isEmpty())
            lines << text("ModRemoveBringsBack") << framed(removal.Previous);
        break;
    case TModRemoval::TOutcome::Removed:
        lines << text("ModRemoved") << framed(removal.Folder);
        if (!removal.Previous.isEmpty())
            lines << text("ModRemoveRestored")
                  << framed(removal.Previous) + QStringLiteral(" -> ") + framed(removal.Folder);
        break;
    case TModRemoval::TOutcome::NotFound:
        lines << text("ModRemoveNotFound") << framed(removal.Folder);
        break;
    case TModRemoval::TOutcome::Several:
        lines << text("ModRemoveSeveral") << framed(removal.Folder) << removal.Candidates;
        break;
    case TModRemoval::TOutcome::Foreign:
        lines << text("ModRemoveForeign") << framed(removal.Folder)
              << FileListText(removal.Files, file_limit, texts);
        break;
    case TModRemoval::TOutcome::Failed:
        lines << text("ModRemoveFailed") << framed(removal.Problem);
        break;
    }
    return lines.join(kCrLf);
}
