#include "sample/SampleCrypt.h"

#include "ctr/ByteReader.h"
#include "ctr/Cia.h"
#include "ctr/Decrypt.h"
#include "ctr/ExeFs.h"
#include "ctr/Hash.h"
#include "ctr/Ncch.h"
#include "ctr/Ncsd.h"

#include <algorithm>
#include <functional>
#include <random>
#include <string>

namespace sample {

namespace fs = std::filesystem;

namespace {

using TSink = std::function<void(std::span<std::uint8_t>)>;

constexpr std::size_t TicketTitleKey = 0x1BF;
constexpr std::size_t TicketTitleId = 0x1DC;
constexpr std::size_t TicketCommonKeyIndex = 0x1F1;
constexpr std::size_t TmdChunkRecords = 0xB04;
constexpr std::size_t ChunkRecordSize = 0x30;
constexpr std::uint64_t NcsdHeaderCopy = 0x1100;

// The NCCH header as the encrypted image carries it.
std::array<std::uint8_t, ctr::NcchHeaderSize> EncryptedHeader(const ctr::TNcchHeader& plain,
                                                              const TEncryption& encryption,
                                                              ctr::TCryptoKeys& keys) {
    auto raw = plain.Raw;
    std::uint8_t& flags = raw[ctr::NcchOffCryptoFlags];
    flags = static_cast<std::uint8_t>(
        flags & ~(ctr::NcchFlagNoCrypto | ctr::NcchFlagFixedKeyBit | ctr::NcchFlagSeedBit));
    raw[ctr::NcchOffCryptoMethod] = encryption.FixedKey ? 0 : encryption.CryptoMethod;
    if (encryption.FixedKey)
        flags |= ctr::NcchFlagFixedKeyBit;
    if (encryption.Seed) {
        flags |= ctr::NcchFlagSeedBit;
        const std::uint64_t program_id = ctr::GetLE<std::uint64_t>(&raw[ctr::NcchOffProgramId]);
        const auto check = ctr::SeedCheck(*encryption.Seed, program_id);
        std::copy(check.begin(), check.end(), &raw[ctr::NcchOffSeedCheck]);
        keys.Seeds.Set(program_id, *encryption.Seed);
    }
    return raw;
}

// Streams `size` bytes of the NCCH at `base` through its keystream into `sink`.
void EncryptNcch(ctr::TInFile& in, std::uint64_t base, std::uint64_t size,
                 const TEncryption& encryption, ctr::TCryptoKeys& keys, const TSink& sink) {
    const ctr::TNcchHeader plain = ctr::ReadNcchHeader(in, base, size);
    auto raw = EncryptedHeader(plain, encryption, keys);
    const ctr::TNcchHeader header = ctr::ParseNcchHeader(raw, size);
    ctr::TNcchCipher cipher(header, keys);
    if (header.ExeFs.Size != 0)
        cipher.SetExeFsFiles(
            ctr::ReadExeFsHeader(in, base + header.ExeFs.Offset, header.ExeFs.Size));
    sink(raw);
    std::vector<std::uint8_t> block;
    for (std::uint64_t at = ctr::NcchHeaderSize; at < size;) {
        block.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>(ctr::CopyChunkSize, size - at)));
        in.ReadAt(base + at, block, "NCCH");
        cipher.Apply(at, block);
        sink(block);
        at += block.size();
    }
}

