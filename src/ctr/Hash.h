#pragma once
// SHA-256 and MD5: through OpenSSL's EVP interface on the desktop, through Nettle in the
// browser's build (HashNettle.cpp).

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

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

using TMd5Digest = std::array<std::uint8_t, 16>;

/// Incremental MD5, for the digests patches name for the game's files (not for security).
class TMd5 {
public:
    TMd5();
    ~TMd5();
    TMd5(const TMd5&) = delete;
    TMd5& operator=(const TMd5&) = delete;
    void Update(std::span<const std::uint8_t> bytes);
    TMd5Digest Final();

private:
    struct TState;
    std::unique_ptr<TState> m_state;
};

/// Bytes as upper-case hexadecimal digits, as the patch descriptions write digests.
std::string HexUpper(std::span<const std::uint8_t> bytes);

} // namespace ctr
