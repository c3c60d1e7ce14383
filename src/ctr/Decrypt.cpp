#include "ctr/Decrypt.h"

#include "ctr/ByteReader.h"
#include "ctr/Cia.h"
#include "ctr/Hash.h"
#include "ctr/Ncsd.h"
#include "ctr/Z3ds.h"

#include <algorithm>
#include <cstdio>

namespace ctr {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t OffPartitionId = 0x108;
constexpr std::size_t OffVersion = 0x112;
constexpr std::size_t OffExheaderHash = 0x160;
constexpr std::size_t OffExeFsHash = 0x1C0;
constexpr std::size_t OffRomFsHash = 0x1E0;
constexpr std::uint8_t CounterExheader = 1, CounterExeFs = 2, CounterRomFs = 3;
constexpr int ExheaderSlot = 0x2C;
constexpr int CommonKeySlot = 0x3D;
constexpr int CommonKeyCount = 6;
// Bound of the hashed header regions (ExeFS header, RomFS superblock) checked on opening.
constexpr std::uint64_t MaxHashedHeaderSize = 1u << 20;
constexpr std::uint16_t ContentTypeEncrypted = 0x0001;
// The card header keeps a copy of partition 0's NCCH header from its magic on.
constexpr std::uint64_t NcsdNcchHeaderCopy = 0x1100 - 0x100;

// Ticket and TMD fields the decryption uses.
constexpr std::size_t TicketTitleKey = 0x1BF;
constexpr std::size_t TicketTitleId = 0x1DC;
constexpr std::size_t TicketCommonKeyIndex = 0x1F1;
constexpr std::size_t TmdInfoHash = 0x1E4;
constexpr std::size_t TmdInfoRecords = 0x204;
constexpr std::size_t TmdChunkRecords = 0xB04;
constexpr std::size_t InfoRecordCount = 64;
constexpr std::size_t InfoRecordSize = 0x24;
constexpr std::size_t ChunkRecordSize = 0x30;
constexpr std::size_t ChunkType = 6;
constexpr std::size_t ChunkHash = 16;

bool Matches(const TSha256Digest& digest, const std::uint8_t* stored) {
    return std::equal(digest.begin(), digest.end(), stored);
}

TAesBlock NcchCounter(const TNcchHeader& header, std::uint8_t type, std::uint64_t region_offset) {
    TAesBlock counter{};
    const std::uint16_t version = GetLE<std::uint16_t>(&header.Raw[OffVersion]);
    if (version == 1) {
        std::copy_n(&header.Raw[OffPartitionId], 8, counter.begin());
        PutBE<std::uint64_t>(&counter[8], region_offset);
    } else {
        PutBE<std::uint64_t>(counter.data(), header.PartitionId);
        counter[8] = type;
    }
    return counter;
}

// The header as a decrypted image carries it: no method, NoCrypto, no fixed key or seed.
void MarkDecrypted(std::uint8_t* method, std::uint8_t* flags) {
    *method = 0;
    *flags = static_cast<std::uint8_t>((*flags & ~(NcchFlagFixedKeyBit | NcchFlagSeedBit)) |
                                       NcchFlagNoCrypto);
}

} // namespace

void RehashTmd(std::vector<std::uint8_t>& tmd) {
    for (std::size_t i = 0; i < InfoRecordCount; ++i) {
        std::uint8_t* info = &tmd[TmdInfoRecords + i * InfoRecordSize];
        const std::size_t first = GetBE<std::uint16_t>(info);
        const std::size_t count = GetBE<std::uint16_t>(info + 2);
        if (count != 0 && TmdChunkRecords + (first + count) * ChunkRecordSize <= tmd.size()) {
            const TSha256Digest digest = Sha256(std::span(
                &tmd[TmdChunkRecords + first * ChunkRecordSize], count * ChunkRecordSize));
            std::copy(digest.begin(), digest.end(), info + 4);
        }
    }
    const TSha256Digest info_hash =
        Sha256(std::span(&tmd[TmdInfoRecords], InfoRecordCount * InfoRecordSize));
    std::copy(info_hash.begin(), info_hash.end(), &tmd[TmdInfoHash]);
}

