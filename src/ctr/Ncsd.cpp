#include "ctr/Ncsd.h"

#include "ctr/ByteReader.h"
#include "ctr/ExeFs.h"
#include "ctr/Ncch.h"
#include "ctr/Z3ds.h"

#include <algorithm>

namespace ctr {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t NcsdMagic = MakeMagic('N', 'C', 'S', 'D');
constexpr std::size_t OffMagic = 0x100;
constexpr std::size_t OffImageSize = 0x104;
constexpr std::size_t OffFsTypes = 0x110;
constexpr std::size_t OffCryptTypes = 0x118;
constexpr std::size_t OffPartitionTable = 0x120;
constexpr std::size_t OffExheaderHash = 0x160;
constexpr std::size_t OffFlags = 0x188;
constexpr std::size_t OffPartitionIds = 0x190;
constexpr std::size_t OffFilledSize = 0x300;
constexpr std::size_t OffNcchHeaderCopy = 0x1100;
constexpr std::size_t KeptHeaderSize = 0x1500; // the rest of the area is filled with 0xFF
constexpr int PartitionCount = 8;
constexpr std::uint8_t MediaTypeCard1 = 1;

std::uint64_t MediaUnit(const std::uint8_t* header) {
    const std::uint8_t exponent = header[OffFlags + 6];
    if (exponent > 8)
        throw TCtrError("unsupported NCSD media unit size");
    return std::uint64_t{0x200} << exponent;
}

// Where partition 0 of `content_size` bytes ends and how large the image is.
struct TCardLayout {
    std::uint64_t PartitionSize = 0;
    std::uint64_t DataEnd = 0;
    std::uint64_t ImageSize = 0;
};
TCardLayout CardLayout(const std::uint8_t* raw, std::uint64_t content_size) {
    const std::uint64_t mu = MediaUnit(raw);
    bool big_alignment = true;
    for (int i = 0; i < PartitionCount; ++i)
        for (int field = 0; field < 2; ++field)
            if (GetLE<std::uint32_t>(raw + OffPartitionTable + 8 * i + 4 * field) % 8 != 0)
                big_alignment = false;
    TCardLayout layout;
    layout.PartitionSize = AlignUp(content_size, big_alignment ? 8 * mu : mu);
    layout.DataEnd = NcsdHeaderAreaSize + layout.PartitionSize;
    const bool card1 = raw[OffFlags + 5] == MediaTypeCard1;
    layout.ImageSize = card1 ? 128ull << 20 : 512ull << 20;
    while (layout.ImageSize < layout.DataEnd)
        layout.ImageSize *= 2;
    if (layout.ImageSize / mu > 0xFFFFFFFFu || layout.PartitionSize / mu > 0xFFFFFFFFu)
        throw TCtrError("the card image would be too large");
    return layout;
}

} // namespace

TNcsdPartition ReadNcsdPartition0(TInFile& file) {
    if (file.Size() < 0x200)
        throw TCtrError(PathText(file.Path()) + " is too short for an NCSD header");
    std::array<std::uint8_t, 0x200> header{};
    file.ReadAt(0, header, "NCSD header");
    const TByteReader reader(header);
    if (*reader.U32(OffMagic) != NcsdMagic)
        throw TCtrError("not a 3DS card image (no NCSD magic)");
    const std::uint64_t mu = MediaUnit(header.data());
    TNcsdPartition partition;
    partition.Offset = *reader.U32(OffPartitionTable) * mu;
    partition.Size = *reader.U32(OffPartitionTable + 4) * mu;
    if (partition.Size == 0)
        throw TCtrError("the card image has no partition 0");
    if (partition.Offset < NcsdHeaderAreaSize || !file.Contains(partition.Offset, partition.Size))
        throw TCtrError("partition 0 lies outside the card image");
    return partition;
}

void ExtractNcsd(const fs::path& image, const fs::path& header_out, const fs::path& partition_out) {
    EnsureNotAnInput(header_out, {&image});
    EnsureNotAnInput(partition_out, {&image});
    const std::unique_ptr<TInFile> opened = OpenImageFile(image);
    TInFile& in = *opened;
    const TNcsdPartition partition = ReadNcsdPartition0(in);
    if (!header_out.empty()) {
        TOutFile out(header_out);
        CopyRange(in, 0, NcsdHeaderAreaSize, out);
        in.ConfirmReads(); // a compressed image's frames read in part
        out.Commit();
    }
    if (partition_out.empty())
        return;
    TOutFile out(partition_out);
    CopyRange(in, partition.Offset, partition.Size, out);
    in.ConfirmReads();
    out.Commit();
}

TCxiParts ReadCxiParts(TInFile& image, std::uint64_t base, std::uint64_t available,
                       TNcchHeader& ncch) {
    ncch = ReadNcchHeader(image, base, available);
    if (ncch.FormType() != 2 && ncch.FormType() != 3)
        throw TCtrError("the NCCH is not an executable (CXI) image");
    if (!ncch.NoCrypto())
        throw TCtrError("the NCCH is encrypted; only decrypted (NoCrypto) images are supported");
    if (ncch.ExheaderSize != ExheaderSize)
        throw TCtrError("the NCCH has no extended header");
    TCxiParts cxi;
    cxi.Header.assign(ncch.Raw.begin(), ncch.Raw.end());
    cxi.Exheader = image.ReadVector(base + NcchHeaderSize, ExheaderFileSize, "extended header");
    if (ncch.Logo.Size != 0)
        cxi.Logo = image.ReadVector(base + ncch.Logo.Offset, ncch.Logo.Size, "logo");
    if (ncch.ExeFs.Size != 0) {
        ReadExeFsHeader(image, base + ncch.ExeFs.Offset, ncch.ExeFs.Size);
        cxi.ExeFs = image.ReadVector(base + ncch.ExeFs.Offset, ncch.ExeFs.Size, "ExeFS");
    }
    return cxi;
}

