// The sample game's content without the container tools: the sound archive against the
// unpack/pack rules, the data archive stream, the headers and the sample patch folder.

#include "SampleTestSupport.h"
#include "ctr/ByteReader.h"
#include "desktop/FileTools.h"
#include "desktop/Language.h"
#include "desktop/TrackList.h"
#include "sample/SampleData.h"
#include "sample/SampleHeaders.h"
#include "sample/SampleImage.h"
#include "tests/sound_archive/BcsarQt.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

using namespace sample;

namespace {

std::uint32_t U32(const TBytes& bytes, std::size_t at) {
    return ctr::TByteReader(bytes).U32(at).value_or(0xDEADBEEF);
}
std::uint16_t U16(const TBytes& bytes, std::size_t at) {
    return ctr::TByteReader(bytes).U16(at).value_or(0xDEAD);
}
std::string Text(const TBytes& bytes, std::size_t at, std::size_t length) {
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
}
TBytes Slice(const TBytes& bytes, std::size_t at, std::size_t length) {
    return TBytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                  bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
}
void Append(TBytes& to, const TBytes& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}
void PutU32(TBytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}
std::uint32_t Padding(std::size_t length) {
    const std::size_t r = length % 32;
    return r == 8 ? 24 : r == 16 ? 16 : r == 24 ? 8 : 0;
}

/// Cuts the archive into the installer's pieces at the places its unpacker reads, and
/// joins them again the way its packer does.
TBytes UnpackAndPack(const TBytes& csar) {
    const std::uint32_t header_length = U16(csar, 6);
    const TBytes header = Slice(csar, 0, header_length);
    const TBytes strg = Slice(csar, U32(csar, 24), U32(csar, 28));
    const TBytes info = Slice(csar, U32(csar, 36), U32(csar, 40));
    const TBytes file = Slice(csar, U32(csar, 48), U32(csar, 52));

    const TBytes file_header = Slice(file, 0, 32);
    const std::uint32_t c = U16(file, 38);
    const std::uint32_t s = U32(file, 44);
    const TBytes cwsd = Slice(file, c, s);
    const std::size_t cwar_at = c + s + 8;
    const TBytes cwar = Slice(file, cwar_at, U32(file, cwar_at + 12));

    const std::uint32_t cwar_header_length = U16(cwar, 6);
    TBytes cwar_header = Slice(cwar, 0, cwar_header_length);
    TBytes cwar_info = Slice(cwar, U32(cwar, 24), U32(cwar, 28));
    const std::uint32_t block = U32(cwar, 36);
    const std::uint32_t clips = U32(cwar_info, 8);
    std::vector<TBytes> clip_files;
    for (std::uint32_t i = 0; i < clips; ++i)
        clip_files.push_back(
            Slice(cwar, block + 8 + U32(cwar_info, 16 + 12 * i), U32(cwar_info, 20 + 12 * i)));

    TBytes file_block = {'F', 'I', 'L', 'E'};
    file_block.resize(32, 0);
    const std::uint32_t type = U32(cwar_info, 12);
    for (std::uint32_t i = 0; i < clips; ++i) {
        PutU32(cwar_info, 12 + 12 * i, type);
        PutU32(cwar_info, 16 + 12 * i, static_cast<std::uint32_t>(file_block.size() - 8));
        PutU32(cwar_info, 20 + 12 * i, static_cast<std::uint32_t>(clip_files[i].size()));
        Append(file_block, clip_files[i]);
        file_block.resize(file_block.size() + Padding(clip_files[i].size()), 0);
    }
    PutU32(file_block, 4, static_cast<std::uint32_t>(file_block.size()));
    PutU32(cwar_header, 40, static_cast<std::uint32_t>(file_block.size()));
    TBytes new_cwar = cwar_header;
    Append(new_cwar, cwar_info);
    Append(new_cwar, file_block);
    PutU32(new_cwar, 12, static_cast<std::uint32_t>(new_cwar.size()));

    TBytes new_file = file_header;
    Append(new_file, cwsd);
    new_file.resize(new_file.size() + Padding(cwsd.size()), 0);
    Append(new_file, new_cwar);
    PutU32(new_file, 4, static_cast<std::uint32_t>(new_file.size()));

    TBytes out = header;
    Append(out, strg);
    Append(out, info);
    Append(out, new_file);
    PutU32(out, 12, static_cast<std::uint32_t>(out.size()));
    PutU32(out, 52, static_cast<std::uint32_t>(new_file.size()));
    return out;
}

TBytes ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return TBytes(bytes.begin(), bytes.end());
}

