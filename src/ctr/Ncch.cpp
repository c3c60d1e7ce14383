#include "ctr/Ncch.h"

#include "ctr/Blz.h"
#include "ctr/ByteReader.h"
#include "ctr/ExeFs.h"
#include "ctr/RomFs.h"
#include "ctr/Z3ds.h"

#include <algorithm>
#include <memory>
#include <optional>

namespace ctr {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t NcchMagic = MakeMagic('N', 'C', 'C', 'H');
constexpr std::size_t OffMagic = 0x100;
constexpr std::size_t OffContentSize = 0x104;
constexpr std::size_t OffPartitionId = 0x108;
constexpr std::size_t OffVersion = 0x112;
constexpr std::size_t OffLogoHash = 0x130;
constexpr std::size_t OffExheaderHash = 0x160;
constexpr std::size_t OffExheaderSize = 0x180;
constexpr std::size_t OffPlain = 0x190;
constexpr std::size_t OffLogo = 0x198;
constexpr std::size_t OffExeFs = 0x1A0;
constexpr std::size_t OffRomFs = 0x1B0;
constexpr std::size_t OffExeFsHash = 0x1C0;
constexpr std::size_t OffRomFsHash = 0x1E0;
constexpr std::size_t OffFlags = 0x188;
constexpr std::size_t ExheaderCodeFlag = 0x0D; // SCI flag byte; bit 0 = .code compressed
constexpr std::uint8_t NcchFlagFixedKey = 0x01;
constexpr std::uint8_t NcchFlagSeed = 0x20;
constexpr std::uint64_t MaxLogoSize = 16u << 20;
constexpr std::uint64_t MaxExeFsSize = 256u << 20;
// The first bytes of a RomFS kept while it is written, to hash its superblock.
constexpr std::size_t RomFsFrontSize = 1u << 20;

} // namespace

TNcchHeader ParseNcchHeader(std::span<const std::uint8_t> raw, std::uint64_t available) {
    if (raw.size() < NcchHeaderSize)
        throw TCtrError("the NCCH header is truncated");
    TNcchHeader header;
    std::copy_n(raw.begin(), NcchHeaderSize, header.Raw.begin());
    const TByteReader reader(header.Raw);
    if (*reader.U32(OffMagic) != NcchMagic)
        throw TCtrError("not an NCCH image (no NCCH magic)");
    if (*reader.U16(OffVersion) > 2)
        throw TCtrError("unsupported NCCH format version");
    if (header.Flag(6) > 8)
        throw TCtrError("unsupported NCCH media unit size");
    header.MediaUnit = std::uint64_t{0x200} << header.Flag(6);
    const std::uint64_t mu = header.MediaUnit;
    header.ContentSize = *reader.U32(OffContentSize) * mu;
    header.PartitionId = *reader.U64(OffPartitionId);
    header.ExheaderSize = *reader.U32(OffExheaderSize);
    if (header.ExheaderSize != 0 && header.ExheaderSize != ExheaderSize)
        throw TCtrError("the NCCH extended header size is not valid");
    if (header.ContentSize < NcchHeaderSize)
        throw TCtrError("the NCCH content size is not valid");
    if (header.ContentSize > available)
        throw TCtrError("the NCCH is truncated: its content size exceeds the file");
    if (header.ExheaderSize != 0 && header.ContentSize < NcchHeaderSize + ExheaderFileSize)
        throw TCtrError("the NCCH extended header lies outside the content");
    auto region = [&](std::size_t at, bool with_hash_size, const char* name) {
        TNcchRegion result;
        result.Offset = *reader.U32(at) * mu;
        result.Size = *reader.U32(at + 4) * mu;
        if (with_hash_size)
            result.HashSize = *reader.U32(at + 8) * mu;
        if (result.Offset > header.ContentSize ||
            result.Size > header.ContentSize - result.Offset || result.HashSize > result.Size)
            throw TCtrError(std::string("the NCCH ") + name + " region lies outside the content");
        return result;
    };
    header.Plain = region(OffPlain, false, "plain");
    header.Logo = region(OffLogo, false, "logo");
    header.ExeFs = region(OffExeFs, true, "ExeFS");
    header.RomFs = region(OffRomFs, true, "RomFS");
    return header;
}

