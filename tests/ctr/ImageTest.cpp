// NCCH, NCSD and CIA built by the library: every hash field and layout rule, verification
// and RomFS file lookup.

#include "CtrTestSupport.h"

#include "ctr/Blz.h"
#include "ctr/ByteReader.h"
#include "ctr/Cia.h"
#include "ctr/ExeFs.h"
#include "ctr/FileIo.h"
#include "ctr/Hash.h"
#include "ctr/Ncch.h"
#include "ctr/Ncsd.h"
#include "ctr/Verify.h"
#include "ctr/Z3ds.h"
#include "ctr/Z3dsWrite.h"

#include "ctr/RomFs.h"

#include <gtest/gtest.h>

#include <random>

using namespace ctr_test;

namespace {

std::uint32_t U32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return *ctr::TByteReader(bytes).U32(offset);
}

bool HashAt(const std::vector<std::uint8_t>& bytes, std::size_t stored, std::size_t offset,
            std::size_t size) {
    const auto digest = ctr::Sha256(std::span(bytes.data() + offset, size));
    return std::equal(digest.begin(), digest.end(),
                      bytes.begin() + static_cast<std::ptrdiff_t>(stored));
}

class Images : public ::testing::Test {
protected:
    void SetUp() override {
        WriteTitleParts(m_dir.Path());
        m_cxi = BuildTitleCxi(m_dir.Path());
    }
    TTempDir m_dir;
    fs::path m_cxi;
};

TEST_F(Images, CxiHashesLayoutAndFlags) {
    const auto cxi = ReadBytes(m_cxi);
    EXPECT_EQ(cxi.size(), U32(cxi, 0x104) * 0x200ull);
    EXPECT_TRUE(HashAt(cxi, 0x160, 0x200, 0x400));
    EXPECT_EQ(U32(cxi, 0x180), 0x400u);
    EXPECT_EQ(U32(cxi, 0x190), 0u); // plain region dropped
    EXPECT_EQ(U32(cxi, 0x198), 0xA00u / 0x200);
    EXPECT_TRUE(HashAt(cxi, 0x130, U32(cxi, 0x198) * 0x200, U32(cxi, 0x19C) * 0x200));
    EXPECT_EQ(U32(cxi, 0x1A8), 1u);
    EXPECT_TRUE(HashAt(cxi, 0x1C0, U32(cxi, 0x1A0) * 0x200, 0x200));
    EXPECT_EQ(U32(cxi, 0x1B0) * 0x200 % 0x1000, 0u);
    EXPECT_TRUE(HashAt(cxi, 0x1E0, U32(cxi, 0x1B0) * 0x200, U32(cxi, 0x1B8) * 0x200));
    EXPECT_EQ(cxi[0x18F], 0x04);
    // The signature bytes of the input header are kept.
    EXPECT_EQ(cxi[0], 0xAB);
    // Code was compressed by the ExeFS build, so the exheader says so.
    EXPECT_EQ(cxi[0x200 + 0x0D] & 1, 1);
    EXPECT_EQ(ctr::VerifyImage(m_cxi, ctr::TImageKind::Cxi), "");
}

TEST_F(Images, CodeFlagFollowsTheStoredCode) {
    // An ExeFS built without compression clears a set flag.
    auto exheader = ReadBytes(m_dir / "exheader.bin");
    exheader[0x0D] |= 1;
    WriteBytes(m_dir / "exheader.bin", exheader);
    ctr::BuildExeFs(m_dir / "exefsheader.bin", m_dir / "exefs", m_dir / "raw_exefs.bin", false);
    // A logo path whose file the extraction never wrote (source without logo): no logo region.
    ctr::TNcchParts parts{m_dir / "ncchheader.bin",  m_dir / "exheader.bin",
                          m_dir / "absent_logo.bin", {},
                          m_dir / "raw_exefs.bin",   m_dir / "romfs.bin"};
    ctr::BuildCxi(parts, m_dir / "raw.cxi");
    const auto cxi = ReadBytes(m_dir / "raw.cxi");
    EXPECT_EQ(cxi[0x200 + 0x0D] & 1, 0);
    EXPECT_EQ(U32(cxi, 0x19C), 0u); // no logo given
    EXPECT_EQ(ctr::VerifyImage(m_dir / "raw.cxi", ctr::TImageKind::Cxi), "");
}

