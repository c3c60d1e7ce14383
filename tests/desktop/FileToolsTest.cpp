// File tools with real programs, real files and real folders.
#include "desktop/FileTools.h"
#include "sound_archive/PieceFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

void Write(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The runner's tests run shell scripts, so they run where there is a POSIX shell; on Windows
// the installs with the real tools exercise it.
#if !defined(_WIN32)
std::uint32_t Shell(const QString& script, const QString& folder = {}) {
    return RunTool("/bin/sh", {"-c", script}, folder);
}

TEST(RunTool, ExitCodesArePassedThrough) {
    EXPECT_EQ(Shell("exit 0"), 0u);
    EXPECT_EQ(Shell("exit 1"), 1u);
    EXPECT_EQ(Shell("exit 2"), 2u);
    EXPECT_EQ(Shell("exit 255"), 255u);
}

TEST(RunTool, BreakGivesTheConsoleBreakCode) {
    EXPECT_EQ(Shell("kill -INT $$"), 0xC000013Au);
    EXPECT_EQ(Shell("kill -TERM $$"), 128u + 15u);
}

TEST(RunTool, WorkingFolder) {
    QTemporaryDir dir;
    EXPECT_EQ(Shell("pwd > where.txt", dir.path()), 0u);
    EXPECT_EQ(Read(dir.filePath("where.txt")).trimmed(),
              QFileInfo(dir.path()).canonicalFilePath().toUtf8());
    // An empty working folder runs the tool in the caller's current folder.
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    EXPECT_EQ(Shell("pwd > here.txt"), 0u);
    QDir::setCurrent(previous);
    EXPECT_EQ(Read(dir.filePath("here.txt")).trimmed(),
              QFileInfo(dir.path()).canonicalFilePath().toUtf8());
}

TEST(RunTool, ArgumentsAreNotSplitByAShell) {
    QTemporaryDir dir;
    EXPECT_EQ(RunTool("/bin/sh",
                      {"-c", "printf '%s|' \"$@\" > args.txt", "sh", "a b", "$HOME", "'q'"},
                      dir.path()),
              0u);
    EXPECT_EQ(Read(dir.filePath("args.txt")), QByteArray("a b|$HOME|'q'|"));
}

TEST(RunTool, MissingProgramThrows) {
    EXPECT_THROW(RunTool("/no/such/tool", {}, {}), TSystemError);
    QTemporaryDir dir;
    Write(dir.filePath("not-executable"), "#!/bin/sh\nexit 0\n");
    EXPECT_THROW(RunTool(dir.filePath("not-executable"), {}, {}), TSystemError);
}

TEST(RunTool, ChattyToolDoesNotBlock) {
    EXPECT_EQ(Shell("head -c 8000000 /dev/zero; head -c 4000000 /dev/zero >&2; exit 3"), 3u);
}
#endif

TEST(FileMD5Hex, KnownDigests) {
    QTemporaryDir dir;
    Write(dir.filePath("empty"), "");
    EXPECT_EQ(FileMD5Hex(dir.filePath("empty")), "D41D8CD98F00B204E9800998ECF8427E");
    Write(dir.filePath("abc"), "abc");
    EXPECT_EQ(FileMD5Hex(dir.filePath("abc")), "900150983CD24FB0D6963F7D28E17F72");
    // Longer than one read buffer.
    Write(dir.filePath("big"), QByteArray(3 * 1024 * 1024 + 7, 'a'));
    EXPECT_EQ(FileMD5Hex(dir.filePath("big")).size(), 32);
    EXPECT_THROW(FileMD5Hex(dir.filePath("missing")), TSystemError);
    EXPECT_THROW(FileMD5Hex(dir.path()), TSystemError);
}

TEST(PadTo64, Values) {
    EXPECT_EQ(PadTo64(0), 0);
    EXPECT_EQ(PadTo64(1), 63);
    EXPECT_EQ(PadTo64(64), 0);
    EXPECT_EQ(PadTo64(0x2020), 32);
    EXPECT_EQ(PadTo64(0xA00), 0);
    EXPECT_EQ(PadTo64(0x350), 48);
    EXPECT_EQ(PadTo64(0x100000001LL), 63);
}

TEST(CopyFolder, MergesIntoTheDestinationIgnoringCase) {
    QTemporaryDir dir;
    Write(dir.filePath("src/romfs/Sound/new.bin"), "new");
    Write(dir.filePath("src/romfs/PACK.DAT"), "patched");
    Write(dir.filePath("src/romfs/deep/a/b.txt"), "b");
    Write(dir.filePath("dst/RomFS/sound/old.bin"), "old");
    Write(dir.filePath("dst/RomFS/pack.dat"), "original");
    EXPECT_TRUE(CopyFolder(dir.filePath("src/romfs"), dir.filePath("dst")));
    EXPECT_EQ(Read(dir.filePath("dst/RomFS/sound/old.bin")), "old");
    EXPECT_EQ(Read(dir.filePath("dst/RomFS/sound/new.bin")), "new");
    EXPECT_EQ(Read(dir.filePath("dst/RomFS/pack.dat")), "patched");
    EXPECT_EQ(Read(dir.filePath("dst/RomFS/deep/a/b.txt")), "b");
    // No second entry in another letter case (listed: Windows finds either spelling).
    const auto names = [&](const char* folder) {
        return QDir(dir.filePath(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    };
    EXPECT_EQ(names("dst"), QStringList{"RomFS"});
    EXPECT_EQ(names("dst/RomFS"), (QStringList{"deep", "pack.dat", "sound"}));
    EXPECT_FALSE(CopyFolder(dir.filePath("missing"), dir.filePath("dst")));
}

TEST(DeleteFolder, RemovesTheTreeButNotWhatLinksPointTo) {
    QTemporaryDir dir;
    Write(dir.filePath("outside/keep.txt"), "keep");
    Write(dir.filePath("temp/a/b/file.bin"), "x");
    ASSERT_TRUE(QFile::link(dir.filePath("outside"), dir.filePath("temp/a/link")));
    ASSERT_TRUE(QFile::link(dir.filePath("outside/keep.txt"), dir.filePath("temp/filelink")));
    EXPECT_TRUE(DeleteFolder(dir.filePath("temp")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("temp")));
    EXPECT_EQ(Read(dir.filePath("outside/keep.txt")), "keep");
    EXPECT_FALSE(DeleteFolder(dir.filePath("temp")));
    // A link to a folder is not a folder to delete.
    ASSERT_TRUE(QFile::link(dir.filePath("outside"), dir.filePath("alias")));
    EXPECT_FALSE(DeleteFolder(dir.filePath("alias")));
    EXPECT_EQ(Read(dir.filePath("outside/keep.txt")), "keep");
}

TEST(FindEntryNoCase, ExactFirstThenAnyCase) {
    QTemporaryDir dir;
    Write(dir.filePath("Voice/x"), "");
    EXPECT_EQ(FindEntryNoCase(dir.path(), "voice"), dir.filePath("Voice"));
    EXPECT_EQ(FindEntryNoCase(dir.path() + "/", "VOICE"), dir.filePath("Voice"));
    EXPECT_EQ(FindEntryNoCase(dir.path(), "none"), dir.filePath("none"));
}

// Names with blanks and letters outside any ANSI code page reach the system unchanged through
// every file and folder helper.
TEST(FilePaths, NamesWithBlanksAndLettersOfAnyScript) {
    QTemporaryDir dir;
    for (const QString& name : {QStringLiteral("plain"), QStringLiteral("Папка с пробелами"),
                                QStringLiteral("日本 語")}) {
        const QString folder = dir.filePath(name);
        const QString piece = folder + "/romfs/" + name + ".bin";
        QDir().mkpath(folder + "/romfs");
        QDir().mkpath(dir.filePath("copy"));
        EXPECT_EQ(FromPath(ToPath(folder)), folder);
        bcsar::WritePiece(ToPath(piece), ByteSpan("piece"));
        bcsar::TByteBuffer read;
        EXPECT_TRUE(bcsar::AppendFileTo(read, ToPath(piece), nullptr)) << name.toStdString();
        EXPECT_EQ(std::string(read.begin(), read.end()), "piece");
        EXPECT_EQ(Read(piece), "piece");
        EXPECT_EQ(FindEntryNoCase(dir.path(), name.toUpper()), folder);
        EXPECT_TRUE(CopyFolder(folder + "/romfs", dir.filePath("copy")));
        EXPECT_EQ(Read(dir.filePath("copy/romfs/" + name + ".bin")), "piece");
        EXPECT_TRUE(DeleteFolder(folder));
        EXPECT_FALSE(QFileInfo::exists(folder));
    }
}

} // namespace
