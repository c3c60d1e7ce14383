#include "desktop/Places.h"

#include "desktop/FileTools.h"
#include "desktop/Language.h"

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

// A path of the engine's as the window and the command line show it: '/'-separated, cleaned.
QString PathText(const std::filesystem::path& path) {
    return path.empty() ? QString() : QDir::cleanPath(FromPath(path));
}

engine::TPlaceInputs EngineInputs(const TPlaceInputs& inputs) {
    engine::TPlaceInputs result;
    result.Home = ToPath(inputs.Home);
    result.DataHome = ToPath(inputs.DataHome);
    result.AppData = ToPath(inputs.AppData);
    for (const QString& emulator : inputs.Emulators)
        result.Emulators.push_back(ToPath(emulator));
    for (const TVolume& volume : inputs.Volumes)
        result.Volumes.push_back(
            {ToPath(volume.Root),
             (volume.Name.isEmpty() ? volume.Root : volume.Name).toStdU16String()});
    return result;
}

QString KeyText(std::string_view key, const TLanguageTable& texts) {
    return texts.Lookup(QString::fromLatin1(key.data(), qsizetype(key.size())));
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
    for (const engine::TUserFolder& folder : engine::EmulatorUserFolders(EngineInputs(inputs)))
        paths << PathText(folder.Path);
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
    for (const engine::TPlace& place :
         engine::FindPlaces(EngineInputs(inputs), [](const std::filesystem::path& path) {
             return std::int64_t(FreeBytesAt(PathText(path)));
         }))
        places.push_back({place.Kind, QString::fromStdU16String(place.Name), PathText(place.Path),
                          place.FreeBytes});
    return places;
}

QString PlaceKindName(TPlaceKind kind) {
    return QLatin1String(engine::PlaceKindWord(kind));
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
    return KeyText(engine::ModDestinationKey(place ? &place->Kind : nullptr), texts) +
           QStringLiteral("\r\n[") + (place ? place->Name + QStringLiteral(": ") : QString()) +
           QDir::toNativeSeparators(folder) + QLatin1Char(']');
}

TUpdateSearch FindInstalledUpdate(const TPlace& place, const QString& title_id) {
    const engine::TUpdateSearch found =
        engine::FindInstalledUpdate(place.Kind, ToPath(place.Path), title_id.toStdU16String());
    return {PathText(found.Folder), PathText(found.Unreadable)};
}

QString InstalledUpdateText(const TPlace& place, const TUpdateSearch& search,
                            const TLanguageTable& texts) {
    const engine::TUpdateSearch found{ToPath(search.Folder), ToPath(search.Unreadable)};
    const std::string_view key = engine::InstalledUpdateKey(place.Kind, found);
    if (key.empty())
        return QString();
    return KeyText(key, texts) + QStringLiteral("\r\n") +
           QDir::toNativeSeparators(search.Unreadable.isEmpty() ? search.Folder
                                                                : search.Unreadable);
}
