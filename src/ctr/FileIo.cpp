#include "ctr/FileIo.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <random>
#include <system_error>
#include <thread>
#include <utility>

#if defined(__linux__)
#include <unistd.h> // copy_file_range
#endif

namespace ctr {

static std::string Reason() {
    return std::strerror(errno);
}

namespace {

struct TServedFile {
    std::uint64_t Size = 0;
    TInFile::TReadSource Source;
};

// The files served without a file system, by path; guarded, as readers on other threads open
// files by path too.
std::mutex& ServedLock() {
    static std::mutex lock;
    return lock;
}
std::vector<std::pair<std::filesystem::path, TServedFile>>& ServedFiles() {
    static std::vector<std::pair<std::filesystem::path, TServedFile>> files;
    return files;
}

std::optional<TServedFile> FindServedFile(const std::filesystem::path& path) {
    const std::lock_guard lock(ServedLock());
    for (const auto& [served, file] : ServedFiles())
        if (served == path)
            return file;
    return std::nullopt;
}

} // namespace

void ServeFile(const std::filesystem::path& path, std::uint64_t size, TInFile::TReadSource source) {
    StopServingFile(path);
    const std::lock_guard lock(ServedLock());
    ServedFiles().emplace_back(path, TServedFile{size, std::move(source)});
}

void StopServingFile(const std::filesystem::path& path) {
    const std::lock_guard lock(ServedLock());
    std::erase_if(ServedFiles(), [&](const auto& entry) { return entry.first == path; });
}

TInFile::TInFile(const std::filesystem::path& path) : m_path(path) {
    if (std::optional<TServedFile> served = FindServedFile(path)) {
        m_size = served->Size;
        m_source = std::move(served->Source);
        return;
    }
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw TCtrError("cannot open " + PathText(path) + ": it is a folder");
    m_file = OpenFile(path, "rb");
    if (!m_file)
        throw TCtrError("cannot open " + PathText(path) + ": " + Reason());
    const std::int64_t size = SeekFileEnd(m_file);
    if (size < 0) {
        std::fclose(m_file);
        throw TCtrError("cannot read " + PathText(path) + ": " + Reason());
    }
    m_size = static_cast<std::uint64_t>(size);
}

int TInFile::Descriptor() const {
    return m_file ? fileno(m_file) : -1;
}

TInFile::~TInFile() {
    if (m_file)
        std::fclose(m_file);
}

void TInFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out, const char* what) {
    if (!Contains(offset, out.size()))
        throw TCtrError(PathText(m_path) + " is too short: " + what + " lies outside the file");
    if (out.empty())
        return;
    if (m_source) {
        m_source(offset, out);
        return;
    }
    if (!SeekFile(m_file, offset) || std::fread(out.data(), 1, out.size(), m_file) != out.size())
        throw TCtrError("cannot read " + std::string(what) + " of " + PathText(m_path));
}

std::vector<std::uint8_t> TInFile::ReadVector(std::uint64_t offset, std::uint64_t length,
                                              const char* what) {
    if (!Contains(offset, length))
        throw TCtrError(PathText(m_path) + " is too short: " + what + " lies outside the file");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    ReadAt(offset, bytes, what);
    return bytes;
}

// Pushes the file's bytes from the system's cache to the disk before the rename, so after a
// power loss the name holds either the earlier file or the whole new one. (Should the rename
// itself be lost, the earlier file is still there.)
// A caller that deletes the outputs itself (the installer's scratch files) sets
// QVT_SCRATCH_OUTPUTS: they are renamed into place whole as always, but not forced to the disk.
static bool SyncToDisk(std::FILE* file) {
    static const bool scratch = std::getenv("QVT_SCRATCH_OUTPUTS") != nullptr;
    if (scratch || TThreadOutputMeter::ScratchOnThisThread())
        return true;
    return SyncFile(file);
}

