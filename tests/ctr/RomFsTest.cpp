// RomFS: exact table layout of the worked example, bucket counts, round trips, hashes and
// hostile tables.

#include "CtrTestSupport.h"

#include "ctr/ByteReader.h"
#include "ctr/FileIo.h"
#include "ctr/Hash.h"
#include "ctr/RomFs.h"

#include <gtest/gtest.h>

using namespace ctr_test;

namespace {

std::uint32_t U32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return *ctr::TByteReader(bytes).U32(offset);
}
std::uint64_t U64(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return *ctr::TByteReader(bytes).U64(offset);
}

class RomFsExample : public ::testing::Test {
protected:
    void SetUp() override {
        WriteBytes(m_dir / "in" / "pack.dat", NoiseBytes(5000, 1));
        WriteBytes(m_dir / "in" / "pack.inc", NoiseBytes(77, 2));
        WriteBytes(m_dir / "in" / "sound" / "QK123.bcsar", NoiseBytes(9000, 3));
        fs::create_directories(m_dir / "in" / "Empty" / "Deeper");
        ctr::BuildRomFsFile(m_dir / "in", m_dir / "romfs.bin");
        m_image = ReadBytes(m_dir / "romfs.bin");
    }
    TTempDir m_dir;
    std::vector<std::uint8_t> m_image;
    static constexpr std::size_t L3 = 0x1000;
};

TEST_F(RomFsExample, Level3HeaderMatchesTheWorkedExample) {
    EXPECT_EQ(U32(m_image, L3 + 0x00), 0x28u);
    EXPECT_EQ(U32(m_image, L3 + 0x04), 0x28u);
    EXPECT_EQ(U32(m_image, L3 + 0x08), 0xCu);
    EXPECT_EQ(U32(m_image, L3 + 0x0C), 0x34u);
    EXPECT_EQ(U32(m_image, L3 + 0x10), 0x3Cu);
    EXPECT_EQ(U32(m_image, L3 + 0x14), 0x70u);
    EXPECT_EQ(U32(m_image, L3 + 0x18), 0xCu);
    EXPECT_EQ(U32(m_image, L3 + 0x1C), 0x7Cu);
    EXPECT_EQ(U32(m_image, L3 + 0x20), 0x98u);
    EXPECT_EQ(U32(m_image, L3 + 0x24), 0x120u);
}

TEST_F(RomFsExample, EntriesLinksAndHashBuckets) {
    const std::size_t dirs = L3 + 0x34, files = L3 + 0x7C;
    // Root: parent 0, no sibling, first child "sound" at 0x18, first file 0.
    EXPECT_EQ(U32(m_image, dirs + 0x00), 0u);
    EXPECT_EQ(U32(m_image, dirs + 0x04), 0xFFFFFFFFu);
    EXPECT_EQ(U32(m_image, dirs + 0x08), 0x18u);
    EXPECT_EQ(U32(m_image, dirs + 0x0C), 0u);
    // "sound": parent 0, first file QK123.bcsar at 0x60; the empty folders are gone.
    EXPECT_EQ(U32(m_image, dirs + 0x18 + 0x04), 0xFFFFFFFFu);
    EXPECT_EQ(U32(m_image, dirs + 0x18 + 0x0C), 0x60u);
    EXPECT_EQ(U32(m_image, dirs + 0x18 + 0x14), 10u);
    // Files: pack.dat 0x00 -> pack.inc 0x30; QK123.bcsar at 0x60 under parent 0x18.
    EXPECT_EQ(U32(m_image, files + 0x04), 0x30u);
    EXPECT_EQ(U32(m_image, files + 0x30 + 0x04), 0xFFFFFFFFu);
    EXPECT_EQ(U32(m_image, files + 0x60), 0x18u);
    // Data offsets relative to the data area, each on a 0x10 boundary.
    EXPECT_EQ(U64(m_image, files + 0x08), 0u);
    EXPECT_EQ(U64(m_image, files + 0x30 + 0x08), ctr::AlignUp(5000, 0x10));
    EXPECT_EQ(U64(m_image, files + 0x68), ctr::AlignUp(ctr::AlignUp(5000, 0x10) + 77, 0x10));
    EXPECT_EQ(U64(m_image, files + 0x70), 9000u);

    EXPECT_EQ(ctr::RomFsNameHash(0, u""), 0x075BCD15u);
    EXPECT_EQ(ctr::RomFsNameHash(0, u"sound"), 0xC07FBAE4u);
    EXPECT_EQ(ctr::RomFsNameHash(0, u"pack.dat"), 0x045DDBB0u);
    EXPECT_EQ(ctr::RomFsNameHash(0, u"pack.inc"), 0x7F1DDBA7u);
    EXPECT_EQ(ctr::RomFsNameHash(0x18, u"QK123.bcsar"), 0xD0D66DB5u);
    // Directory buckets: root in 0, sound in 1. File buckets: pack.dat 0, QK123 1, pack.inc 2.
    EXPECT_EQ(U32(m_image, L3 + 0x28), 0u);
    EXPECT_EQ(U32(m_image, L3 + 0x2C), 0x18u);
    EXPECT_EQ(U32(m_image, L3 + 0x30), 0xFFFFFFFFu);
    EXPECT_EQ(U32(m_image, L3 + 0x70), 0x00u);
    EXPECT_EQ(U32(m_image, L3 + 0x74), 0x60u);
    EXPECT_EQ(U32(m_image, L3 + 0x78), 0x30u);
}

