#pragma once
// Helpers of the container tests: temporary folders, small synthetic title parts, and
// running the real tool programs with argument lists.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ctr_test {

namespace fs = std::filesystem;

/// A fresh temporary folder, removed with everything in it at the end of the test.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const fs::path& Path() const { return m_path; }
    fs::path operator/(const std::string& name) const { return m_path / name; }

private:
    fs::path m_path;
};

std::vector<std::uint8_t> ReadBytes(const fs::path& path);
void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes);
void WriteText(const fs::path& path, const std::string& text);
/// Deterministic pseudo-random bytes.
std::vector<std::uint8_t> NoiseBytes(std::size_t count, std::uint32_t seed);
/// Bytes that look like ARM code: repetitive instruction words with varying operands.
std::vector<std::uint8_t> CodeLikeBytes(std::size_t count, std::uint32_t seed);
std::string Sha256Hex(const fs::path& path);

/// Writes the parts from which a title is built into `folder`: ncchheader.bin,
/// exheader.bin, logo.bin, exefsheader.bin, exefs/ (code.bin, banner.bnr, icon.icn),
/// romfs/ (pack.dat, pack.inc, sound/QK123.bcsar, an empty folder) and mainncchheader.bin.
void WriteTitleParts(const fs::path& folder);
/// Builds romfs.bin, exefs.bin and title.cxi in `folder` from the parts with the library.
fs::path BuildTitleCxi(const fs::path& folder);

/// Path of one of our tools in the program folder of the build.
fs::path ToolPath(const std::string& tool);
/// How a run meets a file size limit: killed by SIGXFSZ like a process killed part way, or
/// refused the write with EFBIG like a disk that is full.
enum class TSizeLimit { Kills, FillsDisk };
/// Runs a program with `args` in `working_folder`; returns its exit code (-1 when it did not
/// exit normally). Its stderr goes to `stderr_text` when given. A `file_size_limit` (bytes)
/// stops each write of the program beyond that size as `limit` says.
int Run(const fs::path& program, const std::vector<std::string>& args,
        const fs::path& working_folder, std::string* stderr_text = nullptr,
        std::uint64_t file_size_limit = 0, TSizeLimit limit = TSizeLimit::Kills);

} // namespace ctr_test
