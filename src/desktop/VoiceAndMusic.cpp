#include "desktop/VoiceAndMusic.h"

#include "desktop/FileTools.h"
#include "desktop/Language.h"
#include "desktop/TrackList.h"
#include "engine/VoiceAndMusic.h"

#include <filesystem>

int ApplyVoiceAndMusic(const QString& program_folder, const TVoiceAndMusicChoice& choice,
                       const std::function<void(const QString& entry)>& log_entry,
                       const TLanguageTable& language, const QString& patch_folder) {
    const engine::TVoiceAndMusicChoice engine_choice{
        choice.Voice, choice.NoVoiceChoice, choice.Tracks ? &choice.Tracks->Engine() : nullptr};
    return engine::ApplyVoiceAndMusic(
        ToPath(WithTrailingSeparator(program_folder)), engine_choice,
        [&log_entry](const engine::TText& entry) { log_entry(QString::fromStdU16String(entry)); },
        [&language](std::u16string_view key) {
            return language.Lookup(QString::fromUtf16(key.data(), qsizetype(key.size())))
                .toStdU16String();
        },
        patch_folder.isEmpty() ? std::filesystem::path() : ToPath(patch_folder));
}
