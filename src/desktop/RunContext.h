#pragma once
// The run context of the desktop: the engine's run context (engine/RunContext.h) with the job,
// the texts and the paths held as QString for the stages not yet in the engine. The host's
// callbacks are converted here, once, between QString and the engine's UTF-8.

#include "desktop/FileTools.h"
#include "desktop/InstallJob.h"
#include "desktop/Language.h"
#include "desktop/Tools.h"
#include "engine/RunContext.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

struct TKeySearch;

using engine::TRunEnded;

/// What a run hands back to the one who started it, and what it asks of it, in QString.
struct TRunCallbacks {
    std::function<void(const QString& entry)> Log;    // one log entry (may hold CR LF)
    std::function<void(int value)> Progress;          // the bar, 0 to 100
    std::function<void(const QString& text)> Message; // an error box, waited for
    std::function<void()> Finish;                     // the finish request, asked once
    std::function<bool()> StopRequested;              // true once a cancel was asked for
    /// Whether files the program did not write in a mod folder may be moved aside (folder,
    /// the files); empty: they may not.
    std::function<bool(const QString& folder, const QStringList& files)> ReplaceForeignModFiles;
};

/// The temporary paths of a run, all below the program folder's tools/temp.
struct TRunPaths {
    QString Temp;       // tools/temp, absolute, no trailing separator
    QString RomFs;      // tools/temp/romfs: the game's RomFS files and the patch's
    QString ExeFs;      // tools/temp/exefs
    QString OldPackDat; // tools/temp/old_pack.dat: the game's pack.dat, xdelta3's source
};

class TRunContext {
    // The engine's side of the run, made before everything below, which refers to it.
    engine::TInstallJob m_engine_job;
    std::unique_ptr<TTools> m_own_tools;
    engine::TRunContext m_engine;

public:
    /// `job` stays the caller's; the engine's stages work on a copy converted here (a stage may
    /// replace that copy's source by a decrypted one). The texts are copied. The tools are the
    /// programs in the program folder's tools unless `tools` (the caller's, outliving the context)
    /// is given.
    TRunContext(TInstallJob& job, const TLanguageTable& texts, TRunCallbacks callbacks,
                TTools* tools = nullptr);

    TInstallJob& Job;
    const TLanguageTable Texts;
    const TRunPaths Paths;
    /// Set by anyone to stop the tool that runs now (the window is closing).
    std::atomic<bool>& KillTool;

    /// The engine's run context, for the stages in the engine.
    engine::TRunContext& Engine() { return m_engine; }

    QString Text(const char* key) const;
    /// An entry as it is: `text`.
    void Log(const QString& text) { m_engine.Log(text.toStdString()); }
    /// An entry with the text of `key`.
    void LogKey(const char* key) { m_engine.LogKey(key); }
    /// An entry on a line of its own after the previous one: CR LF, then `text`.
    void LogSeparated(const QString& text) { m_engine.LogSeparated(text.toStdString()); }
    /// An entry framed by line breaks: CR LF, `text`, CR LF.
    void LogFramed(const QString& text) { m_engine.LogFramed(text.toStdString()); }
    /// Shows an error box and waits for its OK.
    void Message(const QString& text) { m_engine.Message(text.toStdString()); }
    /// Asks whether `files` in the mod folder `folder`, which the program did not write, may
    /// be moved aside; no one to ask means no.
    bool ReplaceForeignModFiles(const QString& folder, const QStringList& files) const;

    /// True once the window asked to cancel.
    bool StopRequested() const { return m_engine.StopRequested(); }
    /// Ends the run here when the window asked to cancel.
    void Checkpoint() { m_engine.Checkpoint(); }
    /// A checkpoint, then the bar moved to `value`.
    void Progress(int value) { m_engine.Progress(value); }
    /// The bar moved to `value`, without a checkpoint.
    void ShowProgress(int value) { m_engine.ShowProgress(value); }
    int ProgressValue() const { return m_engine.ProgressValue(); }
    /// Moves the bar between today's value and `until` by the fraction a stage reported:
    /// never backwards, never onto `until` itself.
    TToolRun::TReport StageReport(int until) { return m_engine.StageReport(until); }

    /// Asks for the finish (once per run) and leaves the stages (throws TRunEnded).
    [[noreturn]] void EndRun() { m_engine.EndRun(); }
    /// A separated entry of `key`'s text and, on a line of its own, `detail`; then the end.
    [[noreturn]] void Fail(const char* key, const QString& detail) {
        m_engine.Fail(key, detail.toStdString());
    }
    /// A separated entry of `key`'s text; then the end.
    [[noreturn]] void Fail(const char* key) { m_engine.Fail(key); }
    /// Marks the run a success (before its last EndRun).
    void Succeed() { m_engine.Succeed(); }
    bool Succeeded() const { return m_engine.Succeeded(); }

    /// The selected patch's folder with a trailing separator; empty for "None".
    QString PatchFolder() const { return Job.PatchFolder; }

    /// The tools the stages ask for.
    TTools& Tools() { return m_engine.Tools(); }
    /// engine::TRunContext::ToolStage with the command line as QString.
    void ToolStage(const char* start_key, int until, TTool tool, const QStringList& arguments,
                   const char* error_key, bool error_plain = false, bool break_cancels = false) {
        m_engine.ToolStage(start_key, until, tool, ToolArguments(arguments), error_key, error_plain,
                           break_cancels);
    }
};
