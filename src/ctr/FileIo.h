#pragma once
// Streaming file access for the container code: 64-bit positions, exact reads, and outputs
// that appear whole under their name or not at all.

#include "ctr/Hash.h"
#include "ctr/Platform.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace ctr {

/// Size of the chunks in which regions are copied and hashed.
inline constexpr std::size_t CopyChunkSize = 4u << 20;

constexpr std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

/// Stores `value` big-endian at `out`.
template <typename T> void PutBE(std::uint8_t* out, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >>
                                           (8 * (sizeof(T) - 1 - i)));
}
template <typename T> T GetBE(const std::uint8_t* in) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        value = value << 8 | in[i];
    return static_cast<T>(value);
}
template <typename T> T GetLE(const std::uint8_t* in) {
    std::uint64_t value = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        value = value << 8 | in[i];
    return static_cast<T>(value);
}

/// A file opened for reading; every read is exact or throws.
class TInFile {
public:
    explicit TInFile(const std::filesystem::path& path);
    ~TInFile();
    TInFile(const TInFile&) = delete;
    TInFile& operator=(const TInFile&) = delete;

    std::uint64_t Size() const { return m_size; }
    const std::filesystem::path& Path() const { return m_path; }
    /// Reads exactly out.size() bytes at `offset`; a read past the end throws, naming `what`.
    void ReadAt(std::uint64_t offset, std::span<std::uint8_t> out, const char* what = "data");
    std::vector<std::uint8_t> ReadVector(std::uint64_t offset, std::uint64_t length,
                                         const char* what = "data");
    /// True when [offset, offset + length) lies inside the file (no overflow possible).
    bool Contains(std::uint64_t offset, std::uint64_t length) const {
        return offset <= m_size && length <= m_size - offset;
    }
    /// The system's descriptor; -1 for a served file (ServeFile).
    int Descriptor() const;

    /// Where reads of a file seen through a layer (its decryption) take their bytes from:
    /// exactly out.size() bytes at `offset`, or a throw.
    using TReadSource = std::function<void(std::uint64_t offset, std::span<std::uint8_t> out)>;
    /// What confirms the bytes a layer has given so far (see ConfirmReads).
    using TConfirm = std::function<void()>;
    /// From now on every read of this file comes from `source`, which sees the same file
    /// (same size) through a layer; the kernel is no longer asked to copy from it. `confirm`
    /// is the layer's ConfirmReads.
    void ReadThrough(TReadSource source, TConfirm confirm = {}) {
        m_source = std::move(source);
        m_confirm = std::move(confirm);
    }
    /// The same for a layer whose file is `size` bytes long (a compressed image read as the
    /// image it holds): Size() and the bounds of every read are the layer's from now on.
    void ReadThrough(TReadSource source, std::uint64_t size, TConfirm confirm = {}) {
        ReadThrough(std::move(source), std::move(confirm));
        m_size = size;
    }
    /// True unless reads go through a layer: the bytes on the disk are the bytes read.
    bool Direct() const { return !m_source; }
    /// Makes sure every byte read so far was right: a compressed image checks a large frame
    /// only once it is read to its end, and finishes each frame read in part now. Throws
    /// TCtrError when the bytes were damaged; whatever was written from them is then to be
    /// thrown away. Nothing to do for a file read as it is.
    void ConfirmReads() {
        if (m_confirm)
            m_confirm();
    }

private:
    std::filesystem::path m_path;
    std::FILE* m_file = nullptr;
    std::uint64_t m_size = 0;
    TReadSource m_source;
    TConfirm m_confirm;
};

/// Serves the file at `path` without the file system: until StopServingFile, every TInFile
/// opened by that path is `size` bytes long and reads through `source` (the browser's build
/// reads the user's chosen file in slices so, and every reader by path works unchanged).
void ServeFile(const std::filesystem::path& path, std::uint64_t size, TInFile::TReadSource source);
void StopServingFile(const std::filesystem::path& path);

/// A file created for writing. The bytes go to a temporary name in the same folder; Commit()
/// flushes them to the disk and only then renames the file into place, replacing an earlier
/// file of that name. Unless Commit() succeeds, the destructor deletes the temporary, so a
/// failed or killed build never leaves a half-written file under the output's name, and an
/// earlier output stays as it was.
class TOutFile {
public:
    explicit TOutFile(const std::filesystem::path& path);
    ~TOutFile();
    TOutFile(const TOutFile&) = delete;
    TOutFile& operator=(const TOutFile&) = delete;

