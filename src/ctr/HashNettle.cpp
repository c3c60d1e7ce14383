#include "ctr/Hash.h"

#include <nettle/md5.h>
#include <nettle/sha2.h>

// The browser's build of Hash.h over Nettle, which scripts/setup-web.sh builds for WebAssembly
// (the desktop keeps OpenSSL, Hash.cpp).

namespace ctr {

struct TSha256::TState {
    sha256_ctx Context{};
};

TSha256::TSha256() : m_state(std::make_unique<TState>()) {
    sha256_init(&m_state->Context);
}

TSha256::~TSha256() = default;

void TSha256::Update(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty())
        sha256_update(&m_state->Context, bytes.size(), bytes.data());
}

TSha256Digest TSha256::Final() {
    TSha256Digest digest{};
    sha256_digest(&m_state->Context, digest.size(), digest.data()); // also starts anew
    return digest;
}

TSha256Digest Sha256(std::span<const std::uint8_t> bytes) {
    TSha256 hash;
    hash.Update(bytes);
    return hash.Final();
}

struct TMd5::TState {
    md5_ctx Context{};
};

TMd5::TMd5() : m_state(std::make_unique<TState>()) {
    md5_init(&m_state->Context);
}

TMd5::~TMd5() = default;

void TMd5::Update(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty())
        md5_update(&m_state->Context, bytes.size(), bytes.data());
}

TMd5Digest TMd5::Final() {
    TMd5Digest digest{};
    md5_digest(&m_state->Context, digest.size(), digest.data());
    return digest;
}

} // namespace ctr
