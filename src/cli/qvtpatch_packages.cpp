// add-patch: a patch package added to the program's patch folders.

#include "cli/ConsoleText.h"
#include "cli/qvtpatch_modes.h"

#include "desktop/FileTools.h"
#include "desktop/Language.h"
#include "desktop/PatchPackage.h"

#include <cstdio>

int RunAddPatch(const QString& package, const QString& language, bool replace) {
    TLanguageTable texts;
    if (!LoadTexts(language, texts))
        return kExitUsage;
    // An older version is replaced; the same or a newer one only when asked for.
    const TReplaceQuestion question = [replace](const TInstalledPatch&, const TPatchDescription&,
                                                bool newer) { return newer || replace; };
    const TAddPatchResult result =
        AddPatchPackage(package, FindEntryNoCase(ProgramFolder(), QStringLiteral("patch")),
                        language, texts, question);
    const QString version =
        result.Patch.Version.isEmpty() ? QStringLiteral("-") : result.Patch.Version;
    const QString previous =
        result.PreviousVersion.isEmpty() ? QStringLiteral("-") : result.PreviousVersion;
    switch (result.Outcome) {
    case TAddPatchResult::TOutcome::Refused:
        WriteLines(stderr, QStringLiteral("qvtpatch add-patch: ") + result.Problem);
        return kExitFailed;
    case TAddPatchResult::TOutcome::Kept:
        WriteLines(stderr, texts.Lookup(QStringLiteral("PackageKept")).arg(previous) +
                               QLatin1Char('\n') + result.Folder + QLatin1Char('\n') +
                               texts.Lookup(QStringLiteral("PackageUseReplace")));
        return kExitFailed;
    case TAddPatchResult::TOutcome::Replaced:
        WriteLines(stdout, texts.Lookup(QStringLiteral("PackageReplaced")).arg(previous));
        break;
    case TAddPatchResult::TOutcome::Added:
        WriteLines(stdout, texts.Lookup(QStringLiteral("PackageAdded")));
        break;
    }
    WriteLines(stdout, result.Patch.Title + QLatin1Char('\t') + version + QLatin1Char('\t') +
                           result.Folder);
    return 0;
}
