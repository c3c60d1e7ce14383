// Where mod folders can go, found in a made-up home and on made-up volumes; where key files
// are found among the same emulators' folders.
#include "desktop/Places.h"
#include "desktop/Decryption.h"
#include "desktop/Language.h"

#include <QDir>
#include <QFile>
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

// Key files: the named file first, then the program's keys, then the emulators' sysdata (of
// the same folders the mod places come from); a chosen file brings its partner from beside it.
TEST(KeyFiles, FoundInOrderAndChosenWithTheirPartner) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray data_home = qgetenv("XDG_DATA_HOME");
    const QByteArray app_data = qgetenv("APPDATA");
    const QByteArray share = QFile::encodeName(dir.filePath("share"));
    qputenv("XDG_DATA_HOME", share);
    if (!app_data.isEmpty())
        qputenv("APPDATA", share);
    const QString sysdata =
        EmulatorUserFolders(SystemFolderInputs()).value(1) + QStringLiteral("/sysdata");
    const auto touch = [](const QString& path) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        return file.open(QIODevice::WriteOnly);
    };
    TKeySearch search{dir.filePath("program"), QString(), QString()};
    EXPECT_EQ(FindKeyFiles(search).KeyFile, QString());
    ASSERT_TRUE(sysdata.startsWith(dir.path()) && touch(sysdata + "/aes_keys.txt") &&
                touch(sysdata + "/seeddb.bin"));
    EXPECT_EQ(FindKeyFiles(search).KeyFile, sysdata + "/aes_keys.txt");
    ASSERT_TRUE(touch(dir.filePath("program/keys/aes_keys.txt")));
    EXPECT_EQ(FindKeyFiles(search).KeyFile, dir.filePath("program/keys/aes_keys.txt"));
    EXPECT_EQ(FindKeyFiles(search).SeedDb, sysdata + "/seeddb.bin");

    // Choosing the seed database of sysdata brings its key file; a key file chosen later wins.
    search = WithChosenKeyFile(search, sysdata + "/seeddb.bin");
    EXPECT_EQ(search.KeyFile, sysdata + "/aes_keys.txt");
    ASSERT_TRUE(touch(dir.filePath("mine/aes_keys.txt")));
    search = WithChosenKeyFile(search, dir.filePath("mine/aes_keys.txt"));
    EXPECT_EQ(FindKeyFiles(search).KeyFile, dir.filePath("mine/aes_keys.txt"));
    EXPECT_EQ(FindKeyFiles(search).SeedDb, sysdata + "/seeddb.bin");
    EXPECT_EQ(WithChosenKeyFile({}, dir.filePath("mine/aes_keys.txt")).SeedDb, QString());

    qputenv("XDG_DATA_HOME", data_home);
    if (!app_data.isEmpty())
        qputenv("APPDATA", app_data);
}

// A copy into keys/ that fails leaves the file there as it was; one that succeeds replaces it.
TEST(KeyFiles, CopyingReplacesTheOldFileOnlyWhenWhole) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString kept = dir.filePath("program/keys/aes_keys.txt");
    const auto write = [](const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    const auto read = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    ASSERT_TRUE(write(kept, "# the keys that were there\n"));
    QString problem;
    EXPECT_FALSE(CopyKeyFilesTo({QString(), dir.filePath("gone/aes_keys.txt"), QString()},
                                dir.filePath("program"), problem));
    EXPECT_FALSE(problem.isEmpty());
    EXPECT_EQ(read(kept), QByteArray("# the keys that were there\n"));
    ASSERT_TRUE(write(dir.filePath("mine/keys.txt"), ":AES\n# chosen\n"));
    EXPECT_TRUE(CopyKeyFilesTo({QString(), dir.filePath("mine/keys.txt"), QString()},
                               dir.filePath("program"), problem));
    EXPECT_EQ(read(kept), QByteArray(":AES\n# chosen\n"));
    EXPECT_EQ(QDir(dir.filePath("program/keys")).entryList(QDir::Files),
              QStringList{QStringLiteral("aes_keys.txt")});
}

TEST(InstalledUpdate, FoundOnTheCardAndInTheEmulator) {
    const QString ids = "Nintendo 3DS/0123456789abcdef0123456789abcdef/fedcba9876543210fedcba98";
    const QString update = ids + "/title/0004000e/00133300";
    const struct {
        const char* Name;
        TPlaceKind Kind;
        QStringList Folders; // below the place's root (the card, or the user folder)
        QString File;        // a file made there, if any
        QString Found;
        bool Unreadable;
    } rows[] = {
        {"card with the update", TPlaceKind::SdCard, {update + "/content"}, {}, update, false},
        {"card with another game's update",
         TPlaceKind::SdCard,
         {ids + "/title/0004000e/00099900"},
         {},
         {},
         false},
        {"card with the game only",
         TPlaceKind::SdCard,
         {ids + "/title/00040000/00133300"},
         {},
         {},
         false},
        {"emulator, names in capitals",
         TPlaceKind::Emulator,
         {"sdmc/NINTENDO 3DS/00000000000000000000000000000000/00000000000000000000000000000000/"
          "TITLE/0004000E/00133300"},
         {},
         "sdmc/NINTENDO 3DS/00000000000000000000000000000000/00000000000000000000000000000000/"
         "TITLE/0004000E/00133300",
         false},
        {"emulator without an sdmc", TPlaceKind::Emulator, {update}, {}, {}, false},
        {"Nintendo 3DS not a folder", TPlaceKind::SdCard, {}, "Nintendo 3DS", {}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        QTemporaryDir dir;
        const QString mods = row.Kind == TPlaceKind::SdCard ? "/luma/titles" : "/load/mods";
        ASSERT_TRUE(QDir().mkpath(dir.path() + mods));
        for (const QString& folder : row.Folders)
            ASSERT_TRUE(QDir().mkpath(dir.filePath(folder)));
        if (!row.File.isEmpty()) {
            QFile file(dir.filePath(row.File));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        const TPlace place{row.Kind, "place", dir.path() + mods, -1};
        const TUpdateSearch search = FindInstalledUpdate(place, "0004000000133300");
        EXPECT_EQ(search.Folder.isEmpty() ? QString()
                                          : QDir(dir.path()).relativeFilePath(search.Folder),
                  row.Found);
        EXPECT_EQ(!search.Unreadable.isEmpty(), row.Unreadable);
        const TLanguageTable texts;
        EXPECT_EQ(InstalledUpdateText(place, search, texts).isEmpty(),
                  row.Found.isEmpty() && !row.Unreadable);
    }
}
