#include "ctr/Hash.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace ctr {

struct TSha256::TState {
    EVP_MD_CTX* Context = nullptr;
};

TSha256::TSha256() : m_state(std::make_unique<TState>()) {
    m_state->Context = EVP_MD_CTX_new();
    if (!m_state->Context || EVP_DigestInit_ex(m_state->Context, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
}

TSha256::~TSha256() {
    EVP_MD_CTX_free(m_state->Context);
}

void TSha256::Update(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty())
        EVP_DigestUpdate(m_state->Context, bytes.data(), bytes.size());
}

TSha256Digest TSha256::Final() {
    TSha256Digest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_state->Context, digest.data(), &length);
    EVP_DigestInit_ex(m_state->Context, EVP_sha256(), nullptr);
    return digest;
}

TSha256Digest Sha256(std::span<const std::uint8_t> bytes) {
    TSha256 hash;
    hash.Update(bytes);
    return hash.Final();
}

struct TMd5::TState {
    EVP_MD_CTX* Context = nullptr;
};

TMd5::TMd5() : m_state(std::make_unique<TState>()) {
    m_state->Context = EVP_MD_CTX_new();
    if (!m_state->Context || EVP_DigestInit_ex(m_state->Context, EVP_md5(), nullptr) != 1)
        throw std::runtime_error("MD5 is not available");
}

TMd5::~TMd5() {
    EVP_MD_CTX_free(m_state->Context);
}

void TMd5::Update(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty())
        EVP_DigestUpdate(m_state->Context, bytes.data(), bytes.size());
}

TMd5Digest TMd5::Final() {
    TMd5Digest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_state->Context, digest.data(), &length);
    EVP_DigestInit_ex(m_state->Context, EVP_md5(), nullptr);
    return digest;
}

} // namespace ctr