void EncryptCia(ctr::TInFile& in, ctr::TOutFile& out, const TEncryption& encryption,
                ctr::TCryptoKeys& keys) {
    const ctr::TCiaLayout layout = ctr::ReadCia(in);
    std::vector<std::uint8_t> ticket = in.ReadVector(layout.TicketOffset, layout.TicketSize);
    std::vector<std::uint8_t> tmd = in.ReadVector(layout.TmdOffset, layout.TmdSize);
    ticket[TicketCommonKeyIndex] = encryption.CommonKeyIndex;
    ctr::TAesBlock iv{};
    std::copy_n(&ticket[TicketTitleId], 8, iv.begin());
    ctr::TAesKey title_key = encryption.TitleKey;
    const ctr::TAesKey common =
        ctr::ScrambleKey(keys.Keys.SlotKeyX(0x3D),
                         keys.Keys.Get("common" + std::to_string(encryption.CommonKeyIndex)));
    ctr::TAesCbc(common, iv, true).Apply(title_key);
    std::copy(title_key.begin(), title_key.end(), &ticket[TicketTitleKey]);

    ctr::CopyRange(in, 0, layout.ContentOffset, out);
    for (std::size_t i = 0; i < layout.Contents.size(); ++i) {
        const ctr::TCiaContent& content = layout.Contents[i];
        if (!content.Present)
            continue;
        ctr::CopyRange(in, out.Position(), content.Offset - out.Position(), out);
        std::uint8_t* record = &tmd[TmdChunkRecords + i * ChunkRecordSize];
        ctr::PutBE<std::uint16_t>(record + 6, content.Type | 1);
        ctr::TAesBlock content_iv{};
        ctr::PutBE<std::uint16_t>(content_iv.data(), content.Index);
        ctr::TAesCbc cbc(encryption.TitleKey, content_iv, true);
        ctr::TSha256 hash;
        EncryptNcch(in, content.Offset, content.Size, encryption, keys,
                    [&](std::span<std::uint8_t> bytes) {
                        hash.Update(bytes);
                        cbc.Apply(bytes);
                        out.Write(bytes);
                    });
        const ctr::TSha256Digest digest = hash.Final();
        std::copy(digest.begin(), digest.end(), record + 16);
    }
    ctr::CopyRange(in, out.Position(), in.Size() - out.Position(), out);
    ctr::RehashTmd(tmd);
    const std::uint64_t end = out.Position();
    out.Seek(layout.TicketOffset);
    out.Write(ticket);
    out.Seek(layout.TmdOffset);
    out.Write(tmd);
    out.Seek(end);
}

void EncryptNcsd(ctr::TInFile& in, ctr::TOutFile& out, const TEncryption& encryption,
                 ctr::TCryptoKeys& keys) {
    const ctr::TNcsdPartition partition = ctr::ReadNcsdPartition0(in);
    ctr::CopyRange(in, 0, partition.Offset, out);
    std::array<std::uint8_t, 0x100> header_copy{};
    EncryptNcch(in, partition.Offset, partition.Size, encryption, keys,
                [&](std::span<std::uint8_t> bytes) {
                    if (out.Position() == partition.Offset)
                        std::copy_n(bytes.begin() + 0x100, header_copy.size(), header_copy.begin());
                    out.Write(bytes);
                });
    ctr::CopyRange(in, out.Position(), in.Size() - out.Position(), out);
    const std::uint64_t end = out.Position();
    out.Seek(NcsdHeaderCopy);
    out.Write(header_copy);
    out.Seek(end);
}

} // namespace

ctr::TCryptoKeys MakeUpKeys(std::uint64_t random_seed) {
    std::mt19937_64 random(random_seed);
    auto key = [&] {
        ctr::TAesKey bytes{};
        for (std::uint8_t& byte : bytes)
            byte = static_cast<std::uint8_t>(random());
        return bytes;
    };
    ctr::TCryptoKeys keys;
    for (const int slot : {0x2C, 0x25, 0x18, 0x1B, 0x3D})
        keys.Keys.Set(ctr::SlotKeyName(slot, 'X'), key());
    for (int index = 0; index < 6; ++index)
        keys.Keys.Set("common" + std::to_string(index), key());
    return keys;
}

void EncryptImage(const fs::path& plain, ctr::TImageKind kind, const fs::path& output,
                  const TEncryption& encryption, ctr::TCryptoKeys& keys) {
    ctr::EnsureNotAnInput(output, {&plain});
    ctr::TInFile in(plain);
    ctr::TOutFile out(output);
    switch (kind) {
    case ctr::TImageKind::Cxi:
        EncryptNcch(in, 0, in.Size(), encryption, keys,
                    [&](std::span<std::uint8_t> bytes) { out.Write(bytes); });
        break;
    case ctr::TImageKind::Cci:
        EncryptNcsd(in, out, encryption, keys);
        break;
    case ctr::TImageKind::Cia:
        EncryptCia(in, out, encryption, keys);
        break;
    }
    out.Commit();
}

void WriteKeyFiles(const fs::path& key_file, const ctr::TCryptoKeys& keys) {
    const std::string text = ctr::FormatKeyFile(keys.Keys);
    ctr::WriteWholeFile(key_file,
                        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    if (keys.Seeds.Size() != 0)
        ctr::WriteWholeFile(key_file.parent_path() / "seeddb.bin", keys.Seeds.Serialize());
}

} // namespace sample