TOutFile::TOutFile(const std::filesystem::path& path) : m_path(path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw TCtrError("cannot create " + PathText(path) + ": it is a folder");
    // A fresh name beside the output, so the rename stays inside one file system; "x" makes
    // the creation exclusive, so two runs never share a temporary.
    std::random_device random;
    for (int attempt = 0; attempt < 16 && !m_file; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%08x.part", static_cast<unsigned>(random()));
        m_temporary = path;
        m_temporary += suffix;
        m_file = OpenFile(m_temporary, "wbx");
        if (!m_file && errno != EEXIST)
            break;
    }
    if (!m_file)
        throw TCtrError("cannot create " + PathText(path) + ": " + Reason());
}

TOutFile::~TOutFile() {
    if (m_file)
        std::fclose(m_file);
    if (!m_committed) {
        std::error_code error;
        std::filesystem::remove(m_temporary, error);
    }
}

void TOutFile::Write(std::span<const std::uint8_t> bytes) {
    if (!m_file)
        throw TCtrError("internal error: write after commit");
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), m_file) != bytes.size())
        throw TCtrError("cannot write " + PathText(m_path) + ": " + Reason());
    m_position += bytes.size();
    m_end = std::max(m_end, m_position);
    CountOutputBytes(bytes.size());
}

void TOutFile::WriteFill(std::uint8_t value, std::uint64_t count) {
    std::vector<std::uint8_t> block(
        static_cast<std::size_t>(std::min<std::uint64_t>(count, CopyChunkSize)), value);
    while (count > 0) {
        const std::size_t part =
            static_cast<std::size_t>(std::min<std::uint64_t>(count, block.size()));
        Write(std::span(block.data(), part));
        count -= part;
    }
}

void TOutFile::PadTo(std::uint64_t alignment, std::uint8_t value) {
    WriteFill(value, AlignUp(m_position, alignment) - m_position);
}

void TOutFile::Seek(std::uint64_t position) {
    if (!m_file || !SeekFile(m_file, position))
        throw TCtrError("cannot seek in " + PathText(m_path) + ": " + Reason());
    m_position = position;
}

TWriteAt WriteAtIn(TOutFile& out, std::uint64_t base) {
    return [&out, base](std::uint64_t offset, std::span<const std::uint8_t> bytes) {
        if (out.Position() != base + offset)
            out.Seek(base + offset);
        out.Write(bytes);
    };
}

TWriteAt WriteAtFrom(const TWriteAt& write_at, std::uint64_t base,
                     std::vector<std::uint8_t>* front) {
    return [&write_at, base, front](std::uint64_t offset, std::span<const std::uint8_t> bytes) {
        if (front && offset < front->size()) {
            const std::size_t part = static_cast<std::size_t>(
                std::min<std::uint64_t>(bytes.size(), front->size() - offset));
            std::copy_n(bytes.begin(), part, front->begin() + static_cast<std::ptrdiff_t>(offset));
        }
        write_at(base + offset, bytes);
    };
}

void WriteFillAt(const TWriteAt& write_at, std::uint64_t offset, std::uint64_t count,
                 std::uint8_t value) {
    const std::vector<std::uint8_t> zeros(
        static_cast<std::size_t>(std::min<std::uint64_t>(count, CopyChunkSize)), value);
    while (count > 0) {
        const std::size_t part =
            static_cast<std::size_t>(std::min<std::uint64_t>(count, zeros.size()));
        write_at(offset, std::span(zeros.data(), part));
        offset += part;
        count -= part;
    }
}

void TOutFile::Commit() {
    if (!m_file)
        return;
    const bool flushed =
        std::fflush(m_file) == 0 && !std::ferror(m_file) && (m_scratch || SyncToDisk(m_file));
    const std::string flush_reason = flushed ? std::string() : Reason();
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (!flushed || !closed)
        throw TCtrError("cannot write " + PathText(m_path) + ": " +
                        (flushed ? Reason() : flush_reason));
    RenameOver(m_temporary, m_path); // on failure the destructor deletes the temporary
    m_committed = true;
}

