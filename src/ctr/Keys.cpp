#include "ctr/Keys.h"

#include "ctr/ByteReader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace ctr {

namespace {

constexpr std::uint64_t MaxKeyFileSize = 1u << 20;
constexpr std::uint64_t MaxSeedDbSize = 64u << 20;
constexpr std::size_t SeedDbHeaderSize = 0x10;
constexpr std::size_t SeedRecordSize = 0x20;
constexpr std::size_t SeedRecordSeed = 0x08;

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The stored spelling of a name the format knows, or nothing for an unknown name.
std::optional<std::string> CanonicalName(const std::string& name) {
    const std::string lower = Lower(name);
    if (lower == "generator")
        return std::string("generator");
    if (lower.size() == 7 && lower.compare(0, 6, "common") == 0 && lower[6] >= '0' &&
        lower[6] <= '5')
        return lower;
    // slot0xNNKeyX
    if (lower.size() == 12 && lower.compare(0, 6, "slot0x") == 0 &&
        lower.compare(8, 3, "key") == 0 && HexDigit(lower[6]) >= 0 && HexDigit(lower[7]) >= 0 &&
        (lower[11] == 'x' || lower[11] == 'y' || lower[11] == 'n'))
        return SlotKeyName(HexDigit(lower[6]) * 16 + HexDigit(lower[7]),
                           static_cast<char>(std::toupper(static_cast<unsigned char>(lower[11]))));
    return std::nullopt;
}

std::optional<TAesKey> ParseHexKey(const std::string& text) {
    if (text.size() != 32)
        return std::nullopt;
    TAesKey key{};
    for (std::size_t i = 0; i < key.size(); ++i) {
        const int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        key[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return key;
}

// Opening a named pipe or a device would wait for a writer or read for ever.
void EnsureRegularFile(const std::filesystem::path& path, const char* what) {
    std::error_code error;
    if (std::filesystem::exists(path, error) && !std::filesystem::is_regular_file(path, error))
        throw TCtrError(std::string(what) + " " + PathText(path) + " is not a regular file");
}

} // namespace

std::string SlotKeyName(int slot, char which) {
    char text[16];
    std::snprintf(text, sizeof text, "slot0x%02XKey%c", slot & 0xFF, which);
    return text;
}

std::optional<TAesKey> TKeySet::Find(const std::string& name) const {
    const auto found = m_keys.find(name);
    if (found == m_keys.end())
        return std::nullopt;
    return found->second;
}

TAesKey TKeySet::Get(const std::string& name) const {
    if (const auto key = Find(name))
        return *key;
    throw TMissingKeyError("the key file lacks " + name);
}

TAesKey TKeySet::SlotKeyX(int slot) const {
    return Get(SlotKeyName(slot, 'X'));
}

TKeySet ParseKeyFile(const std::string& text) {
    TKeySet keys;
    // Notepad starts a UTF-8 file with a byte-order mark.
    std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    // The emulators' keys.txt groups its lines in sections (":AES", ":RSA", ...); only the AES
    // section holds keys of ours. Lines before any section line count as keys.
    bool in_keys = true;
    for (int line_number = 1; start <= text.size(); ++line_number) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (const auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        line = Trim(line);
        if (!line.empty() && line.front() == ':') {
            in_keys = Lower(Trim(line.substr(1))) == "aes";
        } else if (!line.empty() && in_keys) {
            const std::string where = "key file line " + std::to_string(line_number);
            const auto equals = line.find('=');
            if (equals == std::string::npos)
                throw TCtrError(where + " is not of the form name=value");
            const std::string name = Trim(line.substr(0, equals));
            if (const auto canonical = CanonicalName(name)) {
                const auto key = ParseHexKey(Trim(line.substr(equals + 1)));
                if (!key)
                    throw TCtrError(where + ": the value of " + *canonical +
                                    " is not 32 hexadecimal digits");
                // A repeated line is harmless; two different values leave no way to choose.
                if (const auto earlier = keys.Find(*canonical); earlier && *earlier != *key)
                    throw TCtrError(where + ": " + *canonical +
                                    " is given twice with different values");
                keys.Set(*canonical, *key);
            }
        }
    }
    return keys;
}

TKeySet ReadKeyFile(const std::filesystem::path& path) {
    EnsureRegularFile(path, "key file");
    const std::vector<std::uint8_t> bytes = ReadSmallFile(path, MaxKeyFileSize, "key file");
    return ParseKeyFile(std::string(bytes.begin(), bytes.end()));
}

std::string FormatKeyFile(const TKeySet& keys) {
    std::string text;
    for (const auto& [name, key] : keys.m_keys) {
        text += name + '=';
        for (const std::uint8_t byte : key) {
            static const char digits[] = "0123456789ABCDEF";
            text += digits[byte >> 4];
            text += digits[byte & 15];
        }
        text += '\n';
    }
    return text;
}

std::optional<TSeed> TSeedDb::Find(std::uint64_t title_id) const {
    const auto found = m_seeds.find(title_id);
    if (found == m_seeds.end())
        return std::nullopt;
    return found->second;
}

std::vector<std::uint8_t> TSeedDb::Serialize() const {
    std::vector<std::uint8_t> bytes(SeedDbHeaderSize + m_seeds.size() * SeedRecordSize, 0);
    PutLE<std::uint32_t>(bytes.data(), static_cast<std::uint32_t>(m_seeds.size()));
    std::size_t at = SeedDbHeaderSize;
    for (const auto& [title_id, seed] : m_seeds) {
        PutLE<std::uint64_t>(&bytes[at], title_id);
        std::copy(seed.begin(), seed.end(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(at + SeedRecordSeed));
        at += SeedRecordSize;
    }
    return bytes;
}

TSeedDb ParseSeedDb(std::span<const std::uint8_t> bytes) {
    const TByteReader reader(bytes);
    const auto count = reader.U32(0);
    if (!count || bytes.size() < SeedDbHeaderSize ||
        *count > (bytes.size() - SeedDbHeaderSize) / SeedRecordSize)
        throw TCtrError("the seed database is truncated");
    TSeedDb seeds;
    for (std::size_t i = 0; i < *count; ++i) {
        const std::size_t at = SeedDbHeaderSize + i * SeedRecordSize;
        TSeed seed{};
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at + SeedRecordSeed), seed.size(),
                    seed.begin());
        seeds.Set(*reader.U64(at), seed);
    }
    return seeds;
}

TSeedDb ReadSeedDb(const std::filesystem::path& path) {
    EnsureRegularFile(path, "seed database");
    return ParseSeedDb(ReadSmallFile(path, MaxSeedDbSize, "seed database"));
}

} // namespace ctr