std::optional<int> SlotOfCryptoMethod(std::uint8_t method) {
    switch (method) {
    case 0x00:
        return 0x2C;
    case 0x01:
        return 0x25;
    case 0x0A:
        return 0x18;
    case 0x0B:
        return 0x1B;
    }
    return std::nullopt;
}

std::array<std::uint8_t, 4> SeedCheck(const TSeed& seed, std::uint64_t program_id) {
    std::array<std::uint8_t, 24> input{};
    std::copy(seed.begin(), seed.end(), input.begin());
    PutLE<std::uint64_t>(&input[16], program_id);
    const TSha256Digest digest = Sha256(input);
    return {digest[0], digest[1], digest[2], digest[3]};
}

TNcchCipher::TNcchCipher(const TNcchHeader& header, const TCryptoKeys& keys) : m_header(header) {
    const std::uint8_t flags = header.Flag(7);
    TAesKey key0{}, key1{};
    if (!(flags & NcchFlagFixedKeyBit)) {
        const auto slot = SlotOfCryptoMethod(header.Flag(3));
        if (!slot)
            throw TCtrError("the NCCH uses an unknown crypto method");
        TAesKey key_y{};
        std::copy_n(header.Raw.begin(), key_y.size(), key_y.begin());
        key0 = ScrambleKey(keys.Keys.SlotKeyX(ExheaderSlot), key_y);
        TAesKey key_y1 = key_y;
        if (flags & NcchFlagSeedBit) {
            const std::uint64_t program_id = GetLE<std::uint64_t>(&header.Raw[NcchOffProgramId]);
            char title[24];
            std::snprintf(title, sizeof title, "%016llX",
                          static_cast<unsigned long long>(program_id));
            const auto seed = keys.Seeds.Find(program_id);
            if (!seed)
                throw TMissingKeyError(std::string("the seed database lacks title ") + title);
            const auto check = SeedCheck(*seed, program_id);
            if (!std::equal(check.begin(), check.end(), &header.Raw[NcchOffSeedCheck]))
                throw TCtrError(std::string("the seed of title ") + title +
                                " fails the header's seed check");
            std::array<std::uint8_t, 32> input{};
            std::copy(key_y.begin(), key_y.end(), input.begin());
            std::copy(seed->begin(), seed->end(), input.begin() + 16);
            const TSha256Digest digest = Sha256(input);
            std::copy_n(digest.begin(), key_y1.size(), key_y1.begin());
        }
        key1 = ScrambleKey(keys.Keys.SlotKeyX(*slot), key_y1);
        if (*slot != ExheaderSlot)
            m_second_key = SlotKeyName(*slot, 'X');
    }
    auto stream = [&](const TAesKey& key, std::uint8_t type, std::uint64_t region) {
        m_streams.push_back(std::make_unique<TAesCtr>(key, NcchCounter(header, type, region)));
        return m_streams.back().get();
    };
    TAesCtr* exheader = stream(key0, CounterExheader, NcchHeaderSize);
    TAesCtr* exefs0 = stream(key0, CounterExeFs, header.ExeFs.Offset);
    stream(key1, CounterExeFs, header.ExeFs.Offset);
    TAesCtr* romfs = stream(key1, CounterRomFs, header.RomFs.Offset);
    if (header.ExheaderSize != 0)
        AddSegment(NcchHeaderSize, NcchHeaderSize + ExheaderFileSize, NcchHeaderSize, exheader);
    AddSegment(header.ExeFs.Offset, header.ExeFs.Offset + header.ExeFs.Size, header.ExeFs.Offset,
               exefs0);
    AddSegment(header.RomFs.Offset, header.RomFs.Offset + header.RomFs.Size, header.RomFs.Offset,
               romfs);
}

