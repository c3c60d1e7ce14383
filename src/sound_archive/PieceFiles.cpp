#include "sound_archive/PieceFiles.h"

#include "ctr/Platform.h"
#include "sound_archive/FileBasics.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace bcsar {

namespace fs = std::filesystem;

namespace {

thread_local TPieceWriteHook t_write_hook;

QString Reason(int error_number) {
    return QString::fromLocal8Bit(std::strerror(error_number));
}

// Standard C streams: portable, and light enough for the thousands of small clip files an
// archive holds.
struct TFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

TFilePtr OpenFile(const QString& path, const char* mode) {
    return TFilePtr(ctr::OpenFile(ToPath(path), mode));
}

int LastError() {
    return errno != 0 ? errno : EIO;
}

} // namespace

void WritePiece(const QString& path, const char* data, qint64 length) {
    if (t_write_hook && t_write_hook(path, data, length))
        return;
    auto fail = [&path](int error_number) {
        throw TSystemError(error_number,
                           QStringLiteral("Cannot write %1: %2").arg(path, Reason(error_number)));
    };
    errno = 0;
    TFilePtr file = OpenFile(path, "wb");
    if (!file)
        fail(LastError());
    std::setvbuf(file.get(), nullptr, _IONBF, 0); // whole pieces go out in one write
    if (length > 0 && std::fwrite(data, 1, static_cast<std::size_t>(length), file.get()) !=
                          static_cast<std::size_t>(length))
        fail(LastError());
    // Closing reports a deferred write error (a full disk) as a failure.
    if (std::fclose(file.release()) != 0)
        fail(LastError());
}

bool AppendFileTo(QByteArray& buffer, const QString& path, int* error_number) {
    const qsizetype old_size = buffer.size();
    auto fail = [&](int error) {
        buffer.truncate(old_size);
        if (error_number)
            *error_number = error;
        return false;
    };
    std::error_code error;
    const fs::path name = ToPath(path);
    const fs::file_status status = fs::status(name, error);
    if (status.type() == fs::file_type::directory)
        return fail(EISDIR);
    if (status.type() == fs::file_type::not_found)
        return fail(ENOENT);
    if (status.type() != fs::file_type::regular)
        return fail(EINVAL);
    const std::uintmax_t stated = fs::file_size(name, error);
    if (error)
        return fail(error.value());
    errno = 0;
    TFilePtr file = OpenFile(path, "rb");
    if (!file)
        return fail(LastError());
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    // Read the stated size in place; a file that grew meanwhile is read on to its end.
    ReserveLarge(buffer, old_size + static_cast<qsizetype>(stated));
    buffer.resize(old_size + static_cast<qsizetype>(stated));
    qsizetype filled = old_size;
    while (filled < buffer.size()) {
        const std::size_t got =
            std::fread(buffer.data() + filled, 1, static_cast<std::size_t>(buffer.size() - filled),
                       file.get());
        filled += static_cast<qsizetype>(got);
        if (got == 0)
            break;
    }
    buffer.truncate(filled);
    if (filled == old_size + static_cast<qsizetype>(stated)) {
        char chunk[4096];
        std::size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
            buffer.append(chunk, static_cast<qsizetype>(got));
    }
    if (std::ferror(file.get()))
        return fail(LastError());
    return true;
}

void AppendFileOrThrow(QByteArray& buffer, const QString& path) {
    int error_number = 0;
    if (!AppendFileTo(buffer, path, &error_number))
        throw TSystemError(error_number,
                           QStringLiteral("Cannot load %1: %2").arg(path, Reason(error_number)));
}

qint64 PlainFileSize(const QString& path) {
    std::error_code error;
    const fs::path name = ToPath(path);
    if (!fs::is_regular_file(name, error))
        return -1;
    const std::uintmax_t size = fs::file_size(name, error);
    return error ? -1 : static_cast<qint64>(size);
}

void ReserveLarge(QByteArray& buffer, qsizetype capacity) {
    if (capacity <= buffer.capacity())
        return;
    // Exact for a first block; growing one is given room ahead so appends stay linear.
    if (!buffer.isEmpty())
        capacity = std::max(capacity, buffer.capacity() + buffer.capacity() / 2);
    buffer.reserve(capacity);
#if defined(__linux__)
    // Filling tens of MiB page by page costs more than the copying itself; huge pages spare
    // most of those faults. Only whole pages of the block still untouched are marked.
    constexpr qsizetype kLarge = 4 << 20;
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
