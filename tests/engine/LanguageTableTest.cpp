// The language table read from files without Qt: every encoding, the locale's code page, the
// fallbacks of a missing key and files that cannot be read (the desktop layer's LanguageTest covers
// the token rules through the window's adapter).

#include "CtrTestSupport.h"

#include "ctr/Platform.h"
#include "engine/Language.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

struct TTableRow {
    const char* Name;
    std::string File;
    bool Russian; // the locale's code page for an unmarked 8-bit file
    const char* Key;
    const char* Expected; // UTF-8
};

void PrintTo(const TTableRow& row, std::ostream* os) {
    *os << row.Name;
}

// UTF-16 of an ASCII text with its byte-order mark.
std::string Utf16(std::string_view ascii, bool big_endian) {
    std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : ascii)
        bytes += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
    return bytes;
}

class TableRows : public ::testing::TestWithParam<TTableRow> {};

TEST_P(TableRows, LooksUpTheFileAsTheWindowDoes) {
    const TTableRow& row = GetParam();
    const ctr_test::TTempDir dir;
    const fs::path path = dir.Path() / ctr::PathFromUtf8("Русский.lng");
    ctr_test::WriteText(path, row.File);
    engine::TLanguageTable table({u"stale"});
    ASSERT_TRUE(table.LoadFile(path, row.Russian));
    EXPECT_EQ(table.LookupUtf8(row.Key), row.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TableRows,
    ::testing::Values(
        TTableRow{"Utf8Mark", "\xEF\xBB\xBFSave=\"\xD0\xA1\xD0\xB2 x\"\r\n", false, "save",
                  "\xD0\xA1\xD0\xB2 x"},
        TTableRow{"Utf8Unmarked", "Save=\xD0\xA1\xD0\xB2\n", true, "SAVE", "\xD0\xA1\xD0\xB2"},
        TTableRow{"Utf16LittleEndian", Utf16("A=\"one\ntwo\"", false), false, "a", "one\r\ntwo"},
        TTableRow{"Utf16BigEndian", Utf16("A=x\r\nB=y", true), false, "B", "y"},
        TTableRow{"Windows1251", "A=\xCF\xF0\xE8\r\n", true, "A", "\xD0\x9F\xD1\x80\xD0\xB8"},
        TTableRow{"Windows1252", "A=\xCF\xF0\xE8\r\n", false, "A", "\xC3\x8F\xC3\xB0\xC3\xA8"},
        TTableRow{"CyrillicKeyCase", "\xD0\x9A\xD0\x9B=1\r\n", false, "\xD0\xBA\xD0\xBB", "1"},
        TTableRow{"DuplicateKeyFirstWins", "A=1\r\nA=2\r\n", false, "A", "1"},
        TTableRow{"BlankLines", "\r\n\r\n  A  =  1  \r\n\r\n", false, "A", "1"},
        TTableRow{"MissingKeyBuiltIn", "A=1\r\n", false, "VerifyingOutput",
                  "Verifying the output image..."},
        TTableRow{"FileTextBeforeBuiltIn", "VerifyingOutput=Own\r\n", false, "verifyingoutput",
                  "Own"},
        TTableRow{"MissingKeyFirstToken", "First=1\r\n", false, "Other", "First"},
        TTableRow{"EmptyFile", "", false, "A", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(LanguageTable, FileThatCannotBeReadEmptiesTheTable) {
    const ctr_test::TTempDir dir;
    engine::TLanguageTable table({u"A", u"1"});
    EXPECT_FALSE(table.LoadFile(dir.Path() / "missing.lng", false));
    EXPECT_TRUE(table.IsEmpty());
    table.SetTokens({u"A", u"1"});
    EXPECT_FALSE(table.LoadFile(dir.Path(), false));
    EXPECT_TRUE(table.IsEmpty());
    EXPECT_EQ(table.LookupUtf8("A"), "");
    EXPECT_FALSE(engine::ReadTokenFile(dir.Path() / "missing.tls", u':', false));
}

} // namespace