TNcchCipher::~TNcchCipher() = default;

void TNcchCipher::AddSegment(std::uint64_t begin, std::uint64_t end, std::uint64_t region_start,
                             TAesCtr* stream) {
    if (begin < end)
        m_segments.push_back({begin, end, region_start, stream});
}

void TNcchCipher::SetExeFsFiles(const TExeFsHeader& plain_header) {
    const std::uint64_t exefs = m_header.ExeFs.Offset;
    const std::uint64_t exefs_end = exefs + m_header.ExeFs.Size;
    TAesCtr* key0 = m_streams[1].get();
    TAesCtr* key1 = m_streams[2].get();
    std::vector<std::pair<std::uint64_t, std::uint64_t>> second_key;
    for (const TExeFsEntry& entry : plain_header.Entries)
        if (!entry.Name.empty() && entry.Name != "icon" && entry.Name != "banner" &&
            entry.Size != 0) {
            const std::uint64_t begin = exefs + ExeFsHeaderSize + entry.Offset;
            second_key.emplace_back(std::min(begin, exefs_end),
                                    std::min(begin + entry.Size, exefs_end));
        }
    std::sort(second_key.begin(), second_key.end());
    std::erase_if(m_segments, [&](const TSegment& segment) { return segment.Begin == exefs; });
    // The gaps between files stay with the first key, like the header.
    std::uint64_t at = exefs;
    for (const auto& [begin, end] : second_key) {
        if (begin < at)
            throw TCtrError("the ExeFS files overlap");
        AddSegment(at, begin, exefs, key0);
        AddSegment(begin, end, exefs, key1);
        at = end;
    }
    AddSegment(at, exefs_end, exefs, key0);
    std::sort(m_segments.begin(), m_segments.end(),
              [](const TSegment& a, const TSegment& b) { return a.Begin < b.Begin; });
}

void TNcchCipher::Apply(std::uint64_t position, std::span<std::uint8_t> data) {
    const std::uint64_t end = position + data.size();
    for (const TSegment& segment : m_segments) {
        const std::uint64_t begin = std::max(position, segment.Begin);
        const std::uint64_t stop = std::min(end, segment.End);
        if (begin < stop)
            segment.Stream->Apply(begin - segment.RegionStart,
                                  data.subspan(begin - position, stop - begin));
    }
}

// A stretch of the file with its layers: an optional CBC layer (CIA content) over an optional
// NCCH.
struct TDecryptingReader::TZone {
    std::uint64_t Offset = 0, Size = 0;
    std::optional<TAesKey> CbcKey;
    TAesBlock CbcIv{};
    std::optional<TNcchHeader> Header;
    std::unique_ptr<TNcchCipher> Cipher;
    std::size_t ContentRecord = 0; // a CIA content's TMD chunk record
};

TDecryptingReader::TDecryptingReader(const fs::path& path, TImageKind kind, const TCryptoKeys& keys)
    : m_image(OpenImageFile(path)), m_file(*m_image) {
    switch (kind) {
    case TImageKind::Cxi: {
        auto zone = std::make_unique<TZone>();
        zone->Size = m_file.Size();
        zone->Header = ReadNcchHeader(m_file, 0, m_file.Size());
        m_zones.push_back(std::move(zone));
        AddNcchZone(*m_zones.back(), keys);
        break;
    }
    case TImageKind::Cci: {
        const TNcsdPartition partition = ReadNcsdPartition0(m_file);
        auto zone = std::make_unique<TZone>();
        zone->Offset = partition.Offset;
        zone->Size = partition.Size;
        zone->Header = ReadNcchHeader(m_file, partition.Offset, partition.Size);
        m_zones.push_back(std::move(zone));
        AddNcchZone(*m_zones.back(), keys);
        if (m_encrypted) {
            // The card header's copy of the NCCH flags follows the partition.
            std::vector<std::uint8_t> flags =
                m_file.ReadVector(NcsdNcchHeaderCopy + NcchOffCryptoMethod, 5, "card header");
            MarkDecrypted(&flags[0], &flags[4]);
            m_patches.emplace_back(NcsdNcchHeaderCopy + NcchOffCryptoMethod, flags);
        }
        break;
    }
    case TImageKind::Cia:
        OpenCia(keys);
        break;
    }
}

