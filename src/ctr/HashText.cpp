#include "ctr/Hash.h"

namespace ctr {

std::string HexUpper(std::span<const std::uint8_t> bytes) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text += Digits[byte >> 4];
        text += Digits[byte & 0x0F];
    }
    return text;
}

} // namespace ctr
