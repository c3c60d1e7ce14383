#pragma once
// The tools a run asks for: the container tools (ctrtool, 3dstool, makerom) with their
// command lines, and a difference applied as xdelta3 applies it. The stages ask through
// TTools and never start a program themselves: the desktop starts the programs in the
// program folder's tools, the browser and the stage tests run the same work in the process.
// Arguments are UTF-8 texts, paths relative to the program folder or absolute.

#include "ctr/FileIo.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

/// Which tool a stage runs; gives the tool's file and its unknown-exit-code key.
enum class TTool { Ctrtool, Tool3ds, Makerom, Xdelta };

/// Exit code of a console tool ended by a break (SIGINT on Linux).
inline constexpr std::uint32_t kExitCodeBreak = 0xC000013A;

/// A tool started through TTools, going on while the caller does other work. Released while
/// it runs, it is stopped and waited for.
class TToolTask {
public:
    virtual ~TToolTask() = default;
    /// Waits for the tool's end and gives its exit code (0 success, 1 the tool's own failure,
    /// kExitCodeBreak after a break). Meanwhile the start's report hears, on this thread, how
    /// far the tool has come (0 to 1); once `kill_request` becomes true the tool is stopped.
    virtual std::uint32_t Wait(const std::atomic<bool>* kill_request = nullptr) = 0;
};

class TTools {
public:
    using TReport = std::function<void(double fraction)>;
    virtual ~TTools() = default;
    /// Starts ctrtool, 3dstool or makerom with `arguments`, paths relative to the program
    /// folder. `scratch_outputs`: the tool writes only files the run deletes, which need not be
    /// forced to the disk. Throws TSystemError when the tool cannot be started.
    virtual std::unique_ptr<TToolTask> Start(TTool tool, const std::vector<std::string>& arguments,
                                             const TReport& report, bool scratch_outputs) = 0;
    /// Starts applying the difference file `difference` to `source`, writing `output`, as
    /// `xdelta3 -d -s source difference output` does; paths relative to the program folder.
    /// Throws TSystemError when it cannot be started.
    virtual std::unique_ptr<TToolTask> StartDifference(const std::filesystem::path& source,
                                                       const std::filesystem::path& difference,
                                                       const std::filesystem::path& output,
                                                       const TReport& report) = 0;
};

/// The file name of the tool program `name` on this system: "name.exe" on Windows, the name
/// itself elsewhere.
std::string ToolFileName(std::string_view name);

/// The tool's program relative to the program folder: "tools/" and its file name.
std::filesystem::path ToolProgramPath(TTool tool);

/// Applies the difference file `difference` (an absolute path) to `source` in the process, on
/// a thread of its own, writing `output` (absolute) as StartDifference does. For a source no
/// program can be given by name: a file inside an image, read through its decryption or
/// decompression. `observe`, when given, sees every byte written, in order, on that thread.
std::unique_ptr<TToolTask>
StartDifferenceInProcess(std::unique_ptr<ctr::TInFile> source,
                         const std::filesystem::path& difference,
                         const std::filesystem::path& output, const TTools::TReport& report,
                         std::function<void(std::span<const std::uint8_t>)> observe = {});

/// The same work inside the process, each tool on a thread of its own: the container library
/// for the container tools, xdelta3's decoder for a difference; relative paths below
/// `program_folder`. Not in the browser's build, which has no threads of its own.
std::unique_ptr<TTools> MakeInProcessTools(const std::filesystem::path& program_folder);

} // namespace engine
