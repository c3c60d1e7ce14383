#pragma once
// Patch packages: one file NAME.qvtpatch, a zip archive holding one patch folder, that a group
// ships and a player adds to the patch folders beside the program.

#include "desktop/PatchCatalogue.h"

#include <QString>

#include <cstdint>
#include <functional>

class TLanguageTable;

/// What a package may hold at most; beyond it the package is refused before anything is
/// written.
struct TPackageLimits {
    std::int64_t MaxEntries = 50000;
    std::int64_t MaxTotalBytes = std::int64_t(4) << 30; // unpacked, all entries together
};

/// Why a package was refused: a language key, with the entry name (or the number in the key's
/// text) in Detail. Empty Key: the package may be unpacked.
struct TPackageProblem {
    QString Key;
    QString Detail;
    bool Refused() const { return !Key.isEmpty(); }
    /// The key's text, "%1" filled in with Detail, or Detail on a line of its own.
    QString Text(const TLanguageTable& texts) const;
};

/// Reads the whole package without writing anything: a zip archive that opens and whose
/// directory agrees with its entries, entries that are stored or deflated and not encrypted,
/// names that are safe on every system (no absolute path, no "." or "..", no backslash, no name
/// Windows refuses, no two names differing only in letter case, no link or special file), at
/// most `limits`, and one patch folder with a description file (.dsc) at its top.
TPackageProblem CheckPatchPackage(const QString& package, const TPackageLimits& limits = {});

/// The file name of the package for a patch folder: the folder's name + ".qvtpatch".
QString PatchPackageFileName(const QString& patch_folder);

/// The filter of the open dialog for packages.
QString PatchPackageFilter();

/// True when the file's name ends in ".qvtpatch" (letter case ignored).
bool IsPatchPackageName(const QString& path);

/// Writes the patch folder `patch_folder` as the package `package` (a file that must not exist
/// yet): every file and folder below it under the folder's own name. The archive is written
/// beside `package` under another name and renamed when complete. False with the reason in
/// `problem`.
bool WritePatchPackage(const QString& patch_folder, const QString& package, QString& problem);

/// The folder name a patch takes in the patch root: its title with the characters Windows
/// refuses replaced, trimmed, not a reserved device name, at most 80 characters.
QString PatchFolderName(const QString& title);

/// A patch of the same title and region that is already in the patch root.
struct TInstalledPatch {
    QString Folder;
    QString Version;
};

/// What adding a package did.
struct TAddPatchResult {
    enum class TOutcome {
        Added,    // no patch of that title was there
        Replaced, // the patch of the same title was replaced
        Kept,     // the patch of the same title stays; the package was not unpacked
        Refused,  // bad package; nothing was written
    };
    TOutcome Outcome = TOutcome::Refused;
    QString Problem;         // the reason's text, when refused
    TPatchDescription Patch; // the package's description (once it was unpacked)
    QString DescriptionPath; // the added patch's description file
    QString Folder;          // where the patch now is (the kept one's folder when kept)
    QString PreviousVersion; // of the patch replaced or kept
};

/// Asked when a patch of the same title and region is there: true replaces it. `newer` tells
/// whether the package's version is newer than the installed one's.
using TReplaceQuestion = std::function<bool(const TInstalledPatch& installed,
                                            const TPatchDescription& package, bool newer)>;

/// Adds the package to `patch_root` (created when missing): checks it whole, unpacks it into
/// a scratch folder inside the patch root, reads its description for `language`, refuses a
/// patch that needs a newer program, and then gives the folder its name (PatchFolderName of
/// the title, with " (2)" and up when another patch has that name) by a rename. A patch of the
/// same title and region is replaced only when `replace` agrees; it is moved aside first and
/// removed only once the new one is in place. On any failure nothing is left behind and the
/// patch root is as it was.
TAddPatchResult AddPatchPackage(const QString& package, const QString& patch_root,
                                const QString& language, const TLanguageTable& texts,
                                const TReplaceQuestion& replace, const TPackageLimits& limits = {});
