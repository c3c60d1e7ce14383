#include "ctr/Platform.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <system_error>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h names its own ReplaceFile as a macro; ours is ctr::ReplaceFile.
#undef ReplaceFile

#include <fcntl.h>
#include <io.h>
#include <shellapi.h> // after windows.h, which it needs
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace ctr {

namespace fs = std::filesystem;

fs::path PathFromUtf8(std::string_view text) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

std::string PathToUtf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string PathText(const fs::path& path) {
    // Appended piece by piece: GCC 12 warns falsely about "'" + a temporary string.
    std::string text(1, '\'');
    text += PathToUtf8(path);
    text += '\'';
    return text;
}

#if defined(_WIN32)

std::FILE* OpenFile(const fs::path& path, const char* mode) {
    const std::string_view text(mode);
    if (text.find('x') == std::string_view::npos)
        return _wfopen(path.c_str(), std::wstring(text.begin(), text.end()).c_str());
    // The system's C library knows no "x": create the file exclusively, then wrap it.
    const int access = text.find('+') != std::string_view::npos ? _O_RDWR : _O_WRONLY;
    const int descriptor =
        _wopen(path.c_str(), _O_CREAT | _O_EXCL | _O_BINARY | access, _S_IREAD | _S_IWRITE);
    if (descriptor < 0)
        return nullptr;
    std::string plain;
    for (const char c : text)
        if (c != 'x')
            plain += c;
    std::FILE* file = _fdopen(descriptor, plain.c_str());
    if (!file)
        _close(descriptor);
    return file;
}

bool SeekFile(std::FILE* file, std::uint64_t position) {
    return position <= static_cast<std::uint64_t>(std::numeric_limits<__int64>::max()) &&
           _fseeki64(file, static_cast<__int64>(position), SEEK_SET) == 0;
}

std::int64_t SeekFileEnd(std::FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0)
        return -1;
    return _ftelli64(file);
}

bool SyncFile(std::FILE* file) {
    return _commit(_fileno(file)) == 0;
}

void RenameOver(const fs::path& from, const fs::path& to) {
    // A plain rename refuses an existing target here; this one replaces it, and returns only
    // when the move has reached the disk.
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return;
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        throw TCtrError("cannot replace " + PathText(to) +
                        ": the file is read-only and was left as it was");
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
        error == ERROR_LOCK_VIOLATION)
        throw TCtrError("cannot replace " + PathText(to) +
                        ": another program has it open; the file was left as it was");
    throw TCtrError("cannot create " + PathText(to) + ": " +
                    std::system_category().message(static_cast<int>(error)));
}

bool CopyFileReplacing(const fs::path& from, const fs::path& to, std::error_code& error) {
    error.clear();
    if (CopyFileW(from.c_str(), to.c_str(), FALSE))
        return true;
    error = std::error_code(static_cast<int>(GetLastError()), std::system_category());
    return false;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
        if (size > 0)
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), size, nullptr, nullptr);
        text.pop_back(); // the terminating null
        arguments.push_back(std::move(text));
    }
    LocalFree(wide);
    return arguments;
}

fs::path StoredName(const fs::path& path) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return path.filename();
    FindClose(search);
    return fs::path(found.cFileName);
}

bool IsHiddenEntry(const fs::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
}

#else

std::FILE* OpenFile(const fs::path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

bool SeekFile(std::FILE* file, std::uint64_t position) {
    return position <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) &&
           fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

std::int64_t SeekFileEnd(std::FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0)
        return -1;
    return static_cast<std::int64_t>(ftello(file));
}

bool SyncFile(std::FILE* file) {
    return ::fsync(fileno(file)) == 0 || errno == EINVAL; // EINVAL: a pipe or special file
}

void RenameOver(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::rename(from, to, error);
    if (error)
        throw TCtrError("cannot create " + PathText(to) + ": " + error.message());
}

bool CopyFileReplacing(const fs::path& from, const fs::path& to, std::error_code& error) {
    return fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

fs::path StoredName(const fs::path& path) {
    return path.filename();
}

bool IsHiddenEntry(const fs::path& path) {
    const std::string name = path.filename().native();
    return !name.empty() && name.front() == '.';
}

#endif

bool CopyTreeReplacing(const fs::path& from, const fs::path& to, std::error_code& error) {
    fs::create_directories(to, error);
    if (error)
        return false;
    for (fs::directory_iterator it(from, error), end; !error && it != end; it.increment(error)) {
        const fs::path target = to / it->path().filename();
        if (it->is_directory(error) ? !CopyTreeReplacing(it->path(), target, error)
                                    : !CopyFileReplacing(it->path(), target, error))
            return false;
    }
    return !error;
}

} // namespace ctr