TDecryptingReader::~TDecryptingReader() = default;

void TDecryptingReader::OpenCia(const TCryptoKeys& keys) {
    m_cia = true;
    const TCiaLayout layout = ReadCia(m_file);
    m_tmd_offset = layout.TmdOffset;
    std::vector<std::uint8_t> tmd = m_file.ReadVector(layout.TmdOffset, layout.TmdSize, "TMD");
    const bool any_encrypted =
        std::any_of(layout.Contents.begin(), layout.Contents.end(), [](const TCiaContent& c) {
            return c.Present && (c.Type & ContentTypeEncrypted);
        });
    if (any_encrypted) {
        const std::vector<std::uint8_t> ticket =
            m_file.ReadVector(layout.TicketOffset, layout.TicketSize, "ticket");
        const int index = ticket[TicketCommonKeyIndex];
        if (index >= CommonKeyCount)
            throw TCtrError("the ticket names common key " + std::to_string(index) +
                            ", which does not exist");
        const TAesKey common = ScrambleKey(keys.Keys.SlotKeyX(CommonKeySlot),
                                           keys.Keys.Get("common" + std::to_string(index)));
        TAesBlock iv{};
        std::copy_n(&ticket[TicketTitleId], 8, iv.begin());
        TAesKey title_key{};
        std::copy_n(&ticket[TicketTitleKey], title_key.size(), title_key.begin());
        TAesCbc(common, iv, false).Apply(title_key);
        m_title_key = title_key;
        m_encrypted = true;
    }
    for (std::size_t i = 0; i < layout.Contents.size(); ++i) {
        const TCiaContent& content = layout.Contents[i];
        std::uint8_t* record = &tmd[TmdChunkRecords + i * ChunkRecordSize];
        PutBE<std::uint16_t>(record + ChunkType, content.Type & ~ContentTypeEncrypted);
        if (!content.Present)
            continue;
        auto zone = std::make_unique<TZone>();
        zone->Offset = content.Offset;
        zone->Size = content.Size;
        zone->ContentRecord = i;
        if (content.Type & ContentTypeEncrypted) {
            if (content.Size % 16 != 0)
                throw TCtrError("an encrypted CIA content is not a whole number of blocks");
            zone->CbcKey = m_title_key;
            PutBE<std::uint16_t>(zone->CbcIv.data(), content.Index);
        }
        if (content.Size >= NcchHeaderSize) {
            std::array<std::uint8_t, NcchHeaderSize> raw{};
            ReadZone(*zone, 0, raw);
            if (GetLE<std::uint32_t>(&raw[0x100]) == MakeMagic('N', 'C', 'C', 'H'))
                zone->Header = ParseNcchHeader(raw, content.Size);
            else if (zone->CbcKey)
                throw TKeysDoNotFitError(KeysDoNotFitText);
        }
        m_zones.push_back(std::move(zone));
        if (m_zones.back()->Header)
            AddNcchZone(*m_zones.back(), keys);
    }
    RehashTmd(tmd);
    m_patches.emplace_back(layout.TmdOffset, std::move(tmd));
}

