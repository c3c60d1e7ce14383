#pragma once
// The run context: what every stage of a run works with. The job, a copy of the language
// texts, the temporary paths, the host's outputs as callbacks, the cancel and kill flags,
// and the small helpers each stage needs: the log's entry forms, progress, checkpoints,
// running a tool and ending the run. Stages are plain functions over it. Texts are UTF-8.
//
// A run ends in one way: EndRun asks the host for the finish (once) and throws TRunEnded,
// which unwinds the stages to the one place that runs the pipeline (RunStages). Whatever a
// stage must undo on its way out lives in an object whose destructor undoes it, so that no
// end of a run can skip it.

#include "engine/InstallJob.h"
#include "engine/Language.h"
#include "engine/Tools.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace engine {

/// Thrown by TRunContext::EndRun after the finish request: unwinds the stages to RunStages.
struct TRunEnded {};

/// What a run hands back to the one who started it, and what it asks of it.
struct TRunCallbacks {
    std::function<void(const std::string& entry)> Log;    // one log entry (may hold CR LF)
    std::function<void(int value)> Progress;              // the bar, 0 to 100
    std::function<void(const std::string& text)> Message; // an error box, waited for
    std::function<void()> Finish;                         // the finish request, asked once
    std::function<bool()> StopRequested;                  // true once a cancel was asked for
    /// Whether files the program did not write in a mod folder may be moved aside (folder,
    /// the files); empty: they may not.
    std::function<bool(const std::string& folder, const std::vector<std::string>& files)>
        ReplaceForeignModFiles;
    /// The digest of pack.dat (true) or pack.inc (false) taken when the source was chosen, while
    /// the source is unchanged since (waiting for that check if it still runs); empty when there
    /// is none, or no one remembers.
    std::function<std::string(bool pack_dat)> RememberedDigest;
};

/// The temporary paths of a run, all below the program folder's tools/temp.
struct TRunPaths {
    std::filesystem::path Temp;       // tools/temp, absolute
    std::filesystem::path RomFs;      // tools/temp/romfs: the game's RomFS files and the patch's
    std::filesystem::path ExeFs;      // tools/temp/exefs
    std::filesystem::path OldPackDat; // tools/temp/old_pack.dat: pack.dat, xdelta3's source
};

/// The temporary paths below `program_folder`.
TRunPaths RunPathsBelow(const std::filesystem::path& program_folder);

class TRunContext {
public:
    /// `job` and `tools` stay the caller's and outlive the context (a stage may replace the
    /// job's source by a decrypted copy); the texts are copied.
    TRunContext(TInstallJob& job, const TLanguageTable& texts, TRunCallbacks callbacks,
                TTools& tools);

    TInstallJob& Job;
    const TLanguageTable Texts;
    const TRunPaths Paths;
    /// The source as chosen, also once a decrypted or decompressed copy stands in.
    const std::filesystem::path ChosenSource;
    /// The file (or for a mod folder the folder) the run writes; set before the first stage.
    std::filesystem::path OutputFile;
    /// Set by anyone to stop the tool that runs now (the window is closing).
    std::atomic<bool> KillTool{false};

    std::string Text(const char* key) const { return Texts.LookupUtf8(key); }
    /// An entry as it is: `text`.
    void Log(const std::string& text) { m_callbacks.Log(text); }
    /// An entry with the text of `key`.
    void LogKey(const char* key) { Log(Text(key)); }
    /// An entry on a line of its own after the previous one: CR LF, then `text`.
    void LogSeparated(const std::string& text);
    /// An entry framed by line breaks: CR LF, `text`, CR LF.
    void LogFramed(const std::string& text);
    /// Shows an error box and waits for its OK.
    void Message(const std::string& text) { m_callbacks.Message(text); }
    /// Asks whether `files` in the mod folder `folder`, which the program did not write, may
    /// be moved aside; no one to ask means no.
    bool ReplaceForeignModFiles(const std::string& folder,
                                const std::vector<std::string>& files) const {
        return m_callbacks.ReplaceForeignModFiles &&
               m_callbacks.ReplaceForeignModFiles(folder, files);
    }

    /// The digest the host remembers for the chosen source (TRunCallbacks::RememberedDigest).
    std::string RememberedDigest(bool pack_dat) const {
        return m_callbacks.RememberedDigest ? m_callbacks.RememberedDigest(pack_dat)
                                            : std::string();
    }

    /// True once the window asked to cancel.
    bool StopRequested() const { return m_callbacks.StopRequested && m_callbacks.StopRequested(); }
    /// Ends the run here when the window asked to cancel.
    void Checkpoint();
    /// A checkpoint, then the bar moved to `value`.
    void Progress(int value);
    /// The bar moved to `value`, without a checkpoint.
    void ShowProgress(int value);
    int ProgressValue() const { return m_progress_value; }
    /// Moves the bar between today's value and `until` by the fraction a stage reported:
    /// never backwards, never onto `until` itself.
    TTools::TReport StageReport(int until);

    /// Asks for the finish (once per run) and leaves the stages (throws TRunEnded).
    [[noreturn]] void EndRun();
    /// A separated entry of `key`'s text and, on a line of its own, `detail`; then the end.
    [[noreturn]] void Fail(const char* key, const std::string& detail);
    /// A separated entry of `key`'s text; then the end.
    [[noreturn]] void Fail(const char* key);
    /// Marks the run a success (before its last EndRun).
    void Succeed() { m_succeeded.store(true); }
    bool Succeeded() const { return m_succeeded.load(); }

    /// The selected patch's folder; empty for "None".
    const std::filesystem::path& PatchFolder() const { return Job.PatchFolder; }

    /// The tools the stages ask for.
    TTools& Tools() { return m_tools; }
    std::filesystem::path ToolPath(TTool tool) const;
    /// A tool stage: start entry, the tool, then the exit code judged. Exit 1 writes
    /// `error_key` (separated unless `error_plain`) and ends the run. While the tool runs, the
    /// bar follows the tool's own report between today's value and `until`.
    void ToolStage(const char* start_key, int until, TTool tool,
                   const std::vector<std::string>& arguments, const char* error_key,
                   bool error_plain = false, bool break_cancels = false);
    /// Judges a tool's exit code as a tool stage does (`code` from the run, or the failure
    /// to start it in `start_failure`).
    void JudgeTool(TTool tool, std::uint32_t code, const std::optional<std::string>& start_failure,
                   const char* error_key, bool error_plain, bool break_cancels);

private:
    TRunCallbacks m_callbacks;
    TTools& m_tools;
    std::atomic<bool> m_succeeded{false};
    bool m_finish_requested = false;
    int m_progress_value = 0; // the bar's value as last set
};

/// Runs `stages` until they return or the run ends, and makes sure it ends once: a failure
/// that escapes them (a system error, a bad image) becomes a separated entry of its reason,
/// then the finish request. Throws nothing.
void RunStages(TRunContext& run, const std::function<void()>& stages);

} // namespace engine
