#include "ctr/Cia.h"

#include "ctr/ByteReader.h"
#include "ctr/ExeFs.h"
#include "ctr/Ncch.h"
#include "ctr/Z3ds.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ctr {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t CiaHeaderSize = 0x2020;
constexpr std::uint64_t SectionAlignment = 64;
constexpr std::uint64_t ContentAlignment = 0x10;
constexpr std::size_t OffContentBitmap = 0x20;
constexpr std::uint32_t SignatureRsa2048 = 0x00010004;
constexpr std::uint32_t SignatureRsa4096 = 0x00010003;
constexpr std::uint32_t CertificateChainSize = 0xA00;
constexpr std::uint32_t TicketSize = 0x350;
constexpr std::uint32_t TmdHeaderSize = 0xB04;
constexpr std::uint32_t ChunkRecordSize = 0x30;
constexpr std::uint32_t InfoRecordCount = 64;
constexpr std::uint32_t InfoRecordSize = 0x24;
constexpr std::size_t SmdhSize = 0x36C0;
constexpr std::uint32_t MetaSize = 0x400 + SmdhSize;

// TMD offsets (RSA-2048 signature).
constexpr std::size_t TmdIssuer = 0x140;
constexpr std::size_t TmdVersion = 0x180;
constexpr std::size_t TmdSystemVersion = 0x184;
constexpr std::size_t TmdTitleId = 0x18C;
constexpr std::size_t TmdTitleType = 0x194;
constexpr std::size_t TmdSaveSize = 0x19A;
constexpr std::size_t TmdTitleVersion = 0x1DC;
constexpr std::size_t TmdContentCount = 0x1DE;
constexpr std::size_t TmdInfoHash = 0x1E4;
constexpr std::size_t TmdInfoRecords = 0x204;
constexpr std::size_t TmdChunkRecords = 0xB04;

// Ticket offsets.
constexpr std::size_t TicketIssuer = 0x140;
constexpr std::size_t TicketFormatVersion = 0x1BC;
constexpr std::size_t TicketTitleKey = 0x1BF;
constexpr std::size_t TicketId = 0x1D0;
constexpr std::size_t TicketTitleId = 0x1DC;
constexpr std::size_t TicketVersion = 0x1E6;
constexpr std::size_t TicketContentIndex = 0x2A4;

// Exheader offsets used for TMD and meta.
constexpr std::size_t SciRemasterVersion = 0x0E;
constexpr std::size_t SciDependencies = 0x40;
constexpr std::size_t SciDependencySize = 48 * 8;
constexpr std::size_t SciSaveSize = 0x1C0;
constexpr std::size_t AciCoreVersion = 0x208;

bool HashEquals(const TSha256Digest& digest, const std::uint8_t* stored) {
    return std::equal(digest.begin(), digest.end(), stored);
}

// Deterministic bytes standing in for key material: SHA-256 in counter mode over a label.
std::vector<std::uint8_t> DerivedBytes(const std::string& label, std::size_t count) {
    std::vector<std::uint8_t> out;
    for (std::uint32_t counter = 0; out.size() < count; ++counter) {
        TSha256 hash;
        hash.Update(std::span(reinterpret_cast<const std::uint8_t*>(label.data()), label.size()));
        std::uint8_t c[4];
        PutBE<std::uint32_t>(c, counter);
        hash.Update(c);
        const TSha256Digest digest = hash.Final();
        out.insert(out.end(), digest.begin(), digest.end());
    }
    out.resize(count);
    return out;
}

void PutText(std::uint8_t* at, const char* text) {
    std::memcpy(at, text, std::strlen(text));
}

