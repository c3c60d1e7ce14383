#pragma once
// The few file helpers the sound archive code shares with the rest of the program: the error
// that travels upward, folder deletion and the archive's 64-byte padding. The program's other
// file utilities build on these.

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

/// An error that must travel upward: a tool that cannot start, a file that cannot be
/// opened for its digest. Carries the system's error number (0 when unknown) and reason.
class TSystemError : public std::runtime_error {
public:
    /// `reason` is UTF-8 text.
    TSystemError(int error_number, std::string reason)
        : std::runtime_error(reason), m_errno(error_number), m_reason(std::move(reason)) {}
    /// The same from a front end's own text type (QString), through its UTF-8 form.
    template <typename TString,
              typename = std::enable_if_t<std::is_same_v<
                  decltype(std::declval<const TString&>().toStdString()), std::string>>>
    TSystemError(int error_number, const TString& reason)
        : TSystemError(error_number, reason.toStdString()) {}
    int ErrorNumber() const { return m_errno; }
    /// The reason as UTF-8 text.
    const std::string& Reason() const { return m_reason; }

private:
    int m_errno;
    std::string m_reason;
};

/// Deletes a folder and everything below it permanently; symbolic links are removed,
/// never followed. True on success (false also when the folder does not exist).
bool DeleteFolder(const std::filesystem::path& folder);

/// Bytes to add after a block of `size` bytes so that the next starts on a multiple of 64.
std::int64_t PadTo64(std::int64_t size);
