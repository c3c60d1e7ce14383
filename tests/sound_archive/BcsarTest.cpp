// Unpacking and packing the CSAR sound archive against real piece files in a temporary folder.

#include "ctr/Platform.h"
#include "sound_archive/FileBasics.h"
#include "tests/sound_archive/BcsarQt.h"
#include "tests/sound_archive/SyntheticBcsar.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include <cstdio>
#include <map>
#include <unistd.h>

using synth::Get32;
using synth::Set16;
using synth::Set32;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Every entry below `folder`: relative path to content (folders map to "<dir>").
std::map<QString, QByteArray> Tree(const QString& folder) {
    std::map<QString, QByteArray> tree;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(folder).relativeFilePath(path);
        tree[relative] = it.fileInfo().isDir() ? QByteArray("<dir>") : ReadAll(path);
    }
    return tree;
}

// Redirects standard output into a file while alive; Text() ends the capture.
class TStdoutCapture {
public:
    TStdoutCapture() {
        m_file.open();
        std::fflush(stdout);
        m_saved = ::dup(STDOUT_FILENO);
        ::dup2(m_file.handle(), STDOUT_FILENO);
    }
    ~TStdoutCapture() { Text(); }
    QString Text() {
        if (m_saved >= 0) {
            std::fflush(stdout);
            ::dup2(m_saved, STDOUT_FILENO);
            ::close(m_saved);
            m_saved = -1;
            m_file.seek(0);
            m_text = QString::fromUtf8(m_file.readAll());
        }
        return m_text;
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
    QString m_text;
};

class BcsarTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        SetBcsarMessageHandler(
            [this](const std::string& text) { m_boxes << QString::fromStdString(text); });
    }
    void TearDown() override {
        SetBcsarMessageHandler({});
        bcsar::SetPieceWriteHook({});
    }

    // A fresh, empty folder below the temporary one.
    QString Folder(const QString& name) {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(path);
        return path;
    }
    int Unpack(const QByteArray& archive, const QString& folder, QString* log = nullptr) {
        TStdoutCapture capture;
        const int result = UnpackBcsar(archive, folder, 0, true);
        if (log)
            *log = capture.Text();
        return result;
    }
    int Pack(QByteArray& output, const QString& folder, QString* log = nullptr) {
        TStdoutCapture capture;
        const int result = PackBcsar(output, folder, true);
        if (log)
            *log = capture.Text();
        return result;
    }
    QByteArray RoundTrip(const QByteArray& archive) {
        const QString folder = Folder(QStringLiteral("trip"));
        EXPECT_EQ(Unpack(archive, folder), 0);
        QByteArray packed;
        EXPECT_EQ(Pack(packed, folder), 0);
        return packed;
    }
    static QString Clips(const QString& folder) {
        return folder + QStringLiteral("/4_CSAR_FILE/3_CWAR/3_BCWAV");
    }

    QTemporaryDir m_dir;
    QStringList m_boxes;
};

// Unchanged trees pack back byte for byte when the source is stored back to back with a
// CWSD length of 24 modulo 32, whatever the clip lengths.
TEST_F(BcsarTest, RoundTripIsByteIdentical) {
    struct TRow {
        const char* Name;
        std::vector<qsizetype> ClipLengths;
        std::uint32_t CwsdLength;
    };
    const TRow rows[] = {
        {"every padding case", {1, 8, 16, 24, 31, 32, 33, 40, 7, 64, 100}, 56},
        {"no clips", {}, 24},
        {"empty clips", {0, 24, 0}, 88},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        synth::TLayout layout;
        for (std::size_t i = 0; i < row.ClipLengths.size(); ++i)
            layout.Clips.push_back(synth::Pattern(row.ClipLengths[i], static_cast<int>(i)));
        layout.CwsdLength = row.CwsdLength;
        const synth::TArchive archive = synth::Build(layout);
        EXPECT_EQ(RoundTrip(archive.Bytes), archive.Bytes);
        const QString clips = Clips(m_dir.filePath(QStringLiteral("trip")));
        EXPECT_EQ(QDir(clips).entryList(QDir::Files).size(),
                  static_cast<qsizetype>(layout.Clips.size()));
        for (std::size_t i = 0; i < layout.Clips.size(); ++i)
            EXPECT_EQ(ReadAll(clips + QString::asprintf("/%.3zu.bcwav", i)), layout.Clips[i]);
    }
}

