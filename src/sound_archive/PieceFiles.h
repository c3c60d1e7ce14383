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

/// Reserves room for `capacity` bytes in `buffer`; a growing buffer gets room ahead so that
/// repeated appends stay linear. Where the system offers it, large blocks are marked for huge
/// pages, which spares most page faults when tens of MiB are filled at once.
void ReserveLarge(QByteArray& buffer, qsizetype capacity);

/// Test seam: while set, the hook runs before every piece write on the calling thread, with
/// the path and the bytes. It may throw to stand for a failing disk, or return true when it
/// has taken the bytes itself, so that no file is written (the fuzz target keeps pieces in
/// memory that way).
using TPieceWriteHook = std::function<bool(const QString& path, const char* data, qint64 length)>;
void SetPieceWriteHook(TPieceWriteHook hook);

} // namespace bcsar
