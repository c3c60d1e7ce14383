#pragma once
// The user's own key material: the key file (`name=32 hex digits` per line) and the seed
// database. Values are kept here only; messages name a key, a line or a title, never a value.

#include "ctr/Aes.h"
#include "ctr/FileIo.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace ctr {

/// A failure that a key file or seed database of the user's would mend: a key, slot or seed
/// is missing. Its message names what is missing.
class TMissingKeyError : public TCtrError {
public:
    using TCtrError::TCtrError;
};

/// Keys by name: `slot0xNNKeyX`, `slot0xNNKeyY`, `slot0xNNKeyN`, `common0`–`common5` and
/// `generator`; names are stored in that spelling (slot number in upper-case hex).
class TKeySet {
public:
    std::optional<TAesKey> Find(const std::string& name) const;
    /// The named key; throws TMissingKeyError when the set lacks it.
    TAesKey Get(const std::string& name) const;
    void Set(const std::string& name, const TAesKey& key) { m_keys[name] = key; }
    bool Empty() const { return m_keys.empty(); }
    /// The key X of a slot, e.g. SlotKeyX(0x2C).
    TAesKey SlotKeyX(int slot) const;

private:
    friend std::string FormatKeyFile(const TKeySet& keys);
    std::map<std::string, TAesKey> m_keys;
};

/// The key file text for `keys`: only the sample generator writes one, with made-up keys.
std::string FormatKeyFile(const TKeySet& keys);

/// The name of a slot's key: SlotKeyName(0x2C, 'X') is "slot0x2CKeyX".
std::string SlotKeyName(int slot, char which);

/// Parses key file text: aes_keys.txt or the emulators' keys.txt. `#` starts a comment, blank
/// lines and a leading UTF-8 byte-order mark are skipped, names the file format does not know
/// are ignored. A line ":NAME" starts a section; only the lines before any section and those
/// of ":AES" are read. A line without '=', a value that is not 32 hex digits or a name given
/// twice with different values throws TCtrError naming the line number (and the name).
TKeySet ParseKeyFile(const std::string& text);
/// Reads a key file; anything but a regular file is refused unopened.
TKeySet ReadKeyFile(const std::filesystem::path& path);

using TSeed = std::array<std::uint8_t, 16>;

/// Seeds by title ID, from `seeddb.bin`: a 32-bit little-endian count, 12 bytes padding, then
/// 0x20-byte records (title ID little-endian, seed, padding).
class TSeedDb {
public:
    std::optional<TSeed> Find(std::uint64_t title_id) const;
    void Set(std::uint64_t title_id, const TSeed& seed) { m_seeds[title_id] = seed; }
    /// Takes the seeds of `other` for the titles this database lacks.
    void Add(const TSeedDb& other) { m_seeds.insert(other.m_seeds.begin(), other.m_seeds.end()); }
    std::size_t Size() const { return m_seeds.size(); }
    std::vector<std::uint8_t> Serialize() const;

private:
    std::map<std::uint64_t, TSeed> m_seeds;
};

TSeedDb ParseSeedDb(std::span<const std::uint8_t> bytes);
/// Reads a seed database; anything but a regular file is refused unopened.
TSeedDb ReadSeedDb(const std::filesystem::path& path);

/// What decryption may draw on; either may be empty.
struct TCryptoKeys {
    TKeySet Keys;
    TSeedDb Seeds;
};

} // namespace ctr