TEST_F(BcsarTest, PiecesHoldExactlyTheirParts) {
    synth::TLayout layout;
    layout.Clips = synth::Clips(2, 40);
    layout.StrgLength = 0x200; // longer than INFO
    layout.InfoLength = 0x44;
    const synth::TArchive archive = synth::Build(layout);
    const QByteArray& bytes = archive.Bytes;
    const QString folder = Folder(QStringLiteral("pieces"));
    ASSERT_EQ(Unpack(bytes, folder), 0);
    const QByteArray file = bytes.mid(archive.FileAt);
    const QByteArray cwar = bytes.mid(archive.CwarAt);
    const std::map<QString, QByteArray> expected = {
        {"1_CSAR_Header.bin", bytes.left(0x40)},
        {"2_CSAR_STRG.bin", bytes.mid(0x40, 0x200)},
        {"3_CSAR_INFO.bin", bytes.mid(0x240, 0x44)},
        {"4_CSAR_FILE.bin", file},
        {"4_CSAR_FILE", "<dir>"},
        {"4_CSAR_FILE/1_FILE_Header.bin", file.left(32)},
        {"4_CSAR_FILE/2_FILE_CWSD.bin", file.mid(32, 56)},
        {"4_CSAR_FILE/3_CWAR.bin", cwar},
        {"4_CSAR_FILE/3_CWAR", "<dir>"},
        {"4_CSAR_FILE/3_CWAR/1_CWAR_Header.bin", cwar.left(0x40)},
        {"4_CSAR_FILE/3_CWAR/2_CWAR_INFO.bin", cwar.mid(0x40, 0x40)},
        {"4_CSAR_FILE/3_CWAR/3_BCWAV", "<dir>"},
        {"4_CSAR_FILE/3_CWAR/3_BCWAV/000.bcwav", layout.Clips[0]},
        {"4_CSAR_FILE/3_CWAR/3_BCWAV/001.bcwav", layout.Clips[1]},
    };
    const std::map<QString, QByteArray> tree = Tree(folder);
    ASSERT_EQ(tree.size(), expected.size());
    for (const auto& [path, content] : expected)
        EXPECT_EQ(tree.at(path), content) << path.toStdString();
}

// The verbose texts are fixed, line by line.
TEST_F(BcsarTest, VerboseMessagesWordForWord) {
    synth::TLayout layout;
    layout.Clips = {synth::Pattern(40, 1), synth::Pattern(33, 2)};
    const QByteArray archive = synth::Build(layout).Bytes;
    const QString f = Folder(QStringLiteral("Sound"));
    const QString w = f + QStringLiteral("/4_CSAR_FILE/3_CWAR");
    QString log;
    ASSERT_EQ(Unpack(archive, f, &log), 0);
    EXPECT_EQ(log, QStringLiteral("CSAR Header saved to [%1/1_CSAR_Header.bin]\n"
                                  "CSAR STRG partition saved to [%1/2_CSAR_STRG.bin]\n"
                                  "CSAR INFO partition saved to [%1/3_CSAR_INFO.bin]\n"
                                  "CSAR FILE partition saved to [%1/4_CSAR_FILE.bin]\n"
                                  "\r\nUnpacking CSAR FILE\n"
                                  "FILE header saved to [%1/4_CSAR_FILE/1_FILE_Header.bin]\n"
                                  "FILE CWSD saved to [%1/4_CSAR_FILE/2_FILE_CWSD.bin]\n"
                                  "CWAR saved to [%1/4_CSAR_FILE/3_CWAR.bin]\n"
                                  "\r\nUnpacking CWAR\n"
                                  "CWAR header saved to [%2/1_CWAR_Header.bin]\n"
                                  "CWAR INFO saved to [%2/2_CWAR_INFO.bin]\n"
                                  "Offset: 00000018; Size: 00000028\n"
                                  "File saved as [000.bcwav]\r\n\n"
                                  "Offset: 00000058; Size: 00000021\n"
                                  "File saved as [001.bcwav]\r\n\n")
                       .arg(f, w));
    QByteArray packed;
    ASSERT_EQ(Pack(packed, f + QLatin1Char('/'), &log), 0);
    EXPECT_EQ(log, QStringLiteral("Packing 3_CWAR\r\n\n"
                                  "File [000.bcwav] imported\n"
                                  "File [001.bcwav] imported\n"
                                  "\r\nCWAR created.\r\n\n"
                                  "Packing 4_CSAR_FILE\r\n\n"
                                  "CSAR_FILE created.\r\n\n"
                                  "Packing Sound.bcsar\r\n\n"));
    TStdoutCapture quiet;
    EXPECT_EQ(UnpackBcsar(archive, f, 0, false), 0);
    EXPECT_EQ(PackBcsar(packed, f, false), 0);
    EXPECT_EQ(quiet.Text(), QString());
    EXPECT_TRUE(m_boxes.isEmpty());
}