// One certificate of the retail chain with the standard structure and sizes.
std::vector<std::uint8_t> Certificate(std::uint32_t signature_type, const char* issuer,
                                      const char* name, std::uint32_t date) {
    const std::size_t signature_size = signature_type == SignatureRsa4096 ? 0x200 : 0x100;
    const std::size_t body = 4 + signature_size + 0x3C;
    std::vector<std::uint8_t> cert(body + 0x40 + 4 + 0x40 + 4 + 0x100 + 4 + 0x34, 0);
    PutBE<std::uint32_t>(cert.data(), signature_type);
    const auto signature = DerivedBytes(std::string("signature ") + name, signature_size);
    std::copy(signature.begin(), signature.end(), cert.begin() + 4);
    PutText(cert.data() + body, issuer);
    PutBE<std::uint32_t>(cert.data() + body + 0x40, 1); // RSA-2048 public key
    PutText(cert.data() + body + 0x44, name);
    PutBE<std::uint32_t>(cert.data() + body + 0x84, date);
    auto modulus = DerivedBytes(std::string("modulus ") + name, 0x100);
    modulus[0] |= 0x80;
    modulus[0xFF] |= 0x01;
    std::copy(modulus.begin(), modulus.end(),
              cert.begin() + static_cast<std::ptrdiff_t>(body + 0x88));
    PutBE<std::uint32_t>(cert.data() + body + 0x188, 0x00010001);
    return cert;
}

std::vector<std::uint8_t> CertificateChain() {
    std::vector<std::uint8_t> chain;
    for (const auto& cert :
         {Certificate(SignatureRsa4096, "Root", "CA00000003", 0x7BE8EF6C),
          Certificate(SignatureRsa2048, "Root-CA00000003", "XS0000000c", 0x137A0894),
          Certificate(SignatureRsa2048, "Root-CA00000003", "CP0000000b", 0x137A0894)})
        chain.insert(chain.end(), cert.begin(), cert.end());
    return chain;
}

// The places of a built CIA's sections: header, certificates, ticket, TMD, then the content.
constexpr std::uint32_t BuiltTmdSize = TmdHeaderSize + ChunkRecordSize;

constexpr std::uint64_t BuiltTicketOffset() {
    return AlignUp(AlignUp(CiaHeaderSize, SectionAlignment) + CertificateChainSize,
                   SectionAlignment);
}

constexpr std::uint64_t BuiltTmdOffset() {
    return AlignUp(BuiltTicketOffset() + TicketSize, SectionAlignment);
}

std::string Hex(std::uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

} // namespace

TCiaLayout ReadCia(TInFile& file) {
    if (file.Size() < CiaHeaderSize)
        throw TCtrError(PathText(file.Path()) + " is too short for a CIA header");
    std::vector<std::uint8_t> header = file.ReadVector(0, CiaHeaderSize, "CIA header");
    const TByteReader reader(header);
    if (*reader.U32(0x00) != CiaHeaderSize || *reader.U16(0x04) != 0 ||
        (*reader.U16(0x06) != 0 && *reader.U16(0x06) != 0xFF))
        throw TCtrError("not a CIA (header size, type or version is wrong)");
    TCiaLayout layout;
    layout.CertificatesSize = *reader.U32(0x08);
    layout.TicketSize = *reader.U32(0x0C);
    layout.TmdSize = *reader.U32(0x10);
    layout.MetaSize = *reader.U32(0x14);
    layout.ContentSize = *reader.U64(0x18);
    if (layout.TicketSize == 0 || layout.TmdSize == 0 || layout.ContentSize == 0)
        throw TCtrError("the CIA lacks a ticket, a TMD or content");
    layout.CertificatesOffset = AlignUp(CiaHeaderSize, SectionAlignment);
    layout.TicketOffset =
        AlignUp(layout.CertificatesOffset + layout.CertificatesSize, SectionAlignment);
    layout.TmdOffset = AlignUp(layout.TicketOffset + layout.TicketSize, SectionAlignment);
    layout.ContentOffset = AlignUp(layout.TmdOffset + layout.TmdSize, SectionAlignment);
    if (!file.Contains(layout.ContentOffset, layout.ContentSize))
        throw TCtrError("the CIA is truncated: its content lies outside the file");
    layout.MetaOffset = AlignUp(layout.ContentOffset + layout.ContentSize, SectionAlignment);
    if (layout.MetaSize != 0 && !file.Contains(layout.MetaOffset, layout.MetaSize))
        throw TCtrError("the CIA is truncated: its meta region lies outside the file");

    if (layout.TicketSize < TicketContentIndex)
        throw TCtrError("the CIA ticket is too short");
    const std::vector<std::uint8_t> ticket =
        file.ReadVector(layout.TicketOffset, layout.TicketSize, "ticket");
    if (GetBE<std::uint32_t>(ticket.data()) != SignatureRsa2048 || ticket[TicketFormatVersion] != 1)
        throw TCtrError("the CIA ticket is not valid");

    if (layout.TmdSize < TmdHeaderSize)
        throw TCtrError("the CIA TMD is too short");
    if (layout.TmdSize > (16u << 20))
        throw TCtrError("the CIA TMD is too large");
    const std::vector<std::uint8_t> tmd = file.ReadVector(layout.TmdOffset, layout.TmdSize, "TMD");
    if (GetBE<std::uint32_t>(tmd.data()) != SignatureRsa2048 || tmd[TmdVersion] != 1)
        throw TCtrError("the CIA TMD is not valid");
    const std::uint16_t count = GetBE<std::uint16_t>(&tmd[TmdContentCount]);
    if (count == 0 || TmdHeaderSize + std::uint64_t{count} * ChunkRecordSize > layout.TmdSize)
        throw TCtrError("the CIA TMD content records lie outside the TMD");
    layout.TitleId = GetBE<std::uint64_t>(&tmd[TmdTitleId]);

    std::uint64_t position = layout.ContentOffset;
    const std::uint64_t content_end = layout.ContentOffset + layout.ContentSize;
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint8_t* record = &tmd[TmdChunkRecords + std::size_t{i} * ChunkRecordSize];
        TCiaContent content;
        content.Id = GetBE<std::uint32_t>(record);
        content.Index = GetBE<std::uint16_t>(record + 4);
        content.Type = GetBE<std::uint16_t>(record + 6);
        content.Size = GetBE<std::uint64_t>(record + 8);
        std::copy_n(record + 16, 32, content.Hash.begin());
        content.Present =
            header[OffContentBitmap + content.Index / 8] & (0x80 >> (content.Index % 8));
        if (content.Present) {
            position = AlignUp(position, ContentAlignment);
            if (position > content_end || content.Size > content_end - position)
                throw TCtrError("a CIA content lies outside the content area");
            content.Offset = position;
            position += content.Size;
        }
        layout.Contents.push_back(content);
    }
    return layout;
}

