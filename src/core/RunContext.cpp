#include "core/RunContext.h"

#include "core/Decryption.h"

#include <QDir>

#include <algorithm>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

TRunPaths PathsBelow(const QString& program_folder) {
    TRunPaths paths;
    paths.Temp = program_folder + QStringLiteral("tools/temp");
    paths.RomFs = paths.Temp + QStringLiteral("/romfs");
    paths.ExeFs = paths.Temp + QStringLiteral("/exefs");
    paths.OldPackDat = paths.Temp + QStringLiteral("/old_pack.dat");
    return paths;
}

} // namespace

TRunContext::TRunContext(TInstallJob& job, const TLanguageTable& texts, TRunCallbacks callbacks,
                         TTools* tools)
    : Job(job), Texts(texts), Paths(PathsBelow(job.ProgramFolder)), ChosenSource(job.SourcePath),
      m_callbacks(std::move(callbacks)),
      m_own_tools(tools == nullptr ? MakeDesktopTools(job.ProgramFolder) : nullptr),
      m_tools(tools == nullptr ? m_own_tools.get() : tools) {}

QString TRunContext::Text(const char* key) const {
    return Texts.Lookup(QString::fromLatin1(key));
}

void TRunContext::Log(const QString& text) {
    m_callbacks.Log(text);
}

void TRunContext::LogSeparated(const QString& text) {
    Log(kCrLf + text);
}

void TRunContext::LogFramed(const QString& text) {
    Log(kCrLf + text + kCrLf);
}

void TRunContext::Message(const QString& text) {
    m_callbacks.Message(text);
}

bool TRunContext::StopRequested() const {
    return m_callbacks.StopRequested && m_callbacks.StopRequested();
}

void TRunContext::EndRun() {
    if (!m_finish_requested) {
        m_finish_requested = true;
        m_callbacks.Finish();
    }
    throw TRunEnded{};
}

void TRunContext::Fail(const char* key, const QString& detail) {
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

TToolRun::TReport TRunContext::StageReport(int until) {
    const int from = m_progress_value;
    return [this, from, until](double fraction) {
        const int value = std::min(until - 1, from + static_cast<int>((until - from) * fraction));
        if (value > m_progress_value)
            ShowProgress(value);
    };
}

TKeySearch TRunContext::KeySearchForRun() const {
    return KeySearchFor(Job.ProgramFolder);
}

QString TRunContext::ToolPath(TTool tool) const {
    return ToolProgramPath(Job.ProgramFolder, tool);
}

void TRunContext::ToolStage(const char* start_key, int until, TTool tool,
                            const QStringList& arguments, const char* error_key, bool error_plain,
                            bool break_cancels) {
    LogKey(start_key);
    std::uint32_t code = 0;
    QString start_failure;
    // Only the stage that writes the output file itself needs its bytes forced to the disk;
    // every other stage writes scratch files into tools/temp, deleted at the end of the run.
    const bool scratch = !arguments.contains(OutputFile);
    try {
        code = Tools().Start(tool, arguments, StageReport(until), scratch)->Wait(&KillTool);
    } catch (const TSystemError& error) {
        start_failure = QString::fromStdString(error.Reason());
    }
    JudgeTool(tool, code, start_failure, error_key, error_plain, break_cancels);
}

void TRunContext::JudgeTool(TTool tool, std::uint32_t code, const QString& start_failure,
                            const char* error_key, bool error_plain, bool break_cancels) {
    if (!start_failure.isNull()) {
        // The tool cannot be started at all (missing, not executable): the run cannot go on.
        const QString file = QDir::toNativeSeparators(ToolPath(tool).mid(Job.ProgramFolder.size()));
        LogSeparated(Text("ErrorToolCannotStart") + QLatin1Char(' ') + file + kCrLf +
                     start_failure);
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
