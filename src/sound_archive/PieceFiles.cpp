#include "sound_archive/PieceFiles.h"

#include "install/FileTools.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace bcsar {

namespace {

thread_local TPieceWriteHook t_write_hook;

// QFile reports reasons as text; map the common ones to an error number for callers that
// want one.
int ErrorNumberOf(const QFile& file) {
    switch (file.error()) {
    case QFileDevice::PermissionsError:
        return EACCES;
    case QFileDevice::ResourceError:
        return ENOSPC;
    case QFileDevice::OpenError:
        return file.exists() ? EACCES : ENOENT;
    default:
        return EIO;
    }
}

} // namespace

void WritePiece(const QString& path, const char* data, qint64 length) {
    if (t_write_hook && t_write_hook(path, data, length))
        return;
    QFile file(path);
    auto fail = [&] {
        throw TSystemError(ErrorNumberOf(file),
                           QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail();
    while (length > 0) {
        const qint64 written = file.write(data, length);
        if (written <= 0)
            fail();
        data += written;
        length -= written;
    }
    // Flushing and closing reports a deferred write error (a full disk) as a failure.
    if (!file.flush())
        fail();
    file.close();
    if (file.error() != QFileDevice::NoError)
        fail();
}

bool AppendFileTo(QByteArray& buffer, const QString& path, int* error_number) {
    const qsizetype old_size = buffer.size();
    auto fail = [&](int error) {
        buffer.truncate(old_size);
        if (error_number)
            *error_number = error;
        return false;
    };
    const QFileInfo info(path);
    if (info.isDir())
        return fail(EISDIR);
    if (info.exists() && !info.isFile())
        return fail(EINVAL);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(ErrorNumberOf(file));
    // Read the stated size in place; a file that grew meanwhile is read on to its end.
    const qint64 stated = file.size();
    ReserveLarge(buffer, old_size + static_cast<qsizetype>(stated));
    buffer.resize(old_size + static_cast<qsizetype>(stated));
    qsizetype filled = old_size;
    while (filled < buffer.size()) {
        const qint64 got = file.read(buffer.data() + filled, buffer.size() - filled);
        if (got < 0)
            return fail(ErrorNumberOf(file));
        if (got == 0)
            break;
        filled += got;
    }
    buffer.truncate(filled);
    const QByteArray rest = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(ErrorNumberOf(file));
    buffer.append(rest);
    return true;
}

void AppendFileOrThrow(QByteArray& buffer, const QString& path) {
    int error_number = 0;
    if (!AppendFileTo(buffer, path, &error_number))
        throw TSystemError(error_number,
                           QStringLiteral("Cannot load %1: %2")
                               .arg(path, QString::fromLocal8Bit(std::strerror(error_number))));
}

qint64 PlainFileSize(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile())
        return -1;
    return info.size();
}

void ReserveLarge(QByteArray& buffer, qsizetype capacity) {
    if (capacity <= buffer.capacity())
        return;
    // Exact for a first block; growing one is given room ahead so appends stay linear.
    if (!buffer.isEmpty())
        capacity = std::max(capacity, buffer.capacity() + buffer.capacity() / 2);
    buffer.reserve(capacity);
}

void SetPieceWriteHook(TPieceWriteHook hook) {
    t_write_hook = std::move(hook);
}

} // namespace bcsar
