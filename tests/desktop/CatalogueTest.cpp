// The patch catalogue, the output choices, the start-up checks and the description text.
#include "desktop/DescriptionText.h"
#include "desktop/FileTools.h"
#include "desktop/PatchCatalogue.h"
#include "desktop/Startup.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void WriteText(const QString& path, const QString& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("\xEF\xBB\xBF" + text.toUtf8());
}

QString Dsc(const QString& title, const QString& region) {
    return QStringLiteral("Title=\"%1\"\r\nRegion=%2\r\nDescription=\"About %1\"\r\n"
                          "OriginalPackDatMD5=AAAA\r\nOriginalPackIncMD5=BBBB\r\n")
        .arg(title, region.isEmpty() ? QStringLiteral("\"\"") : region);
}

class CatalogueTest : public ::testing::Test {
protected:
    QString Root() const { return m_dir.filePath("patch"); }
    std::vector<TPatchEntry> Scan(const QString& language, const QString& region) const {
        return ScanPatchFolders(Root(), true, QStringLiteral(".dsc"), language, region);
    }
    static QStringList Titles(const std::vector<TPatchEntry>& entries) {
        QStringList titles;
        for (const auto& entry : entries)
            titles.append(entry.Title);
        return titles;
    }
    QTemporaryDir m_dir;
};

TEST_F(CatalogueTest, RegionFilterKeepsMatchingAndRegionFreePatches) {
    WriteText(Root() + "/A/English.dsc", Dsc("Patch A", "EUR"));
    WriteText(Root() + "/B/English.dsc", Dsc("Patch B", "USA"));
    WriteText(Root() + "/C/English.dsc", Dsc("Patch C", ""));
    const auto entries = Scan("English", "EUR");
    EXPECT_EQ(Titles(entries), QStringList({"Patch A", "Patch C"}));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].DescriptionPath, Root() + "/A/English.dsc");
    EXPECT_EQ(entries[1].DescriptionPath, Root() + "/C/English.dsc");
    EXPECT_EQ(Titles(Scan("English", "USA")), QStringList({"Patch B", "Patch C"}));
}

TEST_F(CatalogueTest, DescriptionOfTheLanguageIsPreferred) {
    WriteText(Root() + "/P/English.dsc", Dsc("In English", ""));
    WriteText(Root() + "/P/Русский.dsc", Dsc("По-русски", ""));
    EXPECT_EQ(Titles(Scan("English", "EUR")), QStringList{"In English"});
    EXPECT_EQ(Titles(Scan("Русский", "EUR")), QStringList{"По-русски"});
    EXPECT_EQ(Titles(Scan("русский", "EUR")), QStringList{"По-русски"});
    EXPECT_EQ(Titles(Scan("Deutsch", "EUR")), QStringList{"In English"});
}

TEST_F(CatalogueTest, OrderHiddenDepthAndRootPatch) {
    WriteText(Root() + "/beta/x.dsc", Dsc("beta", ""));
    WriteText(Root() + "/Alpha/x.DSC", Dsc("Alpha", ""));
    WriteText(Root() + "/Gamma/deeper/x.dsc", Dsc("too deep", ""));
    WriteText(Root() + "/.hidden/x.dsc", Dsc("hidden folder", ""));
    WriteText(Root() + "/Delta/.x.dsc", Dsc("hidden file", ""));
    WriteText(Root() + "/Epsilon/readme.txt", "no description");
    WriteText(Root() + "/root.dsc", Dsc("at the root", ""));
    EXPECT_EQ(Titles(Scan("English", "EUR")), QStringList({"Alpha", "beta", "at the root"}));
}

TEST_F(CatalogueTest, UnreadableDescriptionAddsNoEntryAndMissingKeysAreEmpty) {
    WriteText(Root() + "/A/English.dsc", "Title=OnlyTitle\r\n");
    QDir().mkpath(Root() + "/B/English.dsc"); // a folder where the file should be
    WriteText(Root() + "/C/x.dsc", Dsc("C", ""));
    QFile::setPermissions(Root() + "/C/x.dsc", QFileDevice::Permissions());
    const bool readable = QFile(Root() + "/C/x.dsc").open(QIODevice::ReadOnly); // root reads all
    const auto entries = Scan("English", "EUR");
    EXPECT_EQ(Titles(entries),
              readable ? QStringList({"OnlyTitle", "C"}) : QStringList{"OnlyTitle"});

    const auto description = ReadPatchDescription(Root() + "/A/English.dsc");
    ASSERT_TRUE(description.has_value());
    EXPECT_EQ(description->Title, "OnlyTitle");
    EXPECT_EQ(description->Description, "");
    EXPECT_EQ(description->OriginalPackDatMD5, "");
    EXPECT_FALSE(ReadPatchDescription(Root() + "/missing.dsc").has_value());
}