// Sets up the NCCH layer of a zone and checks the keys on the small hashed regions: the
// extended header, the ExeFS header and the RomFS superblock.
void TDecryptingReader::AddNcchZone(TZone& zone, const TCryptoKeys& keys) {
    const TNcchHeader& header = *zone.Header;
    if (header.NoCrypto())
        return;
    const std::uint8_t* raw = header.Raw.data();
    // Hashed in pieces: the sizes come from the header, which may be damaged.
    std::vector<std::uint8_t> piece;
    auto region_matches = [&](std::uint64_t offset, std::uint64_t length, std::size_t stored) {
        TSha256 hash;
        for (std::uint64_t done = 0; done < length;) {
            piece.resize(static_cast<std::size_t>(std::min<std::uint64_t>(length - done, 0x10000)));
            ReadZone(zone, offset + done, piece);
            hash.Update(piece);
            done += piece.size();
        }
        return Matches(hash.Final(), raw + stored);
    };
    // Decrypted images whose flags were never cleared pass this in the clear.
    const bool has_exheader = header.ExheaderSize == ExheaderSize;
    const bool plain =
        has_exheader && region_matches(NcchHeaderSize, ExheaderSize, OffExheaderHash);
    if (!plain) {
        // Real images hash a few media units there; more is a damaged header.
        if (header.ExeFs.HashSize > MaxHashedHeaderSize ||
            header.RomFs.HashSize > MaxHashedHeaderSize)
            throw TCtrError("the NCCH header is damaged: it claims an oversized hashed region");
        zone.Cipher = std::make_unique<TNcchCipher>(header, keys);
        if (has_exheader && !region_matches(NcchHeaderSize, ExheaderSize, OffExheaderHash))
            throw TKeysDoNotFitError(KeysDoNotFitText);
        // Once the extended header decrypts right, a region under the same key that fails its
        // hash is damaged, not a sign of wrong keys.
        const auto& second_key = zone.Cipher->SecondKeyName();
        auto fail = [&](const char* region, bool second) {
            if (has_exheader && !(second && second_key))
                throw TCtrError(std::string("the image is damaged: the ") + region +
                                " does not match its hash");
            if (second && second_key)
                throw TKeysDoNotFitError(std::string(KeysDoNotFitText) + ": " + *second_key +
                                         " does not decrypt the " + region +
                                         " (or the image is damaged)");
            throw TKeysDoNotFitError(KeysDoNotFitText);
        };
        if (header.ExeFs.Size != 0) {
            if (header.ExeFs.Size < ExeFsHeaderSize)
                throw TCtrError("the ExeFS is too short for its header");
            if (!region_matches(header.ExeFs.Offset, header.ExeFs.HashSize, OffExeFsHash))
                fail("ExeFS header", false);
            std::vector<std::uint8_t> exefs_header(ExeFsHeaderSize);
            ReadZone(zone, header.ExeFs.Offset, exefs_header);
            zone.Cipher->SetExeFsFiles(ParseExeFsHeader(exefs_header, header.ExeFs.Size));
        }
        if (header.RomFs.Size != 0 &&
            !region_matches(header.RomFs.Offset, header.RomFs.HashSize, OffRomFsHash))
            fail("RomFS superblock", true);
    }
    m_encrypted = true;
    std::vector<std::uint8_t> flags(header.Raw.begin() + NcchOffCryptoMethod,
                                    header.Raw.begin() + NcchOffCryptoFlags + 1);
    MarkDecrypted(&flags.front(), &flags.back());
    m_patches.emplace_back(zone.Offset + NcchOffCryptoMethod, std::move(flags));
}