bool TOutFile::CopyFromKernel(TInFile& in, std::uint64_t offset, std::uint64_t length) {
#if !defined(__linux__)
    (void)in;
    (void)offset;
    (void)length;
    return false; // no in-kernel copy here: the caller copies through its buffer
#else
    if (!in.Direct())
        return false; // the bytes on the disk are not the bytes to copy
    if (!m_file || std::fflush(m_file) != 0)
        throw TCtrError("cannot write " + PathText(m_path) + ": " + Reason());
    const int out_fd = fileno(m_file);
    loff_t in_position = static_cast<loff_t>(offset);
    loff_t out_position = static_cast<loff_t>(m_position);
    std::uint64_t done = 0;
    while (done < length) {
        const std::size_t part =
            static_cast<std::size_t>(std::min<std::uint64_t>(length - done, 64u << 20));
        const ssize_t copied =
            copy_file_range(in.Descriptor(), &in_position, out_fd, &out_position, part, 0);
        if (copied < 0) {
            if (done == 0 &&
                (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
                return false;
            throw TCtrError("cannot write " + PathText(m_path) + ": " + Reason());
        }
        if (copied == 0)
            throw TCtrError("cannot read " + PathText(in.Path()) + ": unexpected end of file");
        done += static_cast<std::uint64_t>(copied);
        CountOutputBytes(static_cast<std::uint64_t>(copied));
    }
    Seek(m_position + length);
    m_end = std::max(m_end, m_position);
    return true;
#endif
}

namespace {

struct TOutputMeter {
    const bool Reporting = std::getenv("QVT_PROGRESS") != nullptr;
    std::atomic<std::uint64_t> Expected = 0;
    std::atomic<std::uint64_t> Written = 0;
    std::atomic<std::uint64_t> Reported = 0; // the last percent printed, plus one
};

TOutputMeter& Meter() {
    static TOutputMeter meter;
    return meter;
}

} // namespace

namespace {
thread_local TThreadOutputMeter* t_thread_meter = nullptr;
} // namespace

TThreadOutputMeter::TThreadOutputMeter(TReport report, bool scratch)
    : m_report(std::move(report)), m_scratch(scratch), m_outer(t_thread_meter) {
    t_thread_meter = this;
}

bool TThreadOutputMeter::ScratchOnThisThread() {
    return t_thread_meter != nullptr && t_thread_meter->m_scratch;
}

TThreadOutputMeter::~TThreadOutputMeter() {
    t_thread_meter = m_outer;
}

void ExpectOutputBytes(std::uint64_t bytes) {
    if (TThreadOutputMeter* own = t_thread_meter) {
        own->m_expected += bytes;
        return;
    }
    Meter().Expected += bytes;
}

void CountOutputBytes(std::uint64_t bytes) {
    if (TThreadOutputMeter* own = t_thread_meter) {
        own->m_written += bytes;
        if (own->m_report && !own->m_report(own->m_written, own->m_expected))
            throw TCtrError("stopped");
        return;
    }
    TOutputMeter& meter = Meter();
    if (!meter.Reporting || bytes == 0)
        return;
    const std::uint64_t written = meter.Written += bytes;
    const std::uint64_t expected = meter.Expected.load();
    if (expected == 0)
        return;
    const std::uint64_t percent = std::min<std::uint64_t>(written, expected) * 100 / expected;
    std::uint64_t reported = meter.Reported.load();
    while (percent + 1 > reported) {
        if (meter.Reported.compare_exchange_weak(reported, percent + 1)) {
            std::fprintf(stderr, "qvt-progress %llu %llu\n",
                         static_cast<unsigned long long>(std::min(written, expected)),
                         static_cast<unsigned long long>(expected));
            std::fflush(stderr);
            break;
        }
    }
}

struct TBackgroundLane::TState {
    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<std::function<void()>> Jobs;
    std::size_t Depth = 1;
    std::size_t Pending = 0; // queued plus running
    bool Stop = false;
    std::exception_ptr Failure;
    std::thread Helper;

    void Run() {
        std::unique_lock lock(Mutex);
        for (;;) {
            Changed.wait(lock, [this] { return Stop || !Jobs.empty(); });
            if (Jobs.empty())
                return;
            std::function<void()> job = std::move(Jobs.front());
            Jobs.pop_front();
            lock.unlock();
            std::exception_ptr failure;
            try {
                job();
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            if (failure && !Failure)
                Failure = failure;
            --Pending;
            Changed.notify_all();
        }
    }
};

TBackgroundLane::TBackgroundLane(std::size_t depth) : m_state(std::make_unique<TState>()) {
    m_state->Depth = std::max<std::size_t>(depth, 1);
    try {
        m_state->Helper = std::thread([state = m_state.get()] { state->Run(); });
    } catch (const std::system_error&) {
        // No threads here: Post runs each job itself.
    }
}

TBackgroundLane::~TBackgroundLane() {
    if (!m_state->Helper.joinable())
        return;
    {
        std::lock_guard lock(m_state->Mutex);
        m_state->Stop = true;
    }
    m_state->Changed.notify_all();
    m_state->Helper.join();
}

void TBackgroundLane::Post(std::function<void()> job) {
    if (!m_state->Helper.joinable()) {
        try {
            job();
        } catch (...) {
            if (!m_state->Failure)
                m_state->Failure = std::current_exception();
        }
        return;
    }
    std::unique_lock lock(m_state->Mutex);
    m_state->Changed.wait(lock, [this] { return m_state->Pending < m_state->Depth; });
    m_state->Jobs.push_back(std::move(job));
    ++m_state->Pending;
    m_state->Changed.notify_all();
}

void TBackgroundLane::Drain() {
    std::unique_lock lock(m_state->Mutex);
    m_state->Changed.wait(lock, [this] { return m_state->Pending == 0; });
    if (m_state->Failure)
        std::rethrow_exception(std::exchange(m_state->Failure, nullptr));
}

namespace {

// Blocks in flight between the reading thread and the hashing one; one more buffer than
// that is being filled, so a pass holds (kLaneDepth + 1) blocks.
constexpr std::size_t kLaneDepth = 2;

// Reads `length` bytes of `in` from `offset` block by block; each block goes to `observe` on
// the helper thread while `use` (when given) consumes it on this one.
void ReadObserved(TInFile& in, std::uint64_t offset, std::uint64_t length,
                  const std::function<void(std::span<const std::uint8_t>)>& observe,
                  const std::function<void(std::span<const std::uint8_t>)>& use) {
    const std::size_t block =
        static_cast<std::size_t>(std::min<std::uint64_t>(length, CopyChunkSize));
    std::vector<std::vector<std::uint8_t>> buffers(kLaneDepth + 1);
    TBackgroundLane lane(kLaneDepth);
    std::size_t next = 0;
    while (length > 0) {
        std::vector<std::uint8_t>& buffer = buffers[next];
        next = (next + 1) % buffers.size();
        buffer.resize(block);
        const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(length, block));
        std::span<std::uint8_t> chunk(buffer.data(), part);
        in.ReadAt(offset, chunk);
        lane.Post([&observe, chunk] { observe(chunk); });
        if (use)
            use(chunk);
        offset += part;
        length -= part;
    }
    lane.Drain();
}

void ReadHashed(TInFile& in, std::uint64_t offset, std::uint64_t length, TSha256& hash,
                const std::function<void(std::span<const std::uint8_t>)>& use) {
    ReadObserved(
        in, offset, length, [&hash](std::span<const std::uint8_t> chunk) { hash.Update(chunk); },
        use);
}

} // namespace

std::unique_ptr<TInFile> OpenRange(TInFile& base, std::uint64_t offset, std::uint64_t size) {
    if (!base.Contains(offset, size))
        throw TCtrError(PathText(base.Path()) + " is too short: the file inside lies outside it");
    auto range = std::make_unique<TInFile>(base.Path());
    range->ReadThrough(
        [&base, offset](std::uint64_t at, std::span<std::uint8_t> out) {
            base.ReadAt(offset + at, out);
        },
        size, [&base] { base.ConfirmReads(); });
    return range;
}

void CopyRange(TInFile& in, std::uint64_t offset, std::uint64_t length, TOutFile& out,
               TSha256* hash) {
    if (!in.Contains(offset, length))
        throw TCtrError(PathText(in.Path()) + " is too short: a region lies outside the file");
    if (!hash && length > 0 && out.CopyFromKernel(in, offset, length))
        return;
    if (hash) {
        ReadHashed(in, offset, length, *hash,
                   [&out](std::span<const std::uint8_t> chunk) { out.Write(chunk); });
        return;
    }
    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(length, CopyChunkSize)));
    while (length > 0) {
        const std::size_t part =
            static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
        std::span chunk(buffer.data(), part);
        in.ReadAt(offset, chunk);
        out.Write(chunk);
        offset += part;
        length -= part;
    }
}

