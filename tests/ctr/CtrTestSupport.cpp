#include "CtrTestSupport.h"

#include "ctr/ByteReader.h"
#include "ctr/ExeFs.h"
#include "ctr/FileIo.h"
#include "ctr/Hash.h"
#include "ctr/Ncch.h"
#include "ctr/RomFs.h"

#include "ctr/Platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace ctr_test {

TTempDir::TTempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() / ("qvt-ctr-" + std::to_string(random()));
        if (fs::create_directory(candidate)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TTempDir::~TTempDir() {
    std::error_code error;
    fs::remove_all(m_path, error);
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, const std::string& text) {
    WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> NoiseBytes(std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

std::vector<std::uint8_t> CodeLikeBytes(std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    static const std::uint32_t opcodes[] = {0xE3A00000, 0xE1A01000, 0xE59F0000, 0xEB000000,
                                            0xE92D4010, 0xE8BD8010, 0xE3500000, 0x0A000000};
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i + 4 <= count; i += 4) {
        const std::uint32_t word =
            opcodes[random() % 8] | (random() % 4 == 0 ? random() & 0xFF : 0);
        ctr::PutLE<std::uint32_t>(&bytes[i], word);
    }
    return bytes;
}

std::string Sha256Hex(const fs::path& path) {
    const auto bytes = ReadBytes(path);
    const auto digest = ctr::Sha256(bytes);
    std::string text;
    char part[3];
    for (std::uint8_t b : digest) {
        std::snprintf(part, sizeof part, "%02x", b);
        text += part;
    }
    return text;
}

void WriteTitleParts(const fs::path& folder) {
    std::vector<std::uint8_t> header(0x200, 0);
    std::fill_n(header.begin(), 0x100, 0xAB);
    std::memcpy(&header[0x100], "NCCH", 4);
    ctr::PutLE<std::uint64_t>(&header[0x108], 0x0004000000F1A500ull);
    std::memcpy(&header[0x110], "01", 2);
    ctr::PutLE<std::uint16_t>(&header[0x112], 2);
    ctr::PutLE<std::uint64_t>(&header[0x118], 0x0004000000F1A500ull);
    std::memcpy(&header[0x150], "CTR-P-QVTS", 10);
    header[0x188 + 4] = 1;
    header[0x188 + 5] = 3;
    header[0x188 + 7] = 0x04;
    WriteBytes(folder / "ncchheader.bin", header);

    std::vector<std::uint8_t> exheader(0x800, 0);
    std::memcpy(exheader.data(), "QVTSAMPL", 8);
    ctr::PutLE<std::uint16_t>(&exheader[0x0E], 3);
    ctr::PutLE<std::uint64_t>(&exheader[0x40], 0x0004013000001002ull);
    ctr::PutLE<std::uint64_t>(&exheader[0x1C0], 0x80000);
    ctr::PutLE<std::uint64_t>(&exheader[0x1C8], 0x0004000000F1A500ull);
    ctr::PutLE<std::uint64_t>(&exheader[0x200], 0x0004000000F1A500ull);
    ctr::PutLE<std::uint32_t>(&exheader[0x208], 2);
    WriteBytes(folder / "exheader.bin", exheader);
    WriteBytes(folder / "logo.bin", NoiseBytes(0x900, 7));

    std::vector<std::uint8_t> exefs_header(0x200, 0);
    std::memcpy(&exefs_header[0x00], ".code", 5);
    std::memcpy(&exefs_header[0x10], "banner", 6);
    std::memcpy(&exefs_header[0x20], "icon", 4);
    WriteBytes(folder / "exefsheader.bin", exefs_header);
    WriteBytes(folder / "exefs" / "code.bin", CodeLikeBytes(60000, 1));
    WriteBytes(folder / "exefs" / "banner.bnr", NoiseBytes(3000, 2));
    WriteBytes(folder / "exefs" / "icon.icn", NoiseBytes(0x36C0, 3));

    WriteBytes(folder / "romfs" / "pack.dat", NoiseBytes(70000, 4));
    WriteBytes(folder / "romfs" / "pack.inc", NoiseBytes(900, 5));
    WriteBytes(folder / "romfs" / "sound" / "QK123.bcsar", NoiseBytes(20000, 6));
    fs::create_directories(folder / "romfs" / "zz_empty");

    std::vector<std::uint8_t> card(0x4000, 0);
    std::memcpy(&card[0x100], "NCSD", 4);
    ctr::PutLE<std::uint64_t>(&card[0x108], 0x0004000000F1A500ull);
    ctr::PutLE<std::uint32_t>(&card[0x120], 0x20);
    ctr::PutLE<std::uint32_t>(&card[0x124], 0x400);
    ctr::PutLE<std::uint32_t>(&card[0x128 + 8], 0x800); // a manual partition, dropped on rebuild
    ctr::PutLE<std::uint32_t>(&card[0x12C + 8], 0x10);
    card[0x188 + 4] = 1;
    card[0x188 + 5] = 1; // CARD1: smallest image 128 MiB
    WriteBytes(folder / "mainncchheader.bin", card);
}

fs::path BuildTitleCxi(const fs::path& folder) {
    ctr::BuildRomFsFile(folder / "romfs", folder / "romfs.bin");
    ctr::BuildExeFs(folder / "exefsheader.bin", folder / "exefs", folder / "exefs.bin", true);
    ctr::TNcchParts parts{folder / "ncchheader.bin", folder / "exheader.bin",
                          folder / "logo.bin",       {},
                          folder / "exefs.bin",      folder / "romfs.bin"};
    ctr::BuildCxi(parts, folder / "title.cxi");
    return folder / "title.cxi";
}

fs::path ToolPath(const std::string& tool) {
    const char* app = std::getenv("QVT_APP_DIR");
    if (!app)
        app = QVT_DEFAULT_APP_DIR;
    return fs::path(app) / "tools" / tool;
}

#if defined(_WIN32)
namespace {

// One argument as CommandLineToArgvW reads it back.
std::wstring Quote(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L'"';
}

} // namespace

// Windows has no file size limit for a process: the tests that need one run on Linux.
int Run(const fs::path& program, const std::vector<std::string>& args,
        const fs::path& working_folder, std::string* stderr_text, std::uint64_t, TSizeLimit) {
    static int runs = 0;
    const fs::path error_path =
        fs::temp_directory_path() /
        ("qvt-ctr-stderr-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++runs));
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE error_file = CreateFileW(error_path.c_str(), GENERIC_WRITE, share, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    HANDLE null_file = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, share, &inherit,
                                   OPEN_EXISTING, 0, nullptr);
    if (error_file == INVALID_HANDLE_VALUE || null_file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot create a temporary file");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null_file;
    startup.hStdOutput = null_file;
    startup.hStdError = error_file;
    std::wstring command = Quote(program.wstring());
    for (const std::string& argument : args)
        command += L" " + Quote(ctr::PathFromUtf8(argument).wstring());
    PROCESS_INFORMATION process{};
    const bool started =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       working_folder.c_str(), &startup, &process);
    DWORD code = static_cast<DWORD>(-1);
    if (started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(error_file);
    CloseHandle(null_file);
    if (stderr_text && started) {
        const auto bytes = ReadBytes(error_path);
        stderr_text->assign(bytes.begin(), bytes.end());
    }
    std::error_code ignored;
    fs::remove(error_path, ignored);
    if (!started)
        throw std::runtime_error("cannot start " + program.string());
    return static_cast<int>(code);
}
#else
int Run(const fs::path& program, const std::vector<std::string>& args,
        const fs::path& working_folder, std::string* stderr_text, std::uint64_t file_size_limit,
        TSizeLimit limit) {
    char error_name[] = "/tmp/qvt-ctr-stderr-XXXXXX";
    const int error_fd = mkstemp(error_name);
    if (error_fd < 0)
        throw std::runtime_error("cannot create a temporary file");
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(working_folder.c_str()) != 0)
            _exit(127);
        dup2(error_fd, 2);
        const int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        if (file_size_limit > 0) {
            std::signal(SIGXFSZ, limit == TSizeLimit::Kills ? SIG_DFL : SIG_IGN);
            const rlimit size{file_size_limit, file_size_limit};
            setrlimit(RLIMIT_FSIZE, &size);
        }
        std::vector<char*> argv;
        std::string program_text = program.string();
        argv.push_back(program_text.data());
        std::vector<std::string> copies = args;
        for (std::string& arg : copies)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(program_text.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (stderr_text) {
        const auto bytes = ReadBytes(error_name);
        stderr_text->assign(bytes.begin(), bytes.end());
    }
    close(error_fd);
    unlink(error_name);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

} // namespace ctr_test
