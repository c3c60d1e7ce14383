#include "desktop/PatchPackage.h"

#include "desktop/FileTools.h"
#include "desktop/Language.h"
#include "engine/PackageZip.h"
#include "engine/Versions.h"

#include <QFileInfo>

namespace {

// The engine's text is UTF-16 as QString's: views cross without decoding.
std::u16string_view View(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size())};
}

engine::TPackageLimits EngineLimits(const TPackageLimits& limits) {
    return {limits.MaxEntries, limits.MaxTotalBytes};
}

TPackageProblem FromEngineProblem(const engine::TPackageProblem& problem) {
    return {QString::fromStdString(problem.Key), QString::fromStdU16String(problem.Detail)};
}

} // namespace

QString TPackageProblem::Text(const TLanguageTable& texts) const {
    return QString::fromStdU16String(
        engine::TPackageProblem{Key.toStdString(), Detail.toStdU16String()}.Text(texts.Engine()));
}

TPackageProblem CheckPatchPackage(const QString& package, const TPackageLimits& limits) {
    return FromEngineProblem(engine::CheckPatchPackage(ToPath(package), EngineLimits(limits)));
}

QString PatchPackageFileName(const QString& patch_folder) {
    return FromPath(engine::PatchPackageFileName(ToPath(QFileInfo(patch_folder).filePath())));
}

QString PatchPackageFilter() {
    return QStringLiteral("Patch package (*.qvtpatch)|*.qvtpatch");
}

bool IsPatchPackageName(const QString& path) {
    return engine::IsPatchPackageName(View(path));
}

bool WritePatchPackage(const QString& patch_folder, const QString& package, QString& problem) {
    std::string reason;
    if (engine::WritePatchPackage(ToPath(patch_folder), ToPath(package), reason))
        return true;
    problem = QString::fromStdString(reason);
    return false;
}

QString PatchFolderName(const QString& title) {
    return QString::fromStdU16String(engine::PatchFolderName(View(title)));
}

TAddPatchResult AddPatchPackage(const QString& package, const QString& patch_root,
                                const QString& language, const TLanguageTable& texts,
                                const TReplaceQuestion& replace, const TPackageLimits& limits) {
    TAddPatchResult result;
    const auto refuse = [&](const engine::TPackageProblem& problem) {
        result.Outcome = TAddPatchResult::TOutcome::Refused;
        result.Problem = FromEngineProblem(problem).Text(texts);
        return result;
    };
    engine::TPackageAdding adding(ToPath(package), ToPath(patch_root), View(language),
                                  LocaleIsRussian(), EngineLimits(limits));
    if (adding.Problem().Refused())
        return refuse(adding.Problem());
    const TPatchDescription description = FromEngineDescription(adding.Patch());
    result.Patch = description;
    const QString version_problem = ProgramVersionProblem(description, texts);
    if (!version_problem.isEmpty()) {
        result.Outcome = TAddPatchResult::TOutcome::Refused;
        result.Problem = version_problem;
        return result;
    }

    const auto& found = adding.Installed();
    if (found) {
        const TInstalledPatch installed{FromPath(found->Folder),
                                        QString::fromStdU16String(found->Version)};
        result.PreviousVersion = installed.Version;
        const bool newer =
            engine::CompareVersions(View(description.Version), View(installed.Version)) > 0;
        if (!replace || !replace(installed, description, newer)) {
            result.Outcome = TAddPatchResult::TOutcome::Kept;
            result.Folder = installed.Folder;
            return result;
        }
    }
    const engine::TPackageProblem placed = adding.Place(true);
    if (placed.Refused())
        return refuse(placed);
    result.Outcome = found ? TAddPatchResult::TOutcome::Replaced : TAddPatchResult::TOutcome::Added;
    result.Folder = FromPath(adding.Folder());
    result.DescriptionPath = FromPath(adding.DescriptionPath());
    return result; // the scratch folder goes, with the replaced patch in it
}