    void Write(std::span<const std::uint8_t> bytes);
    void WriteFill(std::uint8_t value, std::uint64_t count);
    /// Pads with `value` up to the next multiple of `alignment` of the position.
    void PadTo(std::uint64_t alignment, std::uint8_t value = 0);
    void Seek(std::uint64_t position);
    std::uint64_t Position() const { return m_position; }
    std::uint64_t End() const { return m_end; }
    const std::filesystem::path& Path() const { return m_path; }
    /// Where the bytes are written until Commit().
    const std::filesystem::path& TemporaryPath() const { return m_temporary; }
    /// Flushes, closes and renames into place; throws when the data did not reach the file.
    void Commit();
    /// The caller deletes this file itself (a scratch file): Commit() renames it into place
    /// whole as always but does not force it to the disk.
    void MarkScratch() { m_scratch = true; }
    /// Copies straight from `in` inside the kernel where the file systems allow it; false
    /// (with nothing written) when they do not.
    bool CopyFromKernel(TInFile& in, std::uint64_t offset, std::uint64_t length);

private:
    std::filesystem::path m_path;
    std::filesystem::path m_temporary;
    std::FILE* m_file = nullptr;
    std::uint64_t m_position = 0;
    std::uint64_t m_end = 0;
    bool m_committed = false;
    bool m_scratch = false;
};

/// Positioned writes of an output being built: `bytes` at `offset` from the output's start.
/// Builders write front to back and come back only to fill in headers once their hashes are
/// known, so a file or a browser's storage serves them alike.
using TWriteAt = std::function<void(std::uint64_t offset, std::span<const std::uint8_t> bytes)>;
/// Positioned writes into `out`, offsets counted from `base`; the position is left after the
/// last bytes written.
TWriteAt WriteAtIn(TOutFile& out, std::uint64_t base);
/// Positioned writes into `write_at` from `base` on. With `front`, the bytes that land in its
/// first front->size() bytes are kept there too (a header hashed once it is written).
TWriteAt WriteAtFrom(const TWriteAt& write_at, std::uint64_t base,
                     std::vector<std::uint8_t>* front = nullptr);
/// Writes `count` bytes of `value` at `offset`.
void WriteFillAt(const TWriteAt& write_at, std::uint64_t offset, std::uint64_t count,
                 std::uint8_t value = 0);

/// How far a tool has come, told to the program that started it. When the environment
/// variable QVT_PROGRESS is set, every byte a TOutFile writes counts against the total the
/// tool expects, and each whole percent reached is one line "qvt-progress DONE TOTAL" on
/// standard error. Without the variable nothing is printed.
void ExpectOutputBytes(std::uint64_t bytes);
void CountOutputBytes(std::uint64_t bytes);

/// The meter of a tool run inside another program, on a thread of its own: while it lives,
/// ExpectOutputBytes and CountOutputBytes on its thread count here instead, and print nothing.
/// `report` hears the bytes written and expected after each write; once it returns false,
/// the write fails ("stopped"), which ends the tool as a kill ends its program. With
/// `scratch`, the files committed on its thread are not forced to the disk, as with
/// QVT_SCRATCH_OUTPUTS.
class TThreadOutputMeter {
public:
    using TReport = std::function<bool(std::uint64_t written, std::uint64_t expected)>;
    explicit TThreadOutputMeter(TReport report, bool scratch = false);
    /// True when the thread's files are scratch files.
    static bool ScratchOnThisThread();
    ~TThreadOutputMeter();
    TThreadOutputMeter(const TThreadOutputMeter&) = delete;
    TThreadOutputMeter& operator=(const TThreadOutputMeter&) = delete;

private:
    friend void ExpectOutputBytes(std::uint64_t bytes);
    friend void CountOutputBytes(std::uint64_t bytes);
    TReport m_report;
    std::uint64_t m_expected = 0;
    std::uint64_t m_written = 0;
    bool m_scratch = false;
    TThreadOutputMeter* m_outer = nullptr;
};

/// One helper thread that runs posted jobs in order, at most `depth` of them pending, so the
/// caller's thread can read and write while the helper hashes the blocks it handed over.
/// A job's exception comes back from Drain(); the destructor waits for the jobs. Where no
/// thread can be started (the browser's engine), each job runs in Post() on the caller's thread.
class TBackgroundLane {
public:
    explicit TBackgroundLane(std::size_t depth);
    ~TBackgroundLane();
    TBackgroundLane(const TBackgroundLane&) = delete;
    TBackgroundLane& operator=(const TBackgroundLane&) = delete;
    /// Queues the job, first waiting while `depth` jobs are pending.
    void Post(std::function<void()> job);
    /// Waits until every posted job has run.
    void Drain();

private:
    struct TState;
    std::unique_ptr<TState> m_state;
};

