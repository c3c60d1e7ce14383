#include "engine/RunContext.h"

#include "ctr/Platform.h"
#include "sound_archive/FileBasics.h"

#include <algorithm>
#include <exception>

namespace engine {

namespace {

constexpr const char* kCrLf = "\r\n";

} // namespace

TRunPaths RunPathsBelow(const std::filesystem::path& program_folder) {
    TRunPaths paths;
    paths.Temp = program_folder / "tools" / "temp";
    paths.RomFs = paths.Temp / "romfs";
    paths.ExeFs = paths.Temp / "exefs";
    paths.OldPackDat = paths.Temp / "old_pack.dat";
    return paths;
}

TRunContext::TRunContext(TInstallJob& job, const TLanguageTable& texts, TRunCallbacks callbacks,
                         TTools& tools)
    : Job(job), Texts(texts), Paths(RunPathsBelow(job.ProgramFolder)), ChosenSource(job.SourcePath),
      m_callbacks(std::move(callbacks)), m_tools(tools) {}

void TRunContext::LogSeparated(const std::string& text) {
    Log(kCrLf + text);
}

void TRunContext::LogFramed(const std::string& text) {
    Log(kCrLf + text + kCrLf);
}

void TRunContext::EndRun() {
    if (!m_finish_requested) {
        m_finish_requested = true;
        m_callbacks.Finish();
    }
    throw TRunEnded{};
}

void TRunContext::Fail(const char* key, const std::string& detail) {
    LogSeparated(Text(key) + kCrLf + detail);
    EndRun();
}

void TRunContext::Fail(const char* key) {
    LogSeparated(Text(key));
    EndRun();
}

void TRunContext::Checkpoint() {
    if (StopRequested())
        EndRun();
}

void TRunContext::Progress(int value) {
    Checkpoint();
    ShowProgress(value);
}

void TRunContext::ShowProgress(int value) {
    m_progress_value = value;
    m_callbacks.Progress(value);
}

TTools::TReport TRunContext::StageReport(int until) {
    const int from = m_progress_value;
    return [this, from, until](double fraction) {
        const int value = std::min(until - 1, from + static_cast<int>((until - from) * fraction));
        if (value > m_progress_value)
            ShowProgress(value);
    };
}

std::filesystem::path TRunContext::ToolPath(TTool tool) const {
    return Job.ProgramFolder / ToolProgramPath(tool);
}

void TRunContext::ToolStage(const char* start_key, int until, TTool tool,
                            const std::vector<std::string>& arguments, const char* error_key,
                            bool error_plain, bool break_cancels) {
    LogKey(start_key);
    std::uint32_t code = 0;
    std::optional<std::string> start_failure;
    // Only the stage that writes the output file itself needs its bytes forced to the disk;
    // every other stage writes scratch files into tools/temp, deleted at the end of the run.
    const std::string output = ctr::PathToUtf8(OutputFile);
    const bool scratch =
        output.empty() || std::find(arguments.begin(), arguments.end(), output) == arguments.end();
    try {
        code = Tools().Start(tool, arguments, StageReport(until), scratch)->Wait(&KillTool);
    } catch (const TSystemError& error) {
        start_failure = error.Reason();
    }
    JudgeTool(tool, code, start_failure, error_key, error_plain, break_cancels);
}

void TRunContext::JudgeTool(TTool tool, std::uint32_t code,
                            const std::optional<std::string>& start_failure, const char* error_key,
                            bool error_plain, bool break_cancels) {
    if (start_failure) {
        // The tool cannot be started at all (missing, not executable): the run cannot go on.
        const std::string file = ctr::PathToUtf8(ToolProgramPath(tool).make_preferred());
        LogSeparated(Text("ErrorToolCannotStart") + ' ' + file + kCrLf + *start_failure);
        EndRun();
    }
    // A tool ended at the run's own request (a cancel from the console, the window closing)
    // failed for no reason worth an entry: the run stops here.
    if (code != 0 && KillTool.load())
        EndRun();
    const char* unknown_key = "UnkXdeltaError";
    switch (tool) {
    case TTool::Ctrtool:
        unknown_key = "UnkctrtoolError";
        break;
    case TTool::Tool3ds:
        unknown_key = "Unk3dstoolError";
        break;
    case TTool::Makerom:
        unknown_key = "UnkMakeromError";
        break;
    case TTool::Xdelta:
        break;
    }
    if (code == 0) {
        LogKey("Done");
    } else if (code == 1) {
        if (error_plain)
            LogKey(error_key);
        else
            Fail(error_key);
        EndRun();
    } else if (break_cancels && code == kExitCodeBreak) {
        Fail("InstallCanceled");
    } else {
        LogSeparated(Text(unknown_key));
    }
}

void RunStages(TRunContext& run, const std::function<void()>& stages) {
    // Every way out of the stages ends here; the finish is asked for exactly once.
    const auto end = [&run](const std::optional<std::string>& reason) {
        try {
            if (reason)
                run.LogSeparated(*reason);
            run.EndRun();
        } catch (const TRunEnded&) {
        }
    };
    try {
        stages();
    } catch (const TRunEnded&) {
    } catch (const TSystemError& error) {
        end(error.Reason());
    } catch (const std::exception& error) {
        end(error.what()); // the container code words in UTF-8
    } catch (...) {
        // Nothing may leave: the window would never get its controls back.
        end(std::nullopt);
    }
}

} // namespace engine