// A replaced clip moves every later clip; the table, the CWAR, the FILE partition and the
// archive follow. Clips of 40 bytes take 64 with their padding.
TEST_F(BcsarTest, ReplacedClipMovesLaterClips) {
    struct TRow {
        const char* Name;
        qsizetype NewLength;
        std::uint32_t NewSlot; // the replaced clip's bytes with padding
    };
    for (const TRow& row : {TRow{"shorter", 8, 32}, TRow{"longer", 100, 100}}) {
        SCOPED_TRACE(row.Name);
        synth::TLayout layout;
        layout.Clips = synth::Clips(4, 40);
        const synth::TArchive original = synth::Build(layout);
        const QString folder = Folder(QStringLiteral("replace_%1").arg(row.Name));
        ASSERT_EQ(Unpack(original.Bytes, folder), 0);
        const QByteArray clip = synth::Pattern(row.NewLength, 77);
        WriteAll(Clips(folder) + QStringLiteral("/001.bcwav"), clip);
        QByteArray packed;
        ASSERT_EQ(Pack(packed, folder), 0);

        const qsizetype info = original.CwarInfoAt, block = original.CwarBlockAt;
        const std::uint32_t offsets[] = {24, 88, 88 + row.NewSlot, 88 + row.NewSlot + 64};
        const std::uint32_t lengths[] = {40, static_cast<std::uint32_t>(row.NewLength), 40, 40};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(Get32(packed, info + 12 + 12 * i), 0x1F00u);
            EXPECT_EQ(Get32(packed, info + 16 + 12 * i), offsets[i]) << "clip " << i;
            EXPECT_EQ(Get32(packed, info + 20 + 12 * i), lengths[i]) << "clip " << i;
        }
        const std::uint32_t block_length = 32 + 64 * 3 + row.NewSlot;
        const qsizetype growth = static_cast<qsizetype>(row.NewSlot) - 64;
        EXPECT_EQ(Get32(packed, block + 4), block_length);
        EXPECT_EQ(Get32(packed, original.CwarAt + 40), block_length);
        EXPECT_EQ(Get32(packed, original.CwarAt + 12),
                  Get32(original.Bytes, original.CwarAt + 12) + growth);
        EXPECT_EQ(Get32(packed, original.FileAt + 4),
                  Get32(original.Bytes, original.FileAt + 4) + growth);
        EXPECT_EQ(Get32(packed, 52), Get32(packed, original.FileAt + 4));
        EXPECT_EQ(Get32(packed, 12), static_cast<std::uint32_t>(packed.size()));
        EXPECT_EQ(packed.size(), original.Bytes.size() + growth);
        EXPECT_EQ(packed.mid(block + 8 + 88, row.NewLength), clip);
        EXPECT_EQ(packed.mid(block + 8 + offsets[3], 40), layout.Clips[3]);
        layout.Clips[1] = clip;
        EXPECT_EQ(packed, synth::Build(layout).Bytes);
    }
}

