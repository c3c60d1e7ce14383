#pragma once
// Where a mod folder can go on this machine: the mods folders of the emulators installed for
// this user, and the SD cards in a reader, each with the folder the game's patch folder goes in.
// engine/Places.h holds the rules; here the system's folders and mounted volumes, and QString.

#include "engine/Places.h"

#include <QString>
#include <QStringList>

#include <vector>

class TLanguageTable;

using engine::TPlaceKind;

struct TPlace {
    TPlaceKind Kind = TPlaceKind::Emulator;
    QString Name;          // the emulator, or the card's volume name
    QString Path;          // the folder that takes <TitleID>/ (made when missing)
    qint64 FreeBytes = -1; // on the volume that holds it; -1 when unknown
};

/// A mounted volume: its root folder and the name the system gives it.
struct TVolume {
    QString Root;
    QString Name;
};

/// What the search looks at, so that tests can give a made-up home and made-up volumes.
struct TPlaceInputs {
    QString Home;          // the user's home folder
    QString DataHome;      // $XDG_DATA_HOME, or home/.local/share
    QString AppData;       // %APPDATA% on Windows; empty elsewhere
    QStringList Emulators; // emulator programs or folders the user names: user/ beside them
    std::vector<TVolume> Volumes;
};

/// The inputs of this machine: the environment's folders and the mounted volumes.
TPlaceInputs SystemPlaceInputs(const QStringList& emulators = {});
/// The same without the volumes (which take a while to list): the environment's folders.
TPlaceInputs SystemFolderInputs(const QStringList& emulators = {});

/// The user folders the emulators keep their data in (mods, sysdata), whether or not they
/// exist, in the order the search looks at them: native installations, then Flatpak.
QStringList EmulatorUserFolders(const TPlaceInputs& inputs);

/// The places that exist: emulators first (those the user named, then native, then Flatpak
/// installations), then SD cards (a volume with "Nintendo 3DS" or "luma" at its root).
std::vector<TPlace> FindPlaces(const TPlaceInputs& inputs);

/// "emulator" or "sdcard".
QString PlaceKindName(TPlaceKind kind);

/// The place whose folder is `path` or holds it, or null.
const TPlace* PlaceOf(const std::vector<TPlace>& places, const QString& path);

/// The log entry that names where a mod folder run writes: the kind of destination, then the
/// place's name (if it is one) and the folder.
QString ModDestinationEntry(const TPlace* place, const QString& folder,
                            const TLanguageTable& texts);

/// What the search for the game's installed update beside a place found.
struct TUpdateSearch {
    QString Folder;     // the update's title folder; empty when none was found
    QString Unreadable; // a "Nintendo 3DS" entry that cannot be read as a folder, if any
};

/// Looks for the installed update of the game `title_id` (16 hexadecimal digits) where the
/// place's console or emulator keeps installed titles: `Nintendo 3DS/<id0>/<id1>/title/
/// 0004000e/<the title ID's low half>` at the SD card's root, or below the emulator user
/// folder's `sdmc`. Names are matched without regard to letter case.
TUpdateSearch FindInstalledUpdate(const TPlace& place, const QString& title_id);

/// The warning for a found update (the console's game patching applies the mod folder to the
/// game only, so the update may hide it; what to do), or the refusal for an unreadable
/// "Nintendo 3DS" folder; empty when the search found neither.
QString InstalledUpdateText(const TPlace& place, const TUpdateSearch& search,
                            const TLanguageTable& texts);
