#include "engine/PatchStages.h"

#include "engine/Folders.h"
#include "engine/RunContext.h"
#include "engine/TrackList.h"
#include "engine/VoiceAndMusic.h"

#include <system_error>

namespace engine {

void CopyReplacementFolders(TRunContext& run) {
    const std::filesystem::path& patch_folder = run.PatchFolder();
    if (patch_folder.empty())
        return;
    const struct {
        const char* Name;
        const char* ErrorKey;
    } folders[] = {{"exefs", "ErrorCopyingExeFsFolder"}, {"romfs", "ErrorCopyingRomFsFolder"}};
    for (const auto& folder : folders) {
        const std::filesystem::path source = FindEntryNoCase(patch_folder, folder.Name);
        std::error_code error;
        if (!std::filesystem::is_directory(source, error))
            continue;
        // The copy puts the folder itself into tools/temp; a patch's "ROMFS" must merge into
        // the unpacked "romfs", which CopyFolder finds by name without regard to case. The
        // unpacked folder exists after the unpacking stages; create it should a tool have left
        // none.
        std::filesystem::create_directories(run.Paths.Temp / folder.Name, error);
        if (!CopyFolder(source, run.Paths.Temp))
            run.Fail(folder.ErrorKey);
        run.Progress(75);
    }
}

void ApplySoundArchive(TRunContext& run) {
    const TVoiceAndMusicChoice choice{run.Job.Voice, run.Job.NoVoiceChoice, run.Job.Tracks.get()};
    const int result = ApplyVoiceAndMusic(
        run.Job.ProgramFolder, choice, [&run](const TText& entry) { run.Log(ToUtf8(entry)); },
        [&run](std::u16string_view key) { return run.Texts.Lookup(key); },
        run.Job.NoPatch ? std::filesystem::path() : run.PatchFolder());
    if (result == 1)
        run.LogFramed(run.Text("WarningApplyingVoice"));
}

} // namespace engine