TEST_F(BcsarTest, ZeroClipsGiveEmptyClipFolderAndBareFileBlock) {
    const synth::TArchive archive = synth::Build({});
    const QString folder = Folder(QStringLiteral("zero"));
    ASSERT_EQ(Unpack(archive.Bytes, folder), 0);
    EXPECT_TRUE(QFileInfo(Clips(folder)).isDir());
    EXPECT_TRUE(
        QDir(Clips(folder)).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    QByteArray packed;
    ASSERT_EQ(Pack(packed, folder), 0);
    EXPECT_EQ(packed, archive.Bytes);
    EXPECT_EQ(Get32(packed, archive.CwarBlockAt + 4), 32u);
    EXPECT_EQ(packed.size(), archive.CwarBlockAt + 32);
}

// Clip 1000 is 1000.bcwav, and packing takes the clips in numeric order, so with 1,100 clips
// every clip stays in its slot.
TEST_F(BcsarTest, ThousandsOfClipsKeepTheirSlots) {
    synth::TLayout layout;
    layout.Clips = synth::Clips(1100, 8);
    const QByteArray archive = synth::Build(layout).Bytes;
    EXPECT_EQ(RoundTrip(archive), archive);
    const QString clips = Clips(m_dir.filePath(QStringLiteral("trip")));
    EXPECT_EQ(ReadAll(clips + QStringLiteral("/999.bcwav")), layout.Clips[999]);
    EXPECT_EQ(ReadAll(clips + QStringLiteral("/1000.bcwav")), layout.Clips[1000]);
    EXPECT_EQ(ReadAll(clips + QStringLiteral("/1099.bcwav")), layout.Clips[1099]);
    EXPECT_FALSE(QFile::exists(clips + QStringLiteral("/1100.bcwav")));
}

// The CWSD part is read from the offset its header-length field names, and the CWAR 8 bytes
// after its end.
TEST_F(BcsarTest, CwsdHeaderLengthOtherThan32) {
    synth::TLayout layout;
    layout.Clips = synth::Clips(3, 40);
    layout.CwsdHeaderLength = 0x50;
    layout.CwsdLength = 0x30;
    const synth::TArchive archive = synth::Build(layout);
    const QString folder = Folder(QStringLiteral("cwsd"));
    ASSERT_EQ(Unpack(archive.Bytes, folder), 0);
    EXPECT_EQ(archive.CwarAt - archive.FileAt, 0x50 + 0x30 + 8);
    EXPECT_EQ(ReadAll(folder + QStringLiteral("/4_CSAR_FILE/2_FILE_CWSD.bin")),
              archive.Bytes.mid(archive.FileAt + 0x50, 0x30));
    EXPECT_EQ(ReadAll(folder + QStringLiteral("/4_CSAR_FILE/3_CWAR.bin")),
              archive.Bytes.mid(archive.CwarAt));
    EXPECT_EQ(ReadAll(Clips(folder) + QStringLiteral("/002.bcwav")), layout.Clips[2]);
}

// Packing pads the CWSD part by the alignment rule and puts the CWAR right after it; only for
// a CWSD length of 24 modulo 32 is that the place unpacking reads it from (8 bytes on).
TEST_F(BcsarTest, PackedCwarFollowsPaddedCwsd) {
    struct TRow {
        std::uint32_t CwsdLength;
        qsizetype Pad;
    };
    for (const TRow& row : {TRow{56, 8}, TRow{64, 0}, TRow{40, 24}, TRow{48, 16}, TRow{45, 0}}) {
        SCOPED_TRACE(row.CwsdLength);
        synth::TLayout layout;
        layout.Clips = synth::Clips(2, 40);
        layout.CwsdLength = row.CwsdLength;
        const synth::TArchive archive = synth::Build(layout);
        const QString folder = Folder(QStringLiteral("cwsd_pad"));
        ASSERT_EQ(Unpack(archive.Bytes, folder), 0);
        QByteArray packed;
        ASSERT_EQ(Pack(packed, folder), 0);
        const qsizetype cwar_at = archive.FileAt + 32 + row.CwsdLength + row.Pad;
        EXPECT_EQ(packed.mid(cwar_at, 4), QByteArray("CWAR"));
        EXPECT_EQ(packed.mid(cwar_at), archive.Bytes.mid(archive.CwarAt));
        EXPECT_EQ(packed.size(), archive.Bytes.size() + row.Pad - 8);
        EXPECT_EQ(Get32(packed, 52), Get32(packed, archive.FileAt + 4));
        EXPECT_EQ(Unpack(packed, Folder(QStringLiteral("cwsd_again"))), row.Pad == 8 ? 0 : -1);
    }
}

TEST_F(BcsarTest, MagicMismatchFails) {
    synth::TLayout layout;
    layout.Clips = synth::Clips(2, 40);
    const synth::TArchive archive = synth::Build(layout);
    struct TRow {
        const char* Name;
        qsizetype At;
        int PiecesOnDisk; // top-level files written before the mismatch shows
    };
    const TRow rows[] = {
        {"CSAR", 0, 0},
        {"STRG", 0x40, 1},
        {"INFO", Get32(archive.Bytes, 36), 2},
        {"FILE", archive.FileAt, 3},
        {"CWSD", archive.FileAt + 32, 4},
        {"CWAR", archive.CwarAt, 4},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        QByteArray bytes = archive.Bytes;
        bytes[row.At + 1] = 'x';
        const QString folder = Folder(QStringLiteral("magic_%1").arg(row.Name));
        QString log;
        EXPECT_EQ(Unpack(bytes, folder, &log), -1);
        if (row.At == 0) {
            EXPECT_EQ(log, QStringLiteral("This is not a BCSAR file.\r\n\n"));
        }
        EXPECT_FALSE(log.contains(QStringLiteral("Corrupt")));
        EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), row.PiecesOnDisk);
    }
    EXPECT_TRUE(m_boxes.isEmpty());
}

