#include "core/Tools.h"

#include "core/FileTools.h"
#include "ctr/Delta.h"
#include "ctr/FileIo.h"
#include "ctr/ToolPrograms.h"

#include <QDir>
#include <QFileInfo>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// The desktop's tasks: the tool's program, as TToolRun starts it.
class TProgramTask : public TToolTask {
public:
    TProgramTask(const QString& program, const QStringList& arguments,
                 const QString& working_folder, TToolRun::TOptions options)
        : m_run(program, arguments, working_folder, std::move(options)) {}
    std::uint32_t Wait(const std::atomic<bool>* kill_request) override {
        return m_run.Wait(kill_request);
    }

private:
    TToolRun m_run;
};

class TDesktopTools : public TTools {
public:
    explicit TDesktopTools(const QString& program_folder)
        : m_folder(WithTrailingSeparator(program_folder)) {}

    std::unique_ptr<TToolTask> Start(TTool tool, const QStringList& arguments,
                                     const TReport& report, bool scratch_outputs) override {
        return std::make_unique<TProgramTask>(
            ToolProgramPath(m_folder, tool), arguments, m_folder,
            TToolRun::TOptions{report, QString(), 0, scratch_outputs});
    }

    std::unique_ptr<TToolTask> StartDifference(const QString& source, const QString& difference,
                                               const QString& output,
                                               const TReport& report) override {
        // xdelta3 prints nothing to follow: the size of the file it writes against the size of
        // its source stands in.
        const QDir folder(m_folder);
        return std::make_unique<TProgramTask>(
            ToolProgramPath(m_folder, TTool::Xdelta),
            QStringList{QStringLiteral("-d"), QStringLiteral("-s"), source, difference, output},
            m_folder,
            TToolRun::TOptions{report, folder.filePath(output),
                               QFileInfo(folder.filePath(source)).size(), false});
    }

private:
    QString m_folder;
};

// The in-process tasks: the work on a thread of its own, which tells how far it has come
// through the counters that Wait reads. A failure is exit code 1, as from the tool's program.
class TThreadTask : public TToolTask {
public:
    // `work` gets the callback its progress goes to; it returns false once the task must stop.
    using TWork = std::function<void(const std::function<bool(std::uint64_t, std::uint64_t)>&)>;

    TThreadTask(TWork work, TTools::TReport report) : m_report(std::move(report)) {
        m_thread = std::thread([this, work = std::move(work)] {
            std::uint32_t code = 0;
            try {
                work([this](std::uint64_t done, std::uint64_t total) {
                    m_done.store(done);
                    m_total.store(total);
                    return !m_stop.load();
                });
            } catch (...) {
                code = 1;
            }
            const std::lock_guard lock(m_mutex);
            m_code = code;
            m_finished = true;
            m_changed.notify_all();
        });
    }

    ~TThreadTask() override {
        m_stop.store(true);
        m_thread.join();
    }

    std::uint32_t Wait(const std::atomic<bool>* kill_request) override {
        std::unique_lock lock(m_mutex);
        // Wake now and then to pass on how far the work is and whether it must stop.
        while (!m_changed.wait_for(lock, std::chrono::milliseconds(50),
                                   [this] { return m_finished; })) {
            lock.unlock();
            Report();
            if (kill_request != nullptr && kill_request->load())
                m_stop.store(true);
            lock.lock();
        }
        lock.unlock();
        Report();
        return m_code;
    }

private:
    void Report() {
        const std::uint64_t total = m_total.load();
        if (m_report && total > 0)
            m_report(
                std::min(1.0, static_cast<double>(m_done.load()) / static_cast<double>(total)));
    }

    TTools::TReport m_report;
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_done{0};
    std::atomic<std::uint64_t> m_total{0};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_finished = false;
    std::uint32_t m_code = 1;
    std::thread m_thread;
};

class TInProcessTools : public TTools {
public:
    explicit TInProcessTools(const QString& program_folder) : m_folder(ToPath(program_folder)) {}

    std::unique_ptr<TToolTask> Start(TTool tool, const QStringList& arguments,
                                     const TReport& report, bool scratch_outputs) override {
        std::vector<std::string> texts;
        for (const QString& argument : arguments)
            texts.push_back(argument.toStdString());
        void (*program)(const std::vector<std::string>&, const std::filesystem::path&) = nullptr;
        switch (tool) {
        case TTool::Ctrtool:
            program = ctr::RunCtrtool;
            break;
        case TTool::Tool3ds:
            program = ctr::Run3dstool;
            break;
        case TTool::Makerom:
            program = ctr::RunMakerom;
            break;
        case TTool::Xdelta:
            throw TSystemError(0, QStringLiteral("xdelta3 takes a difference, not a command line"));
        }
        return std::make_unique<TThreadTask>(
            [program, texts = std::move(texts), folder = m_folder,
             scratch_outputs](const auto& progress) {
                const ctr::TThreadOutputMeter meter(progress, scratch_outputs);
                program(texts, folder);
            },
            report);
    }

    std::unique_ptr<TToolTask> StartDifference(const QString& source, const QString& difference,
                                               const QString& output,
                                               const TReport& report) override {
        const auto path = [this](const QString& argument) {
            return ctr::ToolArgumentPath(m_folder, argument.toStdString());
        };
        return std::make_unique<TThreadTask>(
            [source = path(source), difference = path(difference),
             output = path(output)](const auto& progress) {
                ctr::TInFile source_file(source);
                ctr::TInFile difference_file(difference);
                ctr::TOutFile output_file(output);
                // xdelta3 leaves its output to the caller's care too: no forcing to the disk.
                output_file.MarkScratch();
                ctr::TProgress meter{progress};
                ctr::ApplyDelta(source_file, difference_file, output_file, &meter);
                output_file.Commit();
            },
            report);
    }

private:
    std::filesystem::path m_folder;
};

} // namespace

std::unique_ptr<TToolTask>
StartDifferenceInProcess(std::unique_ptr<ctr::TInFile> source, const QString& difference,
                         const QString& output, const TTools::TReport& report,
                         std::function<void(std::span<const std::uint8_t>)> observe) {
    return std::make_unique<TThreadTask>(
        [source = std::shared_ptr<ctr::TInFile>(std::move(source)), difference = ToPath(difference),
         output = ToPath(output), observe = std::move(observe)](const auto& progress) {
            ctr::TInFile difference_file(difference);
            ctr::TOutFile output_file(output);
            output_file.MarkScratch();
            ctr::TProgress meter{progress};
            ctr::ApplyDelta(*source, difference_file, output_file, &meter, observe);
            // A compressed image's frames read in part are checked before the file is kept.
            source->ConfirmReads();
            output_file.Commit();
        },
        report);
}

QString ToolProgramPath(const QString& program_folder, TTool tool) {
    QString name = QStringLiteral("xdelta");
    switch (tool) {
    case TTool::Ctrtool:
        name = QStringLiteral("ctrtool");
        break;
    case TTool::Tool3ds:
        name = QStringLiteral("3dstool");
        break;
    case TTool::Makerom:
        name = QStringLiteral("makerom");
        break;
    case TTool::Xdelta:
        break;
    }
    return program_folder + QStringLiteral("tools/") + ToolFileName(name);
}

std::unique_ptr<TTools> MakeDesktopTools(const QString& program_folder) {
    return std::make_unique<TDesktopTools>(program_folder);
}

std::unique_ptr<TTools> MakeInProcessTools(const QString& program_folder) {
    return std::make_unique<TInProcessTools>(program_folder);
}
