// The marker of a written mod folder, and removing such a folder again: only what the program
// wrote goes, the earlier folder comes back, anything else is left exactly as it was.

#include "desktop/FileTools.h"
#include "desktop/Language.h"
#include "desktop/ModFolder.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kTitle = "0004000000133300";

void WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A game folder as the run leaves it: two files and the marker naming them.
void WriteOurFolder(const QString& folder) {
    WriteFile(folder + "/romfs/pack.dat", "patched data");
    WriteFile(folder + "/code.bin", "code");
    TModMarker marker{kTitle, "Demo", "1.1", "0.7.1", {}};
    for (const QString& path : FilesBelow(folder))
        marker.Files.push_back(
            {path, QFileInfo(folder + "/" + path).size(), FileMD5Hex(folder + "/" + path)});
    WriteFile(folder + "/" + kModMarkerName, ModMarkerText(marker));
}

// Every file below `root` with its bytes: what "nothing changed" is checked against.
QMap<QString, QByteArray> Snapshot(const QString& root) {
    QMap<QString, QByteArray> files;
    for (const QString& path : FilesBelow(root)) {
        QFile file(root + "/" + path);
        file.open(QIODevice::ReadOnly);
        files.insert(path, file.readAll());
    }
    return files;
}

TEST(ModMarker, ReadsBackWhatWasWritten) {
    const TModMarker marker{
        kTitle,
        "Перевод",
        "1.0 beta",
        "0.7.1",
        {{"romfs/pack.dat", 5000000000, QString(32, 'A')}, {"code.bin", 0, QString(32, '0')}}};
    EXPECT_EQ(ParseModMarker(ModMarkerText(marker)), marker);
}

// The marker's text is written without Qt; Qt's indented JSON, which the first markers were,
// is the measure, for texts that need escapes and for a folder without files.
TEST(ModMarker, IsWrittenAsQtsIndentedJson) {
    const TModMarker markers[] = {
        {kTitle,
         "Перевод \"x\" \\ /",
         "1.0\tbeta\n\x01\x1f\x7f",
         "0.7.1",
         {{"romfs/данные/a b.bin", 5000000000, QString(32, 'A')}, {"code.bin", 0, "0"}}},
        {kTitle, "", "", "0.7.1", {}}};
    for (const TModMarker& marker : markers) {
        QJsonObject object{{"writtenBy", "QVT Patch Tool"},
                           {"format", 1},
                           {"programVersion", marker.ProgramVersion},
                           {"titleId", marker.TitleId},
                           {"patch", marker.Patch},
                           {"patchVersion", marker.PatchVersion}};
        QJsonArray files;
        for (const TModMarkerFile& file : marker.Files)
            files.append(QJsonObject{{"path", file.Path}, {"size", file.Size}, {"md5", file.MD5}});
        object.insert("files", files);
        EXPECT_EQ(ModMarkerText(marker), QJsonDocument(object).toJson(QJsonDocument::Indented));
    }
}

TEST(ModMarker, RefusesWhatIsNotOne) {
    const QByteArray good =
        ModMarkerText({kTitle, "Demo", "1", "0.7.1", {{"a", 1, QString(32, 'B')}}});
    const struct {
        const char* From;
        const char* To;
    } changes[] = {{"\"writtenBy\": \"QVT Patch Tool\"", "\"writtenBy\": \"other\""},
                   {"\"format\": 1", "\"format\": 2"},
                   {"\"path\": \"a\"", "\"path\": \"../a\""},
                   {"\"path\": \"a\"", "\"path\": \"/a\""},
                   {"\"size\": 1", "\"size\": -1"},
                   {"\"size\": 1", "\"size\": 1e300"},
                   {"BBBB", "bbbb"},
                   {"{", "["}};
    ASSERT_TRUE(ParseModMarker(good));
    for (const auto& change : changes) {
        QByteArray text = good;
        ASSERT_TRUE(text.contains(change.From)) << change.From;
        text.replace(change.From, change.To);
        EXPECT_FALSE(ParseModMarker(text)) << change.To;
    }
}

struct TRemoveCase {
    const char* Name;
    std::function<void(const QString& game)> Prepare; // after our folder was written
    bool Previous;                                    // an earlier folder beside it
    TModRemoval::TOutcome Outcome;
    QStringList Files; // what is named as not the program's
};

class ModRemove : public testing::TestWithParam<TRemoveCase> {};

