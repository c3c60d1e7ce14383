#pragma once
// Text on the console for the command-line programs: one writer of log entries as lines, and
// the updating progress line of a run on a terminal.

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

/// Writes `text` and a line break to `stream` as UTF-8, CR LF and lone CR breaks of a log
/// entry turned into line feeds, and flushes it.
void WriteLines(FILE* stream, const QString& text);

/// True when `stream` is a terminal.
bool StreamIsTerminal(FILE* stream);

/// One line on standard error, redrawn in place: the current stage, the percentage and the
/// elapsed time. Draws nothing unless `active`.
class TProgressLine {
public:
    explicit TProgressLine(bool active);

    bool Active() const { return m_active; }
    /// Sets the stage text (the first line of the latest log entry that has text).
    void SetStage(const QString& entry);
    void SetPercent(int value);
    /// Clears the line so that other output can be written.
    void Clear();
    /// Clears the line and writes `label` followed by the elapsed time.
    void Finish(const QString& label);

private:
    void Draw();
    QString Elapsed() const;

    bool m_active;
    bool m_drawn = false;
    int m_percent = 0;
    QString m_stage;
    QElapsedTimer m_timer;
};
