// `places` and the words `emulator` and `sdcard` of `install --output` for a mod folder.

#include "cli/ConsoleText.h"
#include "cli/qvtpatch_modes.h"

#include "desktop/ModFolder.h"
#include "desktop/Places.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString PlaceLine(const TPlace& place) {
    return PlaceKindName(place.Kind) + QLatin1Char('\t') + place.Name + QLatin1Char('\t') +
           place.Path + QLatin1Char('\t') +
           (place.FreeBytes < 0 ? QStringLiteral("-") : QString::number(place.FreeBytes));
}

} // namespace

int ListPlaces(const QStringList& emulators, bool json) {
    TLanguageTable texts;
    if (!LoadTexts(QStringLiteral("English"), texts))
        return kExitFailed;
    const std::vector<TPlace> places = FindPlaces(SystemPlaceInputs(emulators));
    if (json) {
        QJsonArray array;
        for (const TPlace& place : places) {
            QJsonObject object;
            object.insert(QStringLiteral("kind"), PlaceKindName(place.Kind));
            object.insert(QStringLiteral("name"), place.Name);
            object.insert(QStringLiteral("path"), place.Path);
            object.insert(QStringLiteral("freeBytes"),
                          place.FreeBytes < 0 ? QJsonValue() : QJsonValue(place.FreeBytes));
            array.append(object);
        }
        WriteLines(stdout, QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)));
    } else {
        for (const TPlace& place : places)
            WriteLines(stdout, PlaceLine(place));
    }
    if (places.empty()) {
        WriteLines(stderr, texts.Lookup(QStringLiteral("NoModPlaces")));
        return kExitFailed;
    }
    return 0;
}

std::optional<TPlace> ResolveModOutput(QString& output, const QStringList& emulators,
                                       const TLanguageTable& texts, QString& problem) {
    const std::vector<TPlace> places = FindPlaces(SystemPlaceInputs(emulators));
    const bool emulator = output == QLatin1String("emulator");
    if (!emulator && output != QLatin1String("sdcard")) {
        output = QFileInfo(output).absoluteFilePath();
        const TPlace* place = PlaceOf(places, output);
        return place ? std::optional<TPlace>(*place) : std::nullopt;
    }
    const TPlaceKind kind = emulator ? TPlaceKind::Emulator : TPlaceKind::SdCard;
    std::vector<TPlace> found;
    for (const TPlace& place : places) {
        if (place.Kind == kind)
            found.push_back(place);
    }
    if (found.empty()) {
        problem = (emulator ? QStringLiteral("--output emulator: no emulator user folder found.")
                            : QStringLiteral("--output sdcard: no SD card found.")) +
                  QLatin1Char(' ') + texts.Lookup(QStringLiteral("NoModPlaces"));
        return std::nullopt;
    }
    // The first emulator will do; of several cards none is more likely than another.
    if (!emulator && found.size() > 1) {
        problem = QStringLiteral("--output sdcard: several SD cards; give one of these paths:");
        for (const TPlace& place : found)
            problem += QLatin1Char('\n') + PlaceLine(place);
        return std::nullopt;
    }
    output = found.front().Path;
    return found.front();
}

int RemoveMods(QString output, const QString& title_id, const QStringList& emulators,
               const QString& language) {
    TLanguageTable texts;
    if (!LoadTexts(language, texts))
        return kExitUsage;
    QString problem;
    ResolveModOutput(output, emulators, texts, problem);
    if (!problem.isEmpty()) {
        WriteLines(stderr, QStringLiteral("qvtpatch remove-mods: ") + problem);
        return kExitFailed;
    }
    const TModRemoval removal = RemoveModFolder(output, title_id);
    const QString text = ModRemovalText(removal, texts);
    if (removal.Outcome != TModRemoval::TOutcome::Removed) {
        WriteLines(stderr, text);
        return kExitFailed;
    }
    WriteLines(stdout, text);
    return 0;
}