void CopyRangeObserved(TInFile& in, std::uint64_t offset, std::uint64_t length, TOutFile& out,
                       const std::function<void(std::span<const std::uint8_t>)>& observe,
                       TProgress* progress) {
    if (!in.Contains(offset, length))
        throw TCtrError(PathText(in.Path()) + " is too short: a region lies outside the file");
    if (progress)
        progress->Total += length;
    ReadObserved(in, offset, length, observe, [&](std::span<const std::uint8_t> chunk) {
        out.Write(chunk);
        if (progress)
            progress->Advance(chunk.size());
    });
}

void TProgress::Advance(std::uint64_t bytes) {
    Done += bytes;
    if (Callback && !Callback(std::min(Done, Total), Total))
        throw TCtrError("the check was cancelled");
}

TSha256Digest HashRange(TInFile& in, std::uint64_t offset, std::uint64_t length,
                        TProgress* progress) {
    if (!in.Contains(offset, length))
        throw TCtrError(PathText(in.Path()) + " is too short: a region lies outside the file");
    TSha256 hash;
    std::function<void(std::span<const std::uint8_t>)> advance;
    if (progress)
        advance = [progress](std::span<const std::uint8_t> chunk) {
            progress->Advance(chunk.size());
        };
    ReadHashed(in, offset, length, hash, advance);
    return hash.Final();
}

