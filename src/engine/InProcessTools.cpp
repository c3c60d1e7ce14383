// The in-process tools: each tool's work on a thread of its own. Not in the browser's build.
#include "engine/Tools.h"

#include "ctr/Delta.h"
#include "ctr/FileIo.h"
#include "ctr/ToolPrograms.h"
#include "sound_archive/FileBasics.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace engine {

namespace {

// The work on a thread of its own, which tells how far it has come through the counters that
// Wait reads. A failure is exit code 1, as from the tool's program.
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
    explicit TInProcessTools(std::filesystem::path program_folder)
        : m_folder(std::move(program_folder)) {}

    std::unique_ptr<TToolTask> Start(TTool tool, const std::vector<std::string>& arguments,
                                     const TReport& report, bool scratch_outputs) override {
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
            throw TSystemError(0, std::string("xdelta3 takes a difference, not a command line"));
        }
        return std::make_unique<TThreadTask>(
            [program, arguments, folder = m_folder, scratch_outputs](const auto& progress) {
                const ctr::TThreadOutputMeter meter(progress, scratch_outputs);
                program(arguments, folder);
            },
            report);
    }

    std::unique_ptr<TToolTask> StartDifference(const std::filesystem::path& source,
                                               const std::filesystem::path& difference,
                                               const std::filesystem::path& output,
                                               const TReport& report) override {
        const auto path = [this](const std::filesystem::path& argument) {
            return argument.is_absolute() ? argument : m_folder / argument;
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
StartDifferenceInProcess(std::unique_ptr<ctr::TInFile> source,
                         const std::filesystem::path& difference,
                         const std::filesystem::path& output, const TTools::TReport& report,
                         std::function<void(std::span<const std::uint8_t>)> observe) {
    return std::make_unique<TThreadTask>(
        [source = std::shared_ptr<ctr::TInFile>(std::move(source)), difference, output,
         observe = std::move(observe)](const auto& progress) {
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

std::unique_ptr<TTools> MakeInProcessTools(const std::filesystem::path& program_folder) {
    return std::make_unique<TInProcessTools>(program_folder);
}

} // namespace engine