TEST_F(RomFsExample, IvfcLevelsAndHashesRecompute) {
    const std::uint64_t l3_size = U64(m_image, 0x3C + 8);
    EXPECT_EQ(U32(m_image, 0), ctr::MakeMagic('I', 'V', 'F', 'C'));
    EXPECT_EQ(l3_size, 0x120 + ctr::AlignUp(ctr::AlignUp(5000, 0x10) + 77, 0x10) + 9000);
    EXPECT_EQ(U64(m_image, 0x24 + 8), (l3_size + 0xFFF) / 0x1000 * 0x20);
    EXPECT_EQ(m_image.size() % 0x1000, 0u);
    // Level 2 (hashes of level-3 blocks) sits after level 3 and level 1.
    const std::size_t level1 = ctr::AlignUp(L3 + l3_size, 0x1000);
    const std::size_t level2 = level1 + 0x1000;
    for (std::size_t block = 0; block * 0x1000 < l3_size; ++block) {
        const auto digest = ctr::Sha256(std::span(m_image.data() + L3 + block * 0x1000, 0x1000));
        EXPECT_TRUE(
            std::equal(digest.begin(), digest.end(), m_image.begin() + level2 + block * 0x20));
    }
    const auto master = ctr::Sha256(std::span(m_image.data() + level1, 0x1000));
    EXPECT_TRUE(std::equal(master.begin(), master.end(), m_image.begin() + 0x60));
    ctr::TInFile in(m_dir / "romfs.bin");
    EXPECT_EQ(ctr::TRomFsReader(in, 0, in.Size()).VerifyHashes(), "");
}

TEST_F(RomFsExample, ExtractRebuildIsByteIdentical) {
    {
        ctr::TInFile in(m_dir / "romfs.bin");
        ctr::TRomFsReader(in, 0, in.Size()).Extract(m_dir / "out");
    }
    EXPECT_FALSE(fs::exists(m_dir / "out" / "Empty"));
    EXPECT_EQ(ReadBytes(m_dir / "out" / "sound" / "QK123.bcsar"), NoiseBytes(9000, 3));
    ctr::BuildRomFsFile(m_dir / "out", m_dir / "again.bin");
    EXPECT_EQ(ReadBytes(m_dir / "again.bin"), m_image);
}

TEST_F(RomFsExample, FindReturnsOffsetAndSize) {
    ctr::TInFile in(m_dir / "romfs.bin");
    ctr::TRomFsReader reader(in, 0, in.Size());
    for (const char* path : {"sound/QK123.bcsar", "/SOUND/qk123.BCSAR"}) {
        const auto found = reader.Find(path);
        ASSERT_TRUE(found) << path;
        EXPECT_EQ(found->Size, 9000u);
        const std::vector<std::uint8_t> data(
            m_image.begin() + static_cast<std::ptrdiff_t>(found->Offset),
            m_image.begin() + static_cast<std::ptrdiff_t>(found->Offset + 9000));
        EXPECT_EQ(data, NoiseBytes(9000, 3));
    }
    EXPECT_FALSE(reader.Find("sound/missing.bcsar"));
    EXPECT_FALSE(reader.Find("pack.dat/inner"));
}

