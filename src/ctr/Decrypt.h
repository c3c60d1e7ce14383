#pragma once
// Decrypting images with the user's own keys: NCCH regions (AES-CTR), CIA contents
// (AES-CBC with the ticket's title key) and a card image's partition 0. Everything streams or
// is read block by block; no image is held in memory.

#include "ctr/Aes.h"
#include "ctr/ExeFs.h"
#include "ctr/Keys.h"
#include "ctr/Ncch.h"
#include "ctr/Verify.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace ctr {

/// The message when keys are present but decrypt to something the image's hashes reject.
inline constexpr const char* KeysDoNotFitText = "the keys do not fit this image";

/// Keys are present but decrypt to something the image's hashes reject; its message starts
/// with KeysDoNotFitText.
class TKeysDoNotFitError : public TCtrError {
public:
    using TCtrError::TCtrError;
};

/// Header flag bits and fields of NCCH encryption.
inline constexpr std::size_t NcchOffCryptoMethod = 0x18B; // flag 3
inline constexpr std::size_t NcchOffCryptoFlags = 0x18F;  // flag 7
inline constexpr std::size_t NcchOffSeedCheck = 0x114;
inline constexpr std::size_t NcchOffProgramId = 0x118;
inline constexpr std::uint8_t NcchFlagFixedKeyBit = 0x01;
inline constexpr std::uint8_t NcchFlagSeedBit = 0x20;

/// The key slot of a crypto method (flag 3), or nothing for a method we do not know.
std::optional<int> SlotOfCryptoMethod(std::uint8_t method);
/// Recomputes a TMD's info record hashes over its content records, then the hash over them.
void RehashTmd(std::vector<std::uint8_t>& tmd);
/// The first 4 bytes of SHA-256(seed ‖ program ID little-endian), as the header stores them.
std::array<std::uint8_t, 4> SeedCheck(const TSeed& seed, std::uint64_t program_id);

/// The keystream of one NCCH: which bytes are encrypted, with which key and counter.
/// Apply() encrypts and decrypts alike, at any position, so it serves reading, writing and the
/// sample generator.
class TNcchCipher {
public:
    /// Derives both keys from the header (key Y, crypto method, fixed-key and seed flags).
    /// Throws TMissingKeyError when a key X or the seed is missing, TCtrError when the seed
    /// fails the header's check or the method is unknown.
    TNcchCipher(const TNcchHeader& header, const TCryptoKeys& keys);
    ~TNcchCipher();
    TNcchCipher(const TNcchCipher&) = delete;
    TNcchCipher& operator=(const TNcchCipher&) = delete;
    /// ExeFS files other than icon and banner use the second key; until the decrypted ExeFS
    /// header is known, the whole ExeFS uses the first.
    void SetExeFsFiles(const TExeFsHeader& plain_header);
    /// XORs the keystream into `data`, which lies at `position` from the NCCH's start.
    void Apply(std::uint64_t position, std::span<std::uint8_t> data);
    /// The key X that the ExeFS code and the RomFS use besides the extended header's, or
    /// nothing when they use the extended header's key (or a fixed key) alone.
    const std::optional<std::string>& SecondKeyName() const { return m_second_key; }

private:
    struct TSegment {
        std::uint64_t Begin = 0, End = 0;
        std::uint64_t RegionStart = 0; // where the segment's counter starts
        TAesCtr* Stream = nullptr;
    };
    void AddSegment(std::uint64_t begin, std::uint64_t end, std::uint64_t region_start,
                    TAesCtr* stream);

    TNcchHeader m_header;
    std::vector<std::unique_ptr<TAesCtr>> m_streams; // exheader, ExeFS key0, ExeFS key1, RomFS
    std::vector<TSegment> m_segments;                // sorted, not overlapping
    std::optional<std::string> m_second_key;
};