TEST_F(Images, ExeFsExtractRebuildIsByteIdentical) {
    ctr::ExtractExeFs(m_dir / "exefs.bin", m_dir / "x", m_dir / "xheader.bin", true);
    EXPECT_EQ(ReadBytes(m_dir / "x" / "code.bin"), CodeLikeBytes(60000, 1));
    ctr::BuildExeFs(m_dir / "xheader.bin", m_dir / "x", m_dir / "again.bin", true);
    EXPECT_EQ(ReadBytes(m_dir / "again.bin"), ReadBytes(m_dir / "exefs.bin"));
    const auto exefs = ReadBytes(m_dir / "exefs.bin");
    // The same in memory, each file taken out of the ExeFS as the extraction writes it.
    EXPECT_EQ(ctr::ExeFsFile(exefs, 0, true), CodeLikeBytes(60000, 1));
    EXPECT_EQ(ctr::BuildExeFs(
                  exefs,
                  [&](int index, const std::string&) { return ctr::ExeFsFile(exefs, index, true); },
                  true),
              exefs);
    for (int i = 0; i < 3; ++i) {
        const std::uint32_t offset = U32(exefs, 0x10 * i + 8), size = U32(exefs, 0x10 * i + 12);
        EXPECT_EQ(offset % 0x200, 0u);
        EXPECT_TRUE(HashAt(exefs, ctr::ExeFsHashOffset(i), 0x200 + offset, size));
    }
}

std::vector<std::uint8_t>
BuildCardInMemory(ctr::TCardParts parts, const std::vector<ctr::TRomFsEntry>& entries, bool pad) {
    std::vector<std::uint8_t> image;
    const ctr::TWriteAt write_at = [&](std::uint64_t offset, std::span<const std::uint8_t> bytes) {
        image.resize(std::max<std::size_t>(image.size(), offset + bytes.size()));
        std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
    };
    parts.Cxi.RomFs = [&](const ctr::TWriteAt& at) { return ctr::BuildRomFs(entries, at); };
    const std::uint64_t size = ctr::BuildNcsd(
        parts.HeaderArea, [&](const ctr::TWriteAt& at) { return ctr::BuildCxi(parts.Cxi, at); },
        write_at, pad);
    EXPECT_EQ(size, image.size());
    return image;
}

// A card image read through its compression, its parts and its RomFS files taken as ranges of
// it, is built again in memory byte for byte.
TEST_F(Images, CardImageRebuildsFromItsOwnPartsInMemory) {
    ctr::BuildNcsd(m_dir / "mainncchheader.bin", m_cxi, m_dir / "card.3ds");
    ctr::CompressImage(m_dir / "card.3ds", ctr::TImageKind::Cci, m_dir / "card.zcci");
    const std::unique_ptr<ctr::TInFile> image = ctr::OpenImageFile(m_dir / "card.zcci");
    std::vector<ctr::TRomFsEntry> entries;
    for (const ctr::TImageRomFsFile& file : ctr::ListRomFsFiles(*image, ctr::TImageKind::Cci))
        entries.push_back({file.Path, file.Location.Size, [&image, where = file.Location] {
                               return ctr::OpenRange(*image, where.Offset, where.Size);
                           }});
    EXPECT_TRUE(BuildCardInMemory(ctr::ReadCardParts(*image), entries, true) ==
                ReadBytes(m_dir / "card.3ds"));
}

