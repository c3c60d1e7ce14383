#include "core/PatchCatalogue.h"

#include "core/FileTools.h"
#include "core/OutputForms.h"
#include "engine/PatchCatalogue.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QVersionNumber>

#include <algorithm>
#include <utility>

namespace {

// The fields of a description as the engine and as the window hold them.
constexpr std::pair<QString TPatchDescription::*, engine::TText engine::TDescriptionFields::*>
    kDescriptionFields[] = {
        {&TPatchDescription::Region, &engine::TDescriptionFields::Region},
        {&TPatchDescription::Title, &engine::TDescriptionFields::Title},
        {&TPatchDescription::Description, &engine::TDescriptionFields::Description},
        {&TPatchDescription::OriginalPackDatMD5, &engine::TDescriptionFields::OriginalPackDatMD5},
        {&TPatchDescription::OriginalPackIncMD5, &engine::TDescriptionFields::OriginalPackIncMD5},
        {&TPatchDescription::PatchedPackDatMD5, &engine::TDescriptionFields::PatchedPackDatMD5},
        {&TPatchDescription::PatchedPackIncMD5, &engine::TDescriptionFields::PatchedPackIncMD5},
        {&TPatchDescription::Version, &engine::TDescriptionFields::Version},
        {&TPatchDescription::Authors, &engine::TDescriptionFields::Authors},
        {&TPatchDescription::Homepage, &engine::TDescriptionFields::Homepage},
        {&TPatchDescription::ReleaseDate, &engine::TDescriptionFields::ReleaseDate},
        {&TPatchDescription::MinimumProgramVersion,
         &engine::TDescriptionFields::MinimumProgramVersion},
};

} // namespace

std::optional<TPatchDescription> ReadPatchDescription(const QString& path) {
    const std::optional<engine::TDescriptionFields> fields =
        engine::ReadDescriptionFile(ToPath(path), LocaleIsRussian());
    if (!fields)
        return std::nullopt;
    return FromEngineDescription(*fields);
}

QString PatchEntryText(const TPatchEntry& entry) {
    if (entry.Version.isEmpty())
        return entry.Title;
    return entry.Title + QStringLiteral(" (") + entry.Version + QLatin1Char(')');
}

QString PatchPaneText(const TPatchDescription& description, const TLanguageTable& texts) {
    const std::pair<const char*, const QString*> release[] = {
        {"PaneVersion", &description.Version},
        {"PaneAuthors", &description.Authors},
        {"PaneHomepage", &description.Homepage},
        {"PaneReleaseDate", &description.ReleaseDate},
    };
    QString lines;
    for (const auto& [key, value] : release) {
        if (!value->isEmpty())
            lines +=
                QStringLiteral("\n") + texts.Lookup(QLatin1String(key)) + QLatin1Char(' ') + *value;
    }
    return lines.isEmpty() ? description.Description
                           : description.Description + QLatin1Char('\n') + lines;
}

QString ProgramVersion() {
    return QStringLiteral(QVT_VERSION);
}

bool IsProgramVersion(const QString& text) {
    // Nine digits a part at most, so that every part is a number QVersionNumber holds.
    static const QRegularExpression version(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,9})*$"));
    return version.match(text).hasMatch();
}

namespace {

// A version cut into its runs of digits (leading zeros dropped) and runs of letters.
struct TVersionPart {
    bool Number;
    QString Text;
};

std::vector<TVersionPart> VersionParts(const QString& version) {
    std::vector<TVersionPart> parts;
    qsizetype at = 0;
    while (at < version.size()) {
        const bool digit = version.at(at).isDigit();
        if (!digit && !version.at(at).isLetter()) {
            ++at;
            continue;
        }
        qsizetype end = at;
        while (end < version.size() &&
               (digit ? version.at(end).isDigit() : version.at(end).isLetter()))
            ++end;
        QString text = version.mid(at, end - at);
        if (digit) {
            while (text.size() > 1 && text.front() == QLatin1Char('0'))
                text.remove(0, 1);
        }
        parts.push_back({digit, text});
        at = end;
    }
    return parts;
}

} // namespace

int CompareVersions(const QString& a, const QString& b) {
    const std::vector<TVersionPart> left = VersionParts(a);
    const std::vector<TVersionPart> right = VersionParts(b);
    if (left.empty() || right.empty())
        return int(!left.empty()) - int(!right.empty());
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        const TVersionPart& l = left[i];
        const TVersionPart& r = right[i];
        if (l.Number != r.Number)
            return l.Number ? 1 : -1; // "1.0.1" is newer than "1.0.beta"
        // Numbers of any length without overflow: the longer is the greater, then by digits.
        const int order =
            l.Number ? (l.Text.size() != r.Text.size() ? (l.Text.size() < r.Text.size() ? -1 : 1)
                                                       : l.Text.compare(r.Text))
                     : l.Text.compare(r.Text, Qt::CaseInsensitive);
        if (order != 0)
            return order < 0 ? -1 : 1;
    }
    if (left.size() == right.size())
        return 0;
    // The longer one goes on: a number makes it newer, letters (a pre-release) older.
    const bool left_longer = left.size() > right.size();
    const bool goes_on_with_number = (left_longer ? left : right)[common].Number;
    return (left_longer == goes_on_with_number) ? 1 : -1;
}

