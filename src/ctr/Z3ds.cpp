#include "ctr/Z3ds.h"

#include "ctr/ByteReader.h"
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

namespace ctr {

namespace fs = std::filesystem;
using namespace z3ds;

namespace {

struct TFrame {
    std::uint64_t Packed = 0; // offset of the zstd frame from the start of the stream
    std::uint64_t Image = 0;  // offset of its bytes in the image
    std::uint32_t PackedSize = 0;
    std::uint32_t Size = 0;
    std::optional<std::uint32_t> Checksum;
    bool Handed = false;  // bytes of it were read before its end was reached
    bool Checked = false; // decompressed to its end and found whole
};

// Room for one decompressed frame, left uninitialised: only the pages written take memory.
struct TFrameBuffer {
    std::unique_ptr<std::uint8_t[]> Bytes;
    std::size_t Capacity = 0;
};

// Frame buffers outlive their reader: the next reader takes them up again, so its frames land
// in pages the process has touched before instead of fresh ones, which cost far more than the
// decompression on some systems (a virtual machine that hands freed memory back to its
// host). Readers come and go often: identifying an image, listing its files and copying them
// each open one. At most PoolBudget bytes wait here.
class TFramePool {
public:
    TFrameBuffer Take(std::size_t size) {
        {
            const std::lock_guard lock(m_mutex);
            // The smallest that fits: a large buffer stays for a large frame.
            auto best = m_free.end();
            for (auto it = m_free.begin(); it != m_free.end(); ++it)
                if (it->Capacity >= size && (best == m_free.end() || it->Capacity < best->Capacity))
                    best = it;
            if (best != m_free.end()) {
                TFrameBuffer taken = std::move(*best);
                m_free.erase(best);
                m_bytes -= taken.Capacity;
                return taken;
            }
        }
        return {std::unique_ptr<std::uint8_t[]>(new std::uint8_t[size]), size};
    }
    void Give(TFrameBuffer buffer) {
        if (!buffer.Bytes)
            return;
        const std::lock_guard lock(m_mutex);
        if (buffer.Capacity <= PoolBudget - m_bytes) {
            m_bytes += buffer.Capacity;
            m_free.push_back(std::move(buffer));
        }
    }

private:
    std::mutex m_mutex;
    std::vector<TFrameBuffer> m_free;
    std::uint64_t m_bytes = 0; // at most PoolBudget
};

// Never destroyed: a reader that ends while the program exits still hands its buffers back.
TFramePool& FramePool() {
    static TFramePool* const pool = new TFramePool;
    return *pool;
}

struct TCachedFrame {
    std::size_t Index = 0;
    std::uint64_t LastUse = 0; // 0: empty
    TFrameBuffer Buffer;
};

struct TDCtxDeleter {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

[[noreturn]] void Damaged(const fs::path& path, const std::string& reason) {
    throw TCtrError("the compressed image " + PathText(path) + " is damaged: " + reason);
}

// What one thread needs to decompress frames: its own handle on the file (reads move the
// file's position), a zstd context and the piece of compressed bytes on their way to zstd.
struct TFrameSource {
    TInFile File;
    std::unique_ptr<ZSTD_DCtx, TDCtxDeleter> Context;
    std::vector<std::uint8_t> Piece;