TNcchHeader ReadNcchHeader(TInFile& file, std::uint64_t base, std::uint64_t available) {
    std::array<std::uint8_t, NcchHeaderSize> raw{};
    if (!file.Contains(base, NcchHeaderSize) || available < NcchHeaderSize)
        throw TCtrError(PathText(file.Path()) + " is too short for an NCCH header");
    file.ReadAt(base, raw, "NCCH header");
    return ParseNcchHeader(raw, available);
}

void ExtractNcchParts(const fs::path& input, const TNcchParts& parts, bool executable_only) {
    for (const fs::path* output :
         {&parts.Header, &parts.Exheader, &parts.Logo, &parts.Plain, &parts.ExeFs, &parts.RomFs})
        if (!output->empty())
            EnsureNotAnInput(*output, {&input});
    const std::unique_ptr<TInFile> opened = OpenImageFile(input);
    TInFile& in = *opened;
    const TNcchHeader header = ReadNcchHeader(in, 0, in.Size());
    if (executable_only && header.FormType() != 2 && header.FormType() != 3)
        throw TCtrError("the NCCH is not an executable (CXI) image");
    const bool needs_plaintext =
        !parts.Exheader.empty() || !parts.ExeFs.empty() || !parts.RomFs.empty();
    if (needs_plaintext && !header.NoCrypto())
        throw TCtrError("the NCCH is encrypted; only decrypted (NoCrypto) images are supported");
    auto write_region = [&](const fs::path& output, std::uint64_t offset, std::uint64_t size) {
        if (output.empty())
            return;
        TOutFile out(output);
        CopyRange(in, offset, size, out);
        in.ConfirmReads(); // a compressed image's frames read in part
        out.Commit();
    };
    write_region(parts.Header, 0, NcchHeaderSize);
    // Like 3dstool: the extended header only when the NCCH has one, the logo only when it
    // is not empty.
    if (header.ExheaderSize == ExheaderSize)
        write_region(parts.Exheader, NcchHeaderSize, ExheaderFileSize);
    if (header.Logo.Size != 0)
        write_region(parts.Logo, header.Logo.Offset, header.Logo.Size);
    if (header.Plain.Size != 0)
        write_region(parts.Plain, header.Plain.Offset, header.Plain.Size);
    if (!parts.ExeFs.empty()) {
        if (header.ExeFs.Size == 0)
            throw TCtrError("the NCCH has no ExeFS");
        ReadExeFsHeader(in, header.ExeFs.Offset, header.ExeFs.Size);
        write_region(parts.ExeFs, header.ExeFs.Offset, header.ExeFs.Size);
    }
    if (!parts.RomFs.empty()) {
        if (header.RomFs.Size == 0)
            throw TCtrError("the NCCH has no RomFS");
        TRomFsReader check(in, header.RomFs.Offset, header.RomFs.Size);
        write_region(parts.RomFs, header.RomFs.Offset, header.RomFs.Size);
    }
}

