// Compressed images: round trips through our writer and reader, images written by other
// hands (the zstd program's frames, odd frame sizes, checksums), damaged files, and the
// image readers and ctrtool taking a compressed image for the image.

#include "ctr/Z3ds.h"
#include "CtrTestSupport.h"
#include "ctr/ByteReader.h"
#include "ctr/Cia.h"
#include "ctr/Decrypt.h"
#include "ctr/FileIo.h"
#include "ctr/Ncsd.h"
#include "ctr/Z3dsWrite.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <functional>
#include <memory>

using namespace ctr_test;

namespace {

std::string MetadataText(const ctr::TZ3dsInfo& info, const std::string& name) {
    for (const auto& [item, value] : info.Metadata)
        if (item == name)
            return std::string(value.begin(), value.end());
    return "(missing)";
}

// A Z3DS put together by hand in frames of the given sizes, each compressed by libzstd at
// another level than ours and ending with zstd's own checksum: the low 32 bits of the
// frame's XXH64, which the seek table holds too.
std::vector<std::uint8_t> HandMadeZ3ds(const std::vector<std::uint8_t>& image,
                                       const std::vector<std::size_t>& frame_sizes,
                                       const char underlying[4]) {
    std::vector<std::uint8_t> stream, table;
    std::size_t at = 0;
    std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context(ZSTD_createCCtx(), &ZSTD_freeCCtx);
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, 5);
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 1);
    for (const std::size_t size : frame_sizes) {
        std::vector<std::uint8_t> frame(ZSTD_compressBound(size));
        frame.resize(
            ZSTD_compress2(context.get(), frame.data(), frame.size(), image.data() + at, size));
        stream.insert(stream.end(), frame.begin(), frame.end());
        std::uint8_t entry[12];
        ctr::PutLE<std::uint32_t>(entry, static_cast<std::uint32_t>(frame.size()));
        ctr::PutLE<std::uint32_t>(entry + 4, static_cast<std::uint32_t>(size));
        std::copy(frame.end() - 4, frame.end(), entry + 8);
        table.insert(table.end(), entry, entry + 12);
        at += size;
    }
    std::uint8_t skippable[8], footer[9];
    ctr::PutLE<std::uint32_t>(skippable, 0x184D2A5E);
    ctr::PutLE<std::uint32_t>(skippable + 4, static_cast<std::uint32_t>(table.size() + 9));
    ctr::PutLE<std::uint32_t>(footer, static_cast<std::uint32_t>(frame_sizes.size()));
    footer[4] = 0x80; // checksums present
    ctr::PutLE<std::uint32_t>(footer + 5, 0x8F92EAB1);
    stream.insert(stream.end(), skippable, skippable + 8);
    stream.insert(stream.end(), table.begin(), table.end());
    stream.insert(stream.end(), footer, footer + 9);

    // No metadata items but the end item: a reader needs none.
    std::vector<std::uint8_t> file(0x30, 0);
    std::copy_n("Z3DS", 4, file.begin());
    std::copy_n(underlying, 4, file.begin() + 4);
    file[8] = 1;
    ctr::PutLE<std::uint16_t>(&file[0x0A], 0x20);
    ctr::PutLE<std::uint32_t>(&file[0x0C], 0x10);
    ctr::PutLE<std::uint64_t>(&file[0x10], stream.size());
    ctr::PutLE<std::uint64_t>(&file[0x18], image.size());
    file[0x20] = 1;
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

// An NCCH-looking image of mixed noise and runs.
std::vector<std::uint8_t> NcchLikeImage(std::size_t size) {
    std::vector<std::uint8_t> image = NoiseBytes(size, 11);
    std::fill(image.begin() + size / 3, image.begin() + size / 2, 0x5A);
    std::copy_n("NCCH", 4, image.begin() + 0x100);
    return image;
}

