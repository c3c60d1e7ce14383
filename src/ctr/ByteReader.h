#pragma once
// Little-endian field access over byte spans, independent of host order and alignment.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace ctr {

/// Reads little-endian values; every read past the end yields an empty optional.
class TByteReader {
public:
    explicit TByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    template <typename T> std::optional<T> Read(std::size_t offset) const {
        if (offset > m_bytes.size() || sizeof(T) > m_bytes.size() - offset)
            return std::nullopt;
        T value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            value |= static_cast<T>(static_cast<T>(m_bytes[offset + i]) << (8 * i));
        return value;
    }
    std::optional<std::uint8_t> U8(std::size_t offset) const { return Read<std::uint8_t>(offset); }
    std::optional<std::uint16_t> U16(std::size_t offset) const {
        return Read<std::uint16_t>(offset);
    }
    std::optional<std::uint32_t> U32(std::size_t offset) const {
        return Read<std::uint32_t>(offset);
    }
    std::optional<std::uint64_t> U64(std::size_t offset) const {
        return Read<std::uint64_t>(offset);
    }
    /// `length` bytes at `offset`, or nothing when they do not all lie inside.
    std::optional<std::span<const std::uint8_t>> Bytes(std::size_t offset,
                                                       std::size_t length) const {
        if (offset > m_bytes.size() || length > m_bytes.size() - offset)
            return std::nullopt;
        return m_bytes.subspan(offset, length);
    }
    std::size_t Size() const { return m_bytes.size(); }

private:
    std::span<const std::uint8_t> m_bytes;
};

/// Stores `value` little-endian at `out` (which must hold sizeof(T) bytes).
template <typename T> void PutLE(std::uint8_t* out, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
}

/// A magic number built from four characters, as stored little-endian.
constexpr std::uint32_t MakeMagic(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(a)) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24;
}

} // namespace ctr
