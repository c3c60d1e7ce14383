// Where mod folders can go, found in a made-up home and on made-up volumes.
#include "core/Places.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

struct TPlacesCase {
    const char* Name;
    QStringList Folders;   // made below the temporary folder
    bool Windows;          // %APPDATA% is the temporary folder's "appdata"
    QStringList Volumes;   // roots below the temporary folder
    QStringList Emulators; // below the temporary folder
    QStringList Expected;  // "kind name path", the path below the temporary folder
};

class PlacesTest : public ::testing::TestWithParam<TPlacesCase> {};

TEST_P(PlacesTest, FindsTheFoldersThatExist) {
    const TPlacesCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const QString& folder : c.Folders)
        ASSERT_TRUE(QDir().mkpath(dir.filePath(folder)));
    TPlaceInputs inputs;
    inputs.Home = dir.filePath("home");
    inputs.DataHome = dir.filePath("home/.local/share");
    inputs.AppData = c.Windows ? dir.filePath("appdata") : QString();
    for (const QString& volume : c.Volumes)
        inputs.Volumes.push_back({dir.filePath(volume), volume});
    for (const QString& emulator : c.Emulators)
        inputs.Emulators << dir.filePath(emulator);

    QStringList found;
    for (const TPlace& place : FindPlaces(inputs)) {
        EXPECT_GT(place.FreeBytes, 0) << place.Path.toStdString();
        found << PlaceKindName(place.Kind) + " " + place.Name + " " +
                     QDir(dir.path()).relativeFilePath(place.Path);
    }
    EXPECT_EQ(found, c.Expected) << found.join(" | ").toStdString();
}

const QString kShare = "home/.local/share/";
const QString kFlatpak = "home/.var/app/org.azahar_emu.Azahar/data/azahar-emu";

INSTANTIATE_TEST_SUITE_P(
    Layouts, PlacesTest,
    ::testing::Values(TPlacesCase{"nothing", {"home", "card"}, false, {"card"}, {}, {}},
                      TPlacesCase{"native and Flatpak, forks in order",
                                  {kShare + "citra-emu", kShare + "azahar-emu", kFlatpak},
                                  false,
                                  {},
                                  {},
                                  {"emulator Azahar home/.local/share/azahar-emu/load/mods",
                                   "emulator Citra home/.local/share/citra-emu/load/mods",
                                   "emulator Azahar (Flatpak) " + kFlatpak + "/load/mods"}},
                      TPlacesCase{"Windows user folder, no Flatpak",
                                  {"appdata/Lime3DS", kFlatpak},
                                  true,
                                  {},
                                  {},
                                  {"emulator Lime3DS appdata/Lime3DS/load/mods"}},
                      TPlacesCase{"portable emulator first",
                                  {"portable/user", kShare + "azahar-emu", "other"},
                                  false,
                                  {},
                                  {"portable/azahar", "other/azahar"},
                                  {"emulator azahar portable/user/load/mods",
                                   "emulator Azahar home/.local/share/azahar-emu/load/mods"}},
                      TPlacesCase{"cards by their folders",
                                  {"a/Nintendo 3DS", "b/luma/titles", "c/DCIM"},
                                  false,
                                  {"a", "b", "c"},
                                  {},
                                  {"sdcard a a/luma/titles", "sdcard b b/luma/titles"}}),
    [](const auto& info) {
        std::string name = info.param.Name;
        for (char& c : name)
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST(PlaceOfTest, AFolderBelowAPlace) {
    const QString titles = QDir::rootPath() + "media/card/luma/titles"; // C:/ on Windows
    const std::vector<TPlace> places = {{TPlaceKind::SdCard, "card", titles, 1}};
    EXPECT_NE(PlaceOf(places, titles + "/"), nullptr);
    EXPECT_NE(PlaceOf(places, titles + "/x"), nullptr);
    EXPECT_EQ(PlaceOf(places, titles + "2"), nullptr);
#if defined(_WIN32)
    EXPECT_NE(PlaceOf(places, titles.toUpper() + "\\x"), nullptr);
#endif
}

} // namespace
