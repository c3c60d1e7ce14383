#pragma once
// The voice and music step of an installation run: the game's sound archive in the unpacked
// RomFS gets the chosen voice clips and the user's music assignment. engine/VoiceAndMusic.h
// does the work without Qt; here the language table and QString.

#include <QString>

#include <functional>

class TLanguageTable;
class TTrackList;

/// The choices of the voice and music step.
struct TVoiceAndMusicChoice {
    int Voice = 0;                      // 0 ENG, 1 JAP MOD, 2 JAP ORIG
    bool NoVoiceChoice = true;          // the patch offers no voice choice: the clips stay
    const TTrackList* Tracks = nullptr; // the music assignment; null for none
};

/// Unpacks program_folder/tools/temp/romfs/sound/QK123.bcsar into QK123_temp beside it,
/// merges the patch's voice folder for the chosen voice into the clips unless there is no
/// voice choice, writes the changed music slots of the chosen track list into the INFO piece,
/// packs the archive and writes it back. Log entries go to `log`. Returns 0 when the archive was
/// rewritten, 1 when the step failed after logging its warning; the archive file is then unchanged.
/// An INFO piece or archive that cannot be read or written throws TSystemError (the archive file
/// stays as it was).
int ApplyVoiceAndMusic(const QString& program_folder, const TVoiceAndMusicChoice& choice,
                       const std::function<void(const QString& entry)>& log,
                       const TLanguageTable& language, const QString& patch_folder);
