#pragma once
// The main window with the progress values recorded as the worker sets them.

#include "desktop/InstallWorker.h"
#include "gui/Main.h"

#include <QCloseEvent>
#include <QMutex>
#include <QMutexLocker>

#include <vector>

class TRecordingForm : public TForm1 {
public:
    using TForm1::TForm1;
    void SetProgress(int value) override {
        {
            QMutexLocker lock(&m_mutex);
            m_values.push_back(value);
        }
        TForm1::SetProgress(value);
        if (value == CancelAt && Worker())
            Worker()->requestInterruption();
    }
    std::vector<int> Values() {
        QMutexLocker lock(&m_mutex);
        return m_values;
    }
    /// Closes the window as its close box would.
    void CloseNow() {
        QCloseEvent event;
        closeEvent(&event);
    }

    /// A progress value at which the run is cancelled (-1: never).
    int CancelAt = -1;

private:
    QMutex m_mutex;
    std::vector<int> m_values;
};
