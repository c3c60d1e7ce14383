#pragma once
// The few file and command line calls that differ between Windows and the POSIX systems. The
// rest of the program reaches the system through these, so a file name with letters outside
// the ANSI code page, or a file beyond 2 GiB, behaves the same everywhere.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace ctr {

/// Every failure of the container code: a one-line English reason.
class TCtrError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// std::fopen for a path of any letters: on Windows the name goes to the system in UTF-16
/// (a narrow name would pass through the ANSI code page). `mode` is fopen's, "x" included.
/// Null with errno set on failure.
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);
/// Moves to `position` from the start of the file (64-bit on every system); false on failure.
bool SeekFile(std::FILE* file, std::uint64_t position);
/// The size of an open file, leaving the position at its end; -1 on failure.
std::int64_t SeekFileEnd(std::FILE* file);
/// Pushes the file's written bytes from the system's cache to the disk.
bool SyncFile(std::FILE* file);

/// Renames `from` over `to`, replacing a file there. Throws TCtrError when it cannot; when
/// another program holds `to` open (Windows refuses then), the reason says so, and `to` is
/// left as it was.
void RenameOver(const std::filesystem::path& from, const std::filesystem::path& to);

/// Copies the file `from` to `to`, replacing a file there; false with `error` set when it
/// cannot. (std::filesystem::copy_file of MinGW's library takes every two files on one drive
/// for the same file and refuses to overwrite.)
bool CopyFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                       std::error_code& error);
/// Copies the folder `from` with everything below it to `to`, merging into what is there and
/// replacing files of the same name.
bool CopyTreeReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                       std::error_code& error);

/// The name of the existing entry `path` as the file system stores it: on Windows, whose names
/// match whatever their letter case, the stored spelling; elsewhere the path's own last name.
std::filesystem::path StoredName(const std::filesystem::path& path);

/// True when a folder listing leaves the entry `path` out as hidden: on Windows an entry with
/// the hidden attribute, elsewhere a name that starts with a dot.
bool IsHiddenEntry(const std::filesystem::path& path);

/// A path from UTF-8 text (a command line argument, a name stored in an image) and back. The
/// narrow std::filesystem::path constructor would read the text in the ANSI code page on
/// Windows; on other systems both are byte copies.
std::filesystem::path PathFromUtf8(std::string_view text);
std::string PathToUtf8(const std::filesystem::path& path);
/// The path as UTF-8 text for messages, in quotes.
std::string PathText(const std::filesystem::path& path);

/// The program's arguments (argv[0] first) as UTF-8. On Windows argv holds the ANSI code page's
/// reading of the command line, so the arguments are read again from its UTF-16 form.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

} // namespace ctr
