#include "core/PatchStages.h"

#include "core/FileTools.h"
#include "core/RunContext.h"
#include "core/VoiceAndMusic.h"

#include <QDir>
#include <QFileInfo>

void CopyReplacementFolders(TRunContext& run) {
    const QString patch_folder = run.PatchFolder();
    if (patch_folder.isEmpty())
        return;
    const struct {
        const char* Name;
        const char* ErrorKey;
    } folders[] = {{"exefs", "ErrorCopyingExeFsFolder"}, {"romfs", "ErrorCopyingRomFsFolder"}};
    for (const auto& folder : folders) {
        const QString name = QString::fromLatin1(folder.Name);
        const QString source = FindEntryNoCase(patch_folder, name);
        if (!QFileInfo(source).isDir())
            continue;
        // The copy puts the folder itself into tools/temp; a patch's "ROMFS" must merge into
        // the unpacked "romfs", which CopyFolder finds by name without regard to case. The
        // unpacked folder exists after the unpacking stages; create it should a tool have left
        // none.
        QDir().mkpath(run.Paths.Temp + QLatin1Char('/') + name);
        if (!CopyFolder(source, run.Paths.Temp))
            run.Fail(folder.ErrorKey);
        run.Progress(75);
    }
}

void ApplySoundArchive(TRunContext& run) {
    const TVoiceAndMusicChoice choice{run.Job.Voice, run.Job.NoVoiceChoice, run.Job.Tracks.get()};
    const int result = ApplyVoiceAndMusic(
        run.Job.ProgramFolder, choice, [&run](const QString& entry) { run.Log(entry); }, run.Texts,
        run.Job.NoPatch ? QString() : run.PatchFolder());
    if (result == 1)
        run.LogFramed(run.Text("WarningApplyingVoice"));
}
