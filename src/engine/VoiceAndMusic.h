#pragma once
// The voice and music step of an installation run without Qt: the game's sound archive in the
// unpacked RomFS gets the chosen voice clips and the user's music assignment.

#include "engine/Text.h"

#include <filesystem>
#include <functional>
#include <string_view>

namespace engine {

class TTrackList;

/// The choices of the voice and music step.
struct TVoiceAndMusicChoice {
    int Voice = 0;                      // 0 ENG, 1 JAP MOD, 2 JAP ORIG
    bool NoVoiceChoice = true;          // the patch offers no voice choice: the clips stay
    const TTrackList* Tracks = nullptr; // the music assignment; null for none
};

/// The patch's folder below voice/ that holds the clips of `voice` ("ENG" for 0, also for a
/// choice out of range).
const char* VoiceFolderName(int voice);

/// One log entry of the step.
using TLogEntry = std::function<void(const TText& entry)>;
/// The text of a language key, as the language table gives it.
using TLookup = std::function<TText(std::u16string_view key)>;

/// Unpacks program_folder/tools/temp/romfs/sound/QK123.bcsar into QK123_temp beside it,
/// merges the patch's voice folder for the chosen voice into the clips unless there is no
/// voice choice (or no patch folder), writes the changed music slots of the chosen track list
/// into the INFO piece, packs the archive and writes it back. Returns 0 when the archive was
/// rewritten, 1 when the step failed after logging its warning; the archive file is then
/// unchanged. An INFO piece or archive that cannot be read or written throws TSystemError
/// (the archive file stays as it was).
int ApplyVoiceAndMusic(const std::filesystem::path& program_folder,
                       const TVoiceAndMusicChoice& choice, const TLogEntry& log,
                       const TLookup& lookup, const std::filesystem::path& patch_folder);

} // namespace engine