TBytes StreamToBytes(std::uint64_t seed, std::uint64_t size, bool changed) {
    TBytes bytes;
    StreamPackDat(seed, size, changed, [&](std::span<const std::uint8_t> chunk) {
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
    });
    return bytes;
}

} // namespace

TEST(SampleSoundArchive, PartsLieBackToBackWithTheMagicsTheUnpackerTests) {
    TSoundArchiveLayout layout;
    const TBytes csar = MakeSoundArchive(7, &layout);
    EXPECT_EQ(Text(csar, 0, 4), "CSAR");
    EXPECT_EQ(U16(csar, 6), kCsarHeaderLength);
    EXPECT_EQ(U32(csar, 12), csar.size());
    EXPECT_EQ(U32(csar, 24), kCsarHeaderLength);
    EXPECT_EQ(U32(csar, 36), U32(csar, 24) + U32(csar, 28));
    EXPECT_EQ(U32(csar, 48), U32(csar, 36) + U32(csar, 40));
    EXPECT_EQ(U32(csar, 48) + U32(csar, 52), csar.size());
    EXPECT_EQ(Text(csar, U32(csar, 24), 4), "STRG");
    EXPECT_EQ(Text(csar, U32(csar, 36), 4), "INFO");
    EXPECT_EQ(Text(csar, U32(csar, 48), 4), "FILE");
    EXPECT_GE(U32(csar, 40), 0xE215u);

    const std::size_t file = U32(csar, 48);
    EXPECT_EQ(U32(csar, file + 4), U32(csar, 52));
    EXPECT_EQ(Text(csar, file + 32, 4), "CWSD");
    EXPECT_EQ(U16(csar, file + 38), 32u);
    EXPECT_EQ(U32(csar, file + 44) % 32, 24u);
    const std::size_t cwar = file + 32 + U32(csar, file + 44) + 8;
    EXPECT_EQ(cwar, layout.CwarOffset);
    EXPECT_EQ(Text(csar, cwar, 4), "CWAR");
    EXPECT_EQ(cwar + U32(csar, cwar + 12), csar.size());

    const std::size_t info = cwar + U32(csar, cwar + 24);
    const std::size_t block = cwar + U32(csar, cwar + 36);
    EXPECT_EQ(Text(csar, info, 4), "INFO");
    EXPECT_EQ(block, info + U32(csar, cwar + 28));
    EXPECT_EQ(Text(csar, block, 4), "FILE");
    ASSERT_EQ(U32(csar, info + 8), static_cast<std::uint32_t>(kSampleClipCount));
    QSet<QByteArray> clips;
    for (std::size_t i = 0; i < kSampleClipCount; ++i) {
        const std::size_t clip = block + 8 + U32(csar, info + 16 + 12 * i);
        const std::uint32_t length = U32(csar, info + 20 + 12 * i);
        EXPECT_EQ(Text(csar, clip, 4), "CWAV") << "clip " << i;
        EXPECT_EQ(U32(csar, clip + 12), length) << "clip " << i;
        clips.insert(QByteArray(reinterpret_cast<const char*>(csar.data() + clip),
                                static_cast<qsizetype>(length)));
    }
    EXPECT_EQ(clips.size(), kSampleClipCount);
}

TEST(SampleSoundArchive, UnpackingAndPackingGivesTheSameBytes) {
    for (std::uint64_t seed : {1u, 2u, 99u}) {
        const TBytes csar = MakeSoundArchive(seed);
        EXPECT_EQ(UnpackAndPack(csar), csar) << "seed " << seed;
    }
}

TEST(SampleSoundArchive, InstallersUnpackerAndPackerGiveTheSameBytes) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TBytes csar = MakeSoundArchive(3);
    const QByteArray stream(reinterpret_cast<const char*>(csar.data()),
                            static_cast<qsizetype>(csar.size()));
    ASSERT_EQ(UnpackBcsar(stream, dir.path(), 0, false), 0);
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("4_CSAR_FILE/3_CWAR/3_BCWAV")))
                  .entryList(QDir::Files)
                  .size(),
              kSampleClipCount);
    QByteArray packed;
    ASSERT_EQ(PackBcsar(packed, dir.path(), false), 0);
    EXPECT_TRUE(packed == stream);
}

