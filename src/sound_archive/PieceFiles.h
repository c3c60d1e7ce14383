#pragma once
// Whole-file input and output for the sound archive's piece files, with the system's reason
// on failure.

#include <QByteArray>
#include <QString>

#include <functional>

namespace bcsar {

/// Writes `length` bytes from `data` as the file `path`, replacing any file there.
/// Throws TSystemError (errno and "Cannot write PATH: reason") when that fails.
void WritePiece(const QString& path, const char* data, qint64 length);

/// Appends the whole content of the plain file `path` to `buffer`. On failure the buffer is
/// left as it was, the result is false and `error_number` (when given) holds errno.
bool AppendFileTo(QByteArray& buffer, const QString& path, int* error_number = nullptr);

/// Like AppendFileTo, but throws TSystemError ("Cannot load PATH: reason") on failure.
void AppendFileOrThrow(QByteArray& buffer, const QString& path);

/// Size of the plain file `path`, or -1 when it is missing or not a plain file.
qint64 PlainFileSize(const QString& path);

/// Test seam: while set, the hook runs with the path before every piece write, on the
/// calling thread; it may throw to stand for a failing disk.
using TPieceWriteHook = std::function<void(const QString& path)>;
void SetPieceWriteHook(TPieceWriteHook hook);

} // namespace bcsar
