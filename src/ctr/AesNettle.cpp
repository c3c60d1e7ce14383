#include "ctr/Aes.h"

#include "ctr/FileIo.h"

#include <nettle/aes.h>
#include <nettle/cbc.h>
#include <nettle/ctr.h>

#include <algorithm>

// The browser's build of the ciphers of Aes.h over Nettle (the desktop's are in Aes.cpp).

namespace ctr {

namespace {

void Encrypt(const void* context, std::size_t length, std::uint8_t* out, const std::uint8_t* in) {
    aes128_encrypt(static_cast<const aes128_ctx*>(context), length, out, in);
}

void Decrypt(const void* context, std::size_t length, std::uint8_t* out, const std::uint8_t* in) {
    aes128_decrypt(static_cast<const aes128_ctx*>(context), length, out, in);
}

} // namespace

struct TAesCtr::TState {
    aes128_ctx Context{};
};

TAesCtr::TAesCtr(const TAesKey& key, const TAesBlock& counter)
    : m_state(std::make_unique<TState>()), m_counter(counter) {
    aes128_set_encrypt_key(&m_state->Context, key.data());
}

TAesCtr::~TAesCtr() = default;

void TAesCtr::Apply(std::uint64_t position, std::span<std::uint8_t> data) {
    if (data.empty())
        return;
    TAesBlock counter = AdvanceCounter(m_counter, position / 16);
    // A start inside a block first spends the keystream bytes before it.
    const std::size_t skip = position % 16;
    if (skip != 0) {
        std::array<std::uint8_t, 16> block{};
        const std::size_t head = std::min(data.size(), 16 - skip);
        std::copy_n(data.begin(), head, block.begin() + static_cast<std::ptrdiff_t>(skip));
        ctr_crypt(&m_state->Context, Encrypt, 16, counter.data(), block.size(), block.data(),
                  block.data());
        std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(skip), head, data.begin());
        data = data.subspan(head);
    }
    ctr_crypt(&m_state->Context, Encrypt, 16, counter.data(), data.size(), data.data(),
              data.data());
}

struct TAesCbc::TState {
    aes128_ctx Context{};
    TAesBlock Chain{};
    bool Encrypt = false;
};

TAesCbc::TAesCbc(const TAesKey& key, const TAesBlock& iv, bool encrypt)
    : m_state(std::make_unique<TState>()) {
    if (encrypt)
        aes128_set_encrypt_key(&m_state->Context, key.data());
    else
        aes128_set_decrypt_key(&m_state->Context, key.data());
    m_state->Chain = iv;
    m_state->Encrypt = encrypt;
}

TAesCbc::~TAesCbc() = default;

void TAesCbc::Apply(std::span<std::uint8_t> data) {
    if (data.size() % 16 != 0)
        throw TCtrError("internal error: AES-CBC data is not a whole number of blocks");
    if (data.empty())
        return;
    // Nettle keeps the chain in the block it is given, so the next call carries on from it.
    if (m_state->Encrypt)
        cbc_encrypt(&m_state->Context, Encrypt, 16, m_state->Chain.data(), data.size(), data.data(),
                    data.data());
    else
        cbc_decrypt(&m_state->Context, Decrypt, 16, m_state->Chain.data(), data.size(), data.data(),
                    data.data());
}

} // namespace ctr
