#include "ctr/Blz.h"

#include "ctr/ByteReader.h"

#include <algorithm>

namespace ctr {

namespace {

constexpr std::size_t FooterSize = 8;
constexpr std::size_t MinMatch = 3;
constexpr std::size_t MaxMatch = 18;
constexpr std::size_t MinDistance = 3;
constexpr std::size_t MaxDistance = 4098;

} // namespace

std::optional<std::vector<std::uint8_t>> BlzDecompress(std::span<const std::uint8_t> data) {
    const TByteReader reader(data);
    if (data.size() < FooterSize)
        return std::nullopt;
    const std::uint32_t word_a = *reader.U32(data.size() - 8);
    const std::uint32_t growth = *reader.U32(data.size() - 4);
    const std::size_t top = word_a & 0xFFFFFF;
    const std::size_t bottom = word_a >> 24;
    if (bottom < 8 || bottom > 11 || bottom > top || top > data.size())
        return std::nullopt;
    const std::uint64_t out_size = static_cast<std::uint64_t>(data.size()) + growth;
    if (out_size > BlzMaxOutput)
        return std::nullopt;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(out_size));
    std::copy(data.begin(), data.end(), out.begin());

    std::size_t read = data.size() - bottom;
    const std::size_t stop = data.size() - top;
    std::size_t write = out.size();
    while (read > stop) {
        const std::uint8_t flags = data[--read];
        for (int bit = 7; bit >= 0 && read > stop; --bit) {
            if (!(flags >> bit & 1)) {
                if (write == 0)
                    return std::nullopt;
                out[--write] = data[--read];
                continue;
            }
            if (read - stop < 2)
                return std::nullopt;
            const std::uint8_t high = data[--read];
            const std::uint8_t low = data[--read];
            const std::size_t length = (high >> 4) + MinMatch;
            const std::size_t distance = ((high & 0xF) << 8 | low) + MinDistance;
            // The first copied byte reads the highest address; later ones read lower.
            if (write < length || write - 1 + distance >= out.size())
                return std::nullopt;
            for (std::size_t i = 0; i < length; ++i) {
                --write;
                out[write] = out[write + distance];
            }
        }
    }
    // A sound stream fills exactly the bytes between the verbatim prefix and the end.
    if (read != stop || write != stop)
        return std::nullopt;
    return out;
}

bool BlzIsCompressed(std::span<const std::uint8_t> data) {
    return BlzDecompress(data).has_value();
}

namespace {

struct TToken {
    std::uint16_t Length; // 1 for a literal
    std::uint16_t Distance;
};

// Greedy longest matches over the reversed data, where the backward format becomes an
// ordinary forward LZ77 with distances 3-4098.
std::vector<TToken> FindTokens(const std::vector<std::uint8_t>& reversed) {
    const std::size_t size = reversed.size();
    constexpr std::size_t HashBits = 15;
    std::vector<std::int32_t> head(1u << HashBits, -1);
    std::vector<std::int32_t> previous(size, -1);
    auto hash_at = [&](std::size_t i) {
        return ((reversed[i] << 10) ^ (reversed[i + 1] << 5) ^ reversed[i + 2]) &
               ((1u << HashBits) - 1);
    };
    // Positions are inserted lazily up to `inserted` so that a candidate is at least
    // MinDistance behind the current position.
    std::size_t inserted = 0;
    auto insert_up_to = [&](std::size_t limit) {
        for (; inserted < limit && inserted + MinMatch <= size; ++inserted) {
            const std::uint32_t h = hash_at(inserted);
            previous[inserted] = head[h];
            head[h] = static_cast<std::int32_t>(inserted);
        }
    };

    std::vector<TToken> tokens;
    std::size_t position = 0;
    while (position < size) {
        std::size_t best_length = 0;
        std::size_t best_distance = 0;
        if (position >= MinDistance && position + MinMatch <= size) {
            insert_up_to(position - MinDistance + 1);
            const std::size_t max_length = std::min(MaxMatch, size - position);
            for (std::int32_t candidate = head[hash_at(position)]; candidate >= 0;
                 candidate = previous[static_cast<std::size_t>(candidate)]) {
                const std::size_t distance = position - static_cast<std::size_t>(candidate);
                if (distance > MaxDistance)
                    break;
                if (distance < MinDistance)
                    continue;
                std::size_t length = 0;
                while (length < max_length &&
                       reversed[position + length] ==
                           reversed[static_cast<std::size_t>(candidate) + length])
                    ++length;
                if (length > best_length) {
                    best_length = length;
                    best_distance = distance;
                    if (length == max_length)
                        break;
                }
            }
        }
        if (best_length >= MinMatch) {
            tokens.push_back({static_cast<std::uint16_t>(best_length),
                              static_cast<std::uint16_t>(best_distance)});
            position += best_length;
        } else {
            tokens.push_back({1, 0});
            ++position;
        }
    }
    return tokens;
}

} // namespace