TEST_P(ModRemove, RemovesOnlyWhatTheProgramWrote) {
    const TRemoveCase& row = GetParam();
    QTemporaryDir dir;
    const QString game = dir.path() + "/" + kTitle;
    WriteOurFolder(game);
    if (row.Prepare)
        row.Prepare(game);
    if (row.Previous) {
        WriteFile(dir.path() + "/" + kTitle + " (previous)/romfs/old.bin", "first");
        WriteFile(dir.path() + "/" + kTitle + " (previous) 2/romfs/old.bin", "latest");
    }
    const QMap<QString, QByteArray> before = Snapshot(dir.path());
    EXPECT_EQ(ForeignModFiles(game), row.Files);

    const TModRemoval removal = RemoveModFolder(dir.path(), QString());
    EXPECT_EQ(removal.Outcome, row.Outcome);
    EXPECT_EQ(removal.Files, row.Files);
    if (row.Outcome != TModRemoval::TOutcome::Removed) {
        EXPECT_EQ(Snapshot(dir.path()), before);
        return;
    }
    EXPECT_EQ(removal.Marker->Patch, "Demo");
    QStringList left = QDir(dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (row.Previous) {
        // The latest earlier folder takes the game's place; the older one stays.
        EXPECT_EQ(left, QStringList({kTitle, kTitle + " (previous)"}));
        EXPECT_EQ(Snapshot(game), (QMap<QString, QByteArray>{{"romfs/old.bin", "latest"}}));
    } else {
        EXPECT_TRUE(left.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModRemove,
    testing::Values(
        TRemoveCase{"ours", {}, false, TModRemoval::TOutcome::Removed, {}},
        TRemoveCase{"ours with previous", {}, true, TModRemoval::TOutcome::Removed, {}},
        TRemoveCase{"a file gone",
                    [](const QString& game) { QFile::remove(game + "/code.bin"); },
                    false,
                    TModRemoval::TOutcome::Removed,
                    {}},
        TRemoveCase{"no marker",
                    [](const QString& game) { QFile::remove(game + "/" + kModMarkerName); },
                    true,
                    TModRemoval::TOutcome::Foreign,
                    {"code.bin", "romfs/pack.dat"}},
        TRemoveCase{"changed file",
                    [](const QString& game) { WriteFile(game + "/code.bin", "CODE"); },
                    true,
                    TModRemoval::TOutcome::Foreign,
                    {"code.bin"}},
        TRemoveCase{"file added",
                    [](const QString& game) { WriteFile(game + "/romfs/mine.bin", "x"); },
                    false,
                    TModRemoval::TOutcome::Foreign,
                    {"romfs/mine.bin"}},
        TRemoveCase{"damaged marker",
                    [](const QString& game) { WriteFile(game + "/" + kModMarkerName, "{"); },
                    false,
                    TModRemoval::TOutcome::Foreign,
                    {"code.bin", QString(kModMarkerName), "romfs/pack.dat"}}),
    [](const testing::TestParamInfo<TRemoveCase>& info) {
        std::string name = info.param.Name;
        for (char& c : name)
            c = c == ' ' ? '_' : c;
        return name;
    });

// Which game folder a removal means: the one named, else the only one there.
TEST(ModRemoveChoice, NamedOrTheOnlyOne) {
    QTemporaryDir dir;
    EXPECT_EQ(CheckModRemoval(dir.path(), QString()).Outcome, TModRemoval::TOutcome::NotFound);
    WriteOurFolder(dir.path() + "/" + kTitle);
    WriteOurFolder(dir.path() + "/0004000000138F00");
    const TModRemoval several = CheckModRemoval(dir.path(), QString());
    EXPECT_EQ(several.Outcome, TModRemoval::TOutcome::Several);
    EXPECT_EQ(several.Candidates, QStringList({kTitle, "0004000000138F00"}));
    EXPECT_EQ(CheckModRemoval(dir.path(), "0004000000108800").Outcome,
              TModRemoval::TOutcome::NotFound);
    const TModRemoval named = RemoveModFolder(dir.path(), kTitle.toLower());
    EXPECT_EQ(named.Outcome, TModRemoval::TOutcome::Removed);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList({"0004000000138F00"}));
}

// A message box names the first files and counts the rest; the log names every one.
TEST(ModFileList, CutAfterTheLimit) {
    TLanguageTable texts;
    texts.SetTokens({"ModForeignFilesMore", "and %1 more"});
    const QStringList files = {"a", "b", "c"};
    EXPECT_EQ(FileListText(files, 2, texts), "a\r\nb\r\nand 1 more");
    EXPECT_EQ(FileListText(files, 3, texts), "a\r\nb\r\nc");
    EXPECT_EQ(FileListText(files, 0, texts), "a\r\nb\r\nc");
}

} // namespace
