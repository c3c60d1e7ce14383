#include "desktop/FileTools.h"

#include "ctr/FileIo.h"
#include "ctr/Hash.h"
#include "engine/Folders.h"
#include "engine/PackDatStage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#if defined(Q_OS_WIN)
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

// What differs between Windows and the other systems in starting and ending tools.
#if defined(Q_OS_WIN)
// A console program started from the window would open a console window of its own.
void HideConsoleWindow(QProcess& process) {
    process.setCreateProcessArgumentsModifier(
        [](QProcess::CreateProcessArguments* arguments) { arguments->flags |= CREATE_NO_WINDOW; });
}

// Windows has no signals: a tool ended by a break or killed exits with a status code
// (0xC000013A for a break, 1 for TerminateProcess), which is its exit code as it stands.
std::uint32_t CrashExitCode(int exit_code) {
    return static_cast<std::uint32_t>(exit_code);
}
#else
void HideConsoleWindow(QProcess&) {}

// QProcess gives the signal number as the exit code of a tool a signal ended.
std::uint32_t CrashExitCode(int signal_number) {
    if (signal_number == SIGINT)
        return kExitCodeBreak;
    return 128u + static_cast<std::uint32_t>(signal_number > 0 ? signal_number : 0);
}
#endif

} // namespace

fs::path ToPath(const QString& path) {
#if defined(_WIN32)
    return fs::path(path.toStdWString());
#else
    return fs::path(QFile::encodeName(path).toStdString());
#endif
}