void ExtractCiaContents(const fs::path& cia, const fs::path& prefix) {
    if (prefix.filename().empty())
        throw TCtrError("the contents prefix names no file");
    const std::unique_ptr<TInFile> opened = OpenImageFile(cia);
    TInFile& in = *opened;
    const TCiaLayout layout = ReadCia(in);
    bool any = false;
    for (const TCiaContent& content : layout.Contents) {
        if (!content.Present)
            continue;
        fs::path name = prefix.filename();
        name += "." + Hex(content.Index, 4) + "." + Hex(content.Id, 8);
        const fs::path target = prefix.parent_path() / name;
        EnsureNotAnInput(target, {&cia});
        TOutFile out(target);
        CopyRange(in, content.Offset, content.Size, out);
        in.ConfirmReads(); // a compressed CIA's frames read in part
        out.Commit();
        any = true;
    }
    if (!any)
        throw TCtrError("the CIA holds no content");
}

std::uint64_t BuiltCiaContentOffset() {
    return AlignUp(BuiltTmdOffset() + BuiltTmdSize, SectionAlignment);
}

std::uint64_t BuildCia(const TCiaContentSource& content, const TWriteAt& write_at) {
    const std::uint64_t certificates_offset = AlignUp(CiaHeaderSize, SectionAlignment);
    const std::uint64_t ticket_offset = BuiltTicketOffset();
    const std::uint32_t tmd_size = BuiltTmdSize;
    const std::uint64_t tmd_offset = BuiltTmdOffset();
    const std::uint64_t content_offset = BuiltCiaContentOffset();

    // Header, ticket and TMD follow the content's hash: zeros hold their places until then.
    WriteFillAt(write_at, 0, certificates_offset);
    write_at(certificates_offset, CertificateChain());
    WriteFillAt(write_at, certificates_offset + CertificateChainSize,
                content_offset - certificates_offset - CertificateChainSize);
    const TCiaContentWritten written = content.Write(WriteAtFrom(write_at, content_offset));
    auto read_back = [&](std::uint64_t offset, std::uint64_t length, const char* what) {
        if (offset > written.Size || length > written.Size - offset)
            throw TCtrError(std::string("Content 0 is corrupt: its ") + what + " lies outside it");
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
        content.ReadBack(offset, bytes);
        return bytes;
    };

    const TNcchHeader ncch =
        ParseNcchHeader(read_back(0, NcchHeaderSize, "NCCH header"), written.Size);
    if (written.Size != ncch.ContentSize)
        throw TCtrError("Content 0 is corrupt: its length differs from the NCCH content size");
    if (!ncch.NoCrypto())
        throw TCtrError("Content 0 is encrypted; only decrypted (NoCrypto) CXIs are supported");
    if (ncch.ExheaderSize == 0)
        throw TCtrError("Content 0 has no extended header");
    const std::vector<std::uint8_t> exheader =
        read_back(NcchHeaderSize, ExheaderSize, "extended header");
    const std::uint16_t title_version =
        static_cast<std::uint16_t>(GetLE<std::uint16_t>(&exheader[SciRemasterVersion]) << 10);
    const std::uint32_t save_size = GetLE<std::uint32_t>(&exheader[SciSaveSize]);
    const std::uint64_t title_id = ncch.PartitionId;

    std::vector<std::uint8_t> meta;
    if (ncch.ExeFs.Size != 0) {
        if (ncch.ExeFs.Size < ExeFsHeaderSize)
            throw TCtrError("the ExeFS is too short for its header");
        const TExeFsHeader exefs = ParseExeFsHeader(
            read_back(ncch.ExeFs.Offset, ExeFsHeaderSize, "ExeFS header"), ncch.ExeFs.Size);
        for (const TExeFsEntry& entry : exefs.Entries) {
            if (entry.Name != "icon")
                continue;
            meta.assign(MetaSize, 0);
            std::copy_n(exheader.begin() + SciDependencies, SciDependencySize, meta.begin());
            std::copy_n(exheader.begin() + AciCoreVersion, 4, meta.begin() + 0x300);
            const std::vector<std::uint8_t> icon =
                read_back(ncch.ExeFs.Offset + ExeFsHeaderSize + entry.Offset,
                          std::min<std::uint64_t>(entry.Size, SmdhSize), "icon");
            std::copy(icon.begin(), icon.end(), meta.begin() + 0x400);
            break;
        }
    }

    TSha256Digest content_hash{};
    if (written.Hash) {
        content_hash = *written.Hash;
    } else {
        TSha256 hash;
        std::vector<std::uint8_t> buffer(
            static_cast<std::size_t>(std::min<std::uint64_t>(written.Size, CopyChunkSize)));
        for (std::uint64_t offset = 0; offset < written.Size;) {
            const std::span chunk(buffer.data(), static_cast<std::size_t>(std::min<std::uint64_t>(
                                                     written.Size - offset, buffer.size())));
            content.ReadBack(offset, chunk);
            hash.Update(chunk);
            offset += chunk.size();
        }
        content_hash = hash.Final();
    }

    const std::uint64_t content_size = AlignUp(ncch.ContentSize, ContentAlignment);
    WriteFillAt(write_at, content_offset + written.Size, content_size - written.Size);
    std::uint64_t end = content_offset + content_size;
    if (!meta.empty()) {
        const std::uint64_t meta_offset = AlignUp(end, SectionAlignment);
        WriteFillAt(write_at, end, meta_offset - end);
        write_at(meta_offset, meta);
        end = meta_offset + meta.size();
    }

    std::vector<std::uint8_t> header(CiaHeaderSize, 0);
    PutLE<std::uint32_t>(&header[0x00], CiaHeaderSize);
    PutLE<std::uint32_t>(&header[0x08], CertificateChainSize);
    PutLE<std::uint32_t>(&header[0x0C], TicketSize);
    PutLE<std::uint32_t>(&header[0x10], tmd_size);
    PutLE<std::uint32_t>(&header[0x14], static_cast<std::uint32_t>(meta.size()));
    PutLE<std::uint64_t>(&header[0x18], content_size);
    header[OffContentBitmap + content.Index / 8] |=
        static_cast<std::uint8_t>(0x80 >> (content.Index % 8));

    // What real makerom draws at random is derived from the content here.
    const std::string seed(reinterpret_cast<const char*>(content_hash.data()), content_hash.size());
    const std::vector<std::uint8_t> derived = DerivedBytes("ticket " + seed, 0x20);

    std::vector<std::uint8_t> ticket(TicketSize, 0);
    PutBE<std::uint32_t>(&ticket[0], SignatureRsa2048);
    std::fill(ticket.begin() + 4, ticket.begin() + 0x104, 0xFF); // no signing key
    PutText(&ticket[TicketIssuer], "Root-CA00000003-XS0000000c");
    ticket[TicketFormatVersion] = 1;
    std::copy_n(derived.begin(), 16, ticket.begin() + TicketTitleKey);
    PutBE<std::uint64_t>(&ticket[TicketId],
                         0x0004000000000000ull |
                             (GetBE<std::uint64_t>(&derived[16]) & 0xFFFFFFFFFFFFull));
    PutBE<std::uint64_t>(&ticket[TicketTitleId], title_id);
    PutBE<std::uint16_t>(&ticket[TicketVersion], title_version);
    std::uint8_t* index = &ticket[TicketContentIndex];
    PutBE<std::uint16_t>(index + 0x00, 1);    // version
    PutBE<std::uint16_t>(index + 0x02, 0x14); // header size
    PutBE<std::uint32_t>(index + 0x04, 0xAC); // total size
    PutBE<std::uint32_t>(index + 0x08, 0x14); // section header offset
    PutBE<std::uint16_t>(index + 0x0C, 1);    // sections
    PutBE<std::uint16_t>(index + 0x0E, 0x14); // section header size
    PutBE<std::uint32_t>(index + 0x14, 0x28); // records offset
    PutBE<std::uint32_t>(index + 0x18, 1);    // records
    PutBE<std::uint32_t>(index + 0x1C, 0x84); // record size
    PutBE<std::uint32_t>(index + 0x20, 0x84); // section size
    PutBE<std::uint16_t>(index + 0x24, 3);    // type
    PutBE<std::uint32_t>(index + 0x28, 0);    // base index
    index[0x2C + (content.Index & 0x3FF) / 8] |=
        static_cast<std::uint8_t>(1 << (content.Index & 7));

    std::vector<std::uint8_t> tmd(tmd_size, 0);
    PutBE<std::uint32_t>(&tmd[0], SignatureRsa2048);
    std::fill(tmd.begin() + 4, tmd.begin() + 0x104, 0xFF);
    PutText(&tmd[TmdIssuer], "Root-CA00000003-CP0000000b");
    tmd[TmdVersion] = 1;
    PutBE<std::uint64_t>(&tmd[TmdSystemVersion], 0);
    PutBE<std::uint64_t>(&tmd[TmdTitleId], title_id);
    PutBE<std::uint32_t>(&tmd[TmdTitleType], 0x40);
    PutLE<std::uint32_t>(&tmd[TmdSaveSize], save_size);
    PutBE<std::uint16_t>(&tmd[TmdTitleVersion], title_version);
    PutBE<std::uint16_t>(&tmd[TmdContentCount], 1);
    std::uint8_t* chunk = &tmd[TmdChunkRecords];
    PutBE<std::uint32_t>(chunk, content.Id);
    PutBE<std::uint16_t>(chunk + 4, content.Index);
    PutBE<std::uint16_t>(chunk + 6, 0);
    PutBE<std::uint64_t>(chunk + 8, content_size);
    std::copy(content_hash.begin(), content_hash.end(), chunk + 16);
    std::uint8_t* info = &tmd[TmdInfoRecords];
    PutBE<std::uint16_t>(info, 0);
    PutBE<std::uint16_t>(info + 2, 1);
    const TSha256Digest chunks_hash = Sha256(std::span(chunk, ChunkRecordSize));
    std::copy(chunks_hash.begin(), chunks_hash.end(), info + 4);
    const TSha256Digest info_hash = Sha256(std::span(info, InfoRecordCount * InfoRecordSize));
    std::copy(info_hash.begin(), info_hash.end(), &tmd[TmdInfoHash]);

    write_at(0, header);
    write_at(ticket_offset, ticket);
    write_at(tmd_offset, tmd);
    return end;
}