std::uint64_t BuildCxi(TCxiParts parts, const TWriteAt& write_at) {
    std::vector<std::uint8_t>& header = parts.Header;
    if (header.size() < NcchHeaderSize)
        throw TCtrError("the NCCH header is shorter than 0x200 bytes");
    header.resize(NcchHeaderSize);
    if (TByteReader(header).U32(OffMagic) != NcchMagic)
        throw TCtrError("the NCCH header has no NCCH magic");
    const std::uint8_t unit_exponent = header[OffFlags + 6];
    if (unit_exponent > 8)
        throw TCtrError("unsupported NCCH media unit size");
    const std::uint64_t mu = std::uint64_t{0x200} << unit_exponent;
    // The RomFS goes on a 0x1000 boundary when the original layout used 8-unit multiples.
    const TByteReader header_reader(header);
    const bool big_alignment = *header_reader.U32(OffContentSize) % 8 == 0 &&
                               *header_reader.U32(OffRomFs) % 8 == 0 &&
                               *header_reader.U32(OffRomFs + 4) % 8 == 0;
    const std::uint64_t romfs_alignment = big_alignment ? 8 * mu : mu;

    std::vector<std::uint8_t>& exheader = parts.Exheader;
    if (exheader.size() < ExheaderFileSize)
        throw TCtrError("the extended header is shorter than 0x800 bytes");
    exheader.resize(ExheaderFileSize);
    std::vector<std::uint8_t>& logo = parts.Logo;
    if (logo.size() > MaxLogoSize)
        throw TCtrError("the logo is too large");
    logo.resize(static_cast<std::size_t>(AlignUp(logo.size(), mu)), 0);

    const bool has_exefs = !parts.ExeFs.empty();
    TExeFsHeader exefs_header;
    if (has_exefs) {
        exefs_header = ParseExeFsHeader(parts.ExeFs, parts.ExeFs.size());
        const TExeFsEntry& code = exefs_header.Entries[0];
        if (code.Name == ".code") {
            const auto data = TByteReader(parts.ExeFs)
                                  .Bytes(std::size_t{ExeFsHeaderSize} + code.Offset, code.Size);
            if (!data)
                throw TCtrError("the ExeFS code lies outside the ExeFS");
            if (BlzIsCompressed(*data))
                exheader[ExheaderCodeFlag] |= 1;
            else
                exheader[ExheaderCodeFlag] &= static_cast<std::uint8_t>(~1u);
        }
    }

    // Each part on a media unit boundary, the gaps zero-filled; the header last.
    std::uint64_t position = 0;
    auto pad_to = [&](std::uint64_t alignment) {
        const std::uint64_t next = AlignUp(position, alignment);
        WriteFillAt(write_at, position, next - position);
        position = next;
    };
    auto put = [&](std::span<const std::uint8_t> bytes) {
        write_at(position, bytes);
        position += bytes.size();
    };
    WriteFillAt(write_at, 0, NcchHeaderSize);
    position = NcchHeaderSize;
    put(exheader);
    const TSha256Digest exheader_hash = Sha256(std::span(exheader.data(), ExheaderSize));

    std::uint64_t logo_offset = 0;
    TSha256Digest logo_hash{};
    if (!logo.empty()) {
        pad_to(mu);
        logo_offset = position;
        put(logo);
        logo_hash = Sha256(logo);
    }
    std::uint64_t exefs_offset = 0, exefs_size = 0;
    TSha256Digest exefs_hash{};
    if (has_exefs) {
        pad_to(mu);
        exefs_offset = position;
        put(parts.ExeFs);
        pad_to(mu);
        exefs_size = position - exefs_offset;
        exefs_hash = Sha256(exefs_header.Raw);
    }
    std::uint64_t romfs_offset = 0, romfs_size = 0, romfs_hash_size = 0;
    TSha256Digest romfs_hash{};
    if (parts.RomFs) {
        pad_to(romfs_alignment);
        romfs_offset = position;
        // The superblock (IVFC header and master hash, to a media unit) is hashed once the
        // RomFS has written it; it is small beside the megabyte kept.
        std::vector<std::uint8_t> front(RomFsFrontSize);
        const std::uint64_t size = parts.RomFs(WriteAtFrom(write_at, romfs_offset, &front));
        const TByteReader romfs_reader(front);
        if (size < 0x60 || romfs_reader.U32(0) != MakeMagic('I', 'V', 'F', 'C'))
            throw TCtrError("the RomFS has no IVFC header");
        romfs_hash_size = AlignUp(0x60 + std::uint64_t{*romfs_reader.U32(0x08)}, mu);
        if (romfs_hash_size > size)
            throw TCtrError("the RomFS is shorter than its hashed header");
        if (romfs_hash_size > front.size())
            throw TCtrError("the RomFS master hash is too large");
        romfs_hash = Sha256(std::span(front.data(), static_cast<std::size_t>(romfs_hash_size)));
        position += size;
        pad_to(mu);
        romfs_size = position - romfs_offset;
        pad_to(romfs_alignment);
    } else {
        pad_to(mu);
    }
    const std::uint64_t total = position;
    if (total / mu > 0xFFFFFFFFu)
        throw TCtrError("the CXI is too large");
    auto units = [&](std::uint64_t bytes) { return static_cast<std::uint32_t>(bytes / mu); };

    PutLE<std::uint32_t>(&header[OffContentSize], units(total));
    std::copy(logo_hash.begin(), logo_hash.end(), header.begin() + OffLogoHash);
    std::copy(exheader_hash.begin(), exheader_hash.end(), header.begin() + OffExheaderHash);
    PutLE<std::uint32_t>(&header[OffExheaderSize], ExheaderSize);
    PutLE<std::uint32_t>(&header[OffExheaderSize + 4], 0);
    PutLE<std::uint32_t>(&header[OffPlain], 0);
    PutLE<std::uint32_t>(&header[OffPlain + 4], 0);
    PutLE<std::uint32_t>(&header[OffLogo], units(logo_offset));
    PutLE<std::uint32_t>(&header[OffLogo + 4], units(logo.size()));
    PutLE<std::uint32_t>(&header[OffExeFs], units(exefs_offset));
    PutLE<std::uint32_t>(&header[OffExeFs + 4], units(exefs_size));
    PutLE<std::uint32_t>(&header[OffExeFs + 8], has_exefs ? 1 : 0);
    PutLE<std::uint32_t>(&header[OffExeFs + 12], 0);
    PutLE<std::uint32_t>(&header[OffRomFs], units(romfs_offset));
    PutLE<std::uint32_t>(&header[OffRomFs + 4], units(romfs_size));
    PutLE<std::uint32_t>(&header[OffRomFs + 8], units(romfs_hash_size));
    PutLE<std::uint32_t>(&header[OffRomFs + 12], 0);
    std::copy(exefs_hash.begin(), exefs_hash.end(), header.begin() + OffExeFsHash);
    std::copy(romfs_hash.begin(), romfs_hash.end(), header.begin() + OffRomFsHash);
    std::uint8_t& crypto_flags = header[OffFlags + 7];
    crypto_flags = static_cast<std::uint8_t>((crypto_flags & ~(NcchFlagFixedKey | NcchFlagSeed)) |
                                             NcchFlagNoCrypto);
    write_at(0, header);
    return total;
}