// The card image built in memory, its RomFS from ranges of the file-built CXI, equals the one
// the tools build from files, padded or not.
TEST_F(Images, CardImageFromPartsInMemoryMatchesTheFileBuild) {
    ctr::TInFile cxi_file(m_cxi);
    const ctr::TNcchHeader ncch = ctr::ReadNcchHeader(cxi_file, 0, cxi_file.Size());
    const std::unique_ptr<ctr::TInFile> romfs =
        ctr::OpenRange(cxi_file, ncch.RomFs.Offset, ncch.RomFs.Size);
    std::vector<ctr::TRomFsEntry> entries;
    for (const auto& [path, where] : ctr::TRomFsReader(*romfs, 0, romfs->Size()).ListFiles())
        entries.push_back({path, where.Size, [&romfs, where] {
                               return ctr::OpenRange(*romfs, where.Offset, where.Size);
                           }});
    ctr::TCardParts parts;
    parts.HeaderArea = ReadBytes(m_dir / "mainncchheader.bin");
    parts.Cxi.Header = ReadBytes(m_dir / "ncchheader.bin");
    parts.Cxi.Exheader = ReadBytes(m_dir / "exheader.bin");
    parts.Cxi.Logo = ReadBytes(m_dir / "logo.bin");
    parts.Cxi.ExeFs = ReadBytes(m_dir / "exefs.bin");
    for (const bool pad : {true, false}) {
        ctr::BuildNcsd(m_dir / "mainncchheader.bin", m_cxi, m_dir / "files.3ds", pad);
        EXPECT_TRUE(BuildCardInMemory(parts, entries, pad) == ReadBytes(m_dir / "files.3ds"))
            << pad;
    }
}

TEST_F(Images, CardImageLayout) {
    ctr::BuildNcsd(m_dir / "mainncchheader.bin", m_cxi, m_dir / "out.3ds");
    EXPECT_EQ(fs::file_size(m_dir / "out.3ds"), 128ull << 20);
    ctr::TInFile in(m_dir / "out.3ds");
    const auto head = in.ReadVector(0, 0x4400, "head");
    const auto cxi = ReadBytes(m_cxi);
    EXPECT_TRUE(std::equal(cxi.begin() + 0x100, cxi.begin() + 0x200, head.begin() + 0x1100));
    EXPECT_TRUE(std::equal(cxi.begin(), cxi.begin() + 0x400, head.begin() + 0x4000));
    EXPECT_EQ(U32(head, 0x120), 0x20u);
    EXPECT_EQ(U32(head, 0x104), (128u << 20) / 0x200);
    EXPECT_EQ(U32(head, 0x128), 0u); // the manual partition is dropped
    EXPECT_EQ(*ctr::TByteReader(head).U64(0x300), 0x4000 + ctr::AlignUp(cxi.size(), 0x1000));
    EXPECT_EQ(head[0x1500], 0xFF);
    EXPECT_EQ(head[0x3FFF], 0xFF);
    std::array<std::uint8_t, 1> last{};
    in.ReadAt(in.Size() - 1, last);
    EXPECT_EQ(last[0], 0xFF);
    EXPECT_EQ(ctr::VerifyImage(m_dir / "out.3ds", ctr::TImageKind::Cci), "");
}

