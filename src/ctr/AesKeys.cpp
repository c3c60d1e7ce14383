#include "ctr/Aes.h"

// The parts of Aes.h that are arithmetic on 128-bit numbers, shared by the desktop's cipher
// (Aes.cpp, OpenSSL) and the browser's (AesNettle.cpp).

namespace ctr {

namespace {

// The public constant of the console's key scrambler, big-endian.
constexpr TAesKey ScramblerConstant = {0x1F, 0xF9, 0xE9, 0xAA, 0xC5, 0xFE, 0x04, 0x08,
                                       0x02, 0x45, 0x91, 0xDC, 0x5D, 0x52, 0x76, 0x8A};

using TU128 = unsigned __int128;

TU128 ToNumber(const TAesKey& bytes) {
    TU128 value = 0;
    for (const std::uint8_t byte : bytes)
        value = value << 8 | byte;
    return value;
}

TAesKey FromNumber(TU128 value) {
    TAesKey bytes{};
    for (std::size_t i = bytes.size(); i-- > 0; value >>= 8)
        bytes[i] = static_cast<std::uint8_t>(value);
    return bytes;
}

TU128 RotateLeft(TU128 value, int bits) {
    return value << bits | value >> (128 - bits);
}

} // namespace

TAesBlock AdvanceCounter(const TAesBlock& counter, std::uint64_t blocks) {
    return FromNumber(ToNumber(counter) + blocks);
}

TAesKey ScrambleKey(const TAesKey& key_x, const TAesKey& key_y) {
    const TU128 mixed =
        (RotateLeft(ToNumber(key_x), 2) ^ ToNumber(key_y)) + ToNumber(ScramblerConstant);
    return FromNumber(RotateLeft(mixed, 87));
}

} // namespace ctr
