#include "core/Places.h"

#include "core/FileTools.h"
#include "core/Language.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace {

// Windows' file names match whatever their letter case, so its paths compare so too.
#if defined(_WIN32)
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseSensitive;
#endif

// The user folders of the emulator and its forks, by the folder name each keeps its data
// under, with the name shown for it.
struct TEmulatorFolder {
    const char* Name;
    const char* Linux;   // below $XDG_DATA_HOME
    const char* Windows; // below %APPDATA%
};
constexpr TEmulatorFolder kEmulatorFolders[] = {
    {"Azahar", "azahar-emu", "Azahar"},
    {"Lime3DS", "lime3ds-emu", "Lime3DS"},
    {"Citra", "citra-emu", "Citra"},
};
// Flatpak keeps an application's data below ~/.var/app/<id>/data.
constexpr const char* kAzaharFlatpak = ".var/app/org.azahar_emu.Azahar/data/azahar-emu";

// Mod folders sit in load/mods of the user folder; the SD card's in luma/titles.
constexpr const char* kModsBelowUser = "load/mods";
constexpr const char* kModsOnCard = "luma/titles";

qint64 FreeBytesAt(const QString& path) {
    // The folder may not exist yet: ask about the nearest one that does.
    QString existing = path;
    while (!existing.isEmpty() && !QFileInfo(existing).isDir()) {
        const QString parent = QFileInfo(existing).path();
        if (parent == existing)
            break;
        existing = parent;
    }
    const QStorageInfo storage(existing);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

QString Joined(const QString& folder, const char* below) {
    return QDir::cleanPath(folder + QLatin1Char('/') + QLatin1String(below));
}

struct TUserFolder {
    QString Name;
    QString Path;
};

// The user folders of the installed emulators' kinds, by the environment of `inputs`.
std::vector<TUserFolder> UserFolders(const TPlaceInputs& inputs) {
    std::vector<TUserFolder> folders;
    for (const TEmulatorFolder& folder : kEmulatorFolders) {
        folders.push_back({QLatin1String(folder.Name),
                           inputs.AppData.isEmpty() ? Joined(inputs.DataHome, folder.Linux)
                                                    : Joined(inputs.AppData, folder.Windows)});
    }
    if (inputs.AppData.isEmpty())
        folders.push_back(
            {QStringLiteral("Azahar (Flatpak)"), Joined(inputs.Home, kAzaharFlatpak)});
    return folders;
}

} // namespace

TPlaceInputs SystemFolderInputs(const QStringList& emulators) {
    TPlaceInputs inputs;
    inputs.Home = QDir::homePath();
    inputs.DataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (inputs.DataHome.isEmpty())
        inputs.DataHome = inputs.Home + QStringLiteral("/.local/share");
    inputs.AppData = qEnvironmentVariable("APPDATA");
    inputs.Emulators = emulators;
    return inputs;
}

QStringList EmulatorUserFolders(const TPlaceInputs& inputs) {
    QStringList paths;
    for (const TUserFolder& folder : UserFolders(inputs))
        paths << folder.Path;
    return paths;
}

TPlaceInputs SystemPlaceInputs(const QStringList& emulators) {
    TPlaceInputs inputs = SystemFolderInputs(emulators);
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady() && !volume.isReadOnly())
            inputs.Volumes.push_back({volume.rootPath(), volume.displayName()});
    }
    return inputs;
}

