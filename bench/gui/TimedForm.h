#pragma once
// The main window of the install benchmarks, noting the time of every log entry as the worker
// writes it.

#include "gui/Main.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QString>

#include <vector>

class TTimedForm : public TForm1 {
public:
    TTimedForm(const QString& folder, QElapsedTimer& clock) : TForm1(folder), m_clock(clock) {}
    void AppendLog(const QString& entry) override {
        {
            QMutexLocker lock(&m_mutex);
            m_entries.push_back({m_clock.nsecsElapsed(), entry});
        }
        TForm1::AppendLog(entry);
    }
    struct TEntry {
        qint64 At;
        QString Text;
    };
    std::vector<TEntry> Entries() {
        QMutexLocker lock(&m_mutex);
        return m_entries;
    }

private:
    QElapsedTimer& m_clock;
    QMutex m_mutex;
    std::vector<TEntry> m_entries;
};

inline double Seconds(qint64 ns) {
    return static_cast<double>(ns) / 1e9;
}
