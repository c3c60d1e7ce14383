// The window side of installation runs: the real main window under the offscreen platform,
// running the real workers against stand-in tools in a temporary program folder.

#include "RecordingForm.h"
#include "tests/desktop/StandInTools.h"

#include "desktop/FileTools.h"
#include "desktop/InstallJob.h"
#include "desktop/InstallWorker.h"
#include "desktop/Language.h"
#include "gui/FileDialogs.h"
#include "gui/Main.h"
#include "gui/MessageBoxes.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QMutex>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

namespace {

const char* const kStepControls[] = {
    "CBLang",  "btOldRomPath",   "ebOldRom",        "btNewRomPath",   "ebNewRom",
    "CBPatch", "BTNMusicChange", "BTNInstallPatch", "TntRadioGroup2", "BTNCancel"};

} // namespace

class TestInstallControl : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_program;
    QString m_source;
    TLanguageTable m_texts;
    std::unique_ptr<TRecordingForm> m_form;
    QStringList m_messages;

    template <typename T> T* Control(const char* name) {
        return m_form->findChild<T*>(QLatin1String(name));
    }
    QString Text(const char* key) { return m_texts.Lookup(QLatin1String(key)); }
    QString Log() { return Control<QPlainTextEdit>("MemoLog")->toPlainText(); }

    QStringList EnabledControls() {
        QStringList names;
        for (const char* name : kStepControls) {
            if (Control<QWidget>(name)->isEnabled())
                names << QLatin1String(name);
        }
        return names;
    }

    // A source the window has taken (identification itself is the main window's own test),
    // an output chosen through the save dialog and a patch selected.
    void ReachReadyState(int patch_index, const QString& output_name = QStringLiteral("game.cia")) {
        TWindowState& state = m_form->State();
        state.SourcePath = m_source;
        state.SourceKind = QStringLiteral(".cia");
        state.SourceRegion = QStringLiteral("EUR");
        Control<QLineEdit>("ebOldRom")->setText(m_source);
        QueueFileDialogAnswer({true, m_dir->path() + QLatin1Char('/') + output_name, 1});
        m_form->btNewRomPathClick(Control<QPushButton>("btNewRomPath"));
        Control<QComboBox>("CBPatch")->setCurrentIndex(patch_index);
        QCOMPARE(Control<QComboBox>("CBPatch")->currentIndex(), patch_index);
        QVERIFY(Control<QPushButton>("BTNInstallPatch")->isEnabled());
        m_messages.clear(); // the stand-in source has no music slots to read
    }

    void WaitForFinish() {
        QTRY_VERIFY_WITH_TIMEOUT(m_form->Worker() == nullptr &&
                                     Control<QPushButton>("BTNInstallPatch")->isEnabled(),
                                 120000);
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_program = m_dir->path() + QStringLiteral("/program/");
        WriteStandInTools(m_program);
        const QString app = qEnvironmentVariable("QVT_APP_DIR");
        QDir().mkpath(m_program + "lang");
        for (const QString& name : QDir(app + "/lang").entryList(QDir::Files))
            QFile::copy(app + "/lang/" + name, m_program + "lang/" + name);
        m_texts.LoadFile(m_program + "lang/English.lng");
        QVERIFY(!m_texts.IsEmpty());
        WriteFileBytes(m_program + "patch/Demo/English.dsc",
                       "Region=EUR\r\nTitle=Demo\r\nDescription=Demo patch\r\n");
        WriteFileBytes(m_program + "patch/Demo/exefs/code.bin", "patched code");
        m_source = m_dir->path() + "/source.cia";
        WriteFileBytes(m_source, "SOURCE");
        m_messages.clear();
        SetOutputCheck(
            [](const QString&, const QString&, const TLanguageTable&) { return QString(); });
        SetMessageHook([this](TMessageKind, const QString& text) { m_messages << text; });
        m_form = std::make_unique<TRecordingForm>(m_program);
        QVERIFY(!m_form->StartupFailed());
        m_form->show();
    }

    void cleanup() {
        if (m_form)
            m_form->CloseNow();
        m_form.reset();
        SetMessageHook({});
        SetOutputCheck({});
    }

    void successfulRun() {
        ReachReadyState(1);
        const QString before = FileMD5Hex(m_source);
        QTest::mouseClick(Control<QPushButton>("BTNInstallPatch"), Qt::LeftButton);
        QCOMPARE(EnabledControls(), QStringList{"BTNCancel"});
        WaitForFinish();

        const QString log = Log();
        const qsizetype start = log.indexOf("\n" + Text("StartPatching") + "\n");
        QVERIFY(start >= 0);
        const qsizetype first = log.indexOf(Text("ExtractingNCCH"));
        const qsizetype success =
            log.indexOf(Text("PatchingSuccessful") + "\n[" + m_dir->path() + "/game.cia]");
        QVERIFY2(start < first && first < success, qPrintable(log));
        QVERIFY(log.endsWith(m_dir->path() + "/game.cia]"));
        QCOMPARE(m_form->Values(),
                 (std::vector<int>{0, 5, 10, 20, 30, 35, 40, 45, 75, 80, 85, 90, 95, 100}));
        QCOMPARE(Control<QProgressBar>("ProgressBar1")->value(), 0);
        QVERIFY(!QFileInfo::exists(m_program + "tools/temp"));
        // Ready again: the patch has no voice folder, so the voice choice stays off.
        QStringList ready = {"CBLang",   "btOldRomPath", "ebOldRom",       "btNewRomPath",
                             "ebNewRom", "CBPatch",      "BTNMusicChange", "BTNInstallPatch"};
        const TTrackList* tracks = m_form->State().TrackList.get();
        if (!tracks || tracks->Status() != TTrackListStatus::Ok)
            ready.removeOne("BTNMusicChange"); // the track list keeps it off
        QCOMPARE(EnabledControls(), ready);
        QCOMPARE(FileMD5Hex(m_source), before);

        // A second run right away, with the "None" entry.
        Control<QComboBox>("CBPatch")->setCurrentIndex(0);
        QTest::mouseClick(Control<QPushButton>("BTNInstallPatch"), Qt::LeftButton);
        WaitForFinish();
        QCOMPARE(Log().count(Text("PatchingSuccessful")), 2);
        QVERIFY(!Control<QGroupBox>("TntRadioGroup2")->isEnabled());
    }

    void voiceChoiceComesBackWithVoiceFolder() {
        QDir().mkpath(m_program + "patch/Demo/Voice/ENG/3_BCWAV");
        ReachReadyState(1);
        QVERIFY(Control<QGroupBox>("TntRadioGroup2")->isEnabled());
        QTest::mouseClick(Control<QPushButton>("BTNInstallPatch"), Qt::LeftButton);
        QVERIFY(!Control<QGroupBox>("TntRadioGroup2")->isEnabled());
        WaitForFinish();
        QVERIFY(Control<QGroupBox>("TntRadioGroup2")->isEnabled());
    }

    void cancelWhileToolRuns() {
        WriteFileBytes(m_program + "tools/block_UNPACKROMFS", "");
        ReachReadyState(1);
        QTest::mouseClick(Control<QPushButton>("BTNInstallPatch"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_program + "tools/started_UNPACKROMFS"), 120000);
        QTest::mouseClick(Control<QPushButton>("BTNCancel"), Qt::LeftButton);
        QVERIFY(Log().endsWith(Text("CancelInstall")));
        QCOMPARE(EnabledControls(), QStringList());
        QTest::qWait(50);
        QVERIFY(m_form->Worker() != nullptr); // the tool is not interrupted
        WriteFileBytes(m_program + "tools/release", "");
        WaitForFinish();
        QVERIFY(!Log().contains(Text("PatchingSuccessful")));
        QCOMPARE(m_form->Values().back(), 20);
        QVERIFY(!QFileInfo::exists(m_program + "tools/temp"));
        QVERIFY(!Control<QPushButton>("BTNCancel")->isEnabled());
    }

    void failedStageEndsLikeEveryRun() {
        WriteFileBytes(m_program + "tools/exit_REBUILDCXI", "1");
        ReachReadyState(0);
        QTest::mouseClick(Control<QPushButton>("BTNInstallPatch"), Qt::LeftButton);
        WaitForFinish();
        QVERIFY(Log().endsWith(Text("RebuildingCXI") + "\n" + Text("ErrorRebuildingCXI")));
        QVERIFY(m_messages.isEmpty()); // failures are log entries, never dialogs
        QVERIFY(!QFileInfo::exists(m_program + "tools/temp"));
    }

    void missingToolStillFinishes() {
        QFile::remove(m_program + "tools/xdelta");
        WriteFileBytes(m_program + "patch/Demo/patch.xdelta", "difference");
        ReachReadyState(1);
        QTest::mouseClick(Control<QPushButton>("BTNInstallPatch"), Qt::LeftButton);
        WaitForFinish();
        QVERIFY(Log().contains(Text("ErrorToolCannotStart") + " tools/xdelta\n"));
        QVERIFY(!QFileInfo::exists(m_program + "tools/temp"));
    }

    void outputIsSourceIsRefused() {
        ReachReadyState(0, QStringLiteral("source.cia"));
        const QString log = Log();
        QTest::mouseClick(Control<QPushButton>("BTNInstallPatch"), Qt::LeftButton);
        QCOMPARE(m_messages, QStringList{Text("ErrorOutputIsSource")});
        QVERIFY(m_form->Worker() == nullptr);
        QCOMPARE(Log(), log);
        QVERIFY(Control<QPushButton>("BTNInstallPatch")->isEnabled());
        QVERIFY(!QFileInfo::exists(m_program + "tools/temp"));
    }

    // Message boxes asked for from the worker's thread appear on the window's thread, and the
    // caller waits for their OK.
    void errorMessageFromWorkerThread() {
        QThread* shown_on = nullptr;
        SetMessageHook([&](TMessageKind kind, const QString& text) {
            QCOMPARE(kind, TMessageKind::Error);
            m_messages << text;
            shown_on = QThread::currentThread();
        });
        bool returned = false;
        std::unique_ptr<QThread> thread(QThread::create([&] {
            m_form->ShowErrorMessage(QStringLiteral("Cannot load"));
            returned = !m_messages.isEmpty();
        }));
        thread->start();
        QTRY_VERIFY_WITH_TIMEOUT(thread->isFinished(), 120000);
        QVERIFY(returned);
        QCOMPARE(shown_on, QThread::currentThread());
    }

    void closingDuringRunEndsPromptly() {
        WriteFileBytes(m_program + "tools/block_REBUILDROMFS", "");
        ReachReadyState(1);
        QTest::mouseClick(Control<QPushButton>("BTNInstallPatch"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_program + "tools/started_REBUILDROMFS"), 120000);
        m_form->CloseNow(); // the blocked tool is killed; nothing waits for it to be released
        QVERIFY(m_form->Worker() == nullptr);
        m_form.reset();
    }
};

QTEST_MAIN(TestInstallControl)
#include "TestInstallControl.moc"