class Z3ds : public ::testing::Test {
protected:
    void SetUp() override {
        WriteTitleParts(m_dir.Path());
        // Large enough for our writer to cut a card image or an NCCH into a few frames.
        WriteBytes(m_dir / "romfs" / "pack.dat", NoiseBytes(600000, 4));
        m_cxi = BuildTitleCxi(m_dir.Path());
        ctr::BuildCia(m_cxi, m_dir / "title.cia");
        ctr::BuildNcsd(m_dir / "mainncchheader.bin", m_cxi, m_dir / "title.3ds", false);
    }
    TTempDir m_dir;
    fs::path m_cxi;
};

} // namespace

TEST_F(Z3ds, EveryKindRoundTripsAndReadsAsTheImage) {
    const struct {
        const char* Plain;
        const char* Compressed;
        ctr::TImageKind Kind;
        const char* FrameSize;
    } cases[] = {{"title.cxi", "title.zcxi", ctr::TImageKind::Cxi, "262144"},
                 {"title.cia", "title.zcia", ctr::TImageKind::Cia, "33554432"},
                 {"title.3ds", "title.zcci", ctr::TImageKind::Cci, "262144"}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Plain);
        const fs::path plain = m_dir / test.Plain, compressed = m_dir / test.Compressed;
        ctr::TProgress progress;
        ctr::CompressImage(plain, test.Kind, compressed, &progress, 3, true);
        EXPECT_EQ(progress.Done, fs::file_size(plain));
        EXPECT_TRUE(ctr::IsZ3dsFile(compressed));
        EXPECT_FALSE(ctr::IsZ3dsFile(plain));

        ctr::TZ3dsReader reader(compressed);
        EXPECT_EQ(reader.Info().Kind, test.Kind);
        EXPECT_EQ(reader.Info().FrameCount, test.Kind == ctr::TImageKind::Cia ? 1u : 3u);
        EXPECT_EQ(reader.Size(), fs::file_size(plain));
        EXPECT_EQ(MetadataText(reader.Info(), "maxframesize"), test.FrameSize);
        EXPECT_EQ(MetadataText(reader.Info(), "compressor").rfind("QVT Patch Tool ", 0), 0u);
        EXPECT_EQ(MetadataText(reader.Info(), "date").size(), 20u);

        const auto image = ctr::OpenImageFile(compressed);
        EXPECT_FALSE(image->Direct());
        EXPECT_EQ(ctr::DetectImageKind(*image), test.Kind);
        EXPECT_EQ(ctr::VerifyImage(compressed, test.Kind), "");

        ctr::DecompressImage(compressed, m_dir / "back", nullptr, true);
        EXPECT_EQ(ReadBytes(m_dir / "back"), ReadBytes(plain));

#if !defined(_WIN32)
        // The zstd program skips the seek table's skippable frame and gives the image.
        const std::uint32_t metadata = ctr::GetLE<std::uint32_t>(&ReadBytes(compressed)[0x0C]);
        const std::string command = "tail -c +" + std::to_string(0x20 + metadata + 1) + " " +
                                    test.Compressed + " | zstd -dc > oracle";
        EXPECT_EQ(ctr_test::Run("/bin/sh", {"-c", command}, m_dir.Path()), 0);
        EXPECT_EQ(ReadBytes(m_dir / "oracle"), ReadBytes(plain));
#endif
    }
    // Our ctrtool reads the compressed CIA as the CIA.
    EXPECT_EQ(ctr_test::Run(ToolPath("ctrtool"), {"-y", "title.zcia"}, m_dir.Path()), 0);
    EXPECT_EQ(ctr_test::Run(ToolPath("ctrtool"), {"--contents=part", "title.zcia"}, m_dir.Path()),
              0);
    EXPECT_EQ(ReadBytes(m_dir / "part.0000.00000000"), ReadBytes(m_cxi));
}

