#pragma once
// Folder helpers of the engine: entries found without regard to letter case, as the patch
// folders of other systems spell them, and folders merged into others.

#include "engine/Text.h"

#include <filesystem>

namespace engine {

/// The name of a path's last part as text.
TText NameText(const std::filesystem::path& path);

/// The path of the entry `name` in `folder`, matched without regard to letter case: the
/// exact name when it exists (spelled as the file system stores it), else the first entry (in
/// name order) equal ignoring case, else folder / name as given.
std::filesystem::path FindEntryNoCase(const std::filesystem::path& folder,
                                      const std::filesystem::path& name);

/// Copies `source` folder itself, with everything below it, into `destination`, merging
/// with what is there and overwriting files silently. A name that differs only in letter
/// case from an entry already there merges into that entry. True on success.
bool CopyFolder(const std::filesystem::path& source, const std::filesystem::path& destination);

/// Creates a new folder in `parent` named `prefix` and six random letters or digits, as a
/// scratch folder beside where its contents go; empty when none can be created.
std::filesystem::path MakeScratchFolder(const std::filesystem::path& parent,
                                        const std::filesystem::path& prefix);

} // namespace engine
