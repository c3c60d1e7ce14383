#include "engine/Places.h"

#include "engine/Folders.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace engine {

namespace fs = std::filesystem;

namespace {

// The user folders of the emulator and its forks, by the folder name each keeps its data
// under, with the name shown for it.
struct TEmulatorFolder {
    const char16_t* Name;
    const char* Linux;   // below $XDG_DATA_HOME
    const char* Windows; // below %APPDATA%
};
constexpr TEmulatorFolder kEmulatorFolders[] = {
    {u"Azahar", "azahar-emu", "Azahar"},
    {u"Lime3DS", "lime3ds-emu", "Lime3DS"},
    {u"Citra", "citra-emu", "Citra"},
};
// Flatpak keeps an application's data below ~/.var/app/<id>/data.
constexpr const char* kAzaharFlatpak = ".var/app/org.azahar_emu.Azahar/data/azahar-emu";

// Mod folders sit in load/mods of the user folder; the SD card's in luma/titles.
constexpr const char* kModsBelowUser = "load/mods";
constexpr const char* kModsOnCard = "luma/titles";

bool IsFolder(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

// The names of the folders in `folder` (hidden ones too), in the order of their letters.
std::vector<fs::path> FolderNames(const fs::path& folder) {
    std::vector<std::pair<TText, fs::path>> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code kind_error;
        if (it->is_directory(kind_error))
            names.emplace_back(NameText(it->path()), it->path().filename());
    }
    std::sort(names.begin(), names.end());
    std::vector<fs::path> sorted;
    for (auto& [text, name] : names)
        sorted.push_back(std::move(name));
    return sorted;
}

} // namespace

std::string_view PlaceKindWord(TPlaceKind kind) {
    return kind == TPlaceKind::SdCard ? "sdcard" : "emulator";
}

std::vector<TUserFolder> EmulatorUserFolders(const TPlaceInputs& inputs) {
    std::vector<TUserFolder> folders;
    const bool windows = !inputs.AppData.empty();
    for (const TEmulatorFolder& folder : kEmulatorFolders)
        folders.push_back({folder.Name, windows ? inputs.AppData / folder.Windows
                                                : inputs.DataHome / folder.Linux});
    if (!windows)
        folders.push_back({u"Azahar (Flatpak)", inputs.Home / kAzaharFlatpak});
    return folders;
}

std::vector<TPlace>
FindPlaces(const TPlaceInputs& inputs,
           const std::function<std::int64_t(const std::filesystem::path&)>& free_bytes) {
    std::vector<TPlace> places;
    const auto add = [&](TPlaceKind kind, const TText& name, const fs::path& path) {
        const fs::path normal = path.lexically_normal();
        if (std::any_of(places.begin(), places.end(),
                        [&](const TPlace& place) { return place.Path == normal; }))
            return;
        places.push_back({kind, name, normal, free_bytes ? free_bytes(normal) : -1});
    };
    // A portable installation keeps its user folder beside the program.
    for (const fs::path& emulator : inputs.Emulators) {
        std::error_code error;
        const fs::path program = fs::absolute(emulator, error).lexically_normal();
        const fs::path user = (IsFolder(program) ? program : program.parent_path()) / "user";
        if (IsFolder(user))
            add(TPlaceKind::Emulator, NameText(program), user / kModsBelowUser);
    }
    for (const TUserFolder& user : EmulatorUserFolders(inputs)) {
        if (IsFolder(user.Path))
            add(TPlaceKind::Emulator, user.Name, user.Path / kModsBelowUser);
    }
    for (const TVolume& volume : inputs.Volumes) {
        if (IsFolder(FindEntryNoCase(volume.Root, "Nintendo 3DS")) ||
            IsFolder(FindEntryNoCase(volume.Root, "luma")))
            add(TPlaceKind::SdCard, volume.Name, volume.Root / kModsOnCard);
    }
    return places;
}

std::string_view ModDestinationKey(const TPlaceKind* kind) {
    if (kind == nullptr)
        return "ModDestinationFolder";
    return *kind == TPlaceKind::SdCard ? "ModDestinationSdCard" : "ModDestinationEmulator";
}

TUpdateSearch FindInstalledUpdate(TPlaceKind kind, const fs::path& place_path,
                                  std::u16string_view title_id) {
    TUpdateSearch search;
    // Updates are titles of the high half 0004000E with the game's low half.
    if (title_id.size() != 16)
        return search;
    const TText low = CaseKey(title_id.substr(8));
    // The card's root holds luma/titles, the user folder load/mods: both two levels up.
    const fs::path base = (place_path / ".." / "..").lexically_normal();
    const fs::path root = kind == TPlaceKind::SdCard ? base : FindEntryNoCase(base, "sdmc");
    const fs::path nintendo = FindEntryNoCase(root, "Nintendo 3DS");
    std::error_code error;
    if (!fs::exists(nintendo, error))
        return search;
    const fs::directory_iterator listing(nintendo, error); // opened to learn it can be read
    if (!IsFolder(nintendo) || error) {
        search.Unreadable = nintendo;
        return search;
    }
    for (const fs::path& id0 : FolderNames(nintendo)) {
        const fs::path first = nintendo / id0;
        for (const fs::path& id1 : FolderNames(first)) {
            fs::path folder = first / id1;
            for (const fs::path& name : {fs::path("title"), fs::path("0004000e"), fs::path(low)})
                folder = FindEntryNoCase(folder, name);
            if (IsFolder(folder)) {
                search.Folder = folder;
                return search;
            }
        }
    }
    return search;
}

std::string_view InstalledUpdateKey(TPlaceKind kind, const TUpdateSearch& search) {
    if (!search.Unreadable.empty())
        return "ErrorUpdateSearch";
    if (search.Folder.empty())
        return {};
    return kind == TPlaceKind::SdCard ? "WarningInstalledUpdateCard"
                                      : "WarningInstalledUpdateEmulator";
}

} // namespace engine