TEST_F(Z3ds, ReadsFramesOfOtherSizesWithChecksumsAtAnyOffset) {
    const std::vector<std::uint8_t> image = NcchLikeImage(900000);
    const std::vector<std::size_t> frames = {1000, 70000, 1, 300000, 0, 528999};
    WriteBytes(m_dir / "odd.zcxi", HandMadeZ3ds(image, frames, "NCCH"));
    ctr::TZ3dsReader reader(m_dir / "odd.zcxi");
    EXPECT_EQ(reader.Info().FrameCount, frames.size());
    EXPECT_EQ(reader.Info().LargestFrame, 528999u);
    // Reads inside one frame, across one boundary, across several, and backwards.
    const std::pair<std::uint64_t, std::size_t> reads[] = {
        {0, 0x104},    {990, 20},   {1000, 1},     {1001, 1},       {999, 70003},
        {500, 400000}, {371000, 1}, {370990, 600}, {899999, 1},     {0, 900000},
        {71000, 1},    {70999, 2},  {5, 5},        {600000, 250000}};
    for (const auto& [offset, length] : reads) {
        std::vector<std::uint8_t> out(length);
        reader.Read(offset, out);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), image.begin() + offset))
            << offset << "+" << length;
    }
    std::vector<std::uint8_t> past(2);
    EXPECT_THROW(reader.Read(image.size() - 1, past), ctr::TCtrError);
}

TEST_F(Z3ds, LargeFramesReadAtAnyOffsetAndAreConfirmedAtTheirEnd) {
    // Frames above 1 MiB are decompressed as they are read, through a window of 2 MiB.
    const std::size_t big = (6u << 20) + 7;
    const std::vector<std::uint8_t> image = NcchLikeImage(big + (1u << 20) + 2);
    const std::vector<std::uint8_t> file = HandMadeZ3ds(image, {big, 0, 1, (1u << 20) + 1}, "NCCH");
    WriteBytes(m_dir / "big.zcxi", file);
    ctr::TZ3dsReader reader(m_dir / "big.zcxi");
    // Forward, skipping ahead, behind the window (the frame starts again), back inside it,
    // across the boundaries, longer than the window, the whole image.
    const std::pair<std::uint64_t, std::size_t> reads[] = {
        {0, 0x104},   {5u << 20, 100},       {0x200, 10},      {(5u << 20) - 4096, 8192},
        {big - 5, 9}, {big - 1, 2},          {big - 100, 50},  {(1u << 20) + 3, 5u << 20},
        {0, big + 1}, {image.size() - 1, 1}, {0, image.size()}};
    for (const auto& [offset, length] : reads) {
        std::vector<std::uint8_t> out(length);
        reader.Read(offset, out);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), image.begin() + offset))
            << offset << "+" << length;
    }
    reader.ConfirmReads();

    // A damaged frame read only in part gives its bytes; confirming the reads, also through a
    // range of the image as a file inside it is read, finds the damage.
    std::vector<std::uint8_t> bad = file;
    bad[bad.size() - 9 - 48 + 8] ^= 1; // frame 0's checksum
    WriteBytes(m_dir / "bad.zcxi", bad);
    const auto opened = ctr::OpenImageFile(m_dir / "bad.zcxi");
    const auto inside = ctr::OpenRange(*opened, 1000, 5000);
    std::vector<std::uint8_t> part(5000);
    inside->ReadAt(0, part);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), image.begin() + 1000));
    try {
        inside->ConfirmReads();
        ADD_FAILURE() << "confirmed";
    } catch (const ctr::TCtrError& error) {
        EXPECT_NE(std::string(error.what()).find("frame 0 fails its checksum"), std::string::npos)
            << error.what();
    }
}