TEST_F(RomFsExample, CorruptedDataFailsVerification) {
    m_image[0x1000 + 0x130] ^= 1;
    WriteBytes(m_dir / "bad.bin", m_image);
    ctr::TInFile in(m_dir / "bad.bin");
    EXPECT_NE(ctr::TRomFsReader(in, 0, in.Size()).VerifyHashes().find("level 3 block 0"),
              std::string::npos);
}

// Hostile level-3 tables: each must be refused with an error, never crash or loop.
TEST_F(RomFsExample, HostileTablesAreRefused) {
    struct TCase {
        const char* Name;
        std::size_t Offset;
        std::uint32_t Value;
    };
    const std::size_t dirs = L3 + 0x34, files = L3 + 0x7C;
    const TCase cases[] = {
        {"dir table outside level 3", L3 + 0x0C, 0x7FFFFFF0},
        {"file table size huge", L3 + 0x20, 0xFFFFFF00},
        {"data offset wrong", L3 + 0x24, 0x130},
        {"header size", L3 + 0x00, 0x30},
        {"level 3 size", 0x3C + 8, 0x10},
        {"sibling loop", dirs + 0x08, 0x0},
        {"file sibling loop", files + 0x04, 0x0},
        {"name length beyond table", files + 0x60 + 0x1C, 0x1000},
        {"file data beyond level 3", files + 0x70, 0x7FFFFFFF},
        {"child outside table", dirs + 0x18 + 0x08, 0x500},
        {"dot-dot name", dirs + 0x18 + 0x14, 4},
    };
    for (const TCase& c : cases) {
        std::vector<std::uint8_t> bad = m_image;
        ctr::PutLE<std::uint32_t>(&bad[c.Offset], c.Value);
        if (std::string(c.Name) == "dot-dot name")
            std::memcpy(&bad[dirs + 0x18 + 0x18], u"..", 4);
        WriteBytes(m_dir / "bad.bin", bad);
        bool refused = false;
        try {
            ctr::TInFile in(m_dir / "bad.bin");
            ctr::TRomFsReader reader(in, 0, in.Size());
            reader.Extract(m_dir / ("x" + std::to_string(&c - cases)));
        } catch (const ctr::TCtrError&) {
            refused = true;
        }
        EXPECT_TRUE(refused) << c.Name;
    }
}

TEST(RomFsBuckets, CountsFollowTheRule) {
    const std::pair<std::uint32_t, std::uint32_t> rows[] = {
        {0, 3},   {1, 3},   {2, 3},   {3, 3},     {4, 5},  {18, 19},
        {19, 19}, {20, 23}, {24, 29}, {100, 101}, {30, 31}};
    for (const auto& [count, buckets] : rows)
        EXPECT_EQ(ctr::RomFsBucketCount(count), buckets) << count;
}

TEST(RomFsBuild, MissingFolderGivesRootOnlyImageAndNonAsciiNamesSurvive) {
    TTempDir dir;
    ctr::BuildRomFsFile(dir / "absent", dir / "empty.bin");
    {
        ctr::TInFile in(dir / "empty.bin");
        ctr::TRomFsReader reader(in, 0, in.Size());
        EXPECT_EQ(reader.VerifyHashes(), "");
        reader.Extract(dir / "empty_out");
        EXPECT_TRUE(fs::is_empty(dir / "empty_out"));
    }
    WriteBytes(dir / "in" / fs::path(u8"Звук") / fs::path(u8"файл с пробелом.bin"),
               NoiseBytes(10, 1));
#if !defined(_WIN32) // MinGW's library makes no links
    fs::create_directory_symlink("..", dir / "in" / fs::path(u8"Звук") / "loop"); // no endless scan
#endif
    WriteBytes(dir / "in" / "b.bin", {});
    WriteBytes(dir / "in" / "A.bin", NoiseBytes(17, 2));
    ctr::BuildRomFsFile(dir / "in", dir / "named.bin");
    ctr::TInFile in(dir / "named.bin");
    ctr::TRomFsReader reader(in, 0, in.Size());
    reader.Extract(dir / "out");
    EXPECT_EQ(ReadBytes(dir / "out" / fs::path(u8"Звук") / fs::path(u8"файл с пробелом.bin")),
              NoiseBytes(10, 1));
    EXPECT_TRUE(ReadBytes(dir / "out" / "b.bin").empty());
    EXPECT_TRUE(reader.Find("звук/файл с пробелом.bin") || reader.Find("Звук/файл с пробелом.bin"));
}

