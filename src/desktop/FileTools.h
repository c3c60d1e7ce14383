#pragma once
// Stateless file, folder, process and digest helpers shared by the window, the install
// workers and the sound archive code.

#include "engine/Tools.h"
#include "sound_archive/FileBasics.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>

namespace ctr {
class TInFile;
}

class QProcess;

/// The path of a file name held as text, and back: the name reaches the system in UTF-16 on
/// Windows (the ANSI code page would lose letters outside it), in the file system's 8-bit
/// encoding elsewhere. Every std::filesystem and container library call on a QString path
/// goes through these.
std::filesystem::path ToPath(const QString& path);
QString FromPath(const std::filesystem::path& path);

/// DeleteFolder of sound_archive/FileBasics.h for a folder held as text.
bool DeleteFolder(const QString& folder);

/// The bytes of `bytes` as the engine and the sound archive take them.
inline std::span<const std::uint8_t> ByteSpan(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())};
}

using engine::kExitCodeBreak;

/// engine::ToolFileName for a name held as text.
QString ToolFileName(const QString& name);

/// Copies `source` folder itself, with everything below it, into `destination`, merging
/// with what is there and overwriting files silently. A name that differs only in letter
/// case from an entry already there merges into that entry. True on success.
bool CopyFolder(const QString& source, const QString& destination);

/// Runs `tool` with `arguments` (one list entry per argument, no shell) in `working_folder`
/// (the current folder when empty), without a time limit, its output discarded. Returns the
/// exit code unchanged; a tool killed by SIGINT gives kExitCodeBreak, by another signal
/// 128 + the signal number (on Windows the status code a tool ends with is its exit code).
/// No console window shows for the tool. Throws TSystemError when the tool cannot be started.
/// When `kill_request` is given and becomes true while the tool runs, the tool is killed
/// (the window closing during a run); the result is then that of a killed tool.
std::uint32_t RunTool(const QString& tool, const QStringList& arguments,
                      const QString& working_folder,
                      const std::atomic<bool>* kill_request = nullptr);

/// A tool run by RunTool's rules that goes on while the caller does other work, and that
/// tells how far it has come. Our tools print "qvt-progress DONE TOTAL" lines on standard
/// error when QVT_PROGRESS is set; for a tool that prints nothing of the kind, the size of
/// the file it writes against the size it is expected to reach stands in.
struct TToolRunOptions {
    /// Called on the caller's thread, inside TToolRun::Wait(), with 0 to 1.
    std::function<void(double fraction)> Report;
    QString WrittenFile; // empty: read the tool's progress lines
    qint64 ExpectedSize = 0;
    /// The tool writes only scratch files that the caller deletes: our tools then skip
    /// forcing them to the disk (QVT_SCRATCH_OUTPUTS); they still appear whole or not at all.
    bool ScratchOutputs = false;
};

class TToolRun {
public:
    using TReport = std::function<void(double fraction)>;
    using TOptions = TToolRunOptions;

    /// Starts the tool; throws TSystemError when it cannot be started.
    TToolRun(const QString& tool, const QStringList& arguments, const QString& working_folder,
             TOptions options = {});
    /// Kills the tool if it still runs.
    ~TToolRun();
    TToolRun(const TToolRun&) = delete;
    TToolRun& operator=(const TToolRun&) = delete;

    /// Waits for the tool's end as RunTool does and returns its exit code as RunTool does.
    std::uint32_t Wait(const std::atomic<bool>* kill_request = nullptr);
    /// Kills the tool and waits for it.
    void Kill();

private:
    void Pump();

    std::unique_ptr<QProcess> m_process;
    TOptions m_watch;
    QByteArray m_pending;
};

/// Removes the partial files ("`file`.XXXXXXXX.part", eight hexadecimal digits) that our tools
/// leave beside `file` when they are ended while writing it.
void RemovePartialFiles(const QString& file);

/// MD5 of a file's whole content as 32 upper-case hexadecimal digits, read in a stream.
/// Throws TSystemError when the file cannot be opened or read.
QString FileMD5Hex(const QString& path);

/// True when `text` holds only printable ASCII: xdelta3 takes its file names in the system's
/// code page on Windows, which cannot spell every other name.
bool PlainAsciiText(const QString& text);

/// MD5 of bytes fed piece by piece, given as FileMD5Hex gives it.
class TMd5 {
public:
    TMd5();
    ~TMd5();
    TMd5(const TMd5&) = delete;
    TMd5& operator=(const TMd5&) = delete;
    void Update(const void* bytes, std::size_t size);
    /// 32 upper-case hexadecimal digits of everything fed so far.
    QString Hex();

private:
    struct TState;
    std::unique_ptr<TState> m_state;
};

/// The path of the entry `name` in `folder`, matched without regard to letter case: the
/// exact name when it exists, else the first entry (in name order) equal ignoring case,
/// else folder + name as given. `folder` may end in a separator or not.
QString FindEntryNoCase(const QString& folder, const QString& name);

/// The program folder path with exactly one trailing separator.
QString WithTrailingSeparator(const QString& folder);

/// Every file below `root` (hidden ones too) as a '/'-separated path relative to it, in name
/// order.
QStringList FilesBelow(const QString& root);

/// True when `file` holds exactly the `size` bytes at `offset` of `image` (read through the
/// container library: compressed, decrypted); false also when either cannot be read.
bool SameBytes(ctr::TInFile& image, std::uint64_t offset, std::uint64_t size, const QString& file);

/// True when the files `a` and `b` hold the same bytes; false also when either cannot be read.
bool SameFiles(const QString& a, const QString& b);