void BuildCxi(const TNcchParts& parts, const fs::path& output) {
    EnsureNotAnInput(output,
                     {&parts.Header, &parts.Exheader, &parts.Logo, &parts.ExeFs, &parts.RomFs});
    if (parts.Header.empty() || parts.Exheader.empty())
        throw TCtrError("a CXI build needs a header and an extended header");
    TCxiParts cxi;
    cxi.Header = ReadSmallFile(parts.Header, 1u << 20, "NCCH header");
    if (cxi.Header.size() < NcchHeaderSize)
        throw TCtrError("the NCCH header " + PathText(parts.Header) +
                        " is shorter than 0x200 bytes");
    if (TByteReader(cxi.Header).U32(OffMagic) != NcchMagic)
        throw TCtrError("the NCCH header " + PathText(parts.Header) + " has no NCCH magic");
    cxi.Exheader = ReadSmallFile(parts.Exheader, 1u << 20, "extended header");
    if (cxi.Exheader.size() < ExheaderFileSize)
        throw TCtrError("the extended header " + PathText(parts.Exheader) +
                        " is shorter than 0x800 bytes");
    std::error_code error;
    // The logo extraction writes nothing for an NCCH without a logo region, so an absent
    // logo file means "no logo" rather than a failure.
    if (!parts.Logo.empty() && fs::exists(parts.Logo, error))
        cxi.Logo = ReadSmallFile(parts.Logo, MaxLogoSize, "logo");
    if (!parts.ExeFs.empty()) {
        TInFile exefs(parts.ExeFs);
        ReadExeFsHeader(exefs, 0, exefs.Size());
        cxi.ExeFs = ReadSmallFile(parts.ExeFs, MaxExeFsSize, "ExeFS");
    }
    std::optional<TInFile> romfs;
    TOutFile out(output);
    if (!parts.RomFs.empty()) {
        romfs.emplace(parts.RomFs);
        TRomFsReader check(*romfs, 0, romfs->Size());
        const std::uint64_t head = std::min<std::uint64_t>(romfs->Size(), RomFsFrontSize);
        // The head goes through the builder, which hashes it; the rest is copied straight on
        // from where those writes left the output.
        // The builder calls this after the block ends: `head` goes with it by value.
        cxi.RomFs = [&romfs, &out, head](const TWriteAt& write_at) {
            write_at(0, romfs->ReadVector(0, head, "RomFS"));
            CopyRange(*romfs, head, romfs->Size() - head, out);
            return romfs->Size();
        };
    }
    BuildCxi(std::move(cxi), WriteAtIn(out, 0));
    out.Commit();
}