TEST_F(Images, CiaLayoutHashesAndDeterminism) {
    ctr::BuildCia(m_cxi, m_dir / "a.cia");
    ctr::BuildCia(m_cxi, m_dir / "b.cia");
    const auto cia = ReadBytes(m_dir / "a.cia");
    EXPECT_EQ(cia, ReadBytes(m_dir / "b.cia"));
    const auto cxi = ReadBytes(m_cxi);
    EXPECT_EQ(U32(cia, 0), 0x2020u);
    EXPECT_EQ(cia[0x20], 0x80);
    EXPECT_EQ(U32(cia, 0x08), 0xA00u);
    EXPECT_EQ(U32(cia, 0x0C), 0x350u);
    EXPECT_EQ(U32(cia, 0x10), 0xB34u);
    EXPECT_EQ(U32(cia, 0x14), 0x3AC0u); // icon present: meta region
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&cia[0x2040 + 0x240]), 4), "Root");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&cia[0x2A40 + 0x140]), 26),
              "Root-CA00000003-XS0000000c");
    EXPECT_TRUE(std::equal(cxi.begin(), cxi.end(), cia.begin() + 0x3900));
    const std::size_t tmd = 0x2DC0;
    EXPECT_TRUE(HashAt(cia, tmd + 0xB04 + 0x10, 0x3900, cxi.size()));
    EXPECT_TRUE(HashAt(cia, tmd + 0x1E4, tmd + 0x204, 64 * 0x24));
    EXPECT_TRUE(HashAt(cia, tmd + 0x208, tmd + 0xB04, 0x30));
    EXPECT_EQ(ctr::GetBE<std::uint64_t>(&cia[tmd + 0x18C]), 0x0004000000F1A500ull);
    EXPECT_EQ(ctr::GetBE<std::uint16_t>(&cia[tmd + 0x1DC]), 3u << 10);
    EXPECT_EQ(U32(cia, tmd + 0x19A), 0x80000u);
    const std::size_t meta = ctr::AlignUp(0x3900 + cxi.size(), 64);
    EXPECT_EQ(cia.size(), meta + 0x3AC0);
    EXPECT_EQ(ReadBytes(m_dir / "exefs" / "icon.icn"),
              std::vector<std::uint8_t>(cia.begin() + static_cast<std::ptrdiff_t>(meta + 0x400),
                                        cia.end()));
    EXPECT_EQ(ctr::VerifyImage(m_dir / "a.cia", ctr::TImageKind::Cia), "");

    ctr::ExtractCiaContents(m_dir / "a.cia", m_dir / "c");
    EXPECT_EQ(ReadBytes(m_dir / "c.0000.00000000"), cxi);
}

TEST_F(Images, VerificationNamesTheBrokenPart) {
    ctr::BuildCia(m_cxi, m_dir / "a.cia");
    const auto cxi = ReadBytes(m_cxi);
    const std::uint64_t romfs = U32(cxi, 0x1B0) * 0x200ull;
    struct TRow {
        const char* Name;
        std::uint64_t Offset;
        const char* Expected;
    };
    const TRow rows[] = {
        {"exheader", 0x210, "extended header"},
        {"logo", 0xA10, "logo"},
        {"exefs file", U32(cxi, 0x1A0) * 0x200ull + 0x200 + 5, "ExeFS file '.code'"},
        {"romfs header", romfs + 0x70, "RomFS header"},
        {"romfs data", romfs + 0x1000 + 0x200, "RomFS level 3 block 0"},
    };
    for (const TRow& row : rows) {
        auto bad = cxi;
        bad[row.Offset] ^= 0x40;
        WriteBytes(m_dir / "bad.cxi", bad);
        EXPECT_NE(ctr::VerifyImage(m_dir / "bad.cxi", ctr::TImageKind::Cxi).find(row.Expected),
                  std::string::npos)
            << row.Name << ": " << ctr::VerifyImage(m_dir / "bad.cxi", ctr::TImageKind::Cxi);
    }
    auto cia = ReadBytes(m_dir / "a.cia");
    cia[0x3900 + 0x3000] ^= 1;
    WriteBytes(m_dir / "bad.cia", cia);
    EXPECT_NE(ctr::VerifyImage(m_dir / "bad.cia", ctr::TImageKind::Cia).find("TMD hash"),
              std::string::npos);
    cia = ReadBytes(m_dir / "a.cia");
    cia[0x2DC0 + 0x300] ^= 1;
    WriteBytes(m_dir / "bad.cia", cia);
    EXPECT_NE(ctr::VerifyImage(m_dir / "bad.cia", ctr::TImageKind::Cia).find("info records"),
              std::string::npos);
    EXPECT_NE(ctr::VerifyImage(m_dir / "missing.cia", ctr::TImageKind::Cia), "");

    // Progress rises to its total, which counts each byte once; a false answer cancels.
    std::uint64_t last = 0, total = 0;
    EXPECT_EQ(ctr::VerifyImage(m_dir / "a.cia", ctr::TImageKind::Cia,
                               [&](std::uint64_t done, std::uint64_t all) {
                                   EXPECT_GE(done, last);
                                   last = done;
                                   total = all;
                                   return true;
                               }),
              "");
    EXPECT_EQ(last, total);
    EXPECT_EQ(total, fs::file_size(m_cxi)); // the CIA's one content
    EXPECT_EQ(ctr::VerifyImage(m_cxi, ctr::TImageKind::Cxi,
                               [](std::uint64_t, std::uint64_t) { return false; }),
              "the check was cancelled");
}