TEST(SampleSoundArchive, EveryMusicSlotNamesTheGamesOwnTrack) {
    const TBytes csar = MakeSoundArchive(1);
    const std::size_t info = U32(csar, 36);
    const std::map<int, std::string> expected = {{0, "BGM008"},  {1, "BGM077"},  {2, "BGM117"},
                                                 {9, "BGM005"},  {10, "BGM071"}, {11, "BGM071"},
                                                 {20, "BGM123"}, {32, "BGM137"}, {33, "BGM200"}};
    for (const auto& [slot, id] : expected)
        EXPECT_EQ(Text(csar, info + static_cast<std::size_t>(kMusicSlotOffsets[slot]), 6), id)
            << "slot " << slot;
    for (int slot = 0; slot < kMusicSlotCount; ++slot)
        EXPECT_EQ(Text(csar, info + static_cast<std::size_t>(kMusicSlotOffsets[slot]), 6),
                  DefaultSlotTrackId(slot));
}

TEST(SamplePackDat, ChangedArchiveKeepsAllButTheRewrittenStretches) {
    for (std::uint64_t size : {0ull, 1ull, 4097ull, 300000ull, (4ull << 20) + 3}) {
        const TBytes original = StreamToBytes(3, size, false);
        const TBytes changed = StreamToBytes(3, size, true);
        ASSERT_EQ(original.size(), size);
        ASSERT_EQ(changed.size(), ChangedPackDatSize(size));
        std::size_t differing = 0;
        for (std::size_t i = 0; i < size; ++i)
            differing += original[i] != changed[i];
        EXPECT_LE(differing, 8u * 7000u) << size;
        if (size >= 4097) {
            EXPECT_GT(differing, 1000u) << size;
        }
        EXPECT_EQ(StreamToBytes(3, size, false), original) << "not repeatable";
    }
}

TEST(SampleHeaders, ProgramIdsAgreeUnlessEncrypted) {
    for (const char* region : {"JAP", "USA", "EUR"}) {
        const TSampleTitle title = MakeTitle(region, std::nullopt);
        EXPECT_EQ(title.ProgramId >> 32, 0x00040000u);
        EXPECT_EQ(static_cast<std::uint32_t>(title.ProgramId), *RegionTitleLow(region));
        EXPECT_EQ(title.ProductCode.size(), 10u);
        const TBytes ncch = MakeNcchHeader(title, 1);
        const TBytes exheader = MakeExheader(title, false, 1);
        ASSERT_EQ(ncch.size(), 0x200u);
        ASSERT_EQ(exheader.size(), 0x800u);
        EXPECT_EQ(Text(ncch, 0x100, 4), "NCCH");
        EXPECT_EQ(Text(ncch, 0x150, 10), title.ProductCode);
        // The identification compares the NCCH program ID with the ACI program ID (CXI file
        // offset 0x400) and, for card images, with the jump ID (offset 0x3C8).
        EXPECT_EQ(Slice(ncch, 0x118, 8), Slice(exheader, 0x200, 8));
        EXPECT_EQ(Slice(ncch, 0x118, 8), Slice(exheader, 0x1C8, 8));
        const TBytes scrambled = MakeExheader(title, true, 1);
        EXPECT_NE(Slice(ncch, 0x118, 8), Slice(scrambled, 0x200, 8));
        EXPECT_NE(Slice(ncch, 0x118, 8), Slice(scrambled, 0x1C8, 8));
    }
    EXPECT_EQ(static_cast<std::uint32_t>(MakeTitle("EUR", 0x00055D00).ProgramId), 0x00055D00u);
}

TEST(SampleHeaders, ExefsFilesHaveTheirExpectedShapes) {
    const TBytes code = MakeCode(1);
    EXPECT_EQ(code.size(), kCodeTextSize + kCodeReadOnlySize + kCodeDataSize);
    const TBytes icon = MakeIcon("USA");
    EXPECT_EQ(icon.size(), kIconSize);
    EXPECT_EQ(Text(icon, 0, 4), "SMDH");
    const TBytes banner = MakeBanner(1, false);
    EXPECT_EQ(Text(banner, 0, 4), "CBMD");
    EXPECT_NE(MakeBanner(1, true), banner);
    const TBytes header = MakeExefsHeader(code, banner, icon);
    EXPECT_EQ(Text(header, 0, 5), ".code");
    EXPECT_EQ(U32(header, 12), code.size());
    EXPECT_EQ(Text(header, 16, 6), "banner");
    EXPECT_EQ(U32(header, 24) % 0x200, 0u);
    EXPECT_EQ(Text(header, 32, 4), "icon");
    const TBytes ncsd = MakeNcsdHeader(MakeTitle("JAP", std::nullopt),
                                       MakeNcchHeader(MakeTitle("JAP", std::nullopt), 1),
                                       MakeExheader(MakeTitle("JAP", std::nullopt), false, 1), 1);
    ASSERT_EQ(ncsd.size(), 0x4000u);
    EXPECT_EQ(Text(ncsd, 0x100, 4), "NCSD");
    EXPECT_EQ(Text(ncsd, 0x1100, 4), "NCCH");
}

class SamplePatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_options.Region = "USA";
        m_options.PackSize = 300000;
        m_options.Seed = 5;
        m_options.PatchFolder = m_dir.filePath(QStringLiteral("patch/Demo"));
        m_options.ToolsFolder =
            sample_test::AppDir() + QStringLiteral("/tools"); // no xdelta3 installed on Windows
        m_tree = m_dir.filePath(QStringLiteral("tree"));
        m_digests = WriteSampleTree(m_tree, m_options);
        WriteSamplePatch(m_options.PatchFolder, m_tree + QStringLiteral("/romfs/pack.dat"),
                         m_options, m_digests);
    }
    QString Patch(const QString& name) const {
        return m_options.PatchFolder + QLatin1Char('/') + name;
    }

    QTemporaryDir m_dir;
    TSampleOptions m_options;
    QString m_tree;
    TTreeDigests m_digests;
};

TEST_F(SamplePatchTest, DescriptionsNameTheRegionAndTheRealDigests) {
    EXPECT_EQ(m_digests.PackDatMD5, FileMD5Hex(m_tree + QStringLiteral("/romfs/pack.dat")));
    EXPECT_EQ(m_digests.PackIncMD5, FileMD5Hex(m_tree + QStringLiteral("/romfs/pack.inc")));
    for (const QString& name : {QStringLiteral("English.dsc"), QString::fromUtf8("Русский.dsc")}) {
        const QByteArray bytes = [&] {
            QFile file(Patch(name));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF")) << name.toStdString();
        QStringList tokens;
        ASSERT_TRUE(ReadTokenFile(Patch(name), QLatin1Char('='), tokens)) << name.toStdString();
        EXPECT_EQ(ValueOfKey(tokens, QStringLiteral("Region")), QStringLiteral("USA"));
        EXPECT_FALSE(ValueOfKey(tokens, QStringLiteral("Title")).isEmpty());
        EXPECT_TRUE(
            ValueOfKey(tokens, QStringLiteral("Description")).contains(QStringLiteral("https://")));
        EXPECT_EQ(ValueOfKey(tokens, QStringLiteral("OriginalPackDatMD5")), m_digests.PackDatMD5);
        EXPECT_EQ(ValueOfKey(tokens, QStringLiteral("OriginalPackIncMD5")), m_digests.PackIncMD5);
    }
}

TEST_F(SamplePatchTest, XdeltaTurnsTheOriginalIntoTheChangedArchive) {
    const QString decoded = m_dir.filePath(QStringLiteral("decoded.dat"));
    QProcess xdelta;
    xdelta.start(Xdelta3Path(m_options.ToolsFolder),
                 {QStringLiteral("-d"), QStringLiteral("-s"),
                  m_tree + QStringLiteral("/romfs/pack.dat"), Patch(QStringLiteral("patch.xdelta")),
                  decoded});
    ASSERT_TRUE(xdelta.waitForFinished(-1));
    ASSERT_EQ(xdelta.exitCode(), 0) << xdelta.readAllStandardError().toStdString();
    const QString expected = m_dir.filePath(QStringLiteral("expected.dat"));
    WriteChangedPackDat(expected, m_options);
    EXPECT_EQ(FileMD5Hex(decoded), FileMD5Hex(expected));
    EXPECT_NE(FileMD5Hex(decoded), m_digests.PackDatMD5);
}

TEST_F(SamplePatchTest, WritingAgainLeavesNoStaleFiles) {
    const QString stale = Patch(QStringLiteral("voice/ENG/3_BCWAV/017.bcwav"));
    QFile file(stale);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QString own = Patch(QStringLiteral("readme.txt"));
    QFile readme(own);
    ASSERT_TRUE(readme.open(QIODevice::WriteOnly));
    readme.close();
    WriteSamplePatch(m_options.PatchFolder, m_tree + QStringLiteral("/romfs/pack.dat"), m_options,
                     m_digests);
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_TRUE(QFileInfo::exists(own)) << "what the generator does not write stays";
    EXPECT_TRUE(QFileInfo(Patch(QStringLiteral("patch.xdelta"))).isFile());
}

TEST_F(SamplePatchTest, VoiceFoldersHoldDistinctClips) {
    QSet<QByteArray> clips;
    int count = 0;
    for (const char* voice : {"ENG", "JAP MOD", "JAP ORIG"}) {
        QDir folder(Patch(QStringLiteral("voice/%1/3_BCWAV").arg(QLatin1String(voice))));
        const QStringList names = folder.entryList(QDir::Files, QDir::Name);
        EXPECT_GE(names.size(), 2) << voice;
        for (const QString& name : names) {
            EXPECT_TRUE(
                QRegularExpression(QStringLiteral("^\\d{3}\\.bcwav$")).match(name).hasMatch());
            QFile file(folder.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            EXPECT_TRUE(bytes.startsWith("CWAV"));
            clips.insert(bytes);
            ++count;
        }
    }
    EXPECT_EQ(clips.size(), count);
}

TEST_F(SamplePatchTest, VoiceClipsReplaceTheirNamesakesInTheArchive) {
    const QString work = m_dir.filePath(QStringLiteral("QK123_temp"));
    ASSERT_TRUE(QDir().mkpath(work));
    const QByteArray archive = [&] {
        QFile file(m_tree + QStringLiteral("/romfs/sound/QK123.bcsar"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    ASSERT_EQ(UnpackBcsar(archive, work, 0, false), 0);
    const QString clips = work + QStringLiteral("/4_CSAR_FILE/3_CWAR");
    ASSERT_TRUE(CopyFolder(Patch(QStringLiteral("voice/JAP MOD/3_BCWAV")), clips));
    QByteArray packed;
    ASSERT_EQ(PackBcsar(packed, work, false), 0);
    EXPECT_NE(packed.size(), archive.size());

    const QString again = m_dir.filePath(QStringLiteral("again"));
    ASSERT_TRUE(QDir().mkpath(again));
    ASSERT_EQ(UnpackBcsar(packed, again, 0, false), 0);
    QDir voice(Patch(QStringLiteral("voice/JAP MOD/3_BCWAV")));
    for (const QString& name : voice.entryList(QDir::Files))
        EXPECT_EQ(ReadAll(again + QStringLiteral("/4_CSAR_FILE/3_CWAR/3_BCWAV/") + name),
                  ReadAll(voice.filePath(name)))
            << name.toStdString();
    EXPECT_EQ(ReadAll(again + QStringLiteral("/4_CSAR_FILE/3_CWAR/3_BCWAV/007.bcwav")),
              ReadAll(work + QStringLiteral("/4_CSAR_FILE/3_CWAR/3_BCWAV/007.bcwav")));
}

TEST_F(SamplePatchTest, TrackListUsesTheDefaultIdsInItsFileFormat) {
    QStringList tokens;
    ASSERT_TRUE(ReadTokenFile(Patch(QStringLiteral("Tracklist.tls")), QLatin1Char(':'), tokens));
    ASSERT_GE(tokens.size(), 2);
    EXPECT_EQ(tokens[0], QStringLiteral("TrackCount"));
    const int count = tokens[1].toInt();
    EXPECT_EQ(count, 35);
    ASSERT_EQ(tokens.size(), 2 + 3 * count);
    QSet<QString> ids, titles, slot_ids;
    for (int slot = 0; slot < kMusicSlotCount; ++slot)
        slot_ids.insert(QString::fromStdString(DefaultSlotTrackId(slot)));
    for (int i = 0; i < count; ++i) {
        ids.insert(tokens[2 + 3 * i]);
        titles.insert(tokens[3 + 3 * i]);
        EXPECT_GE(tokens[3 + 3 * i].size(), 15);
        EXPECT_LE(tokens[3 + 3 * i].size(), 40);
        bool number = false;
        const int group = tokens[4 + 3 * i].toInt(&number);
        EXPECT_TRUE(number && group >= 0 && group <= 11) << tokens[4 + 3 * i].toStdString();
    }
    EXPECT_EQ(ids.size(), count);
    EXPECT_EQ(titles.size(), count);
    EXPECT_TRUE(ids.contains(slot_ids)) << "every slot's track is offered";
}

TEST_F(SamplePatchTest, ReplacementFoldersKeepTheSoundArchiveEntryInPlace) {
    EXPECT_TRUE(QFileInfo(Patch(QStringLiteral("exefs/banner.bnr"))).isFile());
    // Only names that already exist may be added at the RomFS root, and every new folder
    // must sort after "sound", or the sound archive's file entry moves.
    QDir romfs(Patch(QStringLiteral("romfs")));
    for (const QString& name : romfs.entryList(QDir::Files))
        EXPECT_TRUE(name == QLatin1String("pack.dat") || name == QLatin1String("pack.inc"))
            << name.toStdString();
    for (const QString& name : romfs.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        EXPECT_GE(name.toUpper(), QStringLiteral("SOUND")) << name.toStdString();
    EXPECT_NE(ReadAll(Patch(QStringLiteral("romfs/pack.inc"))),
              ReadAll(m_tree + QStringLiteral("/romfs/pack.inc")));
}