TEST_F(Z3ds, DamagedFilesAreRefusedWithTheirReason) {
    // Small frames are decompressed whole when read; a large one as it is read, its size and
    // checksum checked at its end.
    for (const std::size_t first : {std::size_t{150000}, (std::size_t{6} << 20) + 7}) {
        SCOPED_TRACE(first);
        const std::vector<std::uint8_t> image = NcchLikeImage(first + 50000);
        const std::vector<std::uint8_t> good = HandMadeZ3ds(image, {first, 50000}, "NCCH");
        const std::size_t stream = 0x30, end = good.size(), entries = end - 9 - 24;
        using TEdit = std::function<void(std::vector<std::uint8_t>&)>;
        auto put32 = [](std::size_t at, std::uint32_t value) {
            return TEdit([=](auto& file) { ctr::PutLE<std::uint32_t>(&file[at], value); });
        };
        auto put64 = [](std::size_t at, std::uint64_t value) {
            return TEdit([=](auto& file) { ctr::PutLE<std::uint64_t>(&file[at], value); });
        };
        auto both = [](TEdit a, TEdit b) {
            return TEdit([=](auto& file) {
                a(file);
                b(file);
            });
        };
        const auto size = [](std::size_t value) { return std::to_string(value); };
        const std::string first_size = size(first);
        const struct {
            std::string Reason;
            TEdit Edit;
        } cases[] = {
            {"version 2", [](auto& file) { file[8] = 2; }},
            {"no Z3DS magic", [](auto& file) { file[0] = 'X'; }},
            {"compressed size runs past", put64(0x10, end - stream + 1)},
            {"metadata runs past", put32(0x0C, 0x7FFFFFF0)},
            {"footer magic", [&](auto& file) { file[end - 1] ^= 1; }},
            {"would start before the stream", put32(end - 9, 0x01000000)},
            {"would start before the stream", put32(end - 9, 0xFFFFFFFF)},
            {"not a skippable frame", put32(end - 9, 1)},
            {"compressed sizes do not add up", put32(entries, 1000)},
            {"sizes do not add up to the image size", put32(entries + 4, first + 1)},
            {"decompresses to " + first_size + " bytes instead of " + size(first + 1),
             both(put32(entries + 4, first + 1), put64(0x18, first + 50001))},
            {"decompresses to more than its " + size(first - 1),
             both(put32(entries + 4, first - 1), put64(0x18, first + 49999))},
            {"larger than 1 GiB",
             both(put32(entries + 4, (1u << 30) + 1), put64(0x18, (1u << 30) + 1 + 50000))},
            {"fails its checksum", [&](auto& file) { file[entries + 8] ^= 1; }},
            {"does not decompress", [&](auto& file) { file[stream] ^= 0xFF; }},
            {"another compressed image", [](auto& file) { std::copy_n("Z3DS", 4, &file[4]); }},
            {"not the card image (NCSD) its header says",
             [](auto& file) { std::copy_n("NCSD", 4, &file[4]); }},
            {"not the CIA its header says", [](auto& file) { std::copy_n("CIA", 4, &file[4]); }},
            {"neither a CIA", [](auto& file) { std::copy_n("NCCX", 4, &file[4]); }},
        };
        for (const auto& test : cases) {
            SCOPED_TRACE(test.Reason);
            std::vector<std::uint8_t> bad = good;
            test.Edit(bad);
            WriteBytes(m_dir / "bad.zcxi", bad);
            try {
                ctr::TZ3dsReader reader(m_dir / "bad.zcxi");
                // Damage inside a later frame shows when that frame is read.
                std::vector<std::uint8_t> all(reader.Size());
                reader.Read(0, all);
                ADD_FAILURE() << "accepted";
            } catch (const ctr::TCtrError& error) {
                EXPECT_NE(std::string(error.what()).find(test.Reason), std::string::npos)
                    << error.what();
            }
        }
    }
    const std::vector<std::uint8_t> image = NcchLikeImage(200000);
    const std::vector<std::uint8_t> good = HandMadeZ3ds(image, {150000, 50000}, "NCCH");
    const std::size_t entries = good.size() - 9 - 24;
    // Damage in a later frame stops a decompression, which leaves no output.
    std::vector<std::uint8_t> late = good;
    late[entries + 12 + 8] ^= 1;
    WriteBytes(m_dir / "late.zcxi", late);
    EXPECT_THROW(ctr::DecompressImage(m_dir / "late.zcxi", m_dir / "late.cxi"), ctr::TCtrError);
    EXPECT_FALSE(fs::exists(m_dir / "late.cxi"));
    // Cut anywhere, the file no longer holds what its header says.
    for (std::size_t size = 0; size < good.size(); size += size < 0x40 ? 1 : 997) {
        WriteBytes(m_dir / "cut.zcxi",
                   std::vector<std::uint8_t>(good.begin(), good.begin() + size));
        EXPECT_THROW(ctr::TZ3dsReader(m_dir / "cut.zcxi"), ctr::TCtrError) << size;
        EXPECT_EQ(ctr::VerifyImage(m_dir / "cut.zcxi", ctr::TImageKind::Cxi).empty(), false);
    }
    // A compressed image inside a compressed image.
    WriteBytes(m_dir / "inner.zcxi", good);
    std::vector<std::uint8_t> nested = ReadBytes(m_dir / "inner.zcxi");
    nested.resize(0x2000, 0);
    WriteBytes(m_dir / "outer.zcxi", HandMadeZ3ds(nested, {0x2000}, "NCCH"));
    EXPECT_THROW(ctr::TZ3dsReader(m_dir / "outer.zcxi"), ctr::TCtrError);
    // Compressing something that is not the kind named writes nothing.
    EXPECT_THROW(ctr::CompressImage(m_dir / "title.cia", ctr::TImageKind::Cxi, m_dir / "x.zcxi"),
                 ctr::TCtrError);
    EXPECT_FALSE(fs::exists(m_dir / "x.zcxi"));
}