std::function<std::string()> AddNcchCheck(TFilePass& pass, std::uint64_t base,
                                          std::uint64_t available, bool deep) {
    // The checks in the order their failures are reported; the first failing one answers.
    // A failure found while setting up ends the list, as nothing after it is looked at.
    auto checks = std::make_shared<std::vector<std::function<std::string()>>>();
    auto hashed = [&](std::uint64_t offset, std::uint64_t length, const std::uint8_t* stored,
                      std::string failure) {
        struct THashed {
            TSha256 Hash;
            TSha256Digest Stored{};
            std::optional<bool> Matches;
        };
        auto state = std::make_shared<THashed>();
        std::copy_n(stored, state->Stored.size(), state->Stored.begin());
        pass.Add(offset, length,
                 [state](std::span<const std::uint8_t> bytes) { state->Hash.Update(bytes); });
        checks->push_back([state, failure = std::move(failure)] {
            if (!state->Matches)
                state->Matches = state->Hash.Final() == state->Stored;
            return *state->Matches ? std::string() : failure;
        });
    };
    try {
        TInFile& file = pass.File();
        if (!file.Contains(base, NcchHeaderSize) || available < NcchHeaderSize)
            throw TCtrError(PathText(file.Path()) + " is too short for an NCCH header");
        const TNcchHeader header =
            ParseNcchHeader(pass.ReadAhead(base, NcchHeaderSize, "NCCH header"), available);
        if (!header.NoCrypto())
            throw TCtrError("the NCCH is encrypted and cannot be checked");
        const std::uint8_t* raw = header.Raw.data();
        if (header.ExheaderSize == ExheaderSize)
            hashed(base + NcchHeaderSize, ExheaderSize, raw + OffExheaderHash,
                   "the NCCH extended header does not match its hash");
        if (header.Logo.Size != 0)
            hashed(base + header.Logo.Offset, header.Logo.Size, raw + OffLogoHash,
                   "the NCCH logo does not match its hash");
        if (header.ExeFs.Size != 0) {
            const std::uint64_t exefs = base + header.ExeFs.Offset;
            hashed(exefs, header.ExeFs.HashSize, raw + OffExeFsHash,
                   "the ExeFS header does not match its hash");
            if (header.ExeFs.Size < ExeFsHeaderSize)
                throw TCtrError("the ExeFS is too short for its header");
            const TExeFsHeader exefs_header = ParseExeFsHeader(
                pass.ReadAhead(exefs, ExeFsHeaderSize, "ExeFS header"), header.ExeFs.Size);
            for (const TExeFsEntry& entry : exefs_header.Entries)
                if (!entry.Name.empty())
                    hashed(exefs + ExeFsHeaderSize + entry.Offset, entry.Size, entry.Hash.data(),
                           "ExeFS file '" + entry.Name + "' does not match its hash");
        }
        if (header.RomFs.Size != 0) {
            hashed(base + header.RomFs.Offset, header.RomFs.HashSize, raw + OffRomFsHash,
                   "the RomFS header does not match its hash");
            TRomFsReader romfs(file, base + header.RomFs.Offset, header.RomFs.Size);
            if (deep)
                checks->push_back(romfs.AddHashCheck(pass));
        }
    } catch (const TCtrError& error) {
        checks->push_back([failure = std::string(error.what())] { return failure; });
    }
    return [checks] {
        for (const auto& check : *checks)
            if (std::string failure = check(); !failure.empty())
                return failure;
        return std::string();
    };
}

std::string VerifyNcch(TInFile& file, std::uint64_t base, std::uint64_t available, bool deep,
                       TProgress* progress) {
    try {
        TFilePass pass(file);
        const auto result = AddNcchCheck(pass, base, available, deep);
        pass.Run(progress);
        return result();
    } catch (const TCtrError& error) {
        return error.what();
    }
}

} // namespace ctr