QString ProgramVersionProblemKey(const TPatchDescription& description) {
    const QString minimum = description.MinimumProgramVersion.trimmed();
    if (minimum.isEmpty())
        return QString();
    if (!IsProgramVersion(minimum))
        return QStringLiteral("PatchBadProgramVersion");
    // 1.0 and 1.0.0 name the same program.
    const QVersionNumber wanted = QVersionNumber::fromString(minimum).normalized();
    const QVersionNumber have = QVersionNumber::fromString(ProgramVersion()).normalized();
    return QVersionNumber::compare(have, wanted) < 0 ? QStringLiteral("PatchNeedsNewerProgram")
                                                     : QString();
}

QString ProgramVersionProblem(const TPatchDescription& description, const TLanguageTable& texts) {
    const QString key = ProgramVersionProblemKey(description);
    if (key.isEmpty())
        return QString();
    const QString minimum = description.MinimumProgramVersion.trimmed();
    if (key == QLatin1String("PatchBadProgramVersion"))
        return texts.Lookup(key).arg(minimum);
    return texts.Lookup(key).arg(minimum, ProgramVersion());
}

engine::TDescriptionFields EngineDescription(const TPatchDescription& description) {
    engine::TDescriptionFields fields;
    for (const auto& [ours, engines] : kDescriptionFields)
        fields.*engines = (description.*ours).toStdU16String();
    return fields;
}

TPatchDescription FromEngineDescription(const engine::TDescriptionFields& fields) {
    TPatchDescription description;
    for (const auto& [ours, engines] : kDescriptionFields)
        description.*ours = QString::fromStdU16String(fields.*engines);
    return description;
}

QString PatchDescriptionText(const TPatchDescription& description) {
    return QString::fromStdU16String(engine::DescriptionFileText(EngineDescription(description)));
}

bool WritePatchDescription(const QString& path, const TPatchDescription& description) {
    const QByteArray bytes = "\xEF\xBB\xBF" + PatchDescriptionText(description).toUtf8();
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

QStringList ListPatchEntries(const QString& folder, bool folders, const QString& extension) {
    QStringList names;
    for (const std::filesystem::path& name :
         engine::ListPatchEntries(ToPath(folder), folders, extension.toStdU16String()))
        names.append(FromPath(name));
    return names;
}

QString ChooseDescriptionFile(const QStringList& files, const QString& language,
                              const QString& extension) {
    std::vector<std::filesystem::path> names;
    for (const QString& file : files)
        names.push_back(ToPath(file));
    const std::optional<std::filesystem::path> chosen =
        engine::ChooseDescriptionFile(names, language.toStdU16String(), extension.toStdU16String());
    return chosen ? FromPath(*chosen) : QString();
}

std::vector<TPatchEntry> ScanPatchFolders(const QString& folder, bool recurse,
                                          const QString& extension, const QString& language,
                                          const QString& region) {
    std::vector<TPatchEntry> entries;
    const QString base = WithTrailingSeparator(folder);
    for (const engine::TPatchEntry& found : engine::ScanPatchFolders(
             ToPath(folder), recurse, extension.toStdU16String(), language.toStdU16String(),
             region.toStdU16String(), LocaleIsRussian())) {
        const QString subfolder = found.Subfolder.empty()
                                      ? base
                                      : WithTrailingSeparator(base + FromPath(found.Subfolder));
        entries.push_back({QString::fromStdU16String(found.Title),
                           subfolder + FromPath(found.FileName),
                           QString::fromStdU16String(found.Version)});
    }
    return entries;
}

QString PatchFolderOf(const QString& description_path) {
    return QFileInfo(description_path).path();
}

bool PatchHasVoiceFolder(const QString& patch_folder) {
    return engine::PatchHasVoiceFolder(ToPath(patch_folder));
}

bool PatchHasXdelta(const QString& patch_folder) {
    return engine::PatchHasXdelta(ToPath(patch_folder));
}

QString OutputFilter(const QString& source_kind, const TLanguageTable& texts) {
    // A card image source's filter ends in a bar, the others do not: both as they always were.
    const bool cartridge = IsCartridgeKind(source_kind);
    QStringList entries;
    for (const TOutputForm* form : OutputFormsFor(source_kind))
        entries.append(OutputFilterEntry(*form, cartridge, texts));
    return entries.join(QLatin1Char('|')) + (cartridge ? QStringLiteral("|") : QString());
}

QString OutputKindOfFilter(const QString& filter, int index) {
    // By the pattern of the entry at that place: its description is a language text.
    const QStringList parts = filter.split(QLatin1Char('|'));
    const qsizetype at = 2 * qsizetype(index - 1) + 1;
    if (index < 1 || at >= parts.size())
        return QString();
    const QString pattern = parts.at(at).trimmed();
    for (const TOutputForm& form : OutputForms())
        if (pattern.compare(OutputFormPattern(form), Qt::CaseInsensitive) == 0)
            return QLatin1String(form.Kind);
    return QString();
}

QString OutputDisplayText(const QString& output_path, const QString& output_kind) {
    if (output_path.isEmpty())
        return QString();
    if (IsModFolderKind(output_kind))
        return output_path; // a folder: it gets no extension
    const QString name = QFileInfo(output_path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : name.mid(dot);
    const TOutputForm* form = FindOutputForm(extension);
    if (form != nullptr && !IsModFolderKind(extension))
        return output_path;
    return output_path + output_kind;
}
