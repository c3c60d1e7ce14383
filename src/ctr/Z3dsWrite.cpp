#include "ctr/Z3dsWrite.h"

#include "ctr/ByteReader.h"
#include "ctr/Cia.h"
#include "ctr/Verify.h"
#include "ctr/Z3dsFormat.h"

#include <zstd.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#ifndef QVT_VERSION
#define QVT_VERSION "0"
#endif

namespace ctr {

namespace fs = std::filesystem;
using namespace z3ds;

namespace {

void AddMetadataItem(std::vector<std::uint8_t>& metadata, const std::string& name,
                     std::span<const std::uint8_t> value) {
    std::array<std::uint8_t, MetadataItemHeader> item{};
    item[0] = MetadataBinary;
    item[1] = static_cast<std::uint8_t>(name.size());
    PutLE<std::uint16_t>(&item[2], static_cast<std::uint16_t>(value.size()));
    metadata.insert(metadata.end(), item.begin(), item.end());
    metadata.insert(metadata.end(), name.begin(), name.end());
    metadata.insert(metadata.end(), value.begin(), value.end());
}

void AddMetadataText(std::vector<std::uint8_t>& metadata, const std::string& name,
                     const std::string& value) {
    AddMetadataItem(metadata, name,
                    std::span(reinterpret_cast<const std::uint8_t*>(value.data()), value.size()));
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    char text[32] = {};
    // gmtime's static result is read at once; nothing else here calls it.
    if (const std::tm* utc = std::gmtime(&now))
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
    return text;
}

std::vector<std::uint8_t> BuildMetadata(TInFile& in, TImageKind kind, std::uint32_t frame_size) {
    std::vector<std::uint8_t> metadata{MetadataVersion};
    AddMetadataText(metadata, "compressor", std::string("QVT Patch Tool ") + QVT_VERSION);
    AddMetadataText(metadata, "date", UtcNow());
    AddMetadataText(metadata, "maxframesize", std::to_string(frame_size));
    std::array<std::uint8_t, TitleInfoSize> title{};
    // A CIA's title ID from its TMD: its contents may be encrypted, their NCCH headers too.
    PutLE<std::uint64_t>(&title[0x00],
                         kind == TImageKind::Cia ? ReadCia(in).TitleId : ImageProgramId(in, kind));
    PutLE<std::uint64_t>(&title[0x08], in.Size());
    AddMetadataItem(metadata, "titleinfo", title);
    metadata.resize(metadata.size() + MetadataItemHeader, 0); // the end item
    metadata.resize(AlignUp(metadata.size(), MetadataAlignment), 0);
    return metadata;
}

void CompressFrame(ZSTD_CCtx* context, TBuffer& plain, TBuffer& packed, std::uint32_t& checksum) {
    packed.Reserve(ZSTD_compressBound(plain.Size));
    const std::size_t size =
        ZSTD_compress2(context, packed.Data.get(), packed.Capacity, plain.Data.get(), plain.Size);
    if (ZSTD_isError(size))
        throw TCtrError(std::string("cannot compress: ") + ZSTD_getErrorName(size));
    packed.Size = size;
    checksum = static_cast<std::uint32_t>(TXxh64::Of(plain.Bytes()));
}

} // namespace

void CompressImage(const fs::path& input, TImageKind kind, const fs::path& output,
                   TProgress* progress, unsigned threads, bool scratch) {
    EnsureNotAnInput(output, {&input});
    const std::unique_ptr<TInFile> in = OpenImageFile(input);
    TOutFile out(output);
    if (scratch)
        out.MarkScratch();
    CompressImageTo(*in, kind, WriteAtIn(out, 0), progress, threads);
    out.Commit();
}

std::uint64_t CompressImageTo(TInFile& image, TImageKind kind, const TWriteAt& write_at,
                              TProgress* progress, unsigned threads) {
    TInFile* const in = &image;
    if (DetectImageKind(*in) != kind)
        throw TCtrError(PathText(in->Path()) + " is not a " + KindName(kind));
    const std::uint32_t frame_size = kind == TImageKind::Cia ? CiaFrameSize : CardFrameSize;
    const std::vector<std::uint8_t> metadata = BuildMetadata(*in, kind, frame_size);
    const std::uint64_t size = in->Size();
    const std::uint64_t frame_count = (size + frame_size - 1) / frame_size;
    if (frame_count > UINT32_MAX)
        throw TCtrError(PathText(in->Path()) + " is too large to compress");

    threads = std::max(threads, 1u);
    std::vector<std::unique_ptr<ZSTD_CCtx, TCCtxDeleter>> contexts;
    for (unsigned i = 0; i < threads; ++i) {
        contexts.emplace_back(ZSTD_createCCtx());
        if (!contexts.back() ||
            ZSTD_isError(ZSTD_CCtx_setParameter(contexts.back().get(), ZSTD_c_compressionLevel,
                                                CompressionLevel)))
            throw TCtrError("out of memory for compression");
    }
    // A batch gives each worker a few frames. Two batches alternate: the workers compress
    // one while this thread reads the next and then writes the one before; the contexts pass
    // from one batch to the next only after the earlier batch's workers are joined.
    const std::size_t per_batch =
        threads * std::max<std::size_t>(1, (8u << 20) / frame_size / threads);
    TBatch batches[2];

    std::array<std::uint8_t, HeaderSize> header{};
    PutLE<std::uint32_t>(&header[OffMagic], Z3dsMagic);
    PutLE<std::uint32_t>(&header[OffUnderlyingMagic], UnderlyingMagic(kind));
    header[OffVersion] = Z3dsVersion;
    PutLE<std::uint16_t>(&header[OffHeaderSize], HeaderSize);
    PutLE<std::uint32_t>(&header[OffMetadataSize], static_cast<std::uint32_t>(metadata.size()));
    PutLE<std::uint64_t>(&header[OffUncompressedSize], size);

    if (progress)
        progress->Total += size;
    std::uint64_t end = 0;
    const auto append = [&](std::span<const std::uint8_t> bytes) {
        write_at(end, bytes);
        end += bytes.size();
    };
    append(header);
    append(metadata);
    std::vector<std::uint8_t> table(SkippableHeaderSize);
    std::uint64_t packed_total = 0;

    auto write = [&](TBatch& batch) {
        batch.Join();
        for (const std::exception_ptr& failure : batch.Failures)
            if (failure)
                std::rethrow_exception(failure);
        for (std::size_t i = 0; i < batch.Count; ++i) {
            append(batch.Packed[i].Bytes());
            packed_total += batch.Packed[i].Size;
            std::array<std::uint8_t, 12> entry{};
            PutLE<std::uint32_t>(&entry[0], static_cast<std::uint32_t>(batch.Packed[i].Size));
            PutLE<std::uint32_t>(&entry[4], static_cast<std::uint32_t>(batch.Plain[i].Size));
            PutLE<std::uint32_t>(&entry[8], batch.Checksums[i]);
            table.insert(table.end(), entry.begin(), entry.end());
        }
        batch.Count = 0;
    };

    TBatch* previous = nullptr;
    for (std::uint64_t offset = 0, round = 0; offset < size; ++round) {
        TBatch& batch = batches[round % 2];
        batch.Plain.resize(per_batch);
        batch.Packed.resize(per_batch);
        batch.Checksums.resize(per_batch);
        while (batch.Count < per_batch && offset < size) {
            TBuffer& plain = batch.Plain[batch.Count++];
            plain.Size =
                static_cast<std::size_t>(std::min<std::uint64_t>(frame_size, size - offset));
            plain.Reserve(plain.Size);
            in->ReadAt(offset, plain.Bytes(), "image data");
            offset += plain.Size;
            if (progress)
                progress->Advance(plain.Size);
        }
        if (previous)
            write(*previous);
        batch.Failures.assign(threads, nullptr);
        for (unsigned worker = 0; worker < threads; ++worker) {
            const auto compress = [&batch, &contexts, worker, threads] {
                try {
                    for (std::size_t i = worker; i < batch.Count; i += threads)
                        CompressFrame(contexts[worker].get(), batch.Plain[i], batch.Packed[i],
                                      batch.Checksums[i]);
                } catch (...) {
                    batch.Failures[worker] = std::current_exception();
                }
            };
            try {
                batch.Workers.emplace_back(compress);
            } catch (const std::system_error&) {
                compress(); // no threads here (the browser's engine): this one does the work
            }
        }
        previous = &batch;
    }
    if (previous)
        write(*previous);

    std::array<std::uint8_t, FooterSize> footer{};
    PutLE<std::uint32_t>(&footer[FooterOffFrameCount], static_cast<std::uint32_t>(frame_count));
    footer[FooterOffDescriptor] = DescriptorChecksumBit;
    PutLE<std::uint32_t>(&footer[FooterOffMagic], SeekTableMagic);
    table.insert(table.end(), footer.begin(), footer.end());
    PutLE<std::uint32_t>(&table[0], SkippableMagic);
    PutLE<std::uint32_t>(&table[4], static_cast<std::uint32_t>(table.size() - SkippableHeaderSize));
    append(table);
    packed_total += table.size();

    const std::uint64_t planned = HeaderSize + metadata.size() + packed_total;
    if (end != planned)
        throw TCtrError("internal error: the compressed image's size is not as planned");
    std::array<std::uint8_t, 8> compressed_size{};
    PutLE<std::uint64_t>(compressed_size.data(), packed_total);
    write_at(OffCompressedSize, compressed_size);
    return end;
}

} // namespace ctr