void TFilePass::Add(std::uint64_t offset, std::uint64_t length, TConsumer consume,
                    bool background) {
    if (!m_file.Contains(offset, length))
        throw TCtrError(PathText(m_file.Path()) + " is too short: a region lies outside the file");
    if (length > 0)
        m_regions.push_back({offset, length, std::move(consume), background});
}

const std::vector<std::uint8_t>& TFilePass::ReadAhead(std::uint64_t offset, std::uint64_t length,
                                                      const char* what, std::uint64_t padded) {
    if (!m_file.Contains(offset, length))
        throw TCtrError(PathText(m_file.Path()) + " is too short: " + what +
                        " lies outside the file");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max(length, padded)), 0);
    m_file.ReadAt(offset, std::span(bytes.data(), static_cast<std::size_t>(length)), what);
    return m_ahead.emplace_back(TAhead{offset, length, std::move(bytes)}).Bytes;
}

// The walk's extent: the regions and the bytes read ahead, sorted and merged.
std::vector<std::pair<std::uint64_t, std::uint64_t>> TFilePass::Spans() const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    for (const TRegion& region : m_regions)
        spans.emplace_back(region.Offset, region.Offset + region.Length);
    for (const TAhead& kept : m_ahead)
        if (kept.Length > 0)
            spans.emplace_back(kept.Offset, kept.Offset + kept.Length);
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> merged;
    for (const auto& span : spans) {
        if (!merged.empty() && span.first <= merged.back().second)
            merged.back().second = std::max(merged.back().second, span.second);
        else
            merged.push_back(span);
    }
    return merged;
}

