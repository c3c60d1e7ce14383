#pragma once
// Where a mod folder can go: the mods folders of the emulators a user has, and the SD cards in
// a reader, each with the folder the game's patch folder goes in; and where the console or an
// emulator keeps the game's installed update. The system tells the folders and the mounted
// volumes; the rules over them are here.

#include "engine/Text.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace engine {

enum class TPlaceKind { Emulator, SdCard };

/// "emulator" or "sdcard".
std::string_view PlaceKindWord(TPlaceKind kind);

/// A mounted volume: its root folder and the name to show for it.
struct TVolume {
    std::filesystem::path Root;
    TText Name;
};

/// What the search looks at: the user's folders, the emulators the user names and the volumes.
struct TPlaceInputs {
    std::filesystem::path Home;                   // the user's home folder
    std::filesystem::path DataHome;               // $XDG_DATA_HOME, or home/.local/share
    std::filesystem::path AppData;                // %APPDATA% on Windows; empty elsewhere
    std::vector<std::filesystem::path> Emulators; // programs or folders: user/ beside them
    std::vector<TVolume> Volumes;
};

/// A user folder of an emulator: the name shown for it and where it is.
struct TUserFolder {
    TText Name;
    std::filesystem::path Path;
};

/// The user folders the emulators keep their data in (mods, sysdata), whether or not they
/// exist, in the order the search looks at them: native installations, then Flatpak.
std::vector<TUserFolder> EmulatorUserFolders(const TPlaceInputs& inputs);

struct TPlace {
    TPlaceKind Kind = TPlaceKind::Emulator;
    TText Name;                 // the emulator, or the card's volume name
    std::filesystem::path Path; // the folder that takes <TitleID>/ (made when missing)
    std::int64_t FreeBytes = -1;
};

/// The places that exist: emulators first (those the user named, then native, then Flatpak
/// installations), then SD cards (a volume with "Nintendo 3DS" or "luma" at its root). A
/// place's FreeBytes is what `free_bytes` tells of its folder.
std::vector<TPlace>
FindPlaces(const TPlaceInputs& inputs,
           const std::function<std::int64_t(const std::filesystem::path&)>& free_bytes);

/// The language key of the log entry that names where a mod folder run writes: into a place of
/// `kind`, or into a folder that is no place (null).
std::string_view ModDestinationKey(const TPlaceKind* kind);

/// What the search for the game's installed update beside a place found.
struct TUpdateSearch {
    std::filesystem::path Folder;     // the update's title folder; empty when none was found
    std::filesystem::path Unreadable; // a "Nintendo 3DS" entry that cannot be read as a folder
};

/// Looks for the installed update of the game `title_id` (16 hexadecimal digits) where the
/// place's console or emulator keeps installed titles: `Nintendo 3DS/<id0>/<id1>/title/
/// 0004000e/<the title ID's low half>` at the SD card's root, or below the emulator user
/// folder's `sdmc`. Names are matched without regard to letter case.
TUpdateSearch FindInstalledUpdate(TPlaceKind kind, const std::filesystem::path& place_path,
                                  std::u16string_view title_id);

/// The language key of the text for a search's result: the refusal for an unreadable "Nintendo
/// 3DS" folder, or the warning for a found update (the console's game patching applies the mod
/// folder to the game only, so the update may hide it); empty when the search found neither.
std::string_view InstalledUpdateKey(TPlaceKind kind, const TUpdateSearch& search);

} // namespace engine
