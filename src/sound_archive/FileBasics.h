#pragma once
// The few file helpers the sound archive code shares with the rest of the program: the error
// that travels upward, folder deletion and the archive's 64-byte padding. The program's other
// file utilities build on these.

#include <QString>

#include <cstdint>
#include <filesystem>
#include <stdexcept>

/// An error that must travel upward: a tool that cannot start, a file that cannot be
/// opened for its digest. Carries the system's error number (0 when unknown) and reason.
class TSystemError : public std::runtime_error {
public:
    TSystemError(int error_number, const QString& reason)
        : std::runtime_error(reason.toStdString()), m_errno(error_number), m_reason(reason) {}
    int ErrorNumber() const { return m_errno; }
    const QString& Reason() const { return m_reason; }

private:
    int m_errno;
    QString m_reason;
};

/// The path of a file name held as text, and back: the name reaches the system in UTF-16 on
/// Windows (the ANSI code page would lose letters outside it), in the file system's 8-bit
/// encoding elsewhere. Every std::filesystem and container library call on a QString path
/// goes through these.
std::filesystem::path ToPath(const QString& path);
QString FromPath(const std::filesystem::path& path);

/// Deletes a folder and everything below it permanently; symbolic links are removed,
/// never followed. True on success (false also when the folder does not exist).
bool DeleteFolder(const QString& folder);

/// Bytes to add after a block of `size` bytes so that the next starts on a multiple of 64.
std::int64_t PadTo64(std::int64_t size);
