// make-patch: a patch folder from the game and a group's changed files, checked by installing
// it, then summed up for the group's release.

#include "cli/ConsoleText.h"
#include "cli/qvtpatch_modes.h"

#include "desktop/Language.h"
#include "desktop/MakePatch.h"
#include "desktop/PatchPackage.h"

#include <QFileInfo>

#include <QLocale>

#include <cstdio>

int RunMakePatch(TMakePatchInput input, bool package) {
    TLanguageTable texts;
    if (!LoadTexts(QStringLiteral("English"), texts))
        return kExitFailed;
    input.ProgramFolder = ProgramFolder();
    input.Texts = &texts;
    const TMakePatchReport report =
        MakePatch(input, [](const QString& stage) { WriteLines(stdout, stage); });
    if (!report.Problem.isEmpty()) {
        WriteLines(stderr, QStringLiteral("qvtpatch make-patch: ") + report.Problem);
        return kExitFailed;
    }
    for (const QString& warning : report.Warnings)
        WriteLines(stderr, QStringLiteral("Warning: ") + warning);

    const QLocale c = QLocale::c();
    QString summary = QStringLiteral("\nPatch folder: %1\nChecked: installed into a mod folder, "
                                     "every changed file came out as in %2\n")
                          .arg(input.OutputFolder, input.ChangedFolder);
    summary += QStringLiteral("Files replaced: %1\n").arg(report.Replaced.size());
    for (const QString& path : report.Replaced)
        summary += QStringLiteral("  ") + path + QLatin1Char('\n');
    if (report.DifferenceBytes < 0)
        summary += QStringLiteral("pack.dat: unchanged, no patch.xdelta\n");
    else
        summary += QStringLiteral("pack.dat: patch.xdelta of %1 bytes against %2 bytes (%3%)\n")
                       .arg(c.toString(report.DifferenceBytes), c.toString(report.PackDatBytes),
                            c.toString(100.0 * double(report.DifferenceBytes) /
                                           double(std::max<std::int64_t>(1, report.PackDatBytes)),
                                       'f', 2));
    summary += QStringLiteral("Region: %1\nOriginalPackDatMD5: %2\nOriginalPackIncMD5: %3\n")
                   .arg(report.Description.Region, report.Description.OriginalPackDatMD5,
                        report.Description.OriginalPackIncMD5);
    summary +=
        QStringLiteral("Voices: %1\nTrack list: %2\n")
            .arg(report.Voices ? QStringLiteral("ENG, JAP MOD, JAP ORIG") : QStringLiteral("none"),
                 report.TrackList ? QStringLiteral("Tracklist.tls") : QStringLiteral("none"));
    summary += QStringLiteral("Release note: ") + report.ReleaseNote;
    WriteLines(stdout, summary);
    if (!package)
        return 0;
    const QFileInfo folder(input.OutputFolder);
    const QString path =
        folder.absolutePath() + QLatin1Char('/') + PatchPackageFileName(folder.absoluteFilePath());
    QString problem;
    if (!WritePatchPackage(folder.absoluteFilePath(), path, problem)) {
        WriteLines(stderr, QStringLiteral("qvtpatch make-patch: the package cannot be written: ") +
                               problem);
        return kExitFailed;
    }
    WriteLines(stdout, QStringLiteral("Package: ") + path);
    return 0;
}
