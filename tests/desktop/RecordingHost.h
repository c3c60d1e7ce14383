#pragma once
// An install host that records what a worker asks of the window, for pipeline tests.

#include "desktop/InstallHost.h"
#include "desktop/Language.h"

#include <QMutex>
#include <QStringList>

#include <functional>
#include <vector>

class TTrackList;

class TRecordingHost : public TInstallHost {
public:
    void AppendLog(const QString& entry) override {
        QMutexLocker lock(&m_mutex);
        Entries.append(entry);
    }
    void SetProgress(int value) override {
        {
            QMutexLocker lock(&m_mutex);
            ProgressValues.push_back(value);
        }
        if (OnProgress)
            OnProgress(value);
    }
    void SetProgressDoubleBuffered() override { ++DoubleBufferedCalls; }
    void DisableLanguageChoice() override { ++DisableLanguageCalls; }
    void ShowErrorMessage(const QString& text) override {
        QMutexLocker lock(&m_mutex);
        Messages.append(text);
    }
    void RequestFinish(TInstallWorker* worker) override {
        QMutexLocker lock(&m_mutex);
        FinishedWorkers.push_back(worker);
    }

    // The choices a test's job takes.
    int Patch = 0;
    int Voice = 0;
    bool NoVoice = true;
    TTrackList* Tracks = nullptr;
    std::function<void(int)> OnProgress;

    QStringList Entries;
    std::vector<int> ProgressValues;
    QStringList Messages;
    std::vector<TInstallWorker*> FinishedWorkers;
    int DoubleBufferedCalls = 0;
    int DisableLanguageCalls = 0;

private:
    QMutex m_mutex;
};

/// A language table whose text for every key is the key in angle brackets, so the log
/// shows which keys were written.
inline TLanguageTable KeyEchoTable(const QStringList& keys) {
    QStringList tokens;
    for (const QString& key : keys)
        tokens << key << QLatin1Char('<') + key + QLatin1Char('>');
    TLanguageTable table;
    table.SetTokens(tokens);
    return table;
}
