// Backward LZ: round trips, in-place decoding, raw fallback and footer limits.

#include "CtrTestSupport.h"

#include "ctr/Blz.h"
#include "ctr/ByteReader.h"

#include <gtest/gtest.h>

using namespace ctr_test;

namespace {

// The loader's way: the compressed bytes at the start of one buffer of the final size,
// decoded towards the start. Fails when a write would clobber unread input.
bool DecodeInPlace(std::vector<std::uint8_t> compressed, std::vector<std::uint8_t>& out) {
    const std::size_t size = compressed.size();
    const std::uint32_t word = *ctr::TByteReader(compressed).U32(size - 8);
    const std::uint32_t growth = *ctr::TByteReader(compressed).U32(size - 4);
    out = compressed;
    out.resize(size + growth);
    std::size_t read = size - (word >> 24), write = out.size();
    const std::size_t stop = size - (word & 0xFFFFFF);
    while (read > stop) {
        const std::uint8_t flags = out[--read];
        for (int bit = 7; bit >= 0 && read > stop; --bit) {
            if (!(flags >> bit & 1)) {
                out[--write] = out[--read];
            } else {
                const std::uint8_t high = out[--read], low = out[--read];
                const std::size_t length = (high >> 4) + 3,
                                  distance = ((high & 0xF) << 8 | low) + 3;
                for (std::size_t i = 0; i < length; ++i) {
                    --write;
                    out[write] = out[write + distance];
                }
            }
            if (write < read)
                return false;
        }
    }
    return true;
}

std::vector<std::uint8_t> Repeated(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i % 5);
    return bytes;
}

struct TSample {
    const char* Name;
    std::vector<std::uint8_t> Data;
};

std::vector<TSample> Samples() {
    std::vector<std::uint8_t> zeros(100000, 0);
    std::vector<std::uint8_t> mixed = CodeLikeBytes(50000, 9);
    const auto noise = NoiseBytes(3000, 9);
    mixed.insert(mixed.begin(), noise.begin(), noise.end()); // incompressible start
    std::vector<std::uint8_t> tail = CodeLikeBytes(40000, 4);
    const auto noise_tail = NoiseBytes(20000, 4);
    tail.insert(tail.end(), noise_tail.begin(), noise_tail.end()); // incompressible end
    return {{"code", CodeLikeBytes(200000, 1)},
            {"zeros", zeros},
            {"noise first", mixed},
            {"noise last", tail},
            {"short", Repeated(48)}};
}

TEST(Blz, RoundTripsAndDecodesInPlace) {
    for (const TSample& sample : Samples()) {
        const auto packed = ctr::BlzCompress(sample.Data);
        ASSERT_TRUE(packed) << sample.Name;
        EXPECT_LT(packed->size(), sample.Data.size()) << sample.Name;
        EXPECT_EQ(packed->size() % 4, 0u) << sample.Name;
        const std::uint32_t word = *ctr::TByteReader(*packed).U32(packed->size() - 8);
        EXPECT_GE(word >> 24, 8u);
        EXPECT_LE(word >> 24, 11u);
        const auto plain = ctr::BlzDecompress(*packed);
        ASSERT_TRUE(plain) << sample.Name;
        EXPECT_EQ(*plain, sample.Data) << sample.Name;
        std::vector<std::uint8_t> in_place;
        EXPECT_TRUE(DecodeInPlace(*packed, in_place)) << sample.Name;
        EXPECT_EQ(in_place, sample.Data) << sample.Name;
    }
}

TEST(Blz, CompressesRepetitiveDataTightly) {
    // 18-byte matches cost 2 bytes plus a flag byte per 8 tokens.
    const std::vector<std::uint8_t> zeros(180000, 0);
    const auto packed = ctr::BlzCompress(zeros);
    ASSERT_TRUE(packed);
    EXPECT_LT(packed->size(), 180000 / 18 * 2 * 9 / 8 + 64);
}

TEST(Blz, IncompressibleOrTinyInputIsLeftRaw) {
    EXPECT_FALSE(ctr::BlzCompress(NoiseBytes(50000, 5)));
    EXPECT_FALSE(ctr::BlzCompress(std::vector<std::uint8_t>(8, 0)));
    EXPECT_FALSE(ctr::BlzCompress({}));
    EXPECT_FALSE(ctr::BlzIsCompressed(CodeLikeBytes(4096, 2)));
}

TEST(Blz, FooterLimitsAreEnforced) {
    const auto packed = *ctr::BlzCompress(CodeLikeBytes(20000, 7));
    const std::uint32_t word = *ctr::TByteReader(packed).U32(packed.size() - 8);
    const std::uint32_t top = word & 0xFFFFFF, bottom = word >> 24;
    struct TRow {
        const char* Name;
        std::uint32_t Word, Growth;
    };
    const TRow rows[] = {
        {"bottom below 8", top | 7u << 24, 0},
        {"bottom above 11", top | 12u << 24, 0},
        {"top below bottom", 7 | bottom << 24, 0},
        {"top beyond size", static_cast<std::uint32_t>(packed.size() + 1) | bottom << 24, 0},
        {"huge growth", word, 0xFFFFFFF0},
        {"wrong growth", word, 1},
    };
    for (const TRow& row : rows) {
        std::vector<std::uint8_t> bad = packed;
        ctr::PutLE<std::uint32_t>(&bad[bad.size() - 8], row.Word);
        if (row.Growth)
            ctr::PutLE<std::uint32_t>(&bad[bad.size() - 4], row.Growth);
        EXPECT_FALSE(ctr::BlzDecompress(bad)) << row.Name;
    }
    EXPECT_FALSE(ctr::BlzDecompress(std::vector<std::uint8_t>(7, 0)));
}

} // namespace
