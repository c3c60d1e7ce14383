#pragma once
// The voice and music step of an installation run: the game's sound archive in the unpacked
// RomFS gets the chosen voice clips and the user's music assignment.

#include <QString>

class TInstallHost;
class TLanguageTable;

/// Unpacks program_folder/tools/temp/romfs/sound/QK123.bcsar into QK123_temp beside it,
/// merges the patch's voice folder for `voice` (0 ENG, 1 JAP MOD, 2 JAP ORIG) into the clips
/// unless the host reports no voice choice, writes the changed music slots of the host's
/// track list into the INFO piece, packs the archive and writes it back. Log entries go to
/// `host`. Returns 0 when the archive was rewritten, 1 when the step failed after logging
/// its warning; the archive file is then unchanged. An INFO piece or archive that cannot be
/// read or written throws TSystemError (the archive file stays as it was).
int ApplyVoiceAndMusic(const QString& program_folder, int voice, TInstallHost& host,
                       const TLanguageTable& language, const QString& patch_folder);