    explicit TFrameSource(const fs::path& path) : File(path) {}
    void Decompress(std::uint64_t stream_offset, const TFrame& frame, std::size_t index,
                    std::uint8_t* out);
};

void TFrameSource::Decompress(std::uint64_t stream_offset, const TFrame& frame, std::size_t index,
                              std::uint8_t* out) {
    const std::string name = "frame " + std::to_string(index);
    auto fail = [this](const std::string& reason) { Damaged(File.Path(), reason); };
    if (!Context) {
        Context.reset(ZSTD_createDCtx());
        if (!Context)
            throw TCtrError("out of memory for decompression");
    }
    ZSTD_DCtx_reset(Context.get(), ZSTD_reset_session_only);
    // The compressed frame goes to zstd piece by piece, so only its window is held besides
    // the decompressed bytes.
    Piece.resize(StreamPiece);
    ZSTD_outBuffer output{out, frame.Size, 0};
    ZSTD_inBuffer input{Piece.data(), 0, 0};
    std::uint64_t left = frame.PackedSize;
    std::uint64_t at = stream_offset + frame.Packed;
    for (;;) {
        if (input.pos == input.size && left > 0) {
            const std::size_t part =
                static_cast<std::size_t>(std::min<std::uint64_t>(left, StreamPiece));
            File.ReadAt(at, std::span(Piece.data(), part), "compressed frame");
            input = {Piece.data(), part, 0};
            at += part;
            left -= part;
        }
        const std::size_t taken = input.pos;
        const std::size_t given = output.pos;
        const std::size_t result = ZSTD_decompressStream(Context.get(), &output, &input);
        if (ZSTD_isError(result))
            fail(name + " does not decompress: " + ZSTD_getErrorName(result));
        if (result == 0) {
            if (input.pos < input.size || left > 0)
                fail(name + " holds more than one zstd frame");
            break;
        }
        // No progress: zstd wants room for more bytes than the entry gives, or more input.
        if (input.pos == taken && output.pos == given) {
            if (output.pos == output.size)
                fail(name + " decompresses to more than its " + std::to_string(frame.Size) +
                     " bytes");
            if (left == 0)
                fail(name + " is cut short");
        }
    }
    if (output.pos != frame.Size)
        fail(name + " decompresses to " + std::to_string(output.pos) + " bytes instead of " +
             std::to_string(frame.Size));
    if (frame.Checksum &&
        static_cast<std::uint32_t>(TXxh64::Of(std::span(out, frame.Size))) != *frame.Checksum)
        fail(name + " fails its checksum");
}

// A large frame decompressed as it is read: zstd's context stays in the middle of the frame,
// and the latest bytes it gave stay in a ring of `window` bytes. A read of bytes before the
// ring starts the frame again; a read of another frame starts that one. The frame's size and
// checksum are checked when the cursor reaches its end, so the bytes of a frame read in part
// are confirmed only by Finish.
class TFrameCursor {
public:
    TFrameCursor(TFrameSource& source, std::uint64_t stream_offset, std::vector<TFrame>& frames,
                 std::size_t window)
        : m_source(source), m_stream_offset(stream_offset), m_frames(frames), m_capacity(window) {}
    ~TFrameCursor() { FramePool().Give(std::move(m_window)); }
    TFrameCursor(const TFrameCursor&) = delete;
    TFrameCursor& operator=(const TFrameCursor&) = delete;

    /// Copies out.size() bytes of frame `index` from `from` on; they lie inside the frame.
    void Read(std::size_t index, std::uint64_t from, std::span<std::uint8_t> out);
    /// Decompresses frame `index` to its end, the bytes dropped, and checks it.
    void Finish(std::size_t index);

private:
    void Start(std::size_t index);
    // One call of zstd with room for `wanted` bytes, as far as the frame and the ring allow.
    void Step(std::uint64_t wanted);
    [[noreturn]] void Fail(const std::string& reason) const {
        Damaged(m_source.File.Path(), "frame " + std::to_string(m_index) + " " + reason);
    }

