#pragma once
// SHA-256 and MD5 through OpenSSL's EVP interface.

#include <array>
#include <cstdint>
#include <memory>
#include <span>

namespace ctr {

using TSha256Digest = std::array<std::uint8_t, 32>;

/// Incremental SHA-256.
class TSha256 {
public:
    TSha256();
    ~TSha256();
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;
    void Update(std::span<const std::uint8_t> bytes);
    TSha256Digest Final();

private:
    struct TState;
    std::unique_ptr<TState> m_state;
};

TSha256Digest Sha256(std::span<const std::uint8_t> bytes);

} // namespace ctr
