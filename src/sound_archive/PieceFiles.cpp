#include "sound_archive/PieceFiles.h"

#include "install/FileTools.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace bcsar {

namespace {

thread_local TPieceWriteHook t_write_hook;

QString Reason(int error_number) {
    return QString::fromStdString(std::generic_category().message(error_number));
}

// Closes a descriptor on every way out of a scope.
class TFd {
public:
    explicit TFd(int fd) : m_fd(fd) {}
    ~TFd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return m_fd; }
    // Closes now and reports the result, so a failing close (deferred write error) is seen.
    int Close() {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

} // namespace

void WritePiece(const QString& path, const char* data, qint64 length) {
    if (t_write_hook)
        t_write_hook(path);
    const QByteArray name = QFile::encodeName(path);
    TFd fd(::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    auto fail = [&path](int error_number) {
        throw TSystemError(error_number,
                           QStringLiteral("Cannot write %1: %2").arg(path, Reason(error_number)));
    };
    if (fd.Get() < 0)
        fail(errno);
    while (length > 0) {
        const ssize_t written = ::write(fd.Get(), data, static_cast<size_t>(length));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        data += written;
        length -= written;
    }
    if (fd.Close() != 0)
        fail(errno);
}

bool AppendFileTo(QByteArray& buffer, const QString& path, int* error_number) {
    const qsizetype old_size = buffer.size();
    auto fail = [&](int error) {
        buffer.truncate(old_size);
        if (error_number)
            *error_number = error;
        return false;
    };
    const QByteArray name = QFile::encodeName(path);
    TFd fd(::open(name.constData(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
        return fail(errno);
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0)
        return fail(errno);
    if (S_ISDIR(info.st_mode))
        return fail(EISDIR);
    if (!S_ISREG(info.st_mode))
        return fail(EINVAL);
    // Read the stated size in place; a file that shrank meanwhile ends early, one that grew
    // is read on through a small buffer, so the reserved capacity is not outgrown needlessly.
    qsizetype filled = old_size;
    buffer.resize(old_size + static_cast<qsizetype>(info.st_size));
    while (filled < buffer.size()) {
        const ssize_t got = ::read(fd.Get(), buffer.data() + filled,
                                   static_cast<size_t>(buffer.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail(errno);
        if (got == 0)
            break;
        filled += got;
    }
    buffer.truncate(filled);
    if (filled == old_size + static_cast<qsizetype>(info.st_size)) {
        char chunk[4096];
        for (;;) {
            const ssize_t got = ::read(fd.Get(), chunk, sizeof chunk);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return fail(errno);
            if (got == 0)
                break;
            buffer.append(chunk, got);
        }
    }
    return true;
}

void AppendFileOrThrow(QByteArray& buffer, const QString& path) {
    int error_number = 0;
    if (!AppendFileTo(buffer, path, &error_number))
        throw TSystemError(error_number,
                           QStringLiteral("Cannot load %1: %2").arg(path, Reason(error_number)));
}

qint64 PlainFileSize(const QString& path) {
    struct stat info {};
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return static_cast<qint64>(info.st_size);
}

void SetPieceWriteHook(TPieceWriteHook hook) { t_write_hook = std::move(hook); }

} // namespace bcsar
