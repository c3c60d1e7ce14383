#include "sound_archive/PieceFiles.h"

#include "ctr/Platform.h"
#include "sound_archive/FileBasics.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace bcsar {

namespace fs = std::filesystem;

namespace {

thread_local TPieceWriteHook t_write_hook;

std::string Reason(int error_number) {
    return std::strerror(error_number);
}

// Standard C streams: portable, and light enough for the thousands of small clip files an
// archive holds.
struct TFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

int LastError() {
    return errno != 0 ? errno : EIO;
}

} // namespace

void WritePiece(const fs::path& path, std::span<const std::uint8_t> bytes) {
    if (t_write_hook && t_write_hook(path, bytes))
        return;
    auto fail = [&path](int error_number) {
        throw TSystemError(error_number,
                           "Cannot write " + ctr::PathToUtf8(path) + ": " + Reason(error_number));
    };
    errno = 0;
    TFilePtr file(ctr::OpenFile(path, "wb"));
    if (!file)
        fail(LastError());
    std::setvbuf(file.get(), nullptr, _IONBF, 0); // whole pieces go out in one write
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        fail(LastError());
    // Closing reports a deferred write error (a full disk) as a failure.
    if (std::fclose(file.release()) != 0)
        fail(LastError());
}

bool AppendFileTo(TByteBuffer& buffer, const fs::path& path, int* error_number) {
    const std::size_t old_size = buffer.size();
    auto fail = [&](int error) {
        buffer.resize(old_size);
        if (error_number)
            *error_number = error;
        return false;
    };
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::directory)
        return fail(EISDIR);
    if (status.type() == fs::file_type::not_found)
        return fail(ENOENT);
    if (status.type() != fs::file_type::regular)
        return fail(EINVAL);
    const std::uintmax_t stated = fs::file_size(path, error);
    if (error)
        return fail(error.value());
    errno = 0;
    TFilePtr file(ctr::OpenFile(path, "rb"));
    if (!file)
        return fail(LastError());
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    // Read the stated size in place; a file that grew meanwhile is read on to its end.
    const std::size_t wanted = old_size + static_cast<std::size_t>(stated);
    ReserveLarge(buffer, wanted);
    buffer.resize(wanted);
    std::size_t filled = old_size;
    while (filled < buffer.size()) {
        const std::size_t got =
            std::fread(buffer.data() + filled, 1, buffer.size() - filled, file.get());
        filled += got;
        if (got == 0)
            break;
    }
    buffer.resize(filled);
    if (filled == wanted) {
        std::uint8_t chunk[4096];
        std::size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
            buffer.insert(buffer.end(), chunk, chunk + got);
    }
    if (std::ferror(file.get()))
        return fail(LastError());
    return true;
}

void AppendFileOrThrow(TByteBuffer& buffer, const fs::path& path) {
    int error_number = 0;
    if (!AppendFileTo(buffer, path, &error_number))
        throw TSystemError(error_number,
                           "Cannot load " + ctr::PathToUtf8(path) + ": " + Reason(error_number));
}

std::int64_t PlainFileSize(const fs::path& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        return -1;
    const std::uintmax_t size = fs::file_size(path, error);
    return error ? -1 : static_cast<std::int64_t>(size);
}

void ReserveLarge(TByteBuffer& buffer, std::size_t capacity) {
    if (capacity <= buffer.capacity())
        return;
    // Exact for a first block; growing one is given room ahead so appends stay linear.
    if (!buffer.empty())
        capacity = std::max(capacity, buffer.capacity() + buffer.capacity() / 2);
    buffer.reserve(capacity);
#if defined(__linux__)
    // Filling tens of MiB page by page costs more than the copying itself; huge pages spare
    // most of those faults. Only whole pages of the block still untouched are marked.
    constexpr std::size_t kLarge = 4 << 20;
    if (capacity < kLarge)
        return;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer.data() + buffer.size());
    const auto end = reinterpret_cast<std::uintptr_t>(buffer.data() + buffer.capacity());
    const std::uintptr_t first = (begin + page - 1) / page * page;
    const std::uintptr_t last = end / page * page;
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE); // a hint only
#endif
}

void SetPieceWriteHook(TPieceWriteHook hook) {
    t_write_hook = std::move(hook);
}

} // namespace bcsar
