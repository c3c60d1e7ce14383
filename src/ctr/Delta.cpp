#include "ctr/Delta.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <string>
#include <vector>

extern "C" {
#include "xdelta3.h"
}

namespace ctr {

namespace {

// The source is handed to the decoder in blocks (a power of two), the most recently used of
// them kept: a window's copies stay inside its source window (64 MiB as xdelta3 encodes by
// default), so the cache holds one whole source window.
constexpr usize_t kBlockSize = 1u << 20;
constexpr std::size_t kCachedBlocks = 64;
constexpr std::size_t kInputChunk = 1u << 20;

class TSourceBlocks {
public:
    explicit TSourceBlocks(TInFile& file) : m_file(file) {}

    /// The bytes of block `number`; they stay valid until another block is asked for.
    std::span<const std::uint8_t> Block(std::uint64_t number) {
        auto found = std::find_if(m_blocks.begin(), m_blocks.end(),
                                  [number](const TBlock& block) { return block.Number == number; });
        if (found != m_blocks.end()) {
            m_blocks.splice(m_blocks.begin(), m_blocks, found);
            return m_blocks.front().Bytes;
        }
        const std::uint64_t offset = number * kBlockSize;
        if (offset >= m_file.Size())
            throw TCtrError("the difference reads past the end of the source file");
        const std::uint64_t length = std::min<std::uint64_t>(kBlockSize, m_file.Size() - offset);
        if (m_blocks.size() < kCachedBlocks)
            m_blocks.emplace_front();
        else
            m_blocks.splice(m_blocks.begin(), m_blocks, std::prev(m_blocks.end()));
        TBlock& block = m_blocks.front();
        block.Number = number;
        block.Bytes.resize(static_cast<std::size_t>(length));
        m_file.ReadAt(offset, block.Bytes, "the source file");
        return block.Bytes;
    }

private:
    struct TBlock {
        std::uint64_t Number = 0;
        std::vector<std::uint8_t> Bytes;
    };
    TInFile& m_file;
    std::list<TBlock> m_blocks; // most recently used first
};

// The decoder's state, freed on every way out.
struct TDecoder {
    xd3_stream Stream{};
    xd3_source Source{};
    TDecoder() = default;
    TDecoder(const TDecoder&) = delete;
    TDecoder& operator=(const TDecoder&) = delete;
    ~TDecoder() { xd3_free_stream(&Stream); }
};

[[noreturn]] void FailDecoding(xd3_stream& stream, int code) {
    std::string reason;
    if (stream.msg != nullptr && *stream.msg != '\0')
        reason = stream.msg;
    else if (const char* name = xd3_strerror(code))
        reason = name;
    else
        reason = std::strerror(code);
    std::string message = "the difference cannot be applied (it is damaged or was made for "
                          "another source): ";
    message += reason;
    throw TCtrError(message);
}

} // namespace

void ApplyDelta(TInFile& source, TInFile& delta, TOutFile& output, TProgress* progress,
                const std::function<void(std::span<const std::uint8_t>)>& observe) {
    ApplyDelta(
        source, delta,
        [&](std::span<const std::uint8_t> written) {
            output.Write(written);
            if (observe)
                observe(written);
        },
        progress);
}

void ApplyDelta(TInFile& source, TInFile& delta,
                const std::function<void(std::span<const std::uint8_t>)>& write,
                TProgress* progress) {
    TDecoder decoder;
    xd3_config config;
    xd3_init_config(&config, 0);
    if (int code = xd3_config_stream(&decoder.Stream, &config); code != 0)
        FailDecoding(decoder.Stream, code);
    decoder.Source.blksize = kBlockSize;
    decoder.Source.name = "source";
    if (int code = xd3_set_source_and_size(&decoder.Stream, &decoder.Source, source.Size());
        code != 0)
        FailDecoding(decoder.Stream, code);

    TSourceBlocks blocks(source);
    std::vector<std::uint8_t> input(kInputChunk);
    std::uint64_t read = 0;
    bool finished_input = false;
    if (progress != nullptr)
        progress->Total += delta.Size();

    auto supply_input = [&] {
        const std::uint64_t length = std::min<std::uint64_t>(kInputChunk, delta.Size() - read);
        delta.ReadAt(read, std::span(input.data(), static_cast<std::size_t>(length)),
                     "the difference");
        read += length;
        if (read == delta.Size()) {
            xd3_set_flags(&decoder.Stream, decoder.Stream.flags | XD3_FLUSH);
            finished_input = true;
        }
        xd3_avail_input(&decoder.Stream, input.data(), static_cast<usize_t>(length));
        if (progress != nullptr)
            progress->Advance(length);
    };

    // The difference is read a chunk at a time, but one chunk may stand for windows of many
    // MiB of output, each reading its source blocks: a stop is asked for after each window
    // written and each source block read as well.
    auto ask_stop = [&] {
        if (progress != nullptr)
            progress->Advance(0);
    };

    supply_input();
    for (;;) {
        const int code = xd3_decode_input(&decoder.Stream);
        switch (code) {
        case XD3_INPUT:
            if (finished_input) {
                // All read: the header must have been read and the last window finished.
                if (decoder.Stream.dec_state != DEC_WININD)
                    throw TCtrError("the difference ends early: it is cut or not a difference");
                if (int closed = xd3_close_stream(&decoder.Stream); closed != 0)
                    FailDecoding(decoder.Stream, closed);
                return;
            }
            supply_input();
            break;
        case XD3_OUTPUT: {
            const std::span<const std::uint8_t> written(decoder.Stream.next_out,
                                                        decoder.Stream.avail_out);
            write(written);
            xd3_consume_output(&decoder.Stream);
            ask_stop();
            break;
        }
        case XD3_GETSRCBLK: {
            ask_stop();
            const auto block = blocks.Block(decoder.Source.getblkno);
            decoder.Source.curblkno = decoder.Source.getblkno;
            decoder.Source.onblk = static_cast<usize_t>(block.size());
            decoder.Source.curblk = block.data();
            break;
        }
        case XD3_GOTHEADER:
        case XD3_WINSTART:
        case XD3_WINFINISH:
            break;
        default:
            FailDecoding(decoder.Stream, code);
        }
    }
}

} // namespace ctr
