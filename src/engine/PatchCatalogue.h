#pragma once
// The patch catalogue for every front end: the patch folders beside the program, each with its
// description files, read over std::filesystem (any letters in a path), names matched without
// regard to letter case.

#include "engine/Folders.h"
#include "engine/PatchDescription.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace engine {

class TLanguageTable;

/// Reads a description file; nothing when it cannot be read. `russian_locale` decides the code
/// page of a file without a byte-order mark that is not UTF-8 (DecodeTextFile).
std::optional<TDescriptionFields> ReadDescriptionFile(const std::filesystem::path& path,
                                                      bool russian_locale);

/// Names of the visible entries of `folder` that are folders (`folders` true) or files ending
/// in `extension` (letter case ignored), sorted without regard to case, then by their letters.
/// Empty when the folder cannot be listed.
std::vector<std::filesystem::path> ListPatchEntries(const std::filesystem::path& folder,
                                                    bool folders, std::u16string_view extension);

/// The description file of a folder among `files` (sorted names): `language` + extension (case
/// ignored) when present, else the first; nothing when `files` is empty.
std::optional<std::filesystem::path>
ChooseDescriptionFile(const std::vector<std::filesystem::path>& files, std::u16string_view language,
                      std::u16string_view extension);

/// One entry of the patch list: its title and version, and where its description file lies
/// below the scanned folder.
struct TPatchEntry {
    TText Title;
    TText Version;
    std::filesystem::path Subfolder; // the patch's folder; empty for the scanned folder itself
    std::filesystem::path FileName;  // the chosen description file
};

/// Scans `folder` as the patch list is filled: each direct subfolder in name order (when
/// `recurse`), then the folder itself. A folder gives at most one entry, read from its chosen
/// description file, when that file can be read and its Region is `region` or empty.
std::vector<TPatchEntry> ScanPatchFolders(const std::filesystem::path& folder, bool recurse,
                                          std::u16string_view extension,
                                          std::u16string_view language, std::u16string_view region,
                                          bool russian_locale);

/// The text of an entry in the patch box: the title, and the version beside it when the
/// description names one ("Title (1.2)").
TText PatchEntryText(std::u16string_view title, std::u16string_view version);

/// The text of the description pane for a patch: its Description, then a line for each of
/// Version, Authors, Homepage and ReleaseDate that the description gives, each after its label.
TText PatchPaneText(const TDescriptionFields& description, const TLanguageTable& texts);

/// What a patch folder offers: a `voice` folder and a `patch.xdelta` file (names matched
/// without regard to case).
bool PatchHasVoiceFolder(const std::filesystem::path& patch_folder);
bool PatchHasXdelta(const std::filesystem::path& patch_folder);

} // namespace engine