TEST_F(Images, FindsRomFsFilesInEveryKind) {
    ctr::BuildCia(m_cxi, m_dir / "a.cia");
    ctr::BuildNcsd(m_dir / "mainncchheader.bin", m_cxi, m_dir / "a.3ds");
    const auto expected = NoiseBytes(20000, 6);
    for (const auto& [name, kind] :
         {std::pair{"title.cxi", ctr::TImageKind::Cxi}, std::pair{"a.cia", ctr::TImageKind::Cia},
          std::pair{"a.3ds", ctr::TImageKind::Cci}}) {
        const auto found = ctr::FindRomFsFile(m_dir / name, kind, "sound/QK123.bcsar");
        ASSERT_TRUE(found) << name;
        ASSERT_EQ(found->Size, expected.size());
        ctr::TInFile in(m_dir / name);
        EXPECT_EQ(in.ReadVector(found->Offset, found->Size), expected) << name;
    }
    std::string error;
    EXPECT_FALSE(
        ctr::FindRomFsFile(m_dir / "title.cxi", ctr::TImageKind::Cxi, "sound/none", &error));
    EXPECT_EQ(error, "");
    EXPECT_FALSE(
        ctr::FindRomFsFile(m_dir / "a.cia", ctr::TImageKind::Cxi, "sound/QK123.bcsar", &error));
    EXPECT_NE(error, "");
}

} // namespace

namespace {

// Random damage to the headers and tables of every kind: the readers must answer with a
// result or an error, never crash, hang or run away with memory.
TEST_F(Images, RandomHeaderDamageIsHandled) {
    ctr::BuildCia(m_cxi, m_dir / "a.cia");
    const std::pair<const char*, ctr::TImageKind> kinds[] = {{"title.cxi", ctr::TImageKind::Cxi},
                                                             {"a.cia", ctr::TImageKind::Cia},
                                                             {"romfs.bin", ctr::TImageKind::Cxi}};
    std::mt19937 random(2024);
    for (const auto& [name, kind] : kinds) {
        const auto original = ReadBytes(m_dir / name);
        for (int round = 0; round < 150; ++round) {
            auto bad = original;
            const std::size_t span = std::min<std::size_t>(bad.size(), 0x4000);
            for (int flips = 1 + static_cast<int>(random() % 4); flips > 0; --flips)
                bad[random() % span] = static_cast<std::uint8_t>(random());
            WriteBytes(m_dir / "damaged.bin", bad);
            (void)ctr::VerifyImage(m_dir / "damaged.bin", kind);
            (void)ctr::FindRomFsFile(m_dir / "damaged.bin", kind, "sound/QK123.bcsar");
            try {
                ctr::TInFile in(m_dir / "damaged.bin");
                ctr::TRomFsReader reader(in, 0, in.Size());
                (void)reader.VerifyHashes();
                (void)reader.Find("pack.inc");
            } catch (const ctr::TCtrError&) {
            }
        }
    }
}

} // namespace

