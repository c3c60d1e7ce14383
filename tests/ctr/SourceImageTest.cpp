// MD5 as the digests of the game's data archive take it.

#include "CtrTestSupport.h"

#include "ctr/FileIo.h"
#include "ctr/Hash.h"
#include "ctr/SourceImage.h"

#include <gtest/gtest.h>

namespace {

TEST(Hash, Md5KnownAnswersWholeAndInPieces) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& [text, digest] : cases) {
        const std::span bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        ctr::TMd5 whole;
        whole.Update(bytes);
        EXPECT_EQ(ctr::HexUpper(whole.Final()), digest) << text;
        ctr::TMd5 pieces;
        for (std::size_t i = 0; i < bytes.size(); i += 7)
            pieces.Update(bytes.subspan(i, std::min<std::size_t>(7, bytes.size() - i)));
        EXPECT_EQ(ctr::HexUpper(pieces.Final()), digest) << text;
    }
}

std::string Md5Of(std::span<const std::uint8_t> bytes) {
    ctr::TMd5 md5;
    md5.Update(bytes);
    return ctr::HexUpper(md5.Final());
}

// Regions in any order, overlapping, empty or spanning several reads: each digest is its own
// region's, the copy gets the region's bytes in order, and progress counts each byte once.
TEST(TakeDigests, EachRegionFromOneRead) {
    const ctr_test::TTempDir dir;
    const std::size_t size = ctr::CopyChunkSize * 2 + 1000;
    const std::vector<std::uint8_t> bytes = ctr_test::NoiseBytes(size, 7);
    ctr_test::WriteBytes(dir / "image.bin", bytes);
    struct TCase {
        const char* Name;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> Regions;
        std::uint64_t Read; // bytes of the union
    };
    const TCase cases[] = {
        {"whole", {{0, size}}, size},
        {"tail first", {{size - 10, 10}, {5, 300}}, 310},
        {"overlapping",
         {{100, ctr::CopyChunkSize}, {200, ctr::CopyChunkSize + 50}},
         ctr::CopyChunkSize + 150},
        {"empty", {{17, 0}, {0, 1}}, 1},
    };
    for (const TCase& c : cases) {
        ctr::TInFile image(dir / "image.bin");
        std::vector<std::uint8_t> copied;
        std::vector<ctr::TDigestRegion> regions;
        for (const auto& [offset, length] : c.Regions)
            regions.push_back({offset, length, {}});
        regions[0].Copy = [&](std::span<const std::uint8_t> part) {
            copied.insert(copied.end(), part.begin(), part.end());
        };
        ctr::TProgress progress{[](std::uint64_t, std::uint64_t) { return true; }, 0, 0};
        const std::vector<std::string> digests = ctr::TakeDigests(image, regions, &progress);
        ASSERT_EQ(digests.size(), c.Regions.size()) << c.Name;
        for (std::size_t i = 0; i < digests.size(); ++i)
            EXPECT_EQ(digests[i],
                      Md5Of(std::span(bytes).subspan(c.Regions[i].first, c.Regions[i].second)))
                << c.Name << " " << i;
        EXPECT_EQ(copied,
                  std::vector<std::uint8_t>(
                      bytes.begin() + std::ptrdiff_t(c.Regions[0].first),
                      bytes.begin() + std::ptrdiff_t(c.Regions[0].first + c.Regions[0].second)))
            << c.Name;
        EXPECT_EQ(progress.Done, c.Read) << c.Name;
        EXPECT_EQ(progress.Total, c.Read) << c.Name;
    }
}

TEST(TakeDigests, RefusesRegionsOutsideAndStopsWhenCancelled) {
    const ctr_test::TTempDir dir;
    ctr_test::WriteBytes(dir / "image.bin", ctr_test::NoiseBytes(ctr::CopyChunkSize * 3, 9));
    ctr::TInFile image(dir / "image.bin");
    EXPECT_THROW(ctr::TakeDigests(image, {{ctr::CopyChunkSize * 3 - 1, 2, {}}}), ctr::TCtrError);
    int calls = 0;
    ctr::TProgress cancel{[&](std::uint64_t, std::uint64_t) { return ++calls < 2; }, 0, 0};
    try {
        ctr::TakeDigests(image, {{0, ctr::CopyChunkSize * 3, {}}}, &cancel);
        ADD_FAILURE() << "not cancelled";
    } catch (const ctr::TCtrError& error) {
        EXPECT_STREQ(error.what(), "the check was cancelled");
    }
    EXPECT_EQ(calls, 2);
}

} // namespace
