// Patch packages and the release keys of the description: hostile packages refused with nothing
// written, an upgrade and a downgrade, and the release keys of a description.
#include "desktop/FileTools.h"
#include "desktop/Language.h"
#include "desktop/PatchCatalogue.h"
#include "desktop/PatchPackage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <zip.h>

#include <functional>
#include <vector>

namespace {

struct TZipEntry {
    QString Name;
    QByteArray Data;
    std::uint32_t UnixMode = 0; // the entry's mode, or 0 for libzip's own
};

// A zip written with libzip exactly as given: names are not cleaned up.
void MakeZip(const QString& path, const std::vector<TZipEntry>& entries) {
    int error = 0;
    zip_t* zip = zip_open(path.toUtf8().constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(zip, nullptr);
    for (const TZipEntry& entry : entries) {
        zip_int64_t index = -1;
        if (entry.Name.endsWith('/')) {
            index = zip_dir_add(zip, entry.Name.chopped(1).toUtf8().constData(), 0);
        } else {
            zip_source_t* source =
                zip_source_buffer(zip, entry.Data.constData(), entry.Data.size(), 0);
            index = zip_file_add(zip, entry.Name.toUtf8().constData(), source, 0);
        }
        ASSERT_GE(index, 0) << zip_strerror(zip);
        if (entry.UnixMode != 0) {
            ASSERT_EQ(zip_file_set_external_attributes(zip, index, 0, ZIP_OPSYS_UNIX,
                                                       entry.UnixMode << 16),
                      0);
        }
    }
    ASSERT_EQ(zip_close(zip), 0);
}

QByteArray Dsc(const QString& title, const QString& version, const QString& extra = {}) {
    return "\xEF\xBB\xBF" + QStringLiteral("Region = EUR\r\nTitle = \"%1\"\r\nDescription = "
                                           "\"About %1\"\r\nVersion = \"%2\"\r\n%3")
                                .arg(title, version, extra)
                                .toUtf8();
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class PackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_texts.LoadFile(QStringLiteral(QVT_LANG_DIR "/English.lng")));
    }
    QString Root() const { return m_dir.filePath("app/patch"); }
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    QStringList RootEntries() const {
        return QDir(Root()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    TAddPatchResult Add(const QString& package, bool answer = false, bool* newer = nullptr,
                        const TPackageLimits& limits = {}) {
        return AddPatchPackage(
            package, Root(), QStringLiteral("English"), m_texts,
            [&](const TInstalledPatch&, const TPatchDescription&, bool is_newer) {
                if (newer != nullptr)
                    *newer = is_newer;
                return answer;
            },
            limits);
    }
    // A patch folder written as a package with the program's own writer.
    QString Package(const QString& name, const QString& title, const QString& version,
                    const QString& file) {
        const QString folder = Path(QStringLiteral("made/") + name);
        QDir().mkpath(folder + "/romfs");
        QFile dsc(folder + "/English.dsc");
        EXPECT_TRUE(dsc.open(QIODevice::WriteOnly));
        dsc.write(Dsc(title, version));
        dsc.close();
        QFile data(folder + "/romfs/" + file);
        EXPECT_TRUE(data.open(QIODevice::WriteOnly));
        data.write(version.toUtf8());
        data.close();
        const QString package = Path(name + ".qvtpatch");
        QString problem;
        EXPECT_TRUE(WritePatchPackage(folder, package, problem)) << problem.toStdString();
        return package;
    }

    QTemporaryDir m_dir;
    TLanguageTable m_texts;
};

TEST_F(PackageTest, HostilePackagesAreRefusedAndLeaveNothing) {
    const QByteArray dsc = Dsc("Hostile", "1.0");
    const QByteArray zeros(64 * 1024, '\0');
    const QString good = Path("good.qvtpatch");
    MakeZip(good, {{"P/English.dsc", dsc}, {"P/romfs/a.bin", zeros}});
    const QByteArray good_bytes = ReadAll(good);
    // The large entry claims 16 bytes in the local header and in the directory alike.
    QByteArray lying = good_bytes;
    for (qsizetype at = lying.indexOf("P/romfs/a.bin"), n = 0; at >= 0;
         at = lying.indexOf("P/romfs/a.bin", at + 1), ++n) {
        const qsizetype size_field = at - (n == 0 ? 30 - 22 : 46 - 24);
        lying.replace(size_field, 4, QByteArray("\x10\0\0\0", 4));
    }
    const TPackageLimits small{4, 1 << 20};
    struct TCase {
        const char* Name;
        std::function<void(const QString&)> Make;
        const char* Key;
        TPackageLimits Limits = {};
    };
    const auto zip = [](std::vector<TZipEntry> entries) {
        return [entries](const QString& path) { MakeZip(path, entries); };
    };
    const auto bytes = [](QByteArray content) {
        return [content](const QString& path) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(content);
        };
    };
    const TCase cases[] = {
        {"not a zip", bytes("PK not really a zip archive"), "PackageNotZip"},
        {"empty file", bytes({}), "PackageNotZip"},
        {"truncated", bytes(good_bytes.left(good_bytes.size() - 30)), "PackageNotZip"},
        {"absolute path", zip({{"/P/English.dsc", dsc}}), "PackageUnsafeName"},
        {"dot dot", zip({{"P/English.dsc", dsc}, {"P/../../evil.txt", "x"}}), "PackageUnsafeName"},
        {"backslash", zip({{"P/English.dsc", dsc}, {"P\\..\\evil.txt", "x"}}), "PackageUnsafeName"},
        {"device name", zip({{"P/English.dsc", dsc}, {"P/romfs/CON.txt", "x"}}),
         "PackageUnsafeName"},
        {"colon", zip({{"P/English.dsc", dsc}, {"P/C:evil", "x"}}), "PackageUnsafeName"},
        {"same name twice", zip({{"P/English.dsc", dsc}, {"P/a.txt", "x"}, {"P/A.TXT", "y"}}),
         "PackageUnsafeName"},
        {"link", zip({{"P/English.dsc", dsc}, {"P/romfs/link", "/etc/passwd", 0120777}}),
         "PackageUnsafeName"},
        {"too many entries",
         zip({{"P/English.dsc", dsc}, {"P/1", "1"}, {"P/2", "2"}, {"P/3", "3"}, {"P/4", "4"}}),
         "PackageTooManyEntries", small},
        {"declared size bomb", zip({{"P/English.dsc", dsc}, {"P/big", QByteArray(2 << 20, 'z')}}),
         "PackageTooLarge", small},
        {"size lying bomb", bytes(lying), "PackageDamagedEntry"},
        {"no description", zip({{"P/romfs/a.txt", "x"}}), "PackageNoDescription"},
        {"description too deep", zip({{"P/sub/English.dsc", dsc}}), "PackageNoDescription"},
        {"two folders", zip({{"P/English.dsc", dsc}, {"Q/English.dsc", dsc}}),
         "PackageNotOneFolder"},
        {"no title", zip({{"P/English.dsc", "Region = EUR\r\n"}}), "PackageNoTitle"},
        {"minimum not a version",
         zip({{"P/English.dsc", Dsc("Hostile", "1.0", "MinimumProgramVersion = soon\r\n")}}),
         "PatchBadProgramVersion"},
        {"needs a newer program",
         zip({{"P/English.dsc", Dsc("Hostile", "1.0", "MinimumProgramVersion = 999.1\r\n")}}),
         "PatchNeedsNewerProgram"},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        const QString path = Path(QString::fromLatin1(test.Name) + ".qvtpatch");
        test.Make(path);
        const TAddPatchResult result = Add(path, true, nullptr, test.Limits);
        EXPECT_EQ(result.Outcome, TAddPatchResult::TOutcome::Refused);
        const QString text = m_texts.Lookup(QLatin1String(test.Key));
        ASSERT_FALSE(text.isEmpty());
        EXPECT_TRUE(result.Problem.startsWith(text.left(text.indexOf(QLatin1Char('%')))))
            << result.Problem.toStdString();
        EXPECT_TRUE(RootEntries().isEmpty()) << RootEntries().join(' ').toStdString();
        EXPECT_FALSE(QFileInfo::exists(m_dir.filePath("evil.txt")));
    }
    // The well-formed one of them goes in, the files unchanged.
    const TAddPatchResult added = Add(good);
    ASSERT_EQ(added.Outcome, TAddPatchResult::TOutcome::Added) << added.Problem.toStdString();
    EXPECT_EQ(ReadAll(Root() + "/Hostile/romfs/a.bin"), zeros);
}

TEST_F(PackageTest, UpgradeReplacesAfterTheQuestionAndKeepsANewerOne) {
    // Another patch holds the title's folder name already: the package takes the next name.
    QDir().mkpath(Root() + "/Packed");
    QFile other(Root() + "/Packed/English.dsc");
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write(Dsc("Some other patch", "3.0"));
    other.close();

    const QString first = Package("Packed 1.0", "Packed", "1.0", "old.txt");
    const QString second = Package("Packed 1.1", "Packed", "1.1", "new.txt");
    const TAddPatchResult added = Add(first);
    ASSERT_EQ(added.Outcome, TAddPatchResult::TOutcome::Added) << added.Problem.toStdString();
    const QString folder = Root() + "/Packed (2)";
    EXPECT_EQ(QFileInfo(added.Folder), QFileInfo(folder));
    EXPECT_EQ(QFileInfo(added.DescriptionPath), QFileInfo(folder + "/English.dsc"));
    EXPECT_EQ(ReadAll(folder + "/romfs/old.txt"), "1.0");

    struct TStep {
        QString Package;
        bool Answer;
        TAddPatchResult::TOutcome Outcome;
        bool Newer;
        const char* Previous;
        const char* File; // the file the folder holds afterwards
    };
    const TStep steps[] = {
        {second, false, TAddPatchResult::TOutcome::Kept, true, "1.0", "old.txt"},
        {second, true, TAddPatchResult::TOutcome::Replaced, true, "1.0", "new.txt"},
        {first, false, TAddPatchResult::TOutcome::Kept, false, "1.1", "new.txt"},
        {second, false, TAddPatchResult::TOutcome::Kept, false, "1.1", "new.txt"},
        {first, true, TAddPatchResult::TOutcome::Replaced, false, "1.1", "old.txt"},
    };
    for (const TStep& step : steps) {
        bool newer = !step.Newer;
        const TAddPatchResult result = Add(step.Package, step.Answer, &newer);
        EXPECT_EQ(result.Outcome, step.Outcome) << result.Problem.toStdString();
        EXPECT_EQ(newer, step.Newer);
        EXPECT_EQ(result.PreviousVersion, QLatin1String(step.Previous));
        EXPECT_EQ(QDir(folder + "/romfs").entryList(QDir::Files),
                  QStringList{QLatin1String(step.File)});
        // No scratch folder stays, and the other patch is untouched.
        EXPECT_EQ(RootEntries(), QStringList({"Packed", "Packed (2)"}));
    }
    EXPECT_EQ(ReadPatchDescription(Root() + "/Packed/English.dsc")->Title, "Some other patch");
    // The writer refuses to overwrite a package.
    QString problem;
    EXPECT_FALSE(WritePatchPackage(Path("made/Packed 1.0"), first, problem));
}

TEST(PatchVersions, ReleaseKeysRoundTripAndFolderNames) {
    TPatchDescription description;
    description.Region = "EUR";
    description.Title = "Release";
    description.Version = "1.2 \"final\"";
    description.Authors = "Group = Team, Someone";
    description.Homepage = "https://example.org/patch?lang=en";
    description.ReleaseDate = "2024-05-01";
    description.MinimumProgramVersion = "0.7";
    QTemporaryDir dir;
    const QString path = dir.filePath("English.dsc");
    ASSERT_TRUE(WritePatchDescription(path, description));
    const auto read = ReadPatchDescription(path);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Version, description.Version);
    EXPECT_EQ(read->Authors, description.Authors);
    EXPECT_EQ(read->Homepage, description.Homepage);
    EXPECT_EQ(read->ReleaseDate, description.ReleaseDate);
    EXPECT_EQ(read->MinimumProgramVersion, description.MinimumProgramVersion);
    EXPECT_EQ(PatchEntryText({"Release", path, "1.2"}), "Release (1.2)");

    const struct {
        const char* Title;
        const char* Folder;
    } names[] = {
        {"My: Patch?", "My_ Patch_"}, {"CON", "_CON"},     {"...", "patch"},
        {".hidden ", "hidden"},       {"a/b\\c", "a_b_c"}, {"Русский перевод", "Русский перевод"},
    };
    for (const auto& row : names)
        EXPECT_EQ(PatchFolderName(QString::fromUtf8(row.Title)), QString::fromUtf8(row.Folder));
}

} // namespace