    TFrameSource& m_source;
    std::uint64_t m_stream_offset;
    std::vector<TFrame>& m_frames;
    std::size_t m_capacity;
    TFrameBuffer m_window;
    std::size_t m_index = 0;
    bool m_started = false;
    bool m_ended = false;
    std::uint64_t m_produced = 0;   // bytes of the frame decompressed so far
    std::uint64_t m_input_at = 0;   // the next compressed byte in the file
    std::uint64_t m_input_left = 0; // compressed bytes of the frame not yet read
    ZSTD_inBuffer m_input{};
    TXxh64 m_checksum;
};

void TFrameCursor::Start(std::size_t index) {
    if (!m_window.Bytes)
        m_window = FramePool().Take(m_capacity);
    if (!m_source.Context) {
        m_source.Context.reset(ZSTD_createDCtx());
        if (!m_source.Context)
            throw TCtrError("out of memory for decompression");
    }
    ZSTD_DCtx_reset(m_source.Context.get(), ZSTD_reset_session_only);
    m_source.Piece.resize(StreamStep);
    const TFrame& frame = m_frames[index];
    m_index = index;
    m_started = true;
    m_ended = false;
    m_produced = 0;
    m_input_at = m_stream_offset + frame.Packed;
    m_input_left = frame.PackedSize;
    m_input = {m_source.Piece.data(), 0, 0};
    m_checksum = TXxh64();
}

void TFrameCursor::Step(std::uint64_t wanted) {
    TFrame& frame = m_frames[m_index];
    if (m_input.pos == m_input.size && m_input_left > 0) {
        const std::size_t part =
            static_cast<std::size_t>(std::min<std::uint64_t>(m_input_left, StreamStep));
        m_source.File.ReadAt(m_input_at, std::span(m_source.Piece.data(), part),
                             "compressed frame");
        m_input = {m_source.Piece.data(), part, 0};
        m_input_at += part;
        m_input_left -= part;
    }
    const std::uint64_t ring_at = m_produced % m_capacity;
    const std::size_t room =
        static_cast<std::size_t>(std::min({m_capacity - ring_at, frame.Size - m_produced,
                                           std::max<std::uint64_t>(wanted, StreamStep)}));
    std::uint8_t* const out = m_window.Bytes.get() + ring_at;
    ZSTD_outBuffer output{out, room, 0};
    const std::size_t taken = m_input.pos;
    const std::size_t result = ZSTD_decompressStream(m_source.Context.get(), &output, &m_input);
    if (ZSTD_isError(result))
        Fail(std::string("does not decompress: ") + ZSTD_getErrorName(result));
    m_checksum.Update(std::span(out, output.pos));
    m_produced += output.pos;
    if (result == 0) {
        if (m_input.pos < m_input.size || m_input_left > 0)
            Fail("holds more than one zstd frame");
        if (m_produced != frame.Size)
            Fail("decompresses to " + std::to_string(m_produced) + " bytes instead of " +
                 std::to_string(frame.Size));
        if (frame.Checksum && static_cast<std::uint32_t>(m_checksum.Digest()) != *frame.Checksum)
            Fail("fails its checksum");
        m_ended = true;
        frame.Checked = true;
        return;
    }
    // No progress: zstd wants room for more bytes than the entry gives, or more input.
    if (m_input.pos == taken && output.pos == 0) {
        if (room == 0)
            Fail("decompresses to more than its " + std::to_string(frame.Size) + " bytes");
        if (m_input_left == 0)
            Fail("is cut short");
        Fail("does not decompress");
    }
}

void TFrameCursor::Read(std::size_t index, std::uint64_t from, std::span<std::uint8_t> out) {
    const std::uint64_t kept_from = m_produced > m_capacity ? m_produced - m_capacity : 0;
    if (!m_started || index != m_index || from < kept_from)
        Start(index);
    const std::uint64_t end = from + out.size();
    // Bytes ahead of the cursor are decompressed and passed over; those wanted are copied out
    // of the ring as soon as they are in it, before a further step can overwrite them.
    for (std::uint64_t at = from; at < end;) {
        if (at < m_produced) {
            const std::uint64_t ring_at = at % m_capacity;
            const std::size_t part = static_cast<std::size_t>(
                std::min(std::min(end, m_produced) - at, m_capacity - ring_at));
            std::copy_n(m_window.Bytes.get() + ring_at, part, out.data() + (at - from));
            at += part;
        } else {
            Step(end - m_produced);
        }
    }
    TFrame& frame = m_frames[index];
    if (!frame.Checked)
        frame.Handed = true;
    // A frame read to its last byte is checked at once.
    if (m_produced == frame.Size)
        Finish(index);
}

void TFrameCursor::Finish(std::size_t index) {
    if (!m_started || index != m_index)
        Start(index);
    while (!m_ended)
        Step(m_frames[index].Size - m_produced);
}

} // namespace

// The file as stored, its frame table and the decompressed frames kept.
struct TZ3dsReader::TState {
    TFrameSource Source;
    TInFile& File = Source.File;
    TZ3dsInfo Info;
    std::uint64_t StreamOffset = 0;
    std::vector<TFrame> Frames;
    std::vector<TCachedFrame> Cache; // frames read whole, when they are small
    std::uint64_t Clock = 0;
    std::optional<TFrameCursor> Cursor; // large frames, read as they are decompressed