/// The `size` bytes of `base` from `offset` on, as a file of their own (a file inside an image,
/// read through the image's layers). `base` must outlive it. Throws TCtrError when the range
/// does not lie inside `base`.
std::unique_ptr<TInFile> OpenRange(TInFile& base, std::uint64_t offset, std::uint64_t size);

/// Copies `length` bytes from `in` at `offset` to the output's current position, feeding
/// them to `hash` when given.
void CopyRange(TInFile& in, std::uint64_t offset, std::uint64_t length, TOutFile& out,
               TSha256* hash = nullptr);
struct TProgress;
/// Copies as CopyRange does, handing each block in order to `observe` on a helper thread
/// while the copy goes on (a digest taken as the bytes pass), so the bytes are read once.
/// `progress` (optional) advances block by block and may cancel the copy.
void CopyRangeObserved(TInFile& in, std::uint64_t offset, std::uint64_t length, TOutFile& out,
                       const std::function<void(std::span<const std::uint8_t>)>& observe,
                       TProgress* progress = nullptr);
/// Progress of a long check: bytes read so far against the bytes the check will read. Each
/// pass adds what it is about to read to Total before it starts. The callback returns false
/// to stop the check, which then fails with "the check was cancelled".
struct TProgress {
    std::function<bool(std::uint64_t done, std::uint64_t total)> Callback;
    std::uint64_t Done = 0;
    std::uint64_t Total = 0;
    void Advance(std::uint64_t bytes);
};

/// One walk over a file that feeds many checks. Each check names a region and receives that
/// region's bytes in order, in one or more pieces; the walk reads the union of the regions
/// once, in increasing file order, in CopyChunkSize blocks. Regions may overlap. Small regions
/// a check needs before the walk (hash levels stored after the data they cover) are read
/// ahead with ReadAhead; the walk then takes them from memory instead of reading them again.
/// `block` is the size of the walk's reads (CopyChunkSize unless a reader wants larger ones).
class TFilePass {
public:
    using TConsumer = std::function<void(std::span<const std::uint8_t>)>;

    explicit TFilePass(TInFile& file, std::size_t block = CopyChunkSize)
        : m_file(file), m_block(std::max<std::size_t>(block, 1)) {}
    TFilePass(const TFilePass&) = delete;
    TFilePass& operator=(const TFilePass&) = delete;
    TInFile& File() const { return m_file; }

    /// Hands [offset, offset + length) to `consume` during Run(): on the calling thread, or
    /// with `background` on a helper thread, so two checks of the same bytes use two cores.
    /// Throws when the region lies outside the file.
    void Add(std::uint64_t offset, std::uint64_t length, TConsumer consume,
             bool background = false);
    /// Reads `length` bytes at `offset` now, zero-padded to `padded` bytes when that is more.
    /// The bytes stay valid as long as the pass; the walk covers them too.
    const std::vector<std::uint8_t>& ReadAhead(std::uint64_t offset, std::uint64_t length,
                                               const char* what, std::uint64_t padded = 0);
    /// Walks the union of the regions and the bytes read ahead. The progress total grows by
    /// those bytes first, then advances block by block.
    void Run(TProgress* progress = nullptr);

private:
    struct TRegion {
        std::uint64_t Offset = 0;
        std::uint64_t Length = 0;
        TConsumer Consume;
        bool Background = false;
    };
    struct TAhead {
        std::uint64_t Offset = 0;
        std::uint64_t Length = 0; // bytes of the file; the vector may be longer (padding)
        std::vector<std::uint8_t> Bytes;
    };
    std::vector<std::pair<std::uint64_t, std::uint64_t>> Spans() const;
    void Fill(std::uint64_t offset, std::span<std::uint8_t> out,
              const std::vector<const TAhead*>& ahead);

    TInFile& m_file;
    std::size_t m_block;
    std::vector<TRegion> m_regions;
    std::deque<TAhead> m_ahead; // a deque keeps the vectors in place as more are added
};

/// Hashes `length` bytes of `in` from `offset`.
TSha256Digest HashRange(TInFile& in, std::uint64_t offset, std::uint64_t length,
                        TProgress* progress = nullptr);
/// Reads a whole small file (at most `limit` bytes).
std::vector<std::uint8_t> ReadSmallFile(const std::filesystem::path& path, std::uint64_t limit,
                                        const char* what);
void WriteWholeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
/// Refuses an output that is one of the inputs, which would destroy it while it is read.
void EnsureNotAnInput(const std::filesystem::path& output,
                      std::initializer_list<const std::filesystem::path*> inputs);

} // namespace ctr