// A CWAR whose header would not fit in the FILE partition: with a wrong magic that is a plain
// mismatch (no message), with the right one a corrupt archive.
TEST_F(BcsarTest, CwarMagicTestedBeforeItsHeaderFits) {
    synth::TLayout layout;
    layout.Clips = synth::Clips(2, 40);
    const synth::TArchive archive = synth::Build(layout);
    QByteArray bytes = archive.Bytes;
    const std::uint32_t file_length = Get32(bytes, archive.FileAt + 4);
    // The CWAR is then taken to start 8 bytes before the partition's end.
    Set32(bytes, archive.FileAt + 44, file_length - 8 - 8 - 32);
    const qsizetype cwar_at = archive.FileAt + file_length - 8;
    ASSERT_NE(bytes.mid(cwar_at, 4), QByteArray("CWAR"));
    QString log;
    EXPECT_EQ(Unpack(bytes, Folder(QStringLiteral("short_cwar")), &log), -1);
    EXPECT_TRUE(log.endsWith(QStringLiteral("2_FILE_CWSD.bin]\n"))) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("Corrupt"))) << log.toStdString();

    bytes.replace(cwar_at, 4, "CWAR");
    EXPECT_EQ(Unpack(bytes, Folder(QStringLiteral("short_cwar")), &log), -1);
    EXPECT_TRUE(log.endsWith(QStringLiteral("Corrupt sound archive: CWAR header\n")))
        << log.toStdString();
}

// Unpacking replaces 4_CSAR_FILE whole: a second run gives the same tree as one, and clips of
// an earlier, longer archive do not survive.
TEST_F(BcsarTest, UnpackReplacesNestedFolders) {
    synth::TLayout big, small;
    big.Clips = synth::Clips(5, 40);
    small.Clips = synth::Clips(2, 24);
    const QByteArray small_archive = synth::Build(small).Bytes;
    const QString fresh = Folder(QStringLiteral("fresh"));
    ASSERT_EQ(Unpack(small_archive, fresh), 0);
    const std::map<QString, QByteArray> once = Tree(fresh);
    ASSERT_EQ(Unpack(small_archive, fresh), 0);
    EXPECT_EQ(Tree(fresh), once);

    const QString reused = Folder(QStringLiteral("reused"));
    ASSERT_EQ(Unpack(synth::Build(big).Bytes, reused), 0);
    WriteAll(reused + QStringLiteral("/4_CSAR_FILE/stray.bin"), "x");
    WriteAll(reused + QStringLiteral("/4_CSAR_FILE/3_CWAR/3_BCWAV/.hidden"), "x");
    ASSERT_EQ(Unpack(small_archive, reused), 0);
    EXPECT_EQ(Tree(reused), once);
}