std::optional<std::vector<std::uint8_t>> BlzCompress(std::span<const std::uint8_t> data) {
    const std::size_t size = data.size();
    if (size <= FooterSize)
        return std::nullopt;
    std::vector<std::uint8_t> reversed(data.rbegin(), data.rend());
    const std::vector<TToken> tokens = FindTokens(reversed);

    // Replay in decoding order. After token k, `written` original bytes are decoded and
    // `consumed` stream bytes read (flag bytes counted with the first token of their group).
    // Keeping tokens 0..k-1 and storing the rest raw (prefix p = size - written_k, stream
    // length t = consumed_k) decodes safely in place when, at every earlier token j, the
    // write position stays at or above the read position: size - written_j >= p + t -
    // consumed_j. With s_j = size - written_j + consumed_j that means s_k <= s_j for all
    // j <= k; the last global minimum of s satisfies it and gives the smallest output.
    std::size_t written = 0;
    std::size_t consumed = 0;
    std::size_t best_count = 0;
    std::size_t best_s = size;
    for (std::size_t k = 0; k < tokens.size(); ++k) {
        if (k % 8 == 0)
            ++consumed;
        written += tokens[k].Length;
        consumed += tokens[k].Length == 1 ? 1 : 2;
        const std::size_t s = size - written + consumed;
        if (s <= best_s) {
            best_s = s;
            best_count = k + 1;
        }
    }
    if (best_count == 0)
        return std::nullopt;

    // The stream written in decoding order (it is reversed into place below).
    std::vector<std::uint8_t> stream;
    std::size_t position = 0; // in `reversed`
    std::size_t flag_index = 0;
    for (std::size_t k = 0; k < best_count; ++k) {
        if (k % 8 == 0) {
            flag_index = stream.size();
            stream.push_back(0);
        }
        const TToken token = tokens[k];
        if (token.Length == 1) {
            stream.push_back(reversed[position]);
        } else {
            stream[flag_index] |= static_cast<std::uint8_t>(0x80 >> (k % 8));
            const std::uint16_t value = static_cast<std::uint16_t>((token.Length - MinMatch) << 12 |
                                                                   (token.Distance - MinDistance));
            stream.push_back(static_cast<std::uint8_t>(value >> 8));
            stream.push_back(static_cast<std::uint8_t>(value));
        }
        position += token.Length;
    }
    const std::size_t prefix = size - position;
    const std::size_t body = prefix + stream.size();
    const std::size_t total = (body + 3) / 4 * 4 + FooterSize;
    const std::size_t top = total - prefix;
    if (total >= size || top > 0xFFFFFF)
        return std::nullopt;

    std::vector<std::uint8_t> out(total, 0xFF);
    std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(prefix), out.begin());
    std::copy(stream.rbegin(), stream.rend(), out.begin() + static_cast<std::ptrdiff_t>(prefix));
    const std::uint32_t bottom = static_cast<std::uint32_t>(total - body);
    PutLE<std::uint32_t>(out.data() + total - 8, static_cast<std::uint32_t>(top) | bottom << 24);
    PutLE<std::uint32_t>(out.data() + total - 4, static_cast<std::uint32_t>(size - total));
    return out;
}

} // namespace ctr