    explicit TState(const fs::path& path) : Source(path) {}
    ~TState() {
        for (TCachedFrame& slot : Cache)
            FramePool().Give(std::move(slot.Buffer));
    }

    [[noreturn]] void Fail(const std::string& reason) const { Damaged(File.Path(), reason); }
    void ReadHeader();
    void ReadMetadata(std::uint64_t offset, std::uint32_t size);
    void ReadSeekTable();
    void CheckInnerMagic(TZ3dsReader& reader, std::uint32_t underlying);
    const TCachedFrame& Load(std::size_t index);
};

void TZ3dsReader::TState::ReadHeader() {
    std::array<std::uint8_t, HeaderSize> raw{};
    if (File.Size() < raw.size())
        Fail("the file is shorter than its header");
    File.ReadAt(0, raw, "Z3DS header");
    const TByteReader header(raw);
    if (header.U32(OffMagic) != Z3dsMagic)
        throw TCtrError(PathText(File.Path()) + " is not a compressed image (no Z3DS magic)");
    if (const std::uint8_t version = *header.U8(OffVersion); version != Z3dsVersion)
        throw TCtrError("the compressed image " + PathText(File.Path()) + " has version " +
                        std::to_string(version) + ", which this program does not read");
    const std::uint32_t underlying = *header.U32(OffUnderlyingMagic);
    if (underlying == NcsdMagic)
        Info.Kind = TImageKind::Cci;
    else if (underlying == NcchMagic)
        Info.Kind = TImageKind::Cxi;
    else if (underlying == CiaMagic)
        Info.Kind = TImageKind::Cia;
    else if (underlying == Z3dsMagic)
        Fail("it says it holds another compressed image");
    else
        Fail("it says it holds neither a CIA, an NCSD nor an NCCH");
    const std::uint16_t header_size = *header.U16(OffHeaderSize);
    const std::uint32_t metadata_size = *header.U32(OffMetadataSize);
    Info.CompressedSize = *header.U64(OffCompressedSize);
    Info.UncompressedSize = *header.U64(OffUncompressedSize);
    if (header_size < HeaderSize || header_size > File.Size())
        Fail("its header size is wrong");
    if (!File.Contains(header_size, metadata_size))
        Fail("its metadata runs past the end of the file");
    StreamOffset = std::uint64_t{header_size} + metadata_size;
    if (!File.Contains(StreamOffset, Info.CompressedSize))
        Fail("its compressed size runs past the end of the file");
    ReadMetadata(header_size, metadata_size);
}

void TZ3dsReader::TState::ReadMetadata(std::uint64_t offset, std::uint32_t size) {
    if (size == 0)
        return;
    const std::vector<std::uint8_t> raw = File.ReadVector(offset, size, "Z3DS metadata");
    const TByteReader metadata(raw);
    // Items of another metadata version are not ours to read; the image does not need them.
    if (metadata.U8(0) != MetadataVersion)
        return;
    for (std::size_t at = 1;;) {
        const auto type = metadata.U8(at);
        const auto name_size = metadata.U8(at + 1);
        const auto value_size = metadata.U16(at + 2);
        // Metadata that ends without its end item has simply no more items.
        if (at == raw.size())
            return;
        if (!type || !name_size || !value_size)
            Fail("a metadata item runs past the end of the metadata");
        if (*type == MetadataEnd)
            return;
        const auto name = metadata.Bytes(at + MetadataItemHeader, *name_size);
        const auto value =
            name ? metadata.Bytes(at + MetadataItemHeader + *name_size, *value_size) : name;
        if (!name || !value)
            Fail("a metadata item runs past the end of the metadata");
        Info.Metadata.emplace_back(std::string(name->begin(), name->end()),
                                   std::vector<std::uint8_t>(value->begin(), value->end()));
        at += MetadataItemHeader + *name_size + *value_size;
    }
}

void TZ3dsReader::TState::ReadSeekTable() {
    const std::uint64_t stream_end = StreamOffset + Info.CompressedSize;
    if (Info.CompressedSize < SkippableHeaderSize + FooterSize)
        Fail("its stream is too short to hold a seek table");
    std::array<std::uint8_t, FooterSize> raw_footer{};
    File.ReadAt(stream_end - FooterSize, raw_footer, "seek table footer");
    const TByteReader footer(raw_footer);
    if (footer.U32(FooterOffMagic) != SeekTableMagic)
        Fail("the seek table's footer magic is missing");
    const std::uint32_t frame_count = *footer.U32(FooterOffFrameCount);
    const bool checksums = (*footer.U8(FooterOffDescriptor) & DescriptorChecksumBit) != 0;
    const std::size_t entry_size = checksums ? 12 : 8;
    // At most 12 * 2^32 + 17: no overflow in 64 bits.
    const std::uint64_t table_size =
        SkippableHeaderSize + std::uint64_t{frame_count} * entry_size + FooterSize;
    if (table_size > Info.CompressedSize)
        Fail("its seek table of " + std::to_string(frame_count) +
             " frames would start before the stream");
    const std::uint64_t table_offset = stream_end - table_size;
    const std::vector<std::uint8_t> raw =
        File.ReadVector(table_offset, table_size - FooterSize, "seek table");
    const TByteReader table(raw);
    if (table.U32(0) != SkippableMagic || table.U32(4) != table_size - SkippableHeaderSize)
        Fail("the seek table is not a skippable frame of its size");
    Frames.resize(frame_count);
    std::uint64_t packed = 0;
    std::uint64_t image = 0;
    for (std::size_t i = 0; i < frame_count; ++i) {
        const std::size_t at = SkippableHeaderSize + i * entry_size;
        TFrame& frame = Frames[i];
        frame.PackedSize = *table.U32(at);
        frame.Size = *table.U32(at + 4);
        if (checksums)
            frame.Checksum = *table.U32(at + 8);
        if (frame.Size > MaxFrameSize)
            Fail("frame " + std::to_string(i) + " is larger than 1 GiB");
        frame.Packed = packed;
        frame.Image = image;
        packed += frame.PackedSize; // sums of u32 values over u32 entries: no overflow
        image += frame.Size;
        Info.LargestFrame = std::max<std::uint64_t>(Info.LargestFrame, frame.Size);
    }
    Info.FrameCount = frame_count;
    if (packed != table_offset - StreamOffset)
        Fail("the seek table's compressed sizes do not add up to the stream");
    if (image != Info.UncompressedSize)
        Fail("the seek table's sizes do not add up to the image size");
}

const TCachedFrame& TZ3dsReader::TState::Load(std::size_t index) {
    ++Clock;
    TCachedFrame* oldest = &Cache.front();
    for (TCachedFrame& slot : Cache) {
        if (slot.LastUse != 0 && slot.Index == index) {
            slot.LastUse = Clock;
            return slot;
        }
        if (slot.LastUse < oldest->LastUse)
            oldest = &slot;
    }
    const std::uint32_t size = Frames[index].Size;
    oldest->LastUse = 0;
    if (oldest->Buffer.Capacity < size) {
        FramePool().Give(std::move(oldest->Buffer));
        oldest->Buffer = FramePool().Take(size);
    }
    Source.Decompress(StreamOffset, Frames[index], index, oldest->Buffer.Bytes.get());
    oldest->Index = index;
    oldest->LastUse = Clock;
    return *oldest;
}

void TZ3dsReader::TState::CheckInnerMagic(TZ3dsReader& reader, std::uint32_t underlying) {
    std::array<std::uint8_t, ImageOffMagic + 4> start{};
    if (Info.UncompressedSize < start.size())
        Fail("the image inside is too short to be a " + std::string(KindName(Info.Kind)));
    reader.Read(0, start);
    const TByteReader image(start);
    if (image.U32(0) == Z3dsMagic)
        Fail("it holds another compressed image");
    const bool fits = underlying == CiaMagic ? image.U32(0) == CiaHeaderSize
                                             : image.U32(ImageOffMagic) == underlying;
    if (!fits)
        Fail("the image inside is not the " + std::string(KindName(Info.Kind)) +
             " its header says");
}

TZ3dsReader::TZ3dsReader(const fs::path& path) : m_state(std::make_unique<TState>(path)) {
    TState& state = *m_state;
    state.ReadHeader();
    state.ReadSeekTable();
    const std::uint64_t largest = std::max<std::uint64_t>(state.Info.LargestFrame, 1);
    if (largest > WholeFrameLimit) {
        state.Cursor.emplace(state.Source, state.StreamOffset, state.Frames,
                             static_cast<std::size_t>(std::min(largest, StreamWindow)));
    } else {
        const std::size_t slots = static_cast<std::size_t>(
            std::clamp<std::uint64_t>(CacheBudget / largest, MinCachedFrames, MaxCachedFrames));
        state.Cache.resize(slots);
    }
    state.CheckInnerMagic(*this, UnderlyingMagic(state.Info.Kind));
}

TZ3dsReader::~TZ3dsReader() = default;

const TZ3dsInfo& TZ3dsReader::Info() const {
    return m_state->Info;
}

void TZ3dsReader::Read(std::uint64_t offset, std::span<std::uint8_t> out) {
    TState& state = *m_state;
    if (offset > state.Info.UncompressedSize || out.size() > state.Info.UncompressedSize - offset)
        throw TCtrError("read past the end of the image in " + PathText(state.File.Path()));
    std::size_t done = 0;
    // The last frame that starts at or before the offset; empty frames share their start
    // with the next and are passed over.
    auto next = std::upper_bound(
        state.Frames.begin(), state.Frames.end(), offset,
        [](std::uint64_t value, const TFrame& frame) { return value < frame.Image; });
    std::size_t index = static_cast<std::size_t>(next - state.Frames.begin()) - 1;
    while (done < out.size()) {
        const std::uint64_t at = offset + done;
        while (state.Frames[index].Image + state.Frames[index].Size <= at)
            ++index;
        const TFrame& frame = state.Frames[index];
        const std::size_t from = static_cast<std::size_t>(at - frame.Image);
        const std::size_t part = std::min<std::size_t>(out.size() - done, frame.Size - from);
        if (state.Cursor) {
            state.Cursor->Read(index, from, out.subspan(done, part));
        } else {
            const TCachedFrame& cached = state.Load(index);
            std::copy_n(cached.Buffer.Bytes.get() + from, part, out.data() + done);
        }
        done += part;
    }
}

void TZ3dsReader::ConfirmReads() {
    TState& state = *m_state;
    if (!state.Cursor)
        return; // small frames are checked whole before any byte of them is read
    for (std::size_t index = 0; index < state.Frames.size(); ++index)
        if (state.Frames[index].Handed && !state.Frames[index].Checked)
            state.Cursor->Finish(index);
}

bool IsZ3dsFile(const fs::path& path) {
    try {
        TInFile file(path);
        std::array<std::uint8_t, 4> magic{};
        if (file.Size() < magic.size())
            return false;
        file.ReadAt(0, magic, "magic");
        return TByteReader(magic).U32(0) == Z3dsMagic;
    } catch (const TCtrError&) {
        return false;
    }
}

std::unique_ptr<TInFile> OpenImageFile(const fs::path& path) {
    auto file = std::make_unique<TInFile>(path);
    std::array<std::uint8_t, 4> magic{};
    if (file->Size() < magic.size())
        return file;
    file->ReadAt(0, magic, "magic");
    if (TByteReader(magic).U32(0) != Z3dsMagic)
        return file;
    auto reader = std::make_shared<TZ3dsReader>(path);
    const std::uint64_t size = reader->Size();
    file->ReadThrough(
        [reader](std::uint64_t offset, std::span<std::uint8_t> out) { reader->Read(offset, out); },
        size, [reader] { reader->ConfirmReads(); });
    return file;
}

std::optional<TImageKind> DetectImageKind(TInFile& image) {
    std::array<std::uint8_t, 4> magic{};
    if (image.Contains(ImageOffMagic, magic.size())) {
        image.ReadAt(ImageOffMagic, magic, "magic");
        const std::uint32_t value = *TByteReader(magic).U32(0);
        if (value == NcchMagic)
            return TImageKind::Cxi;
        if (value == NcsdMagic)
            return TImageKind::Cci;
    }
    if (image.Contains(0, magic.size())) {
        image.ReadAt(0, magic, "header");
        if (TByteReader(magic).U32(0) == CiaHeaderSize)
            return TImageKind::Cia;
    }
    return std::nullopt;
}

void DecompressImage(const fs::path& input, const fs::path& output, TProgress* progress,
                     bool scratch) {
    EnsureNotAnInput(output, {&input});
    TZ3dsReader reader(input);
    const TZ3dsReader::TState& state = *reader.m_state;
    const std::uint64_t size = reader.Size();
    if (progress)
        progress->Total += size;
    // Frames decompress on two threads, each with its own handle on the file; this thread
    // writes them in order. A batch holds at least one frame per thread and up to 16 MiB.
    constexpr unsigned threads = 2;
    const std::uint64_t largest = std::max<std::uint64_t>(state.Info.LargestFrame, 1);
    const std::size_t per_batch = static_cast<std::size_t>(
        std::max<std::uint64_t>(threads, (16u << 20) / largest / threads * threads));
    std::deque<TFrameSource> sources; // a deque: they stay in place
    for (unsigned i = 0; i < threads; ++i)
        sources.emplace_back(input);
    std::vector<TBuffer> buffers(per_batch);
    TOutFile out(output);
    if (scratch)
        out.MarkScratch();
    const std::vector<TFrame>& frames = state.Frames;
    for (std::size_t first = 0; first < frames.size(); first += per_batch) {
        const std::size_t count = std::min(per_batch, frames.size() - first);
        TBatch batch;
        batch.Failures.assign(threads, nullptr);
        for (unsigned worker = 0; worker < threads; ++worker)
            batch.Workers.emplace_back([&, worker] {
                try {
                    for (std::size_t i = worker; i < count; i += threads) {
                        const TFrame& frame = frames[first + i];
                        buffers[i].Size = frame.Size;
                        buffers[i].Reserve(frame.Size);
                        sources[worker].Decompress(state.StreamOffset, frame, first + i,
                                                   buffers[i].Data.get());
                    }
                } catch (...) {
                    batch.Failures[worker] = std::current_exception();
                }
            });
        batch.Join();
        for (const std::exception_ptr& failure : batch.Failures)
            if (failure)
                std::rethrow_exception(failure);
        for (std::size_t i = 0; i < count; ++i) {
            out.Write(buffers[i].Bytes());
            if (progress)
                progress->Advance(buffers[i].Size);
        }
    }
    if (out.End() != size)
        throw TCtrError("internal error: the image's size is not as planned");
    out.Commit();
}

} // namespace ctr