void TDecryptingReader::ReadZone(TZone& zone, std::uint64_t offset, std::span<std::uint8_t> out) {
    if (out.empty())
        return;
    if (offset > zone.Size || out.size() > zone.Size - offset)
        throw TCtrError("internal error: a read crosses its zone");
    if (!zone.CbcKey) {
        m_file.ReadAt(zone.Offset + offset, out, "image data");
    } else {
        // CBC: each block's plaintext needs the ciphertext block before it (or the IV).
        const std::uint64_t begin = offset / 16 * 16;
        const std::uint64_t end = AlignUp(offset + out.size(), 16);
        const std::uint64_t previous = begin == 0 ? 0 : 16;
        // One buffer for every read: a fresh block per read costs the kernel's page faults.
        m_cbc_buffer.resize(static_cast<std::size_t>(end - begin + previous));
        const std::span<std::uint8_t> bytes(m_cbc_buffer);
        m_file.ReadAt(zone.Offset + begin - previous, bytes, "image data");
        TAesBlock iv = zone.CbcIv;
        if (previous != 0)
            std::copy_n(bytes.begin(), 16, iv.begin());
        std::span<std::uint8_t> blocks = std::span(bytes).subspan(previous);
        TAesCbc(*zone.CbcKey, iv, false).Apply(blocks);
        if (zone.Cipher)
            zone.Cipher->Apply(begin, blocks);
        std::copy_n(blocks.begin() + static_cast<std::ptrdiff_t>(offset - begin), out.size(),
                    out.begin());
        return;
    }
    if (zone.Cipher)
        zone.Cipher->Apply(offset, out);
}

void TDecryptingReader::Read(std::uint64_t offset, std::span<std::uint8_t> out) {
    if (!m_file.Contains(offset, out.size()))
        throw TCtrError(PathText(m_file.Path()) + " is truncated");
    const std::uint64_t end = offset + out.size();
    std::uint64_t at = offset;
    for (const auto& zone : m_zones) {
        const std::uint64_t zone_end = zone->Offset + zone->Size;
        if (zone_end <= at || zone->Offset >= end)
            continue;
        if (at < zone->Offset) {
            m_file.ReadAt(at, out.subspan(at - offset, zone->Offset - at), "image data");
            at = zone->Offset;
        }
        const std::uint64_t stop = std::min(end, zone_end);
        ReadZone(*zone, at - zone->Offset, out.subspan(at - offset, stop - at));
        at = stop;
    }
    if (at < end)
        m_file.ReadAt(at, out.subspan(at - offset), "image data");
    for (const auto& [patch_offset, bytes] : m_patches) {
        const std::uint64_t begin = std::max(offset, patch_offset);
        const std::uint64_t stop = std::min(end, patch_offset + bytes.size());
        if (begin < stop)
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(begin - patch_offset),
                        stop - begin, out.begin() + static_cast<std::ptrdiff_t>(begin - offset));
    }
}

bool ImageIsEncrypted(const fs::path& path, TImageKind kind) {
    const TCryptoKeys none;
    try {
        return TDecryptingReader(path, kind, none).Encrypted();
    } catch (const TMissingKeyError&) {
        return true;
    }
}