TEST_F(CatalogueTest, PatchFolderContentIsFoundWithoutRegardToCase) {
    QDir().mkpath(Root() + "/A/Voice");
    WriteText(Root() + "/A/PATCH.xdelta", "x");
    QDir().mkpath(Root() + "/B/patch.xdelta");
    WriteText(Root() + "/B/voice", "a file, not a folder");
    EXPECT_TRUE(PatchHasVoiceFolder(Root() + "/A"));
    EXPECT_TRUE(PatchHasXdelta(Root() + "/A"));
    EXPECT_FALSE(PatchHasVoiceFolder(Root() + "/B"));
    EXPECT_FALSE(PatchHasXdelta(Root() + "/B"));
    EXPECT_EQ(PatchFolderOf(Root() + "/A/English.dsc"), Root() + "/A");
}

TEST(OutputChoice, FiltersByKind) {
    TLanguageTable texts;
    texts.SetTokens({"Console", "Console", "Emulator", "Emulator", "ModFolder", "Mods  (x)",
                     "CardImage", "Card", "EmulatorCompressed", "Emu, z"});
    // The entries users have always had keep their text and place; the new forms follow.
    const QString compressed = "Emu, z (*.zcia)|*.zcia|Emu, z (*.zcxi)|*.zcxi";
    const QString three_ds = "Console (CFW) (*.cia)|*.cia|Emulator (*.cxi)|*.cxi|Console (Sky3DS) "
                             "(*.3ds)|*.3ds|Mods  (x) (*)|*|Card (*.cci)|*.cci|" +
                             compressed + "|Emu, z (*.zcci)|*.zcci|";
    const QString cia =
        "Console (*.cia)|*.cia|Emulator (*.cxi)|*.cxi|Mods  (x) (*)|*|" + compressed;
    const struct {
        const char* SourceKind;
        QString Filter;
        std::vector<QString> Kinds; // of entries 1, 2, ...; none beyond
    } rows[] = {
        {".3ds", three_ds, {".cia", ".cxi", ".3ds", "mods", ".cci", ".zcia", ".zcxi", ".zcci"}},
        {".cci", three_ds, {}},
        {".cia", cia, {".cia", ".cxi", "mods", ".zcia", ".zcxi"}},
        {".cxi", cia, {}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(OutputFilter(row.SourceKind, texts), row.Filter) << row.SourceKind;
        // The kind comes from the entry's place, whatever its description says.
        for (int index = 0; index <= int(row.Kinds.size()) + 1 && !row.Kinds.empty(); ++index) {
            const QString kind =
                index >= 1 && index <= int(row.Kinds.size()) ? row.Kinds[index - 1] : QString();
            EXPECT_EQ(OutputKindOfFilter(row.Filter, index), kind) << row.SourceKind << index;
        }
    }
}

TEST(OutputChoice, DisplayTextAddsTheKindOnlyWhenTheNameHasNone) {
    EXPECT_EQ(OutputDisplayText("/o/out", ".cia"), "/o/out.cia");
    EXPECT_EQ(OutputDisplayText("/o/out.cxi", ".cia"), "/o/out.cxi");
    EXPECT_EQ(OutputDisplayText("/o/out.3ds", ".cxi"), "/o/out.3ds");
    EXPECT_EQ(OutputDisplayText("/o/out.CIA", ".cia"), "/o/out.CIA.cia");
    EXPECT_EQ(OutputDisplayText("/o.d/out", ".cxi"), "/o.d/out.cxi");
    EXPECT_EQ(OutputDisplayText("", ".cia"), "");
    EXPECT_EQ(OutputDisplayText("/o/mods", "mods"), "/o/mods");
    EXPECT_EQ(OutputDisplayText("/o/out.zcci", ".cia"), "/o/out.zcci");
    EXPECT_EQ(OutputDisplayText("/o/out.cci", ".zcci"), "/o/out.cci");
    EXPECT_EQ(OutputDisplayText("/o/out.mods", ".zcxi"), "/o/out.mods.zcxi");
}

struct TFormatRow {
    double Value;
    const char* Text;
};
class FreeSpaceFormat : public ::testing::TestWithParam<TFormatRow> {};
TEST_P(FreeSpaceFormat, GeneralFormatWithFourDigits) {
    EXPECT_EQ(FormatGeneral4(GetParam().Value, "."), QLatin1String(GetParam().Text));
}
INSTANTIATE_TEST_SUITE_P(
    Rows, FreeSpaceFormat,
    ::testing::Values(TFormatRow{123.44, "123.4"}, TFormatRow{1234.56, "1235"},
                      TFormatRow{0.5, "0.5"}, TFormatRow{0, "0"}, TFormatRow{1, "1"},
                      TFormatRow{100, "100"}, TFormatRow{9999.4, "9999"},
                      TFormatRow{9999.6, "1E+004"}, TFormatRow{12346, "1.235E+004"},
                      TFormatRow{0.0001234, "0.0001234"}, TFormatRow{0.00001, "0.00001"},
                      TFormatRow{0.000001234, "1.234E-006"}, TFormatRow{79.6449, "79.64"}));

TEST(FreeSpace, LocaleSeparatorAndGibibytes) {
    EXPECT_EQ(FormatGeneral4(123.44, ","), "123,4");
    EXPECT_EQ(FormatGibibytes(std::int64_t(3) << 29, "."), "1.5");
    EXPECT_EQ(FormatGibibytes(std::int64_t(1234) << 30, "."), "1234");
    const auto space = FreeSpaceOf(QDir::tempPath());
    ASSERT_TRUE(space.has_value());
    // The root in the system's form ("/", "C:\"), above the folder asked about.
    EXPECT_EQ(space->RootPath, QDir::toNativeSeparators(space->RootPath));
    EXPECT_TRUE(QDir::tempPath().startsWith(QDir::fromNativeSeparators(space->RootPath),
                                            Qt::CaseInsensitive));
    EXPECT_FALSE(FreeSpaceOf("/no/such/folder/anywhere").has_value());
}

TEST(ToolCheck, FirstMissingToolIsReportedAndFoldersDoNotCount) {
    QTemporaryDir dir;
    const QString tools = dir.filePath("tools");
    // The names the program starts its tools by ("ctrtool.exe" on Windows).
    const auto tool = [&](const char* name) { return tools + "/" + ToolFileName(name); };
    QDir().mkpath(tools);
    EXPECT_EQ(FirstMissingToolKey(dir.path()), "Missing3dstool");
    QFile(tool("ctrtool")).open(QIODevice::WriteOnly);
    EXPECT_EQ(FirstMissingToolKey(dir.path()), "Missing3dstool");
    QFile(tool("3dstool")).open(QIODevice::WriteOnly);
    EXPECT_EQ(FirstMissingToolKey(dir.path() + "/"), "Missingmakerom");
    QDir().mkpath(tool("makerom"));
    EXPECT_EQ(FirstMissingToolKey(dir.path()), "Missingmakerom");
    QDir().rmdir(tool("makerom"));
    QFile(tool("makerom")).open(QIODevice::WriteOnly);
    QFile::remove(tool("ctrtool"));
    QDir().mkpath(tool("ctrtool"));
    EXPECT_EQ(FirstMissingToolKey(dir.path()), "Missingctrtool");
    QDir().rmdir(tool("ctrtool"));
    QFile(tool("ctrtool")).open(QIODevice::WriteOnly);
    EXPECT_EQ(FirstMissingToolKey(dir.path()), "");
}

TEST(Description, TextIsEscapedAndLinksMarked) {
    const QString html = DescriptionHtml("<b>bold</b> & \"q\"\r\nsee www.example.org/x, "
                                         "https://example.org/a?b=1&c=2.");
    EXPECT_TRUE(html.contains("&lt;b&gt;bold&lt;/b&gt; &amp; &quot;q&quot;<br>see "));
    EXPECT_TRUE(html.contains("<a href=\"http://www.example.org/x\">www.example.org/x</a>, "));
    EXPECT_TRUE(html.contains(
        "<a href=\"https://example.org/a?b=1&amp;c=2\">https://example.org/a?b=1&amp;c=2</a>."));
    EXPECT_FALSE(html.contains("<b>"));
    EXPECT_TRUE(DescriptionHtml("mailto:someone@example.org")
                    .contains("<a href=\"mailto:someone@example.org\">"));
    EXPECT_FALSE(DescriptionHtml("javascript:alert(1) file:///etc/passwd ftp://x").contains("<a "));
    EXPECT_FALSE(DescriptionHtml("just http:// alone").contains("<a "));
}

TEST(Description, OnlyWebAndMailLinksOpen) {
    EXPECT_EQ(OpenableLinkUrl("www.example.org"), QUrl("http://www.example.org"));
    EXPECT_EQ(OpenableLinkUrl("HTTPS://example.org"), QUrl("https://example.org"));
    EXPECT_TRUE(OpenableLinkUrl("mailto:a@example.org").isValid());
    EXPECT_FALSE(OpenableLinkUrl("file:///etc/passwd").isValid());
    EXPECT_FALSE(OpenableLinkUrl("javascript:alert(1)").isValid());
}

} // namespace
