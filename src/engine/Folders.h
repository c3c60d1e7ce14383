#pragma once
// Folder helpers of the engine: entries found without regard to letter case, as the patch
// folders of other systems spell them, and folders merged into others.

#include "engine/Text.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace ctr {
class TInFile;
}

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

/// The path as UTF-8 text in the system's own separators, as paths are shown.
std::string NativePathText(const std::filesystem::path& path);

/// Every file below `root` (hidden ones too, links to files counted, links to folders not
/// followed) as a '/'-separated path relative to it, in the order of its UTF-16 code units.
std::vector<TText> FilesBelow(const std::filesystem::path& root);

/// Removes the partial files ("`file`.XXXXXXXX.part", eight small hexadecimal digits) that our
/// tools leave beside `file` when they are ended while writing it.
void RemovePartialFiles(const std::filesystem::path& file);

/// Creates a new folder in `parent` named `prefix` and six random letters or digits, as a
/// scratch folder beside where its contents go; empty when none can be created.
std::filesystem::path MakeScratchFolder(const std::filesystem::path& parent,
                                        const std::filesystem::path& prefix);

/// True when `file` holds exactly the `size` bytes at `offset` of `image` (read through the
/// container library: compressed, decrypted); false also when either cannot be read.
bool SameBytes(ctr::TInFile& image, std::uint64_t offset, std::uint64_t size,
               const std::filesystem::path& file);
/// The same, throwing what a read throws (a damaged image is then no answer).
bool SameBytesOrThrow(ctr::TInFile& image, std::uint64_t offset, std::uint64_t size,
                      const std::filesystem::path& file);
/// True when the files `a` and `b` hold the same bytes; false also when either cannot be read.
bool SameFiles(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace engine
