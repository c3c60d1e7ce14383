#pragma once
// AES-128 in counter and cipher-block-chaining mode (OpenSSL's EVP interface on the desktop,
// Nettle in the browser's build), and the console's key scrambler that turns a key X and a
// key Y into the normal key.

#include <array>
#include <cstdint>
#include <memory>
#include <span>

namespace ctr {

using TAesKey = std::array<std::uint8_t, 16>;
using TAesBlock = std::array<std::uint8_t, 16>;

/// The counter `blocks` 16-byte blocks after `counter` (one 128-bit big-endian number).
TAesBlock AdvanceCounter(const TAesBlock& counter, std::uint64_t blocks);

/// AES-128-CTR keystream from a starting counter, applied at any byte position of the
/// stream: decrypting a slice on its own gives the same bytes as the slice of a whole run.
class TAesCtr {
public:
    TAesCtr(const TAesKey& key, const TAesBlock& counter);
    ~TAesCtr();
    TAesCtr(const TAesCtr&) = delete;
    TAesCtr& operator=(const TAesCtr&) = delete;
    /// XORs the keystream from byte `position` of the stream into `data` (encrypts and
    /// decrypts alike).
    void Apply(std::uint64_t position, std::span<std::uint8_t> data);

private:
    struct TState;
    std::unique_ptr<TState> m_state;
    TAesBlock m_counter;
};

/// AES-128-CBC over whole blocks, in place. The chain carries on from one call to the next,
/// so a long stream goes through in pieces.
class TAesCbc {
public:
    TAesCbc(const TAesKey& key, const TAesBlock& iv, bool encrypt);
    ~TAesCbc();
    TAesCbc(const TAesCbc&) = delete;
    TAesCbc& operator=(const TAesCbc&) = delete;
    /// `data` must be a multiple of 16 bytes.
    void Apply(std::span<std::uint8_t> data);

private:
    struct TState;
    std::unique_ptr<TState> m_state;
};

/// The normal key the console's AES engine derives from key X and key Y.
TAesKey ScrambleKey(const TAesKey& key_x, const TAesKey& key_y);

} // namespace ctr
