#include "cli/ConsoleText.h"

#include <QStringList>

#ifdef _WIN32
#include <io.h>
#define QVT_ISATTY _isatty
#define QVT_FILENO _fileno
#else
#include <unistd.h>
#define QVT_ISATTY isatty
#define QVT_FILENO fileno
#endif

namespace {

// Wide enough for a stage text, the percentage and the time on an 80-column terminal.
constexpr qsizetype kStageWidth = 56;

} // namespace

void WriteLines(FILE* stream, const QString& text) {
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    line.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

bool StreamIsTerminal(FILE* stream) {
    return QVT_ISATTY(QVT_FILENO(stream)) != 0;
}

TProgressLine::TProgressLine(bool active) : m_active(active) {
    m_timer.start();
}

void TProgressLine::SetStage(const QString& entry) {
    const QStringList lines =
        QString(entry).replace(QLatin1Char('\r'), QLatin1Char('\n')).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (!line.trimmed().isEmpty()) {
            m_stage = line.trimmed();
            break;
        }
    }
    Draw();
}

void TProgressLine::SetPercent(int value) {
    m_percent = value;
    Draw();
}

void TProgressLine::Clear() {
    if (!m_active || !m_drawn)
        return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    m_drawn = false;
}

void TProgressLine::Finish(const QString& label) {
    if (!m_active)
        return;
    Clear();
    WriteLines(stderr, label + QLatin1Char(' ') + Elapsed());
}

void TProgressLine::Draw() {
    if (!m_active)
        return;
    QString stage = m_stage;
    if (stage.size() > kStageWidth)
        stage = stage.left(kStageWidth - 3) + QStringLiteral("...");
    const QString line =
        QStringLiteral("\r\x1b[K%1 %2% %3").arg(stage).arg(m_percent, 3).arg(Elapsed());
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
    m_drawn = true;
}

QString TProgressLine::Elapsed() const {
    const qint64 seconds = m_timer.elapsed() / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