TCardParts ReadCardParts(TInFile& image) {
    TCardParts parts;
    parts.Partition = ReadNcsdPartition0(image);
    parts.HeaderArea = image.ReadVector(0, NcsdHeaderAreaSize, "card header");
    parts.Cxi = ReadCxiParts(image, parts.Partition.Offset, parts.Partition.Size, parts.Ncch);
    return parts;
}

std::uint64_t BuildNcsd(std::vector<std::uint8_t> header, const TPartitionWriter& partition0,
                        const TWriteAt& write_at, bool pad) {
    if (header.size() < KeptHeaderSize)
        throw TCtrError("the card header is shorter than 0x1500 bytes");
    header.resize(KeptHeaderSize);
    std::uint8_t* raw = header.data();
    if (TByteReader(header).U32(OffMagic) != NcsdMagic)
        throw TCtrError("the card header has no NCSD magic");
    const std::uint64_t mu = MediaUnit(raw);

    // The header area once the partition is written: its header is copied into it.
    WriteFillAt(write_at, 0, NcsdHeaderAreaSize);
    std::vector<std::uint8_t> front(NcchHeaderSize);
    const std::uint64_t written = partition0(WriteAtFrom(write_at, NcsdHeaderAreaSize, &front));
    const TNcchHeader ncch = ParseNcchHeader(front, written);
    if (written != ncch.ContentSize)
        throw TCtrError("the CXI's size differs from the content size in its header");

    const TCardLayout layout = CardLayout(raw, ncch.ContentSize);
    const std::uint64_t partition_offset = NcsdHeaderAreaSize;
    const std::uint64_t partition_size = layout.PartitionSize;
    const std::uint64_t data_end = layout.DataEnd;
    const std::uint64_t image_size = layout.ImageSize;

    // Only partition 0 remains.
    for (int i = 1; i < PartitionCount; ++i) {
        PutLE<std::uint64_t>(raw + OffPartitionTable + 8 * i, 0);
        raw[OffFsTypes + i] = 0;
        raw[OffCryptTypes + i] = 0;
        PutLE<std::uint64_t>(raw + OffPartitionIds + 8 * i, 0);
    }
    PutLE<std::uint32_t>(raw + OffPartitionTable,
                         static_cast<std::uint32_t>(partition_offset / mu));
    PutLE<std::uint32_t>(raw + OffPartitionTable + 4,
                         static_cast<std::uint32_t>(partition_size / mu));
    PutLE<std::uint32_t>(raw + OffImageSize, static_cast<std::uint32_t>(image_size / mu));
    PutLE<std::uint64_t>(raw + OffFilledSize, data_end);
    std::copy(ncch.Raw.begin() + 0x100, ncch.Raw.end(), raw + OffNcchHeaderCopy);
    // The card header names partition 0's exheader hash; keep it true for the new CXI.
    std::copy_n(ncch.Raw.begin() + 0x160, 0x20, raw + OffExheaderHash);

    const std::uint64_t content_end = partition_offset + ncch.ContentSize;
    WriteFillAt(write_at, content_end, data_end - content_end);
    if (pad)
        WriteFillAt(write_at, data_end, image_size - data_end, 0xFF);
    write_at(0, header);
    WriteFillAt(write_at, KeptHeaderSize, NcsdHeaderAreaSize - KeptHeaderSize, 0xFF);
    return pad ? image_size : data_end;
}

void BuildNcsd(const fs::path& header_file, const fs::path& cxi, const fs::path& output, bool pad) {
    EnsureNotAnInput(output, {&header_file, &cxi});
    std::vector<std::uint8_t> header = ReadSmallFile(header_file, 1u << 20, "card header");
    if (header.size() < KeptHeaderSize)
        throw TCtrError("the card header " + PathText(header_file) +
                        " is shorter than 0x1500 bytes");
    if (TByteReader(header).U32(OffMagic) != NcsdMagic)
        throw TCtrError("the card header " + PathText(header_file) + " has no NCSD magic");

    TInFile in(cxi);
    const TNcchHeader ncch = ReadNcchHeader(in, 0, in.Size());
    // The tool's meter counts against the image's size, known from the CXI's header.
    const TCardLayout layout = CardLayout(header.data(), ncch.ContentSize);
    ExpectOutputBytes(pad ? layout.ImageSize : layout.DataEnd);
    TOutFile out(output);
    // The CXI's header goes through the builder, which copies it into the card header; the
    // rest is copied straight on from where that write left the output.
    BuildNcsd(
        std::move(header),
        [&](const TWriteAt& write_at) {
            write_at(0, ncch.Raw);
            CopyRange(in, NcchHeaderSize, ncch.ContentSize - NcchHeaderSize, out);
            return ncch.ContentSize;
        },
        WriteAtIn(out, 0), pad);
    out.Commit();
}

} // namespace ctr
