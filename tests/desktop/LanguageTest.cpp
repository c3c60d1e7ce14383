// Language files: tokens, the key lookup, the encodings and hostile input.
#include "desktop/Language.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

QStringList TokensOf(const QByteArray& bytes) {
    return Tokenize(NormaliseLineEnds(DecodeTextFile(bytes, false)), u'=');
}

TLanguageTable TableOf(const QByteArray& bytes) {
    TLanguageTable table;
    table.SetTokens(TokensOf(bytes));
    return table;
}

struct TLookupRow {
    const char* Name;
    QByteArray File;
    const char* Key;
    QString Expected;
};

class LookupRows : public ::testing::TestWithParam<TLookupRow> {};

TEST_P(LookupRows, YieldsTheTextAfterTheFirstEqualToken) {
    const TLookupRow& row = GetParam();
    EXPECT_EQ(TableOf(row.File).Lookup(QString::fromUtf8(row.Key)), row.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LookupRows,
    ::testing::Values(
        TLookupRow{"SaveIsSave", "Save=Save\r\n", "Save", "Save"},
        TLookupRow{"LowerCaseKey", "Save=Save\r\n", "save", "Save"},
        TLookupRow{"UnquotedTwoWords", "Label0=Interface language\r\n", "Label0", "Interface"},
        TLookupRow{"QuotedTwoWords", "Label0=\"Interface language\"\r\n", "Label0",
                   "Interface language"},
        TLookupRow{"QuotedOverTwoLines", "A=\"one\ntwo\"\nB=x\n", "A", "one\r\ntwo"},
        TLookupRow{"DoubledQuotes", "A=\"say \"\"hi\"\"\"\r\n", "A", "say \"hi\""},
        TLookupRow{"EmptyQuoted", "A=\"\"\r\nB=x\r\n", "A", ""},
        TLookupRow{"NothingBehindEquals", "A=\r\nNext=Text\r\n", "A", "Next"},
        TLookupRow{"MissingKeyGivesFirstToken", "First=1\r\nSecond=2\r\n", "Third", "First"},
        TLookupRow{"TextEqualToKeyFoundFirst", "A=Cancel\r\nB=x\r\nCancel=Stop\r\n", "Cancel", "B"},
        TLookupRow{"TextEqualToLaterKey", "BTNCancel=Cancel\r\nCancel=Stop\r\n", "Cancel",
                   "Cancel"},
        TLookupRow{"LastTokenHasNothingBehind", "A=1\r\nLonely\r\n", "Lonely", ""},
        TLookupRow{"CyrillicKeyCase", "\xEF\xBB\xBF\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87=\xD0\x94\r\n",
                   "\xD0\xBA\xD0\xbb\xD1\x8E\xD1\x87", QString::fromUtf8("\xD0\x94")},
        TLookupRow{"BlankLinesAndSpaces", "\r\n\r\n   A   =   x   \r\n\r\n", "A", "x"},
        TLookupRow{"TwoEqualsGiveEmptyToken", "A==x\r\n", "A", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Lookup, EmptyTableGivesEmptyText) {
    TLanguageTable table;
    EXPECT_EQ(table.Lookup("Anything"), "");
    EXPECT_EQ(LookupToken({}, "Anything"), "");
    EXPECT_EQ(ValueOfKey({"A", "1"}, "B"), "");
    EXPECT_EQ(LookupToken({"A", "1"}, "B"), "A");
}

QByteArray Utf16(const QString& text, bool big_endian) {
    QByteArray bytes = big_endian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    for (QChar c : text) {
        const char hi = static_cast<char>(c.unicode() >> 8);
        const char lo = static_cast<char>(c.unicode() & 0xFF);
        bytes.append(big_endian ? hi : lo);
        bytes.append(big_endian ? lo : hi);
    }
    return bytes;
}

TEST(Encodings, AllFourGiveTheSameTokens) {
    const QString text =
        QStringLiteral("Key=\"Caf\u00e9 text\"\r\nSecond=Word\r\nThird=\"a\r\nb\"\r\n");
    const QStringList expected = {"Key", "Caf\u00e9 text", "Second", "Word", "Third", "a\r\nb"};
    EXPECT_EQ(TokensOf(Utf16(text, false)), expected);
    EXPECT_EQ(TokensOf(Utf16(text, true)), expected);
    EXPECT_EQ(TokensOf("\xEF\xBB\xBF" + text.toUtf8()), expected);
    EXPECT_EQ(TokensOf(text.toLatin1()), expected); // the 8-bit code page
    // Line ends of every kind come out as CR LF.
    EXPECT_EQ(TokensOf("Third=\"a\rb\"\nX=1"), QStringList({"Third", "a\r\nb", "X", "1"}));
    EXPECT_EQ(TokensOf(QString("T=\"a\u2028b\"").toUtf8()), QStringList({"T", "a\r\nb"}));
}

TEST(Robustness, HostileInputNeverCrashes) {
    // A NUL ends the text; a lone quote runs to the end and loses the final character.
    EXPECT_EQ(TokensOf(QByteArray("A=1\0B=2\r\n", 9)), QStringList({"A", "1"}));
    EXPECT_EQ(TokensOf("A=\"open text"), QStringList({"A", "open text\r"}));
    const QStringList lone = TokensOf("\"");
    ASSERT_EQ(lone.size(), 1);
    EXPECT_EQ(lone.first(), "\r"); // the joined text is a quote and CR LF: LF is lost
    EXPECT_EQ(TokensOf("NoLineEnd=Value"), QStringList({"NoLineEnd", "Value"}));
    // Raw text handed to the tokenizer directly ends at its NUL too (it used to spin there).
    EXPECT_EQ(Tokenize(QStringLiteral("A=1\r\n") + QChar(0) + QStringLiteral("B=2\r\n"), u'='),
              QStringList({"A", "1"}));
    EXPECT_EQ(Tokenize(QStringLiteral("A") + QChar(0), u':'), QStringList({"A"}));
    EXPECT_EQ(TokensOf(""), QStringList());
    EXPECT_EQ(TokensOf("\xFF\xFE"), QStringList());
    TokensOf("\xFF\xFE"
             "A\0=\0x"); // truncated UTF-16
    TokensOf("\xFE\xFF\0A\0");
    TokensOf("=");
    TokensOf("===");
    std::mt19937 random(12345);
    for (int round = 0; round < 300; ++round) {
        QByteArray bytes(static_cast<int>(random() % 200), '\0');
        for (char& b : bytes)
            b = static_cast<char>(random() % 256);
        if (round % 3 == 0)
            bytes.prepend("\xFF\xFE");
        const QStringList tokens = TokensOf(bytes);
        TLanguageTable table;
        table.SetTokens(tokens);
        table.Lookup("Key");
    }
}

TEST(Files, ReadTokenFileAndLanguageNames) {
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("lang/x.lng"));
    QDir().mkpath(dir.filePath("lang/sub"));
    QFile english(dir.filePath("lang/English.LNG"));
    ASSERT_TRUE(english.open(QIODevice::WriteOnly));
    english.write("\xEF\xBB\xBF"
                  "Save=Save\r\n");
    english.close();
    QFile hidden(dir.filePath("lang/.Hidden.lng"));
    ASSERT_TRUE(hidden.open(QIODevice::WriteOnly));
    hidden.close();
    EXPECT_EQ(FindLanguageNames(dir.path()), QStringList{"English"});
    TLanguageTable table;
    EXPECT_TRUE(table.LoadFile(LanguageFilePath(dir.path() + "/", "English")));
    EXPECT_EQ(table.Lookup("save"), "Save");
    EXPECT_FALSE(table.LoadFile(LanguageFilePath(dir.path() + "/", "x")));
    // Names that step out of the lang folder read nothing.
    EXPECT_FALSE(table.LoadFile(LanguageFilePath(dir.path() + "/", "../lang/English")));
    EXPECT_FALSE(table.LoadFile(LanguageFilePath(dir.path() + "/", "")));
    EXPECT_TRUE(table.IsEmpty());
    QStringList tokens{"stale"};
    EXPECT_FALSE(ReadTokenFile(dir.filePath("lang/missing.lng"), u'=', tokens));
    EXPECT_FALSE(ReadTokenFile(dir.filePath("lang"), u'=', tokens));
}

TEST(Files, ShippedLanguageFilesHaveEveryKey) {
    const char* keys[] = {"GroupBox1",
                          "GroupBox2",
                          "BTNInstallPatch",
                          "BTNCancel",
                          "BTNMusicChange",
                          "DescriptionDefault",
                          "Label0",
                          "Label1",
                          "Label2",
                          "Label3",
                          "RadioGroup2",
                          "RadioGroup2BTN1",
                          "RadioGroup2BTN2",
                          "RadioGroup2BTN3",
                          "Form2Caption",
                          "Save",
                          "Cancel",
                          "CBShowSame",
                          "CBApplyDirectly",
                          "CBApplyDirectlyHint",
                          "MainMenu",
                          "Missing3dstool",
                          "Missingctrtool",
                          "Missingmakerom",
                          "MessageDiskFreeSpace",
                          "CurrentDrive",
                          "FreeSpace",
                          "ErrorLoadingROM",
                          "ErrorNOTCIAROM",
                          "ErrorNOT3DSROM",
                          "ErrorNOTCXIROM",
                          "ErrorWrongROM",
                          "LogEncrypted",
                          "LogEncryptedWillDecrypt",
                          "LogEncryptedNoKeys",
                          "LogEncryptedKeyProblem",
                          "LogEncryptedGodMode9",
                          "DecryptingSource",
                          "ErrorDecryptingSource",
                          "EncryptedChooseKeys",
                          "ChooseKeyFile",
                          "KeyFilesCopyQuestion",
                          "KeyFilesCopy",
                          "ErrorCopyingKeyFiles",
                          "ErrorApplyDirectlyEncrypted",
                          "LoadDescError",
                          "Console",
                          "Emulator",
                          "CardImage",
                          "EmulatorCompressed",
                          "None",
                          "FitMarkFits",
                          "FitMarkDiffers",
                          "FitMarkInstalled",
                          "StartPatching",
                          "CancelInstall",
                          "ErrorFolderDelete",
                          "ErrorFolderCreate",
                          "ExtractingNCCH",
                          "ErrorExtractingNCCH",
                          "Done",
                          "UnkctrtoolError",
                          "ExtractingExeFS",
                          "ErrorExtractingExeFs",
                          "ExtractingRomFS",
                          "ErrorExtractingRomFS",
                          "UnpackingRomFS",
                          "ErrorUnpackingRomFS",
                          "InstallCanceled",
                          "ExtractingCXIHeaders",
                          "ErrorExtractingCXIHeaders",
                          "Unk3dstoolError",
                          "ExtractingExeFSHeaders",
                          "ErrorExtractingExeFSHeaders",
                          "ErrorDeleteTempFile",
                          "CheckingMD5PackDat",
                          "ErrorCheckingMD5PackDat",
                          "MD5Matched",
                          "MD5NotMatched",
                          "FitChecking",
                          "FitChecked",
                          "FitCheckFailed",
                          "PatchDoesNotFit",
                          "PatchDigestLine",
                          "PatchAlreadyInstalled",
                          "CheckingMD5PackInc",
                          "ErrorCheckingMD5PackInc",
                          "ErrorMovingPackDat",
                          "ApplyingXdelta",
                          "ErrorApplyingXdelta",
                          "UnkXdeltaError",
                          "ErrorCopyingExeFsFolder",
                          "ErrorCopyingRomFsFolder",
                          "WarningApplyingVoice",
                          "RebuildingExeFS",
                          "ErrorRebuildingExeFS",
                          "RebuildingRomFS",
                          "ErrorRebuildingRomFS",
                          "RebuildingCXI",
                          "ErrorRebuildingCXI",
                          "RebuildingCIA",
                          "ErrorRebuildingCIA",
                          "UnkMakeromError",
                          "Rebuilding3DS",
                          "ErrorRebuilding3DS",
                          "CompressingOutput",
                          "ErrorCompressingOutput",
                          "PatchingSuccessful",
                          "ApplyingVoice",
                          "WarningLoadingBcsar",
                          "WarningCopyingSoundFiles",
                          "ChangingMusic",
                          "WarningUnknownTrack",
                          "WarningPackingBcsar",
                          "ErrorTrackListFormat",
                          "ErrorReadingTracks",
                          "ErrorOutputIsSource",
                          "VerifyingOutput",
                          "ErrorVerifyingOutput",
                          "WarningDiskSpace"};
    for (const char* name : {"English", "Русский"}) {
        QFile file(QStringLiteral(QVT_LANG_DIR "/") + QString::fromUtf8(name) + ".lng");
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        const QByteArray bytes = file.readAll();
        EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF")) << name;
        EXPECT_EQ(bytes.count("\n"), bytes.count("\r\n")) << name;
        const QStringList tokens = TokensOf(bytes);
        for (const char* key : keys) {
            // The key's own entry is the first token equal to it: no text shadows it.
            const qsizetype at = tokens.indexOf(QRegularExpression(
                QStringLiteral("^%1$").arg(key), QRegularExpression::CaseInsensitiveOption));
            ASSERT_GE(at, 0) << name << " lacks " << key;
            EXPECT_EQ(at % 2, 0) << name << ": a text equals the key " << key;
            EXPECT_FALSE(tokens.value(at + 1).isEmpty()) << name << " " << key;
        }
    }
}

} // namespace
