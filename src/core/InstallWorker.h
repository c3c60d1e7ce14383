#pragma once
// The install worker: one thread object per run that turns a decrypted source image into a
// patched image of the chosen kind. TInstallCIA, TInstall3DS and TInstallCXI add only the
// stages that take their kind of image apart; everything else lives here once.

#include "core/FileTools.h"
#include "core/InstallJob.h"
#include "core/RunContext.h"

#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>

namespace ctr {
class TDecryptingReader;
} // namespace ctr
class TInstallHost;
class TLanguageTable;

class TInstallWorker : public QThread {
    Q_OBJECT

public:
    /// Takes the job (its texts are copied), the host it reports to and the tools it asks for
    /// (null: the programs in the program folder's tools). start() begins the run.
    /// MakeInstallWorker chooses the worker for a source.
    TInstallWorker(const TInstallJob& job, TInstallHost* host, TTools* tools = nullptr,
                   QObject* parent = nullptr);
    ~TInstallWorker() override;

    /// The whole run; ends with exactly one RequestFinish on the host.
    void Execute();

    const TInstallJob& Job() const { return m_job; }
    /// True once the run has written its success entry.
    bool Succeeded() const { return m_run.Succeeded(); }
    /// The file the run writes: OutputBase + the extension of the output kind; for a mod
    /// folder the folder that receives it.
    QString OutputFile() const;

    /// Stops the tool that is running now, if any (the window is closing). Any thread.
    void KillRunningTool() { m_run.KillTool.store(true); }
    /// Tells the worker that the window is going away: host requests become no-ops.
    void SetHostClosing() { m_host_closing.store(true); }
    bool HostClosing() const { return m_host_closing.load(); }

    /// One of ".cia", ".3ds", ".cxi": the source kind this worker takes apart.
    virtual QString SourceKind() const = 0;

protected:
    void run() override;

    /// True when a final ".3ds" is taken off the output path too.
    virtual bool StripsThreeDsSuffix() const { return false; }

private:
    // The stages' helpers, which live in the run context.
    void Progress(int value) { m_run.Progress(value); }
    void ShowProgress(int value) { m_run.ShowProgress(value); }
    void Checkpoint() { m_run.Checkpoint(); }
    void LogSeparated(const QString& text) { m_run.LogSeparated(text); }
    QString Text(const char* key) const { return m_run.Text(key); }
    [[noreturn]] void EndRun() { m_run.EndRun(); }

    TInstallJob m_job;
    TInstallHost* m_host;
    TRunContext m_run;
    /// The decryption of a CIA or 3DS source wrote what the first source stage takes out of
    /// the image, where that stage puts it.
    bool m_game_content_decrypted = false;

    void RunPipeline();
    /// An encrypted source is decrypted into tools/temp first, and the job's source becomes
    /// that copy; of a CIA only the game's content is written. A mod folder run instead reads
    /// the source through its decryption.
    void DecryptSource();
    void CheckDiskSpace();
    /// The image built again and read back; the run's success.
    void FinishImage();
    void VerifyOutput();
    TToolRun::TReport StageReport(int until) { return m_run.StageReport(until); }

    std::atomic<bool> m_host_closing{false};

    // A mod folder run reads an encrypted source in place through its decryption.
    std::unique_ptr<ctr::TDecryptingReader> m_decrypting;
};
