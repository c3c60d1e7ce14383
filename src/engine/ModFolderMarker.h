#pragma once
// A written mod folder known again by its marker: the marker read back, the files the program
// did not write, and the folder removed with the earlier one brought back. Paths are
// std::filesystem paths (any letters); names inside a folder are UTF-8, '/'-separated.

#include "engine/ModFolderPlan.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

class TLanguageTable;

/// `parent`/`name` when nothing lies there yet, else `parent`/`name` 2, 3, ... with the first
/// free number (a space before the number).
std::filesystem::path UnusedFolderPath(const std::filesystem::path& parent,
                                       const std::string& name);

/// `path` made absolute, without "." and ".." parts and without a separator at its end.
std::filesystem::path CleanAbsolutePath(const std::filesystem::path& path);

/// FilesBelow `root` as UTF-8, in name order (ModFileOrderLess).
std::vector<std::string> ModFilesBelow(const std::filesystem::path& root);

/// MD5 of a file's bytes as 32 upper-case hexadecimal digits; nothing when it cannot be read.
std::optional<std::string> FileDigest(const std::filesystem::path& file);

/// The marker read back from its text; nothing for a text that is not a marker of this program.
std::optional<TModMarker> ParseModMarker(std::string_view text);
/// The marker of `folder` as its file holds it; nothing when there is none or it is unreadable.
std::optional<TModMarker> ReadModMarker(const std::filesystem::path& folder);

/// The files below `folder` that the program did not write, in name order: every file when
/// the folder has no marker, else the files the marker does not name and those whose size or
/// digest changed since. The marker itself and files it names that are gone do not count.
std::vector<std::string> ForeignModFiles(const std::filesystem::path& folder);

/// `files` in native form, one a line (CR LF between); after `limit` of them (0: no limit) a
/// line saying how many more there are.
std::string FileListText(const std::vector<std::string>& files, int limit,
                         const TLanguageTable& texts);

/// `text` with each %1 replaced by `value` (the lowest-numbered marker, as the language
/// files write them).
std::string ArgText(std::string text, const std::string& value);

/// What removing a mod folder found or did.
struct TModRemoval {
    enum class TOutcome {
        Ready,    // the check found a folder the program wrote (nothing done yet)
        Removed,  // it was removed and the earlier folder, if any, brought back
        NotFound, // no game folder in the destination (or not the one asked for)
        Several,  // several game folders and none named: Candidates lists them
        Foreign,  // the folder holds files the program did not write: Files lists them
        Failed,   // the folder could not be moved or removed: Problem says where
    };
    TOutcome Outcome = TOutcome::NotFound;
    std::filesystem::path Folder;   // the game's folder
    std::filesystem::path Previous; // the earlier folder that comes back (or came back)
    std::optional<TModMarker> Marker;
    std::vector<std::string> Files;      // the files the program did not write
    std::vector<std::string> Candidates; // folder names, for Several
    std::string Problem;                 // a path in native form, for Failed
};

/// Looks at the folder of the game `title_id` (16 hexadecimal digits; empty: the one game
/// folder in `output`) and says whether it can be removed. Changes nothing.
TModRemoval CheckModRemoval(const std::filesystem::path& output, const std::string& title_id);

/// Removes the folder CheckModRemoval finds ready and brings back the latest
/// "<TitleID> (previous)" folder under the game's name. Anything else changes nothing.
TModRemoval RemoveModFolder(const std::filesystem::path& output, const std::string& title_id);

} // namespace engine
