#include "desktop/RunContext.h"

#include "desktop/Decryption.h"
#include "desktop/FitCheck.h"

#include <optional>

namespace {

TRunPaths PathsBelow(const QString& program_folder) {
    TRunPaths paths;
    paths.Temp = program_folder + QStringLiteral("tools/temp");
    paths.RomFs = paths.Temp + QStringLiteral("/romfs");
    paths.ExeFs = paths.Temp + QStringLiteral("/exefs");
    paths.OldPackDat = paths.Temp + QStringLiteral("/old_pack.dat");
    return paths;
}

// The host's callbacks as the engine calls them: UTF-8 turned into QString here.
engine::TRunCallbacks EngineCallbacks(TRunCallbacks callbacks, const QString& chosen_source) {
    engine::TRunCallbacks result;
    result.Log = [log = std::move(callbacks.Log)](const std::string& entry) {
        log(QString::fromStdString(entry));
    };
    result.Progress = std::move(callbacks.Progress);
    result.Message = [message = std::move(callbacks.Message)](const std::string& text) {
        message(QString::fromStdString(text));
    };
    result.Finish = std::move(callbacks.Finish);
    result.StopRequested = std::move(callbacks.StopRequested);
    if (callbacks.ReplaceForeignModFiles)
        result.ReplaceForeignModFiles = [replace = std::move(callbacks.ReplaceForeignModFiles)](
                                            const std::string& folder,
                                            const std::vector<std::string>& files) {
            QStringList texts;
            for (const std::string& file : files)
                texts << QString::fromStdString(file);
            return replace(QString::fromStdString(folder), texts);
        };
    // A check still reading the source is waited for: it reads the bytes the run would.
    result.RememberedDigest = [chosen_source](bool pack_dat) {
        const std::optional<TPackDigests> digests = AwaitPackDigests(chosen_source);
        if (!digests)
            return std::string();
        return (pack_dat ? digests->PackDatMD5 : digests->PackIncMD5).toStdString();
    };
    return result;
}

} // namespace

TRunContext::TRunContext(TInstallJob& job, const TLanguageTable& texts, TRunCallbacks callbacks,
                         TTools* tools)
    : m_engine_job(EngineJob(job)),
      m_own_tools(tools == nullptr ? MakeDesktopTools(job.ProgramFolder) : nullptr),
      m_engine(m_engine_job, texts.Engine(), EngineCallbacks(std::move(callbacks), job.SourcePath),
               tools == nullptr ? *m_own_tools : *tools),
      Job(job), Texts(texts), Paths(PathsBelow(job.ProgramFolder)), KillTool(m_engine.KillTool) {}

QString TRunContext::Text(const char* key) const {
    return Texts.Lookup(QString::fromLatin1(key));
}

bool TRunContext::ReplaceForeignModFiles(const QString& folder, const QStringList& files) const {
    std::vector<std::string> names;
    for (const QString& file : files)
        names.push_back(file.toStdString());
    return m_engine.ReplaceForeignModFiles(folder.toStdString(), names);
}