// Any offset or length reaching past what holds it is refused before anything is read there.
TEST_F(BcsarTest, OutOfRangeFieldsAreCorrupt) {
    synth::TLayout layout;
    layout.Clips = synth::Clips(3, 40);
    const synth::TArchive a = synth::Build(layout);
    const qsizetype size = a.Bytes.size();
    struct TRow {
        qsizetype At;
        std::uint32_t Value;
        bool Wide; // 32-bit field, else 16-bit
        const char* What;
    };
    const TRow rows[] = {
        {6, 0xFFFF, false, "CSAR header length"},
        {6, 0x30, false, "CSAR header length"},
        {24, 0xFFFFFFFF, true, "STRG partition offset"},
        {28, 0xFFFFFFFF, true, "STRG partition length"},
        {40, static_cast<std::uint32_t>(size), true, "INFO partition length"},
        {48, static_cast<std::uint32_t>(size - 2), true, "FILE partition offset"},
        {52, Get32(a.Bytes, 52) + 1, true, "FILE partition length"},
        {a.FileAt + 38, 0xFFFF, false, "CWSD part"},
        {a.FileAt + 44, 0xFFFFFFF0, true, "CWSD part"},
        {a.FileAt + 44, Get32(a.Bytes, a.FileAt + 4) - 40, true, "CWAR header"},
        {a.CwarAt + 12, 0xFFFFFFFF, true, "CWAR length"},
        {a.CwarAt + 6, 0xFFFF, false, "CWAR header length"},
        {a.CwarAt + 24, 0xFFFFFFF0, true, "CWAR INFO section"},
        {a.CwarAt + 28, 0xFFFFFFFF, true, "CWAR INFO section"},
        {a.CwarAt + 28, 8, true, "CWAR INFO section"},
        {a.CwarInfoAt + 8, 0x15555556, true, "CWAR clip table"},
        {a.CwarAt + 36, 0xFFFFFFFF, true, "clip 000.bcwav"},
        {a.CwarInfoAt + 16 + 24, 0xFFFFFFF8, true, "clip 002.bcwav"},
        {a.CwarInfoAt + 20 + 24, 0xFFFFFFFF, true, "clip 002.bcwav"},
        {a.CwarInfoAt + 20 + 24, 41 + 24, true, "clip 002.bcwav"},
    };
    const QString folder = Folder(QStringLiteral("range"));
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.What);
        QByteArray bytes = a.Bytes;
        if (row.Wide)
            Set32(bytes, row.At, row.Value);
        else
            Set16(bytes, row.At, static_cast<std::uint16_t>(row.Value));
        QString log;
        EXPECT_EQ(Unpack(bytes, folder, &log), -1);
        EXPECT_TRUE(log.endsWith(QStringLiteral("Corrupt sound archive: %1\n").arg(row.What)))
            << log.toStdString();
    }
    EXPECT_TRUE(m_boxes.isEmpty());
}

// An archive cut anywhere fails with a message; one that starts later in its stream unpacks.
TEST_F(BcsarTest, TruncatedArchivesFail) {
    synth::TLayout layout;
    layout.Clips = synth::Clips(2, 40);
    const QByteArray archive = synth::Build(layout).Bytes;
    const QString folder = Folder(QStringLiteral("cut"));
    for (qsizetype cut = 0; cut < archive.size(); ++cut) {
        QString log;
        ASSERT_EQ(Unpack(archive.left(cut), folder, &log), -1) << "cut at " << cut;
        ASSERT_TRUE(cut < 4 ? log == QStringLiteral("This is not a BCSAR file.\r\n\n")
                            : log.contains(QStringLiteral("Corrupt sound archive: ")))
            << "cut at " << cut << ": " << log.toStdString();
    }
    TStdoutCapture capture;
    EXPECT_EQ(UnpackBcsar(QByteArray("junk!") + archive, folder, 5, true), 0);
    EXPECT_EQ(UnpackBcsar(archive, folder, archive.size() + 1, true), -1);
    EXPECT_EQ(UnpackBcsar(archive, folder, -1, true), -1);
    EXPECT_TRUE(capture.Text().endsWith(QStringLiteral("Corrupt sound archive: start position\n")));
}

// Clip files are taken by number, in any letter case; hidden files, folders and files past
// the table's count are not used.
TEST_F(BcsarTest, PackChoosesClipFiles) {
    synth::TLayout layout;
    layout.Clips = synth::Clips(3, 40);
    const QByteArray archive = synth::Build(layout).Bytes;
    const QString folder = Folder(QStringLiteral("choose"));
    ASSERT_EQ(Unpack(archive, folder), 0);
    const QString clips = Clips(folder);
    ASSERT_TRUE(
        QFile::rename(clips + QStringLiteral("/000.bcwav"), clips + QStringLiteral("/0.BCWAV")));
    WriteAll(clips + QStringLiteral("/._000.bcwav"), "hidden");
    WriteAll(clips + QStringLiteral("/.0.bcwav"), "hidden");
    WriteAll(clips + QStringLiteral("/003.bcwav"), "surplus");
    WriteAll(clips + QStringLiteral("/abc.bcwav"), "not a number");
    QDir().mkdir(clips + QStringLiteral("/001.bcwav.d"));
    WriteAll(clips + QStringLiteral("/notes.txt"), "other");
    QByteArray packed;
    ASSERT_EQ(Pack(packed, folder), 0);
    EXPECT_EQ(packed, archive);
}

