#pragma once
// The install worker: one thread object per run, which runs the engine's install run
// (engine/InstallRun.h) for its source and reports to its host. TInstallCIA, TInstall3DS and
// TInstallCXI name only their kind of source.

#include "desktop/FileTools.h"
#include "desktop/InstallJob.h"
#include "desktop/RunContext.h"

#include <QThread>

#include <atomic>

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
    TInstallJob m_job;
    TInstallHost* m_host;
    TRunContext m_run;
    std::atomic<bool> m_host_closing{false};
};
