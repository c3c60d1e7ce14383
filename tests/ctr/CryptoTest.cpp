// AES modes, the key scrambler, and reading the user's key file and seed database.

#include "CtrTestSupport.h"

#include "ctr/Aes.h"
#include "ctr/Keys.h"

#include <gtest/gtest.h>

#include <random>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

using namespace ctr_test;

namespace {

std::mt19937_64& Random() {
    static std::mt19937_64 random{std::random_device{}()};
    return random;
}

ctr::TAesKey RandomKey() {
    ctr::TAesKey key{};
    for (std::uint8_t& byte : key)
        byte = static_cast<std::uint8_t>(Random()());
    return key;
}

std::string Hex(const ctr::TAesKey& key) {
    std::string text;
    for (const std::uint8_t byte : key) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

// The scrambler over two 64-bit halves, written apart from the library's 128-bit version.
struct THalves {
    std::uint64_t High, Low;
};
THalves Halves(const ctr::TAesKey& key) {
    THalves value{0, 0};
    for (int i = 0; i < 8; ++i) {
        value.High = value.High << 8 | key[static_cast<std::size_t>(i)];
        value.Low = value.Low << 8 | key[static_cast<std::size_t>(i + 8)];
    }
    return value;
}
THalves Rotate(THalves v, int bits) { // 0 < bits < 64
    return {v.High << bits | v.Low >> (64 - bits), v.Low << bits | v.High >> (64 - bits)};
}
ctr::TAesKey ScrambleByHalves(const ctr::TAesKey& x, const ctr::TAesKey& y) {
    const THalves c{0x1FF9E9AAC5FE0408ull, 0x024591DC5D52768Aull};
    THalves v = Rotate(Halves(x), 2);
    const THalves yy = Halves(y);
    v = {v.High ^ yy.High, v.Low ^ yy.Low};
    const std::uint64_t low = v.Low + c.Low;
    v = {v.High + c.High + (low < v.Low ? 1 : 0), low};
    // Rotating left by 87 is swapping the halves (64), then rotating left by 23.
    v = Rotate({v.Low, v.High}, 23);
    ctr::TAesKey key{};
    for (int i = 0; i < 8; ++i) {
        key[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v.High >> (56 - 8 * i));
        key[static_cast<std::size_t>(i + 8)] = static_cast<std::uint8_t>(v.Low >> (56 - 8 * i));
    }
    return key;
}

TEST(Crypto, ScramblerMatchesAnIndependentComputation) {
    for (int i = 0; i < 64; ++i) {
        const ctr::TAesKey x = RandomKey(), y = RandomKey();
        EXPECT_EQ(ctr::ScrambleKey(x, y), ScrambleByHalves(x, y));
    }
}

TEST(Crypto, CounterCarriesAcrossAllSixteenBytes) {
    ctr::TAesBlock counter{};
    counter.fill(0xFF);
    counter[0] = 0x00;
    ctr::TAesBlock expected{};
    expected[0] = 0x01;
    expected[15] = 0x01;
    EXPECT_EQ(ctr::AdvanceCounter(counter, 2), expected);
}

TEST(Crypto, ACounterModeSliceEqualsTheSliceOfTheWhole) {
    const ctr::TAesKey key = RandomKey();
    ctr::TAesBlock counter = RandomKey();
    counter[15] = 0xF0; // the slices cross carries in the low bytes
    std::vector<std::uint8_t> whole = NoiseBytes(1 << 16, static_cast<std::uint32_t>(Random()()));
    const std::vector<std::uint8_t> plain = whole;
    ctr::TAesCtr(key, counter).Apply(0, whole);
    ASSERT_NE(whole, plain);
    ctr::TAesCtr cipher(key, counter);
    for (int i = 0; i < 50; ++i) {
        const std::size_t begin = Random()() % plain.size();
        const std::size_t length = Random()() % (plain.size() - begin);
        std::vector<std::uint8_t> slice(plain.begin() + static_cast<std::ptrdiff_t>(begin),
                                        plain.begin() +
                                            static_cast<std::ptrdiff_t>(begin + length));
        cipher.Apply(begin, slice);
        EXPECT_TRUE(std::equal(slice.begin(), slice.end(),
                               whole.begin() + static_cast<std::ptrdiff_t>(begin)))
            << begin << "+" << length;
    }
}

TEST(Crypto, ChainedModeInPiecesEqualsOneRunAndReverses) {
    const ctr::TAesKey key = RandomKey();
    const ctr::TAesBlock iv = RandomKey();
    const std::vector<std::uint8_t> plain = NoiseBytes(4096, 7);
    std::vector<std::uint8_t> once = plain, pieces = plain;
    ctr::TAesCbc(key, iv, true).Apply(once);
    ctr::TAesCbc chain(key, iv, true);
    chain.Apply(std::span(pieces).first(48));
    chain.Apply(std::span(pieces).subspan(48));
    EXPECT_EQ(pieces, once);
    ctr::TAesCbc(key, iv, false).Apply(once);
    EXPECT_EQ(once, plain);
}

TEST(KeyFile, KnownNamesAreReadInAnySpellingAndOthersIgnored) {
    const ctr::TAesKey x = RandomKey(), y = RandomKey(), common = RandomKey();
    const ctr::TKeySet keys = ctr::ParseKeyFile(
        "# made-up keys\r\n\nslot0x2cKeyX=" + Hex(x) + "\r\n  SLOT0X25KEYY = " + Hex(y) +
        "  # trailing\n" + "common3=" + Hex(common) + "\nfavourite=nothex\n");
    EXPECT_EQ(keys.Find("slot0x2CKeyX"), x);
    EXPECT_EQ(keys.Find("slot0x25KeyY"), y);
    EXPECT_EQ(keys.Find("common3"), common);
    EXPECT_THROW(keys.Get("slot0x18KeyX"), ctr::TMissingKeyError);
}

TEST(KeyFile, ByteOrderMarkSectionsAndRepeatedLinesAreRead) {
    const ctr::TAesKey x = RandomKey(), other = RandomKey();
    const struct {
        std::string Text;
        bool Found;
    } rows[] = {
        {"\xEF\xBB\xBFslot0x25KeyX=" + Hex(x) + "\n", true},
        {"\xEF\xBB\xBF:AES\r\nslot0x25KeyX=" + Hex(x) + "\r\n", true},
        {":RSA\nslot0x25KeyX=" + Hex(other) + "\nmodulus\n: aes \nslot0x25KeyX=" + Hex(x), true},
        {":AES\nslot0x25KeyX=" + Hex(x) + "\n:ECC\nslot0x25KeyX=not a key\n", true},
        {"slot0x25KeyX=" + Hex(x) + "\nslot0x25KeyX=" + Hex(x) + "\n", true},
        {":AES\n:RSA\nslot0x25KeyX=" + Hex(x) + "\n", false},
    };
    for (const auto& row : rows) {
        const ctr::TKeySet keys = ctr::ParseKeyFile(row.Text);
        EXPECT_EQ(keys.Find("slot0x25KeyX"), row.Found ? std::optional(x) : std::nullopt)
            << row.Text;
    }
}

TEST(KeyFile, AFaultyLineIsNamedByNumberWithoutItsValue) {
    const std::string value = Hex(RandomKey());
    const struct {
        std::string Text;
        std::string Message;
    } rows[] = {
        {"slot0x2CKeyX=" + value + "\nslot0x25KeyX\n", "key file line 2 is not of the form"},
        {"\n\nslot0x2CKeyX=" + value.substr(1) + "\n",
         "key file line 3: the value of slot0x2CKeyX"},
        {"slot0x2CKeyX=" + value.substr(2) + "zz\n", "key file line 1: the value of slot0x2CKeyX"},
        {"common0=" + value + "\n#\ncommon0=" + Hex(RandomKey()),
         "key file line 3: common0 is given twice with different values"},
    };
    for (const auto& row : rows) {
        try {
            ctr::ParseKeyFile(row.Text);
            ADD_FAILURE() << row.Message;
        } catch (const ctr::TCtrError& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.rfind(row.Message, 0), 0u) << message;
            EXPECT_EQ(message.find(value.substr(2, 16)), std::string::npos) << message;
        }
    }
}

TEST(SeedDb, RecordsRoundTripAndATruncatedFileIsRefused) {
    ctr::TSeedDb seeds;
    const ctr::TSeed first = RandomKey(), second = RandomKey();
    seeds.Set(0x0004000000123400ull, first);
    seeds.Set(0x0004000000ABCD00ull, second);
    std::vector<std::uint8_t> bytes = seeds.Serialize();
    const ctr::TSeedDb read = ctr::ParseSeedDb(bytes);
    EXPECT_EQ(read.Find(0x0004000000123400ull), first);
    EXPECT_EQ(read.Find(0x0004000000ABCD00ull), second);
    EXPECT_FALSE(read.Find(0x0004000000000000ull));
    bytes.pop_back();
    EXPECT_THROW(ctr::ParseSeedDb(bytes), ctr::TCtrError);
}

#if !defined(_WIN32)
TEST(KeyFile, ANamedPipeIsRefusedUnopened) {
    // Opening the pipe would wait for a writer for ever.
    const TTempDir dir;
    const fs::path pipe = dir.Path() / "aes_keys.txt";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_THROW(ctr::ReadKeyFile(pipe), ctr::TCtrError);
    EXPECT_THROW(ctr::ReadSeedDb(pipe), ctr::TCtrError);
}
#endif

} // namespace