TEST_F(BcsarTest, PackFailuresLeaveOutputUntouched) {
    synth::TLayout layout;
    layout.Clips = synth::Clips(4, 40);
    const QByteArray archive = synth::Build(layout).Bytes;
    struct TRow {
        const char* Name;
        const char* Piece;  // removed, or replaced by Content
        QByteArray Content; // empty: the piece is removed
        QString Message;
    };
    const QString w = QStringLiteral("4_CSAR_FILE/3_CWAR/");
    const QString loading = QStringLiteral(
        "An error has occured while loading 1_FILE_Header.bin and 2_FILE_CWSD.bin\r\n\n");
    const TRow rows[] = {
        {"missing clip",
         "4_CSAR_FILE/3_CWAR/3_BCWAV/002.bcwav",
         {},
         "Missing clip file 002.bcwav\n"},
        {"missing CWAR header",
         "4_CSAR_FILE/3_CWAR/1_CWAR_Header.bin",
         {},
         "Selected folder doesn't contain BCSAR files.\r\n\n"},
        {"missing CWAR INFO",
         "4_CSAR_FILE/3_CWAR/2_CWAR_INFO.bin",
         {},
         "Selected folder doesn't contain BCSAR files.\r\n\n"},
        {"not INFO", "4_CSAR_FILE/3_CWAR/2_CWAR_INFO.bin", "INF0\0\0\0\0\0\0\0\0",
         "This is not a INFO file\r\n\n"},
        {"clip table past INFO", "4_CSAR_FILE/3_CWAR/2_CWAR_INFO.bin",
         QByteArray("INFO\x20\0\0\0\x03\0\0\0", 12) + QByteArray(20, '\0'),
         "Corrupt sound archive: CWAR clip table\n"},
        {"short CWAR header", "4_CSAR_FILE/3_CWAR/1_CWAR_Header.bin", QByteArray(40, 'h'),
         "Corrupt sound archive: CWAR header\n"},
        {"missing FILE header", "4_CSAR_FILE/1_FILE_Header.bin", {}, loading},
        {"missing CWSD", "4_CSAR_FILE/2_FILE_CWSD.bin", {}, loading},
        {"short CSAR header", "1_CSAR_Header.bin", QByteArray(50, 'h'),
         "Corrupt sound archive: CSAR header\n"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        const QString folder = Folder(QStringLiteral("packfail"));
        ASSERT_EQ(Unpack(archive, folder), 0);
        const QString piece = folder + QLatin1Char('/') + QLatin1String(row.Piece);
        ASSERT_TRUE(QFile::remove(piece));
        if (!row.Content.isEmpty())
            WriteAll(piece, row.Content);
        QByteArray output("untouched");
        QString log;
        EXPECT_EQ(Pack(output, folder, &log), -1);
        EXPECT_TRUE(log.endsWith(row.Message)) << log.toStdString();
        EXPECT_EQ(output, QByteArray("untouched"));
    }
    EXPECT_TRUE(m_boxes.isEmpty());
}

// A clip that cannot be read raises the "Cannot load" box, verbose or not.
TEST_F(BcsarTest, UnreadableClipRaisesMessageBox) {
    synth::TLayout layout;
    layout.Clips = synth::Clips(3, 40);
    const QString folder = Folder(QStringLiteral("unreadable"));
    ASSERT_EQ(Unpack(synth::Build(layout).Bytes, folder), 0);
    const QString clip = Clips(folder) + QStringLiteral("/001.bcwav");
#if defined(_WIN32)
    // Held open without sharing, as a virus scanner may: every other open is refused.
    const HANDLE held = CreateFileW(reinterpret_cast<const wchar_t*>(clip.utf16()), GENERIC_READ, 0,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
#else
    ASSERT_TRUE(QFile::remove(clip));
    // A plain file that open() accepts and read() refuses (EIO at address 0).
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), clip));
#endif
    QByteArray output("untouched");
    EXPECT_EQ(PackBcsar(output, folder, false), -1);
    EXPECT_EQ(m_boxes, QStringList{QStringLiteral("Cannot load 001.bcwav")});
    EXPECT_EQ(output, QByteArray("untouched"));
#if defined(_WIN32)
    CloseHandle(held);
#endif
}