// Fills `out` with the file's bytes at `offset`, copying what was read ahead (sorted by
// offset) and reading the rest.
void TFilePass::Fill(std::uint64_t offset, std::span<std::uint8_t> out,
                     const std::vector<const TAhead*>& ahead) {
    const std::uint64_t end = offset + out.size();
    std::uint64_t at = offset;
    auto read = [&](std::uint64_t until) {
        m_file.ReadAt(at, out.subspan(static_cast<std::size_t>(at - offset),
                                      static_cast<std::size_t>(until - at)));
        at = until;
    };
    for (const TAhead* kept : ahead) {
        const std::uint64_t kept_end = kept->Offset + kept->Length;
        if (kept_end <= at)
            continue;
        if (kept->Offset >= end)
            break;
        if (kept->Offset > at)
            read(kept->Offset);
        const std::uint64_t stop = std::min(kept_end, end);
        std::copy_n(kept->Bytes.begin() + static_cast<std::ptrdiff_t>(at - kept->Offset),
                    static_cast<std::size_t>(stop - at),
                    out.begin() + static_cast<std::ptrdiff_t>(at - offset));
        at = stop;
    }
    if (at < end)
        read(end);
}

void TFilePass::Run(TProgress* progress) {
    const auto spans = Spans();
    std::uint64_t block = 0;
    for (const auto& [start, end] : spans) {
        block = std::max<std::uint64_t>(block, std::min<std::uint64_t>(end - start, m_block));
        if (progress)
            progress->Total += end - start;
    }
    std::vector<const TAhead*> ahead;
    for (const TAhead& kept : m_ahead)
        ahead.push_back(&kept);
    std::sort(ahead.begin(), ahead.end(),
              [](const TAhead* a, const TAhead* b) { return a->Offset < b->Offset; });
    const bool background = std::any_of(m_regions.begin(), m_regions.end(),
                                        [](const TRegion& region) { return region.Background; });
    // Hands each region its share of the block [offset, offset + chunk.size()).
    auto feed = [this](std::uint64_t offset, std::span<const std::uint8_t> chunk, bool helper) {
        const std::uint64_t end = offset + chunk.size();
        for (const TRegion& region : m_regions) {
            if (region.Background != helper)
                continue;
            const std::uint64_t from = std::max(offset, region.Offset);
            const std::uint64_t to = std::min(end, region.Offset + region.Length);
            if (from < to)
                region.Consume(chunk.subspan(static_cast<std::size_t>(from - offset),
                                             static_cast<std::size_t>(to - from)));
        }
    };
    // As in ReadHashed: the lane holds at most kLaneDepth blocks, so the buffer filled next
    // is no longer in use. The lane is declared after the buffers and so ends before them.
    // Without a helper one buffer serves: each block is done with before the next is read.
    std::vector<std::vector<std::uint8_t>> buffers(background ? kLaneDepth + 1 : 1);
    std::optional<TBackgroundLane> lane;
    if (background)
        lane.emplace(kLaneDepth);
    std::size_t next = 0;
    for (const auto& [start, end] : spans) {
        for (std::uint64_t offset = start; offset < end;) {
            const std::size_t part =
                static_cast<std::size_t>(std::min<std::uint64_t>(end - offset, m_block));
            std::vector<std::uint8_t>& buffer = buffers[next];
            next = (next + 1) % buffers.size();
            buffer.resize(static_cast<std::size_t>(block));
            const std::span<std::uint8_t> chunk(buffer.data(), part);
            Fill(offset, chunk, ahead);
            if (lane)
                lane->Post([feed, offset, chunk] { feed(offset, chunk, true); });
            feed(offset, chunk, false);
            if (progress)
                progress->Advance(part);
            offset += part;
        }
    }
    if (lane)
        lane->Drain();
}

std::vector<std::uint8_t> ReadSmallFile(const std::filesystem::path& path, std::uint64_t limit,
                                        const char* what) {
    TInFile in(path);
    if (in.Size() > limit)
        throw TCtrError(std::string(what) + " " + PathText(path) + " is too large");
    return in.ReadVector(0, in.Size(), what);
}

void WriteWholeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    TOutFile out(path);
    out.Write(bytes);
    out.Commit();
}

void EnsureNotAnInput(const std::filesystem::path& output,
                      std::initializer_list<const std::filesystem::path*> inputs) {
    for (const std::filesystem::path* input : inputs) {
        if (!input || input->empty())
            continue;
        std::error_code error;
        if (std::filesystem::equivalent(output, *input, error))
            throw TCtrError("output " + PathText(output) + " is also an input");
    }
}

} // namespace ctr
