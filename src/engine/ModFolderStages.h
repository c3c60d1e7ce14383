#pragma once
// The desktop's mod folder run: only the files a patch changes, laid out as the console
// firmware's game patching and the emulator's mods folder load them in place of the game's own.
// A list of stages over the run context: read, the pack.dat and patch stages the image run
// takes too, plan, write, verify, marker, move. The game's reading, the plan and the writing
// with its marker are the steps the browser's run takes (ModFolderSteps.h); the desktop keeps
// its work folder, the folder being written beside the final one and the move into place.

#include "engine/DigestStage.h"

#include <memory>
#include <string>

namespace ctr {
class TDecryptingReader;
}

namespace engine {

class TRunContext;

/// What the run needs to know of the system it runs on.
struct TModFolderPlatform {
    std::string ProgramVersion; // for the marker
    bool RussianLocale = false; // how the patch's description is decoded
    /// tools/temp and the destination lie on one volume: a rename moves a file between them.
    bool SameVolume = false;
    /// How a thread of its own opens the source's decryption (used for an encrypted source).
    TBackgroundDigest::TOpenDecryption OpenDecryption;
};

/// The run for a mod folder, from the image's few files to the folder moved into place.
/// `source_kind` is ".cia", ".cxi" or ".3ds"; `decrypting` reads an encrypted source (null for
/// a plain one). Ends the run (TRunEnded) in every case.
[[noreturn]] void RunModFolderStages(TRunContext& run, const std::string& source_kind,
                                     std::unique_ptr<ctr::TDecryptingReader> decrypting,
                                     const TModFolderPlatform& platform);

} // namespace engine