// A RomFS built through positioned writes into memory.
std::vector<std::uint8_t> BuildInMemory(const std::vector<ctr::TRomFsEntry>& entries) {
    std::vector<std::uint8_t> image;
    const std::uint64_t size = ctr::BuildRomFs(entries, [&](std::uint64_t offset,
                                                            std::span<const std::uint8_t> bytes) {
        if (image.size() < offset + bytes.size())
            image.resize(static_cast<std::size_t>(offset + bytes.size()));
        std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
    });
    EXPECT_EQ(size, image.size());
    return image;
}

// The files of a RomFS image listed as ranges of it: rebuilding from them gives the image back.
TEST_F(RomFsExample, EntriesFromRangesOfAnImageRebuildIt) {
    ctr::TInFile in(m_dir / "romfs.bin");
    std::vector<ctr::TRomFsEntry> entries;
    for (const auto& [path, where] : ctr::TRomFsReader(in, 0, in.Size()).ListFiles())
        entries.push_back({path, where.Size,
                           [&in, where] { return ctr::OpenRange(in, where.Offset, where.Size); }});
    std::reverse(entries.begin(), entries.end());
    EXPECT_EQ(BuildInMemory(entries), m_image);
}

// Names that differ only in case, listed in any order, give the folder's image; a bad list is
// refused.
TEST(RomFsBuild, CaseMixedListMatchesTheFolderAndBadListsAreRefused) {
    TTempDir dir;
    const std::vector<std::pair<std::string, std::size_t>> files = {
        {"b.bin", 3},           {"B.bin", 0},   {"Sound/x.bcsar", 700}, {"sound/X.bcsar", 9},
        {"sound/deep/a", 5000}, {"SOUND/a", 1}, {"a.bin", 4097}};
    std::vector<ctr::TRomFsEntry> entries;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const fs::path path = dir / "data" / std::to_string(i);
        WriteBytes(path, NoiseBytes(files[i].second, static_cast<std::uint32_t>(i)));
        WriteBytes(dir / "in" / fs::path(files[i].first),
                   NoiseBytes(files[i].second, static_cast<std::uint32_t>(i)));
        entries.push_back({files[i].first, files[i].second,
                           [path] { return std::make_unique<ctr::TInFile>(path); }});
    }
    const std::vector<std::uint8_t> listed = BuildInMemory(entries);
    std::reverse(entries.begin(), entries.end());
    EXPECT_EQ(BuildInMemory(entries), listed);
    // A folder holds names that differ only in letter case where the file system tells them
    // apart (not on Windows): there the folder's build is the list's.
    if (fs::file_size(dir / "in" / "b.bin") == 3) {
        ctr::BuildRomFsFile(dir / "in", dir / "folder.bin");
        EXPECT_EQ(ReadBytes(dir / "folder.bin"), listed);
    } else {
        WriteBytes(dir / "folder.bin", listed);
    }

    const auto open = [&] { return std::make_unique<ctr::TInFile>(dir / "folder.bin"); };
    const std::vector<std::vector<ctr::TRomFsEntry>> bad = {
        {{"a//b", 1, open}},
        {{"/a", 1, open}},
        {{"a/", 1, open}},
        {{"a", 1, open}, {"a", 1, open}},
        {{"a", 1, open}, {"a/b", 1, open}},
        {{"a/b", 1, open}, {"a", 1, open}},
        {{"short", 1, open}}, // not the file's size
    };
    for (const auto& list : bad)
        EXPECT_THROW(BuildInMemory(list), ctr::TCtrError) << list.back().Path;
}

} // namespace
