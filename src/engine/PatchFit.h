#pragma once
// Whether a patch fits the chosen image, for every front end: the digests of the game's
// pack.dat and pack.inc against the digests a patch's description names for the untouched game
// and for the game it leaves behind, and what to tell the user of a patch that does not fit.

#include "engine/PatchDescription.h"

#include <string_view>
#include <vector>

namespace engine {

/// The digests of the image's data archive and its index as hexadecimal digits; PackInc is
/// empty for a game without pack.inc.
struct TImageDigests {
    TText PackDat;
    TText PackInc;
};

/// What a patch is to the image whose digests are known.
enum class TPatchFit {
    Fits,      // the image is the game the patch was made for (or the patch names no digest)
    Differs,   // the image's game data is another
    Installed, // the image already carries the patch
};

/// Compares the digests the patch names (letter case ignored) with the image's: every
/// original digest named equal gives Fits, else every result digest named equal gives
/// Installed, else Differs.
TPatchFit JudgePatchFit(const TDescriptionFields& patch, const TImageDigests& image);

/// "fits", "differs" or "installed", as scripts and the browser page read it.
std::string_view FitName(TPatchFit fit);

/// The language key of the mark a patch's entry gets for its fit.
std::string_view FitMarkKey(TPatchFit fit);

/// What to tell the user who wants to install a patch that does not fit. `Key` is the
/// language key of the text ("PatchAlreadyInstalled", or "PatchDoesNotFit" with `Region` for
/// its %1), empty for a patch that fits; for one that differs, a PatchDigestLine follows the
/// text for each file whose digest the patch names.
struct TFitExplanation {
    std::u16string_view Key;
    TText Region; // the patch's region, else the image's
    struct TDigestLine {
        std::u16string_view File; // "pack.dat" or "pack.inc" (%1)
        TText Found;              // the image's digest, "-" when it has none (%2)
        TText Wanted;             // the digest the patch names, as written (%3)
    };
    std::vector<TDigestLine> Lines;
};
TFitExplanation ExplainPatchFit(TPatchFit fit, const TDescriptionFields& patch,
                                const TImageDigests& image, const TText& image_region);

} // namespace engine