namespace {

// The RomFS goes on a 0x1000 boundary only when the input header's layout used multiples
// of 8 media units; otherwise it follows the ExeFS at the next unit.
TEST_F(Images, RomFsAlignmentFollowsTheInputHeader) {
    auto header = ReadBytes(m_dir / "ncchheader.bin");
    ctr::PutLE<std::uint32_t>(&header[0x104], 0x401);
    WriteBytes(m_dir / "odd_header.bin", header);
    ctr::TNcchParts parts{m_dir / "odd_header.bin", m_dir / "exheader.bin", m_dir / "logo.bin", {},
                          m_dir / "exefs.bin",      m_dir / "romfs.bin"};
    ctr::BuildCxi(parts, m_dir / "odd.cxi");
    const auto cxi = ReadBytes(m_dir / "odd.cxi");
    EXPECT_EQ(U32(cxi, 0x1B0), U32(cxi, 0x1A0) + U32(cxi, 0x1A4));
    EXPECT_NE(U32(cxi, 0x1B0) % 8, 0u); // this ExeFS does not end on a 0x1000 boundary
    EXPECT_EQ(cxi.size(), U32(cxi, 0x104) * 0x200ull);
    EXPECT_EQ(ctr::VerifyImage(m_dir / "odd.cxi", ctr::TImageKind::Cxi), "");
    const auto even = ReadBytes(m_cxi);
    EXPECT_EQ(U32(even, 0x1B0) % 8, 0u);
    EXPECT_EQ(U32(even, 0x104) % 8, 0u);
}

// Names with blanks and letters outside any ANSI code page reach the system unchanged: a file
// written whole, read back, and written again over its earlier self; an output abandoned
// before Commit() leaves the earlier file as it was and no temporary beside it.
TEST(FileIo, WholeOutputsUnderAnyNameReplaceTheEarlierFile) {
    TTempDir dir;
    const fs::path names[] = {fs::path("plain.bin"), fs::path(u8"имя с пробелами.cia"),
                              fs::path(u8"папка Ж") / fs::path(u8"日本 語.3ds")};
    for (const fs::path& name : names) {
        const fs::path path = dir.Path() / name;
        const std::string what = ctr::PathToUtf8(name);
        fs::create_directories(path.parent_path());
        for (const std::uint32_t seed : {1u, 2u}) { // the second round replaces the first
            const auto bytes = NoiseBytes(3000 + seed, seed);
            ctr::TOutFile out(path);
            out.Write(std::span(bytes.data(), 1000));
            out.Seek(0); // the seek path: rewrite the start, then append
            out.Write(std::span(bytes.data(), 1000));
            out.Write(std::span(bytes.data() + 1000, bytes.size() - 1000));
            EXPECT_TRUE(fs::exists(out.TemporaryPath())) << what;
            out.Commit();
            EXPECT_EQ(ReadBytes(path), bytes) << what;
            ctr::TInFile in(path);
            EXPECT_EQ(in.Size(), bytes.size()) << what;
            EXPECT_EQ(in.ReadVector(2000, 16),
                      std::vector(bytes.begin() + 2000, bytes.begin() + 2016))
                << what;
        }
        const auto kept = ReadBytes(path);
        {
            ctr::TOutFile abandoned(path);
            abandoned.Write(NoiseBytes(10, 3));
        }
        EXPECT_EQ(ReadBytes(path), kept) << what;
        for (const auto& entry : fs::directory_iterator(path.parent_path()))
            EXPECT_NE(entry.path().extension(), ".part") << what;
        // Reasons name the file in UTF-8.
        try {
            ctr::TInFile missing(path.parent_path() / fs::path(u8"нет.bin"));
            ADD_FAILURE() << what;
        } catch (const ctr::TCtrError& error) {
            EXPECT_NE(std::string(error.what()).find(ctr::PathToUtf8(fs::path(u8"нет.bin"))),
                      std::string::npos)
                << error.what();
        }
    }
}

// An output that another program holds open: Windows refuses to replace it, other systems
// replace it under the reader. Either way the name holds a whole file, the reason says what
// happened, and no temporary is left.
TEST(FileIo, ReplacingAFileHeldOpenLeavesItWhole) {
    TTempDir dir;
    const fs::path path = dir.Path() / fs::path(u8"открыт.cia");
    const auto earlier = NoiseBytes(500, 1);
    const auto later = NoiseBytes(700, 2);
    WriteBytes(path, earlier);
    ctr::TInFile reader(path);
    std::string reason;
    try {
        ctr::WriteWholeFile(path, later);
    } catch (const ctr::TCtrError& error) {
        reason = error.what();
    }
    const auto now = ReadBytes(path);
    if (reason.empty()) {
        EXPECT_EQ(now, later);
    } else {
        EXPECT_EQ(now, earlier);
        EXPECT_NE(reason.find("another program"), std::string::npos) << reason;
    }
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        EXPECT_EQ(entry.path(), path);
}

} // namespace
