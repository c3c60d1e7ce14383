#pragma once
// Patch packages without Qt: one file NAME.qvtpatch, a zip archive holding one patch folder,
// that a group ships and a player adds to the patch folders. Here the rules for names and
// sizes; engine/PackageZip.h reads and writes the archives.

#include "engine/Language.h"
#include "engine/PatchDescription.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace engine {

/// What a package may hold at most; beyond it the package is refused before anything is
/// written.
struct TPackageLimits {
    std::int64_t MaxEntries = 50000;
    std::int64_t MaxTotalBytes = std::int64_t(4) << 30; // unpacked, all entries together
};

/// Why a package was refused: a language key, with the entry name (or the number in the key's
/// text) in Detail. Empty Key: the package may be unpacked.
struct TPackageProblem {
    std::string Key;
    TText Detail;
    bool Refused() const { return !Key.empty(); }
    /// The key's text, "%1" filled in with Detail, or Detail on a line of its own.
    TText Text(const TLanguageTable& texts) const;
};

/// The file name of the package for a patch folder: the folder's name + ".qvtpatch".
std::filesystem::path PatchPackageFileName(const std::filesystem::path& patch_folder);

/// True when the file's name ends in ".qvtpatch" (letter case ignored).
bool IsPatchPackageName(std::u16string_view path);

/// True for a name inside a package that every system writes as it reads, below the folder it
/// is unpacked into: '/'-separated, no absolute path, no "." or "..", no backslash, no
/// character or name Windows refuses, no part ending in a dot or a space.
bool SafeEntryName(std::u16string_view name);

/// `text` without the white space around it, as titles are compared.
std::u16string_view TrimmedText(std::u16string_view text);

/// The folder name a patch takes in the patch root: its title with the characters Windows
/// refuses replaced, trimmed, not a reserved device name, at most 80 characters.
TText PatchFolderName(std::u16string_view title);

/// A patch of the same title and region that is already in the patch root.
struct TInstalledPatch {
    std::filesystem::path Folder;
    TText Version;
};

/// The patch of the same title (letter case and the spaces around it ignored) and region as
/// `patch` among the patch root's folders, each read from its description for `language`.
std::optional<TInstalledPatch> FindInstalledPatch(const std::filesystem::path& patch_root,
                                                  const TDescriptionFields& patch,
                                                  std::u16string_view language,
                                                  bool russian_locale);

} // namespace engine