void DecryptImage(const fs::path& input, TImageKind kind, const fs::path& output,
                  const TCryptoKeys& keys, TProgress* progress, bool scratch) {
    EnsureNotAnInput(output, {&input});
    TDecryptingReader reader(input, kind, keys);
    const std::uint64_t size = reader.Size();
    // A CIA's contents are hashed as they pass, for the new TMD.
    std::vector<std::pair<TDecryptingReader::TZone*, std::unique_ptr<TSha256>>> hashes;
    if (reader.m_cia)
        for (const auto& zone : reader.m_zones)
            hashes.emplace_back(zone.get(), std::make_unique<TSha256>());
    if (progress)
        progress->Total += size;
    TOutFile out(output);
    if (scratch)
        out.MarkScratch();
    // The hashes run on a helper thread while this one reads, decrypts and writes the next
    // blocks; each block stays untouched until its hashing is done (one buffer more than the
    // blocks in flight).
    constexpr std::size_t InFlight = 2;
    std::vector<std::vector<std::uint8_t>> blocks(InFlight + 1);
    for (auto& block : blocks)
        block.resize(static_cast<std::size_t>(std::min<std::uint64_t>(CopyChunkSize, size)));
    TBackgroundLane lane(InFlight);
    std::size_t next = 0;
    for (std::uint64_t at = 0; at < size;) {
        std::vector<std::uint8_t>& block = blocks[next];
        next = (next + 1) % blocks.size();
        const std::span<std::uint8_t> piece = std::span(block).first(
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - at)));
        reader.Read(at, piece);
        if (!hashes.empty())
            lane.Post([&hashes, piece, at] {
                for (auto& [zone, hash] : hashes) {
                    const std::uint64_t begin = std::max(at, zone->Offset);
                    const std::uint64_t end =
                        std::min(at + piece.size(), zone->Offset + zone->Size);
                    if (begin < end)
                        hash->Update(piece.subspan(begin - at, end - begin));
                }
            });
        out.Write(piece);
        at += piece.size();
        if (progress)
            progress->Advance(piece.size());
    }
    lane.Drain();
    if (reader.m_cia) {
        std::vector<std::uint8_t> tmd;
        for (const auto& [offset, bytes] : reader.m_patches)
            if (offset == reader.m_tmd_offset)
                tmd = bytes;
        for (auto& [zone, hash] : hashes) {
            const TSha256Digest digest = hash->Final();
            std::copy(digest.begin(), digest.end(),
                      &tmd[TmdChunkRecords + zone->ContentRecord * ChunkRecordSize + ChunkHash]);
        }
        RehashTmd(tmd);
        out.Seek(reader.m_tmd_offset);
        out.Write(tmd);
        out.Seek(size);
    }
    reader.ConfirmReads(); // a compressed image's frames read in part
    out.Commit();
}

namespace {

// Writes `size` decrypted bytes from `offset` of the reader's image to `out`.
void CopyDecrypted(TDecryptingReader& reader, std::uint64_t offset, std::uint64_t size,
                   TOutFile& out, TProgress* progress) {
    std::vector<std::uint8_t> block(
        static_cast<std::size_t>(std::min<std::uint64_t>(CopyChunkSize, size)));
    for (std::uint64_t done = 0; done < size;) {
        const std::span<std::uint8_t> piece = std::span(block).first(
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - done)));
        reader.Read(offset + done, piece);
        out.Write(piece);
        done += piece.size();
        if (progress)
            progress->Advance(piece.size());
    }
}

} // namespace

void DecryptCiaGameContent(const fs::path& input, const fs::path& output, const TCryptoKeys& keys,
                           TProgress* progress, bool scratch) {
    EnsureNotAnInput(output, {&input});
    TDecryptingReader reader(input, TImageKind::Cia, keys);
    const TDecryptingReader::TZone* content = nullptr;
    for (const auto& zone : reader.m_zones)
        if (zone->ContentRecord == 0)
            content = zone.get();
    if (!content)
        throw TCtrError("the CIA lacks content 0");
    if (progress)
        progress->Total += content->Size;
    TOutFile out(output);
    if (scratch)
        out.MarkScratch();
    CopyDecrypted(reader, content->Offset, content->Size, out, progress);
    reader.ConfirmReads();
    out.Commit();
}

void DecryptCardParts(const fs::path& input, const fs::path& header_output,
                      const fs::path& partition_output, const TCryptoKeys& keys,
                      TProgress* progress, bool scratch) {
    EnsureNotAnInput(header_output, {&input});
    EnsureNotAnInput(partition_output, {&input});
    TDecryptingReader reader(input, TImageKind::Cci, keys);
    const TNcsdPartition partition = ReadNcsdPartition0(*OpenImageFile(input));
    if (progress)
        progress->Total += NcsdHeaderAreaSize + partition.Size;
    TOutFile header(header_output);
    TOutFile game(partition_output);
    if (scratch) {
        header.MarkScratch();
        game.MarkScratch();
    }
    CopyDecrypted(reader, 0, NcsdHeaderAreaSize, header, progress);
    CopyDecrypted(reader, partition.Offset, partition.Size, game, progress);
    reader.ConfirmReads();
    header.Commit();
    game.Commit();
}

} // namespace ctr