QString FromPath(const fs::path& path) {
#if defined(_WIN32)
    return QDir::fromNativeSeparators(QString::fromStdWString(path.native()));
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

bool DeleteFolder(const QString& folder) {
    return DeleteFolder(ToPath(folder));
}

QString ToolFileName(const QString& name) {
    return QString::fromStdString(engine::ToolFileName(name.toStdString()));
}

bool CopyFolder(const QString& source, const QString& destination) {
    return engine::CopyFolder(ToPath(source), ToPath(destination));
}

std::uint32_t RunTool(const QString& tool, const QStringList& arguments,
                      const QString& working_folder, const std::atomic<bool>* kill_request) {
    return TToolRun(tool, arguments, working_folder).Wait(kill_request);
}

TToolRun::TToolRun(const QString& tool, const QStringList& arguments, const QString& working_folder,
                   TOptions options)
    : m_process(std::make_unique<QProcess>()), m_watch(std::move(options)) {
    QProcess& process = *m_process;
    process.setProgram(tool);
    process.setArguments(arguments);
    if (!working_folder.isEmpty())
        process.setWorkingDirectory(working_folder);
    // The output is not shown; sending it to the null device keeps a chatty tool from
    // blocking on a full pipe or filling memory. Progress lines come through a pipe that
    // Pump() empties, keeping nothing but a partial last line.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    HideConsoleWindow(process);
    QIODevice::OpenMode mode = QIODevice::NotOpen;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (m_watch.Report && m_watch.WrittenFile.isEmpty()) {
        environment.insert(QStringLiteral("QVT_PROGRESS"), QStringLiteral("1"));
        mode = QIODevice::ReadOnly;
    } else {
        process.setStandardErrorFile(QProcess::nullDevice());
    }
    if (m_watch.ScratchOutputs)
        environment.insert(QStringLiteral("QVT_SCRATCH_OUTPUTS"), QStringLiteral("1"));
    if (m_watch.ScratchOutputs || mode != QIODevice::NotOpen)
        process.setProcessEnvironment(environment);
    // A start the system fails although the program is there (Wine under load now and then
    // reports an internal error) is tried twice more before the run gives up on the tool.
    for (int attempt = 1;; ++attempt) {
        process.start(mode);
        if (process.waitForStarted(-1))
            break;
        if (attempt == 3 || process.error() != QProcess::FailedToStart || !QFileInfo(tool).isFile())
            throw TSystemError(0, process.errorString());
        QThread::msleep(200);
    }
}

TToolRun::~TToolRun() {
    if (m_process->state() != QProcess::NotRunning)
        Kill();
}

void TToolRun::Kill() {
    m_process->kill();
    m_process->waitForFinished(-1);
}

void TToolRun::Pump() {
    if (!m_watch.Report)
        return;
    if (!m_watch.WrittenFile.isEmpty()) {
        if (m_watch.ExpectedSize > 0) {
            const qint64 size = QFileInfo(m_watch.WrittenFile).size();
            m_watch.Report(std::min(1.0, static_cast<double>(size) /
                                             static_cast<double>(m_watch.ExpectedSize)));
        }
        return;
    }
    m_pending += m_process->readAllStandardError();
    qsizetype start = 0;
    for (qsizetype end; (end = m_pending.indexOf('\n', start)) >= 0; start = end + 1) {
        const QList<QByteArray> words = m_pending.mid(start, end - start).trimmed().split(' ');
        bool done_ok = false;
        bool total_ok = false;
        if (words.size() != 3 || words[0] != "qvt-progress")
            continue;
        const double done = words[1].toDouble(&done_ok);
        const double total = words[2].toDouble(&total_ok);
        if (done_ok && total_ok && total > 0 && done >= 0)
            m_watch.Report(std::min(1.0, done / total));
    }
    m_pending.remove(0, start);
    if (m_pending.size() > 4096)
        m_pending.clear(); // no line of ours is that long
}

std::uint32_t TToolRun::Wait(const std::atomic<bool>* kill_request) {
    QProcess& process = *m_process;
    // Wake now and then to see how far the tool is and whether it must be stopped.
    while (process.state() != QProcess::NotRunning && !process.waitForFinished(50)) {
        Pump();
        if (kill_request != nullptr && kill_request->load())
            Kill();
    }
    // The lines a tool printed before it ended still count; a written file's size says
    // nothing new once the tool is done.
    if (m_watch.WrittenFile.isEmpty())
        Pump();
    if (process.exitStatus() == QProcess::CrashExit)
        return CrashExitCode(process.exitCode());
    return static_cast<std::uint32_t>(process.exitCode());
}

void RemovePartialFiles(const QString& file) {
    engine::RemovePartialFiles(ToPath(file));
}

bool PlainAsciiText(const QString& text) {
    return engine::PlainAsciiText(text.toStdString());
}

// The container library's MD5, its digest written as the patch descriptions write it.
struct TMd5::TState {
    ctr::TMd5 Digest;
};

TMd5::TMd5() {
    try {
        m_state = std::make_unique<TState>();
    } catch (const std::exception&) {
        throw TSystemError(0, QStringLiteral("MD5 is not available"));
    }
}

TMd5::~TMd5() = default;

void TMd5::Update(const void* bytes, std::size_t size) {
    if (size != 0)
        m_state->Digest.Update(std::span(static_cast<const std::uint8_t*>(bytes), size));
}

QString TMd5::Hex() {
    return QString::fromStdString(ctr::HexUpper(m_state->Digest.Final()));
}

QString FileMD5Hex(const QString& path) {
    QFile file(path);
    if (QFileInfo(path).isDir())
        throw TSystemError(EISDIR, QStringLiteral("%1: is a folder").arg(path));
    if (!file.open(QIODevice::ReadOnly))
        throw TSystemError(0, file.errorString());
    TMd5 md5;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const qint64 got = file.read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (got < 0)
            throw TSystemError(0, file.errorString());
        if (got == 0)
            break;
        md5.Update(buffer.data(), static_cast<std::size_t>(got));
    }
    return md5.Hex();
}

QString FindEntryNoCase(const QString& folder, const QString& name) {
    return FromPath(engine::FindEntryNoCase(ToPath(folder), ToPath(name)));
}

QString WithTrailingSeparator(const QString& folder) {
    QString result = folder;
    while (result.size() > 1 && result.endsWith(QLatin1Char('/')))
        result.chop(1);
    if (!result.endsWith(QLatin1Char('/')))
        result.append(QLatin1Char('/'));
    return result;
}

QStringList FilesBelow(const QString& root) {
    QStringList files;
    for (const engine::TText& file : engine::FilesBelow(ToPath(root)))
        files << QString::fromStdU16String(file);
    return files;
}

bool SameBytes(ctr::TInFile& image, std::uint64_t offset, std::uint64_t size, const QString& file) {
    return engine::SameBytes(image, offset, size, ToPath(file));
}

bool SameFiles(const QString& a, const QString& b) {
    return engine::SameFiles(ToPath(a), ToPath(b));
}