// A missing CSAR piece raises an error, but only once the nested steps have succeeded.
TEST_F(BcsarTest, MissingCsarPieceReachesCaller) {
    const QString folder = Folder(QStringLiteral("nostrg"));
    ASSERT_EQ(Unpack(synth::Build({}).Bytes, folder), 0);
    ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/2_CSAR_STRG.bin")));
    QByteArray output("untouched");
    try {
        PackBcsar(output, folder, false);
        ADD_FAILURE() << "no error raised";
    } catch (const TSystemError& error) {
        EXPECT_EQ(error.ErrorNumber(), ENOENT);
        EXPECT_NE(error.Reason().find("2_CSAR_STRG.bin"), std::string::npos);
    }
    EXPECT_EQ(output, QByteArray("untouched"));
    ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/4_CSAR_FILE/2_FILE_CWSD.bin")));
    EXPECT_EQ(PackBcsar(output, folder, false), -1);
    EXPECT_EQ(output, QByteArray("untouched"));
}

// The two inner steps on their own give the CWAR and the FILE partition as stored.
TEST_F(BcsarTest, InnerPackStepsRebuildTheirParts) {
    synth::TLayout layout;
    layout.Clips = synth::Clips(5, 33);
    const synth::TArchive archive = synth::Build(layout);
    const QString folder = Folder(QStringLiteral("inner"));
    ASSERT_EQ(Unpack(archive.Bytes, folder), 0);
    QByteArray cwar, partition;
    ASSERT_EQ(PackCwar(cwar, folder + QStringLiteral("/4_CSAR_FILE/3_CWAR"), false), 0);
    EXPECT_EQ(cwar, archive.Bytes.mid(archive.CwarAt));
    ASSERT_EQ(PackCsarFile(partition, cwar, folder + QStringLiteral("/4_CSAR_FILE"), false), 0);
    EXPECT_EQ(partition, archive.Bytes.mid(archive.FileAt));
}

// Errors raised inside a nested step become a message box and remove that step's folder; at
// the top level they reach the caller.
TEST_F(BcsarTest, WriteErrors) {
    synth::TLayout layout;
    layout.Clips = synth::Clips(3, 40);
    const QByteArray archive = synth::Build(layout).Bytes;
    struct TRow {
        const char* FailingPiece;
        const char* RemovedFolder;
        const char* KeptFolder;
    };
    const TRow rows[] = {
        {"/3_BCWAV/001.bcwav", "4_CSAR_FILE/3_CWAR", "4_CSAR_FILE"},
        {"/2_FILE_CWSD.bin", "4_CSAR_FILE", ""},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.FailingPiece);
        m_boxes.clear();
        const QString folder = Folder(QStringLiteral("nested"));
        bcsar::SetPieceWriteHook([&row](const std::filesystem::path& file,
                                        std::span<const std::uint8_t>) {
            const QString path = QString::fromStdString(ctr::PathToUtf8(file));
            if (path.endsWith(QLatin1String(row.FailingPiece)))
                throw TSystemError(ENOSPC, QStringLiteral("Cannot write %1: disk full").arg(path));
            return false;
        });
        EXPECT_EQ(UnpackBcsar(archive, folder, 0, false), -1);
        bcsar::SetPieceWriteHook({});
        ASSERT_EQ(m_boxes.size(), 1);
        EXPECT_TRUE(m_boxes[0].endsWith(QStringLiteral(": disk full\r\nTSystemError")))
            << m_boxes[0].toStdString();
        EXPECT_FALSE(
            QFileInfo::exists(folder + QLatin1Char('/') + QLatin1String(row.RemovedFolder)));
        EXPECT_TRUE(QFileInfo(folder + QLatin1Char('/') + QLatin1String(row.KeptFolder)).isDir());
    }

    // A folder standing where a top-level piece goes: the real write fails.
    m_boxes.clear();
    const QString top = Folder(QStringLiteral("top"));
    QDir().mkdir(top + QStringLiteral("/2_CSAR_STRG.bin"));
    EXPECT_THROW(UnpackBcsar(archive, top, 0, false), TSystemError);
    EXPECT_TRUE(m_boxes.isEmpty());

    // A file standing where 4_CSAR_FILE goes cannot be replaced by the folder.
    const QString blocked = Folder(QStringLiteral("blocked"));
    WriteAll(blocked + QStringLiteral("/4_CSAR_FILE"), "file");
    QString log;
    EXPECT_EQ(Unpack(archive, blocked, &log), -1);
    EXPECT_TRUE(log.endsWith(QStringLiteral("Cannot create %1/4_CSAR_FILE\n").arg(blocked)));
}

} // namespace
