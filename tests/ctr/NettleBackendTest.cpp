// The browser build's hashing and ciphers (HashNettle.cpp, AesNettle.cpp), compiled here
// against the system's Nettle and compared with OpenSSL's EVP on made-up keys and data cut
// into uneven pieces, so a fault of that backend shows without a browser.

#include "ctr/Aes.h"
#include "ctr/Hash.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <vector>

namespace {

std::vector<std::uint8_t> Noise(std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(count);
    for (std::uint8_t& byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    return bytes;
}

template <std::size_t N> std::array<std::uint8_t, N> Block(std::uint32_t seed) {
    std::array<std::uint8_t, N> block{};
    const auto bytes = Noise(N, seed);
    std::copy(bytes.begin(), bytes.end(), block.begin());
    return block;
}

std::vector<std::uint8_t> EvpDigest(const EVP_MD* md, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &length, md, nullptr);
    digest.resize(length);
    return digest;
}

std::vector<std::uint8_t> EvpCipher(const EVP_CIPHER* cipher, const ctr::TAesKey& key,
                                    const ctr::TAesBlock& iv, bool encrypt,
                                    std::vector<std::uint8_t> data) {
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(context, cipher, nullptr, key.data(), iv.data(), encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(context, 0);
    int written = 0;
    EVP_CipherUpdate(context, data.data(), &written, data.data(), static_cast<int>(data.size()));
    EVP_CIPHER_CTX_free(context);
    return data;
}

// Uneven pieces, some empty, some not a whole number of blocks.
constexpr std::size_t Pieces[] = {0, 1, 15, 16, 17, 100, 4096, 5000};

TEST(NettleBackend, DigestsEqualOpenSsl) {
    for (const std::size_t size : {0u, 1u, 55u, 56u, 64u, 1000u, 70000u}) {
        const auto data = Noise(size, static_cast<std::uint32_t>(size) + 1);
        ctr::TSha256 sha256;
        ctr::TMd5 md5;
        for (std::size_t at = 0, i = 0; at < size; ++i) {
            const std::size_t part = std::min(Pieces[i % std::size(Pieces)], size - at);
            sha256.Update(std::span(data).subspan(at, part));
            md5.Update(std::span(data).subspan(at, part));
            at += part;
        }
        const auto sha = sha256.Final();
        const auto md = md5.Final();
        EXPECT_EQ(std::vector(sha.begin(), sha.end()), EvpDigest(EVP_sha256(), data)) << size;
        EXPECT_EQ(std::vector(md.begin(), md.end()), EvpDigest(EVP_md5(), data)) << size;
    }
}

TEST(NettleBackend, CounterAndChainedModesEqualOpenSsl) {
    const auto key = Block<16>(7);
    const auto iv = Block<16>(8);
    const auto plain = Noise(16 * 700, 9);
    const auto ctr_expected = EvpCipher(EVP_aes_128_ctr(), key, iv, true, plain);
    const auto cbc_expected = EvpCipher(EVP_aes_128_cbc(), key, iv, true, plain);

    // Counter mode from any position, in uneven pieces.
    ctr::TAesCtr counter(key, iv);
    auto data = plain;
    for (std::size_t at = 0, i = 0; at < data.size(); ++i) {
        const std::size_t part = std::min(Pieces[i % std::size(Pieces)], data.size() - at);
        counter.Apply(at, std::span(data).subspan(at, part));
        at += part;
    }
    EXPECT_EQ(data, ctr_expected);

    // Chained mode in whole blocks, carried from one call to the next, and back.
    ctr::TAesCbc encrypt(key, iv, true);
    data = plain;
    for (std::size_t at = 0, i = 0; at < data.size(); ++i) {
        const std::size_t part =
            std::min(Pieces[i % std::size(Pieces)] / 16 * 16, data.size() - at);
        encrypt.Apply(std::span(data).subspan(at, part));
        at += part;
    }
    EXPECT_EQ(data, cbc_expected);
    ctr::TAesCbc decrypt(key, iv, false);
    decrypt.Apply(data);
    EXPECT_EQ(data, plain);
}

} // namespace