void BuildCia(const fs::path& cxi, const fs::path& output, std::uint16_t content_index,
              std::uint32_t content_id) {
    EnsureNotAnInput(output, {&cxi});
    TInFile in(cxi);
    const TNcchHeader ncch = ReadNcchHeader(in, 0, in.Size());
    if (in.Size() != ncch.ContentSize)
        throw TCtrError("Content 0 is corrupt: its length differs from the NCCH content size");
    if (!ncch.NoCrypto())
        throw TCtrError("Content 0 is encrypted; only decrypted (NoCrypto) CXIs are supported");
    if (ncch.ExheaderSize == 0)
        throw TCtrError("Content 0 has no extended header");
    if (std::string failure = VerifyNcch(in, 0, in.Size(), false); !failure.empty())
        throw TCtrError("Content 0 is corrupt: " + failure);

    TOutFile out(output);
    TCiaContentSource content;
    content.Index = content_index;
    content.Id = content_id;
    // The header through the builder places the output; the rest is copied straight on from
    // there, hashed as it goes. The file is the content, so it is read again where the
    // builder reads the content back.
    content.Write = [&in, &out](const TWriteAt& at) {
        TSha256 hash;
        const std::vector<std::uint8_t> head = in.ReadVector(0, NcchHeaderSize, "NCCH header");
        at(0, head);
        hash.Update(head);
        CopyRange(in, NcchHeaderSize, in.Size() - NcchHeaderSize, out, &hash);
        return TCiaContentWritten{in.Size(), hash.Final()};
    };
    content.ReadBack = [&in](std::uint64_t offset, std::span<std::uint8_t> bytes) {
        in.ReadAt(offset, bytes, "CXI");
    };
    BuildCia(content, WriteAtIn(out, 0));
    out.Commit();
}