/// An image read as its decrypted form: every encrypted layer is taken off the bytes as they
/// are read, and the headers say NoCrypto. Opening checks the keys against the image's hashes.
class TDecryptingReader {
public:
    /// Throws TMissingKeyError when a needed key or seed is missing, TKeysDoNotFitError when
    /// the keys decrypt to data the hashes reject, TCtrError when the image is damaged (also
    /// when a region fails its hash after the extended header decrypted right with the same
    /// key). An image without encryption opens with no keys at all.
    TDecryptingReader(const std::filesystem::path& path, TImageKind kind, const TCryptoKeys& keys);
    ~TDecryptingReader();
    TDecryptingReader(const TDecryptingReader&) = delete;
    TDecryptingReader& operator=(const TDecryptingReader&) = delete;

    /// True when any part of the image was encrypted.
    bool Encrypted() const { return m_encrypted; }
    std::uint64_t Size() const { return m_file.Size(); }
    /// The decrypted bytes at `offset`. A CIA's TMD reads with its content types marked
    /// decrypted; its content hashes are those of the file (DecryptImage writes new ones).
    void Read(std::uint64_t offset, std::span<std::uint8_t> out);
    /// Makes every read of `view`, a file opened on the same image, give the decrypted bytes,
    /// so the image's readers take files out of it as from a decrypted image, block by block.
    /// The reader must outlive the view's reads; both are used from one thread.
    void Serve(TInFile& view) {
        view.ReadThrough(
            [this](std::uint64_t offset, std::span<std::uint8_t> out) { Read(offset, out); },
            [this] { ConfirmReads(); });
    }
    /// Checks the frames of a compressed image read in part (TInFile::ConfirmReads).
    void ConfirmReads() { m_file.ConfirmReads(); }

private:
    struct TZone;
    void AddNcchZone(TZone& zone, const TCryptoKeys& keys);
    void ReadZone(TZone& zone, std::uint64_t offset, std::span<std::uint8_t> out);
    void OpenCia(const TCryptoKeys& keys);

    std::unique_ptr<TInFile> m_image; // opened with OpenImageFile: a compressed image unpacks
    TInFile& m_file;                  // as it is read
    std::vector<std::unique_ptr<TZone>> m_zones; // in file order
    std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> m_patches;
    std::optional<TAesKey> m_title_key;
    bool m_encrypted = false;
    bool m_cia = false;
    std::uint64_t m_tmd_offset = 0;
    std::vector<std::uint8_t> m_cbc_buffer; // ciphertext of a read through a CBC layer
    friend void DecryptImage(const std::filesystem::path&, TImageKind, const std::filesystem::path&,
                             const TCryptoKeys&, TProgress*, bool);
    friend void DecryptCiaGameContent(const std::filesystem::path&, const std::filesystem::path&,
                                      const TCryptoKeys&, TProgress*, bool);
};

/// True when some layer of the image is encrypted (headers only are read; no keys needed).
bool ImageIsEncrypted(const std::filesystem::path& path, TImageKind kind);

/// Writes the decrypted image to `output`: NoCrypto flags, all hashes true. Keys are checked
/// before the output is created. A CIA's TMD gets decrypted content types and new hashes.
/// A `scratch` output (one the caller deletes itself) is not forced to the disk.
void DecryptImage(const std::filesystem::path& input, TImageKind kind,
                  const std::filesystem::path& output, const TCryptoKeys& keys,
                  TProgress* progress = nullptr, bool scratch = false);

/// Writes the decrypted first content of a CIA (the game's NCCH, a CXI) to `output`, with the
/// flags NoCrypto: what extracting that content from the decrypted CIA would give, without the
/// decrypted CIA. Keys are checked before the output is created. A `scratch` output is not
/// forced to the disk.
void DecryptCiaGameContent(const std::filesystem::path& input, const std::filesystem::path& output,
                           const TCryptoKeys& keys, TProgress* progress = nullptr,
                           bool scratch = false);

/// Writes the decrypted 0x4000-byte header area of a card image to `header_output` and its
/// decrypted partition 0 (the game's CXI) to `partition_output`: what ExtractNcsd gives for
/// the decrypted image, without reading the other partitions or the padding. Keys are checked
/// before the outputs are created. `scratch` outputs are not forced to the disk.
void DecryptCardParts(const std::filesystem::path& input,
                      const std::filesystem::path& header_output,
                      const std::filesystem::path& partition_output, const TCryptoKeys& keys,
                      TProgress* progress = nullptr, bool scratch = false);

} // namespace ctr