TEST_F(Z3ds, PlainFilesOpenAsTheyAre) {
    const auto file = ctr::OpenImageFile(m_cxi);
    EXPECT_TRUE(file->Direct());
    EXPECT_EQ(file->Size(), fs::file_size(m_cxi));
    EXPECT_EQ(ctr::DetectImageKind(*file), ctr::TImageKind::Cxi);
    const auto logo = ctr::OpenImageFile(m_dir / "logo.bin");
    EXPECT_EQ(ctr::DetectImageKind(*logo), std::nullopt);
    // Cancelled, a compression leaves no output behind.
    ctr::TProgress cancel{[](std::uint64_t, std::uint64_t) { return false; }};
    EXPECT_THROW(ctr::CompressImage(m_cxi, ctr::TImageKind::Cxi, m_dir / "c.zcxi", &cancel),
                 ctr::TCtrError);
    EXPECT_FALSE(fs::exists(m_dir / "c.zcxi"));
    for (const auto& entry : fs::directory_iterator(m_dir.Path()))
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
}

TEST_F(Z3ds, EncryptedImagesDecryptThroughTheCompression) {
    // qvtsample makes up the keys and writes them beside the image.
    const fs::path qvtsample = ToolPath("ctrtool").parent_path().parent_path() / "qvtsample";
    ASSERT_EQ(ctr_test::Run(qvtsample,
                            {"--kind", "cia", "--region", "EUR", "--out", "enc.zcia", "--pack-size",
                             "300001", "--encrypt", "keys", "--keys", "keys.txt", "--compress"},
                            m_dir.Path()),
              0);
    const fs::path compressed = m_dir / "enc.zcia";
    ASSERT_TRUE(ctr::IsZ3dsFile(compressed));
    EXPECT_TRUE(ctr::ImageIsEncrypted(compressed, ctr::TImageKind::Cia));
    ctr::TCryptoKeys keys;
    keys.Keys = ctr::ReadKeyFile(m_dir / "keys.txt");
    ctr::DecryptImage(compressed, ctr::TImageKind::Cia, m_dir / "dec.cia", keys);
    EXPECT_EQ(ctr::VerifyImage(m_dir / "dec.cia", ctr::TImageKind::Cia), "");
    // A view of the compressed image served by the decrypting reader reads as the decrypted
    // image.
    ctr::TDecryptingReader reader(compressed, ctr::TImageKind::Cia, keys);
    const auto view = ctr::OpenImageFile(compressed);
    reader.Serve(*view);
    EXPECT_EQ(ctr::ReadImageCode(*view, ctr::TImageKind::Cia),
              ctr::ReadImageCode(m_dir / "dec.cia", ctr::TImageKind::Cia));
    const auto files = ctr::ListRomFsFiles(*view, ctr::TImageKind::Cia);
    const auto expected = ctr::ListRomFsFiles(m_dir / "dec.cia", ctr::TImageKind::Cia);
    ASSERT_EQ(files.size(), expected.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(files[i].Location.Offset, expected[i].Location.Offset) << files[i].Path;
}