std::string VerifyCia(TInFile& file, TProgress* progress) {
    try {
        const TCiaLayout layout = ReadCia(file);
        const std::vector<std::uint8_t> tmd =
            file.ReadVector(layout.TmdOffset, layout.TmdSize, "TMD");
        if (GetBE<std::uint64_t>(&tmd[TmdSystemVersion]) != 0 ||
            GetBE<std::uint32_t>(&tmd[TmdTitleType]) != 0x40)
            return "the CIA TMD is not valid";
        if (!HashEquals(Sha256(std::span(&tmd[TmdInfoRecords], InfoRecordCount * InfoRecordSize)),
                        &tmd[TmdInfoHash]))
            return "the CIA TMD info records do not match their hash";
        const std::uint16_t count = GetBE<std::uint16_t>(&tmd[TmdContentCount]);
        for (std::uint32_t i = 0; i < InfoRecordCount; ++i) {
            const std::uint8_t* info = &tmd[TmdInfoRecords + i * InfoRecordSize];
            const std::uint32_t first = GetBE<std::uint16_t>(info);
            const std::uint32_t records = GetBE<std::uint16_t>(info + 2);
            if (records == 0)
                continue;
            if (first + records > count)
                return "a CIA TMD info record covers missing content records";
            if (!HashEquals(Sha256(std::span(&tmd[TmdChunkRecords + first * ChunkRecordSize],
                                             records * ChunkRecordSize)),
                            info + 4))
                return "the CIA TMD content records do not match their hash";
        }
        auto mismatch = [](const TCiaContent& content) {
            return "CIA content " + std::to_string(content.Index) + " does not match its TMD hash";
        };
        // Content 0 is read once: its TMD hash on the helper thread, the NCCH's own hashes on
        // this one. The other contents are only hashed.
        const TCiaContent& first = layout.Contents.front();
        std::string ncch_failure;
        if (first.Present) {
            TFilePass pass(file);
            TSha256 hash;
            pass.Add(
                first.Offset, first.Size,
                [&hash](std::span<const std::uint8_t> bytes) { hash.Update(bytes); }, true);
            const auto ncch = AddNcchCheck(pass, first.Offset, first.Size, true);
            if (progress)
                for (const TCiaContent& content : layout.Contents)
                    if (content.Present && &content != &first)
                        progress->Total += content.Size;
            pass.Run(progress);
            if (!HashEquals(hash.Final(), first.Hash.data()))
                return mismatch(first);
            ncch_failure = ncch();
        } else if (progress) {
            for (const TCiaContent& content : layout.Contents)
                if (content.Present)
                    progress->Total += content.Size;
        }
        for (const TCiaContent& content : layout.Contents) {
            if (!content.Present || &content == &first)
                continue;
            if (!HashEquals(HashRange(file, content.Offset, content.Size, progress),
                            content.Hash.data()))
                return mismatch(content);
        }
        if (!first.Present)
            return "the CIA lacks content 0";
        return ncch_failure;
    } catch (const TCtrError& error) {
        return error.what();
    }
}

} // namespace ctr