std::vector<TPlace> FindPlaces(const TPlaceInputs& inputs) {
    std::vector<TPlace> places;
    const auto add = [&](TPlaceKind kind, const QString& name, const QString& path) {
        for (const TPlace& place : places) {
            if (place.Path == path)
                return;
        }
        places.push_back({kind, name, path, FreeBytesAt(path)});
    };
    // A portable installation keeps its user folder beside the program.
    for (const QString& emulator : inputs.Emulators) {
        const QFileInfo info(emulator);
        const QString user = (info.isDir() ? info.absoluteFilePath() : info.absolutePath()) +
                             QStringLiteral("/user");
        if (QFileInfo(user).isDir())
            add(TPlaceKind::Emulator, info.fileName(), Joined(user, kModsBelowUser));
    }
    for (const TUserFolder& user : UserFolders(inputs)) {
        if (QFileInfo(user.Path).isDir())
            add(TPlaceKind::Emulator, user.Name, Joined(user.Path, kModsBelowUser));
    }
    for (const TVolume& volume : inputs.Volumes) {
        const QString root = volume.Root;
        if (QFileInfo(FindEntryNoCase(root, QStringLiteral("Nintendo 3DS"))).isDir() ||
            QFileInfo(FindEntryNoCase(root, QStringLiteral("luma"))).isDir())
            add(TPlaceKind::SdCard, volume.Name.isEmpty() ? root : volume.Name,
                Joined(root, kModsOnCard));
    }
    return places;
}

QString PlaceKindName(TPlaceKind kind) {
    return kind == TPlaceKind::SdCard ? QStringLiteral("sdcard") : QStringLiteral("emulator");
}

const TPlace* PlaceOf(const std::vector<TPlace>& places, const QString& path) {
    const QString wanted = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    for (const TPlace& place : places) {
        if (wanted.compare(place.Path, kPathCase) == 0 ||
            wanted.startsWith(place.Path + QLatin1Char('/'), kPathCase))
            return &place;
    }
    return nullptr;
}

QString ModDestinationEntry(const TPlace* place, const QString& folder,
                            const TLanguageTable& texts) {
    const char* key = !place                              ? "ModDestinationFolder"
                      : place->Kind == TPlaceKind::SdCard ? "ModDestinationSdCard"
                                                          : "ModDestinationEmulator";
    return texts.Lookup(QLatin1String(key)) + QStringLiteral("\r\n[") +
           (place ? place->Name + QStringLiteral(": ") : QString()) +
           QDir::toNativeSeparators(folder) + QLatin1Char(']');
}

TUpdateSearch FindInstalledUpdate(const TPlace& place, const QString& title_id) {
    TUpdateSearch search;
    // Updates are titles of the high half 0004000E with the game's low half.
    if (title_id.size() != 16)
        return search;
    const QString low = title_id.right(8).toLower();
    // The card's root holds luma/titles, the user folder load/mods: both two levels up.
    const QString base = QDir::cleanPath(place.Path + QStringLiteral("/../.."));
    const QString root =
        place.Kind == TPlaceKind::SdCard ? base : FindEntryNoCase(base, QStringLiteral("sdmc"));
    const QString nintendo = FindEntryNoCase(root, QStringLiteral("Nintendo 3DS"));
    const QFileInfo info(nintendo);
    if (!info.exists())
        return search;
    if (!info.isDir() || !info.isReadable()) {
        search.Unreadable = nintendo;
        return search;
    }
    const QDir::Filters folders = QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden;
    for (const QString& id0 : QDir(nintendo).entryList(folders, QDir::Name)) {
        const QString first = nintendo + QLatin1Char('/') + id0;
        for (const QString& id1 : QDir(first).entryList(folders, QDir::Name)) {
            QString folder = first + QLatin1Char('/') + id1;
            for (const QString& name : {QStringLiteral("title"), QStringLiteral("0004000e"), low})
                folder = FindEntryNoCase(folder, name);
            if (QFileInfo(folder).isDir()) {
                search.Folder = folder;
                return search;
            }
        }
    }
    return search;
}

QString InstalledUpdateText(const TPlace& place, const TUpdateSearch& search,
                            const TLanguageTable& texts) {
    if (!search.Unreadable.isEmpty())
        return texts.Lookup(QStringLiteral("ErrorUpdateSearch")) + QStringLiteral("\r\n") +
               QDir::toNativeSeparators(search.Unreadable);
    if (search.Folder.isEmpty())
        return QString();
    const char* key = place.Kind == TPlaceKind::SdCard ? "WarningInstalledUpdateCard"
                                                       : "WarningInstalledUpdateEmulator";
    return texts.Lookup(QLatin1String(key)) + QStringLiteral("\r\n") +
           QDir::toNativeSeparators(search.Folder);
}
