#include "desktop/PatchCatalogue.h"

#include "desktop/FileTools.h"
#include "engine/OutputForms.h"
#include "engine/PatchCatalogue.h"
#include "engine/Versions.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

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
    return QString::fromStdU16String(
        engine::PatchEntryText(entry.Title.toStdU16String(), entry.Version.toStdU16String()));
}

QString PatchPaneText(const TPatchDescription& description, const TLanguageTable& texts) {
    return QString::fromStdU16String(
        engine::PatchPaneText(EngineDescription(description), texts.Engine()));
}

QString ProgramVersion() {
    const std::string_view version = engine::ProgramVersion();
    return QString::fromUtf8(version.data(), qsizetype(version.size()));
}

QString ProgramVersionProblem(const TPatchDescription& description, const TLanguageTable& texts) {
    const std::string_view engine_key =
        engine::ProgramVersionProblemKey(description.MinimumProgramVersion.toStdU16String());
    const QString key = QString::fromUtf8(engine_key.data(), qsizetype(engine_key.size()));
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
    return QString::fromStdString(engine::OutputFilter(source_kind.toStdString(), texts.Engine()));
}

QString OutputKindOfFilter(const QString& filter, int index) {
    const std::string_view kind = engine::OutputKindOfFilter(filter.toStdString(), index);
    return QString::fromLatin1(kind.data(), qsizetype(kind.size()));
}

QString OutputDisplayText(const QString& output_path, const QString& output_kind) {
    return QString::fromStdU16String(
        engine::OutputDisplayText(output_path.toStdU16String(), output_kind.toStdU16String()));
}
