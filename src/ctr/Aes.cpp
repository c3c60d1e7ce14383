#include "ctr/Aes.h"

#include "ctr/FileIo.h"

#include <openssl/evp.h>

#include <algorithm>

namespace ctr {

namespace {

// EVP takes int lengths; pieces of this size keep every call well inside that range.
constexpr std::size_t MaxPiece = 1u << 30;

EVP_CIPHER_CTX* NewContext(const EVP_CIPHER* cipher, const TAesKey& key, const TAesBlock& iv,
                           bool encrypt) {
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    if (!context ||
        EVP_CipherInit_ex(context, cipher, nullptr, key.data(), iv.data(), encrypt ? 1 : 0) != 1) {
        EVP_CIPHER_CTX_free(context);
        throw TCtrError("AES is not available");
    }
    EVP_CIPHER_CTX_set_padding(context, 0);
    return context;
}

void Update(EVP_CIPHER_CTX* context, std::span<std::uint8_t> data) {
    while (!data.empty()) {
        const std::size_t piece = std::min(data.size(), MaxPiece);
        int written = 0;
        if (EVP_CipherUpdate(context, data.data(), &written, data.data(),
                             static_cast<int>(piece)) != 1 ||
            static_cast<std::size_t>(written) != piece)
            throw TCtrError("AES failed");
        data = data.subspan(piece);
    }
}

} // namespace

struct TAesCtr::TState {
    EVP_CIPHER_CTX* Context = nullptr;
};

TAesCtr::TAesCtr(const TAesKey& key, const TAesBlock& counter)
    : m_state(std::make_unique<TState>()), m_counter(counter) {
    m_state->Context = NewContext(EVP_aes_128_ctr(), key, counter, true);
}

TAesCtr::~TAesCtr() {
    EVP_CIPHER_CTX_free(m_state->Context);
}

void TAesCtr::Apply(std::uint64_t position, std::span<std::uint8_t> data) {
    if (data.empty())
        return;
    const TAesBlock counter = AdvanceCounter(m_counter, position / 16);
    if (EVP_CipherInit_ex(m_state->Context, nullptr, nullptr, nullptr, counter.data(), 1) != 1)
        throw TCtrError("AES failed");
    // A start inside a block first spends the keystream bytes before it.
    const std::size_t skip = position % 16;
    if (skip != 0) {
        std::array<std::uint8_t, 16> block{};
        const std::size_t head = std::min(data.size(), 16 - skip);
        std::copy_n(data.begin(), head, block.begin() + static_cast<std::ptrdiff_t>(skip));
        Update(m_state->Context, block);
        std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(skip), head, data.begin());
        data = data.subspan(head);
    }
    Update(m_state->Context, data);
}

struct TAesCbc::TState {
    EVP_CIPHER_CTX* Context = nullptr;
};

TAesCbc::TAesCbc(const TAesKey& key, const TAesBlock& iv, bool encrypt)
    : m_state(std::make_unique<TState>()) {
    m_state->Context = NewContext(EVP_aes_128_cbc(), key, iv, encrypt);
}

TAesCbc::~TAesCbc() {
    EVP_CIPHER_CTX_free(m_state->Context);
}

void TAesCbc::Apply(std::span<std::uint8_t> data) {
    if (data.size() % 16 != 0)
        throw TCtrError("internal error: AES-CBC data is not a whole number of blocks");
    Update(m_state->Context, data);
}

} // namespace ctr
