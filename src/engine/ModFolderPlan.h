#pragma once
// What goes into a mod folder and the marker that names it, without Qt: the same plan for
// the desktop's run and the browser's. Paths are UTF-8, '/'-separated.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace engine {

/// The game's RomFS paths by a key that ignores letter case (CaseKey): names in patch folders
/// match regardless of letter case, and the mod folder takes the game's spelling.
using TSpellings = std::map<std::u16string, std::string>;
TSpellings GameSpellings(const std::vector<std::string>& game_files);
/// The key of `path` in GameSpellings.
std::u16string SpellingKey(const std::string& path);

/// One file of the mod folder: where its bytes are now and its path inside the folder.
struct TModFile {
    std::string From;
    std::string To;
    bool operator==(const TModFile&) const = default;
};

/// What the plan of a mod folder is made from.
struct TModPlanInput {
    std::string RomFs;                   // the folder holding the run's RomFS files
    std::vector<std::string> RomFsFiles; // the files below it, in name order
    std::vector<std::string> GameFiles;  // the game's RomFS files, as the game spells them
    std::set<std::string> Unchanged;     // of RomFsFiles: those that hold the game's own bytes
    std::string ChangedCode; // the code.bin to take when the patch changed the code, else empty
    std::vector<TModFile> ExeFsFiles; // the banner and icon the patch brings
};

/// What goes into a mod folder.
struct TModPlan {
    std::vector<TModFile> Files;
    std::vector<std::string> NewFiles; // RomFS files the game lacks, as the patch spells them
    bool BannerOrIcon = false;
};

/// The plan: each RomFS file whose bytes differ from the game's under the game's spelling,
/// each file the game lacks under the patch's, the changed code, then the banner and icon.
TModPlan PlanModFolder(const TModPlanInput& input);

/// The file a mod folder run leaves beside romfs/, naming what it wrote: the folder is
/// recognised by it and can be removed again.
inline constexpr char kModMarkerName[] = "qvtpatch-mod.json";
/// The marker's "writtenBy" member: a JSON file of another program is no marker of ours.
inline constexpr char kModMarkerWriter[] = "QVT Patch Tool";
/// The marker's layout; a later program raises it only for a layout this one cannot read.
inline constexpr int kModMarkerFormat = 1;

/// One file of a written mod folder as its marker names it.
struct TModMarkerFile {
    std::string Path; // '/'-separated, relative to the folder
    std::int64_t Size = 0;
    std::string MD5; // 32 upper-case hexadecimal digits
    bool operator==(const TModMarkerFile&) const = default;
};

/// What the marker of a mod folder holds; Files in the order of ModFileOrderLess.
struct TModMarker {
    std::string TitleId;
    std::string Patch;        // the patch's title; empty for "None"
    std::string PatchVersion; // as its description gives it; may be empty
    std::string ProgramVersion;
    std::vector<TModMarkerFile> Files;
    bool operator==(const TModMarker&) const = default;
};

/// The order of the files a folder's listing gives (by UTF-16 code units, as the desktop
/// sorts names).
bool ModFileOrderLess(const std::string& a, const std::string& b);

/// The marker as a UTF-8 JSON object: members by name, four spaces a level, a line end after
/// the closing brace (the layout of Qt's indented JSON, which earlier markers have). Later
/// versions may add members; readers ignore those they do not know.
std::string ModMarkerText(const TModMarker& marker);

} // namespace engine
