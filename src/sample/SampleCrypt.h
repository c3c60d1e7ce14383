#pragma once
// Encrypts a decrypted sample image with made-up keys, as a console would store it, so the
// decryption can be tested and measured without anyone's real keys.

#include "ctr/Keys.h"
#include "ctr/Verify.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace sample {

struct TEncryption {
    bool FixedKey = false;            // zero keys, no key file needed
    std::uint8_t CryptoMethod = 0x00; // 0x00, 0x01, 0x0A or 0x0B (ignored with FixedKey)
    std::optional<ctr::TSeed> Seed;   // the title's seed, added to the key set's database
    std::uint8_t CommonKeyIndex = 0;  // a CIA ticket's common key
    ctr::TAesKey TitleKey{};          // a CIA's title key
};

/// Every key X the decryption may ask for and the six common key Ys, drawn from a generator
/// seeded with `random_seed`.
ctr::TCryptoKeys MakeUpKeys(std::uint64_t random_seed);

/// Writes `plain` (a decrypted image of `kind`) to `output` encrypted with `keys`: the NCCH
/// (partition 0 of a card image, every content of a CIA) with its regions in AES-CTR, a CIA's
/// contents also in AES-CBC under the title key, which the ticket carries encrypted. With
/// `encryption.Seed`, the seed goes into `keys.Seeds` under the program ID.
void EncryptImage(const std::filesystem::path& plain, ctr::TImageKind kind,
                  const std::filesystem::path& output, const TEncryption& encryption,
                  ctr::TCryptoKeys& keys);

/// Writes the key file `key_file` and, when `keys` hold a seed, seeddb.bin beside it.
void WriteKeyFiles(const std::filesystem::path& key_file, const ctr::TCryptoKeys& keys);

} // namespace sample
