#pragma once
// Whether a patch fits the chosen image: the digests of the game's pack.dat and pack.inc,
// taken once when the image is chosen and kept for the run, against the digests a patch's
// description names for the untouched game and for the game it leaves behind.

#include "desktop/Language.h"
#include "desktop/PatchCatalogue.h"
#include "engine/PatchFit.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

struct TKeySearch;

namespace ctr {
class TDecryptingReader;
class TInFile;
} // namespace ctr

/// An image opened so that its reads give the image's bytes: decompressed when it is a
/// compressed image, through its decryption when it is encrypted. `File` is the view; the rest
/// keeps it working and goes with it.
struct TSourceView {
    std::unique_ptr<ctr::TDecryptingReader> Decrypting;
    std::unique_ptr<ctr::TInFile> File;
    TSourceView();
    TSourceView(TSourceView&&) noexcept;
    TSourceView& operator=(TSourceView&&) noexcept;
    ~TSourceView();
};

/// Opens the image at `path` of `kind` (".cia", ".cxi", ".3ds") for reading as its bytes, an
/// encrypted one with the keys `search` finds (KeySearch() when not given). Throws
/// std::exception with an English reason when it cannot be read. Every reader of a source
/// that the installer accepts opens it so.
TSourceView OpenSourceForReading(const QString& path, const QString& kind);
TSourceView OpenSourceForReading(const QString& path, const QString& kind,
                                 const TKeySearch& search);

/// The digests of the game's data archive and its index as 32 upper-case hexadecimal digits;
/// PackIncMD5 is empty for a game without pack.inc.
struct TPackDigests {
    QString PackDatMD5;
    QString PackIncMD5;
};

/// How a digest check ended; `Problem` is an English reason when it failed.
struct TPackDigestResult {
    enum class TOutcome { Done, Cancelled, Failed };
    TOutcome Outcome = TOutcome::Failed;
    TPackDigests Digests;
    QString Problem;
};

/// Takes the digests of pack.dat and pack.inc of the image at `path` of `kind`. The file is
/// read once, one thread reading the next block while another hashes. `progress` hears bytes
/// done of the total; `cancel` becoming true ends the check soon after. A check that is done
/// is remembered for the run (RememberedPackDigests).
TPackDigestResult
TakePackDigests(const QString& path, const QString& kind, const std::atomic<bool>& cancel,
                const std::function<void(std::uint64_t, std::uint64_t)>& progress);

/// The digests last taken of the file at `path`, when the file still has the size and
/// modification time it had then.
std::optional<TPackDigests> RememberedPackDigests(const QString& path);
/// As RememberedPackDigests, but first waits for a check of the same file that is under way
/// (the window's check when an install starts at once).
std::optional<TPackDigests> AwaitPackDigests(const QString& path);
/// Forgets every digest taken (tests).
void ForgetPackDigests();

/// What a patch is to the image whose digests are known (engine/PatchFit.h decides).
using TPatchFit = engine::TPatchFit;

/// Compares the digests the patch names (letter case ignored) with the image's: every
/// original digest named equal gives Fits, else every result digest named equal gives
/// Installed, else Differs.
TPatchFit JudgePatchFit(const TPatchDescription& patch, const TPackDigests& image);

/// "fits", "differs" or "installed", as scripts read it.
QString PatchFitName(TPatchFit fit);

/// The text added to a patch's entry in the patch list for its fit.
QString PatchFitMark(TPatchFit fit, const TLanguageTable& texts);

/// What to tell the user who wants to install a patch that does not fit: why, what to do,
/// and both digests of each file that differs. Empty for a patch that fits. `image_region` is
/// named when the patch names no region.
QString PatchFitExplanation(TPatchFit fit, const TPatchDescription& patch,
                            const TPackDigests& image, const QString& image_region,
                            const TLanguageTable& texts);
