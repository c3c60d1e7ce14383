#include "desktop/Tools.h"

#include "desktop/FileTools.h"

#include <QDir>
#include <QFileInfo>

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

    std::unique_ptr<TToolTask> Start(TTool tool, const std::vector<std::string>& arguments,
                                     const TReport& report, bool scratch_outputs) override {
        QStringList texts;
        for (const std::string& argument : arguments)
            texts << QString::fromStdString(argument);
        return std::make_unique<TProgramTask>(
            ToolProgramPath(m_folder, tool), texts, m_folder,
            TToolRun::TOptions{report, QString(), 0, scratch_outputs});
    }

    std::unique_ptr<TToolTask> StartDifference(const std::filesystem::path& source_path,
                                               const std::filesystem::path& difference,
                                               const std::filesystem::path& output_path,
                                               const TReport& report) override {
        // xdelta3 prints nothing to follow: the size of the file it writes against the size of
        // its source stands in.
        const QString source = FromPath(source_path);
        const QString output = FromPath(output_path);
        const QDir folder(m_folder);
        return std::make_unique<TProgramTask>(
            ToolProgramPath(m_folder, TTool::Xdelta),
            QStringList{QStringLiteral("-d"), QStringLiteral("-s"), source, FromPath(difference),
                        output},
            m_folder,
            TToolRun::TOptions{report, folder.filePath(output),
                               QFileInfo(folder.filePath(source)).size(), false});
    }

private:
    QString m_folder;
};

} // namespace

QString ToolProgramPath(const QString& program_folder, TTool tool) {
    return program_folder + FromPath(engine::ToolProgramPath(tool));
}

std::vector<std::string> ToolArguments(const QStringList& arguments) {
    std::vector<std::string> texts;
    texts.reserve(std::size_t(arguments.size()));
    for (const QString& argument : arguments)
        texts.push_back(argument.toStdString());
    return texts;
}

std::unique_ptr<TTools> MakeDesktopTools(const QString& program_folder) {
    return std::make_unique<TDesktopTools>(program_folder);
}

std::unique_ptr<TTools> MakeInProcessTools(const QString& program_folder) {
    return engine::MakeInProcessTools(ToPath(program_folder));
}
