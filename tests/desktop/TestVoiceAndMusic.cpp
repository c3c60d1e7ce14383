// The voice and music step on real sound archives (built in memory) in a temporary program
// folder, reporting to a recording host.

#include "RecordingHost.h"
#include "tests/sound_archive/SyntheticBcsar.h"

#include "desktop/FileTools.h"
#include "desktop/TrackList.h"
#include "desktop/VoiceAndMusic.h"
#include "tests/sound_archive/BcsarQt.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr int kClipCount = 3;
constexpr qsizetype kLongInfo = 0xE400;  // holds every music slot
constexpr qsizetype kShortInfo = 0xE210; // ends inside the last slot

const QStringList kKeys = {"ErrorFolderCreate",
                           "WarningLoadingBcsar",
                           "WarningPackingBcsar",
                           "WarningCopyingSoundFiles",
                           "ApplyingVoice",
                           "ChangingMusic",
                           "Done",
                           "WarningUnknownTrack"};

QString T(const char* key) {
    return QStringLiteral("<%1>").arg(QLatin1String(key));
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestVoiceAndMusic : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_program;
    QString m_patch;
    QString m_archive;
    synth::TArchive m_original;
    TLanguageTable m_table = KeyEchoTable(kKeys);
    std::unique_ptr<TRecordingHost> m_host_owner;
    TRecordingHost& Host() { return *m_host_owner; }

    void WriteArchive(qsizetype info_length) {
        synth::TLayout shape;
        shape.Clips = synth::Clips(kClipCount, 200);
        shape.InfoLength = info_length;
        m_original = synth::Build(shape);
        WriteFile(m_archive, m_original.Bytes);
    }

    int Apply(int voice) {
        return ApplyVoiceAndMusic(
            m_program, {voice, Host().NoVoice, Host().Tracks},
            [this](const QString& entry) { Host().AppendLog(entry); }, m_table, m_patch);
    }

    // The clips of the archive now on disk, in order.
    std::vector<QByteArray> ClipsOnDisk() {
        const QString folder = m_dir->path() + QStringLiteral("/check");
        DeleteFolder(folder);
        QDir().mkpath(folder);
        std::vector<QByteArray> clips;
        if (UnpackBcsar(ReadFile(m_archive), folder, 0, false) != 0)
            return clips;
        for (int i = 0; i < kClipCount; ++i)
            clips.push_back(ReadFile(folder + QStringLiteral("/4_CSAR_FILE/3_CWAR/3_BCWAV/%1.bcwav")
                                                  .arg(i, 3, 10, QLatin1Char('0'))));
        return clips;
    }

    QString WorkFolder() { return m_program + QStringLiteral("tools/temp/romfs/sound/QK123_temp"); }

    std::unique_ptr<TTrackList> MakeTrackList() {
        QFile data(QStringLiteral(QVT_SOURCE_DIR "/src/engine/TrackListData.txt"));
        if (!data.open(QIODevice::ReadOnly))
            return nullptr;
        auto list = std::make_unique<TTrackList>(m_dir->path() + "/no image", QString(), 0,
                                                 QString::fromUtf8(data.readAll()));
        for (int slot = 0; slot < kMusicSlotCount; ++slot)
            list->SetSlotTrack(slot, list->GetTrackTitle(slot % list->GetTrackCount()));
        return list;
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_program = m_dir->path() + QStringLiteral("/program/");
        m_archive = m_program + QStringLiteral("tools/temp/romfs/sound/QK123.bcsar");
        m_patch = m_dir->path() + QStringLiteral("/patch/");
        WriteArchive(0x70);
        m_host_owner = std::make_unique<TRecordingHost>();
        Host().NoVoice = true;
        SetBcsarMessageHandler([this](const std::string& text) {
            Host().ShowErrorMessage(QString::fromStdString(text));
        });
    }

    void cleanup() { SetBcsarMessageHandler({}); }

    void neitherStepStillRebuilds() {
        QCOMPARE(Apply(0), 0);
        QVERIFY(Host().Entries.isEmpty());
        QCOMPARE(ReadFile(m_archive), m_original.Bytes);
        QVERIFY(!QFileInfo::exists(WorkFolder()));
    }

    // Each voice choice replaces exactly the clips its folder holds; the folder names of the
    // patch are found without regard to letter case.
    void voiceClips_data() {
        QTest::addColumn<int>("voice");
        QTest::addColumn<QList<int>>("replaced");
        QTest::newRow("English") << 0 << QList<int>{1};
        QTest::newRow("Japanese modified") << 1 << QList<int>{0, 2};
        QTest::newRow("Japanese original") << 2 << QList<int>{0, 1, 2};
    }
    void voiceClips() {
        QFETCH(int, voice);
        QFETCH(QList<int>, replaced);
        WriteFile(m_patch + "voice/eng/3_bcwav/001.BCWAV", "english one");
        WriteFile(m_patch + "voice/JAP MOD/3_BCWAV/000.bcwav", "modified zero");
        WriteFile(m_patch + "voice/JAP MOD/3_BCWAV/002.bcwav", "modified two");
        for (int i = 0; i < kClipCount; ++i)
            WriteFile(m_patch + QStringLiteral("voice/JAP ORIG/3_BCWAV/00%1.bcwav").arg(i),
                      "original " + QByteArray::number(i));
        Host().NoVoice = false;
        QCOMPARE(Apply(voice), 0);
        QCOMPARE(Host().Entries, (QStringList{T("ApplyingVoice"), T("Done")}));
        const auto clips = ClipsOnDisk();
        QCOMPARE(int(clips.size()), kClipCount);
        const auto originals = synth::Clips(kClipCount, 200);
        for (int i = 0; i < kClipCount; ++i) {
            if (replaced.contains(i))
                QVERIFY2(clips[i] != originals[i], qPrintable(QString::number(i)));
            else
                QCOMPARE(clips[i], originals[i]);
        }
        if (voice == 0)
            QCOMPARE(clips[1], QByteArray("english one"));
        QVERIFY(!QFileInfo::exists(WorkFolder()));
    }

    void musicSlots() {
        WriteArchive(kLongInfo);
        auto list = MakeTrackList();
        QVERIFY(list);
        const QString title_a = list->GetTrackTitle(5);
        const QString title_b = list->GetTrackTitle(6);
        list->SetSlotTrack(10, title_a);
        list->SetSlotTrack(11, title_b); // shares slot 10's place and is never written
        list->SetSlotTrack(20, QStringLiteral("ZZZ999"));
        list->SetChanged(true);
        Host().Tracks = list.get();
        QCOMPARE(Apply(0), 0);
        QCOMPARE(Host().Entries, (QStringList{T("ChangingMusic"),
                                              T("WarningUnknownTrack") + "\r\nZZZ999", T("Done")}));

        const QByteArray archive = ReadFile(m_archive);
        const qsizetype info = synth::Get32(archive, 36);
        QCOMPARE(archive.mid(info + kMusicSlotOffsets[10], 6), list->GetTrackId(5).toLatin1());
        QCOMPARE(archive.mid(info + kMusicSlotOffsets[0], 6), list->GetTrackId(0).toLatin1());
        QCOMPARE(archive.mid(info + kMusicSlotOffsets[33], 6),
                 list->GetTrackId(33 % list->GetTrackCount()).toLatin1());
        // The unknown slot keeps its bytes.
        const qsizetype original_info = synth::Get32(m_original.Bytes, 36);
        QCOMPARE(archive.mid(info + kMusicSlotOffsets[20], 6),
                 m_original.Bytes.mid(original_info + kMusicSlotOffsets[20], 6));
        QCOMPARE(archive.size(), m_original.Bytes.size());
    }

    // Every failure leaves the archive byte for byte as it was.
    void failures_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<bool>("workFolderRemains");
        QTest::newRow("left-over work folder")
            << "workfolder" << QStringList{T("ErrorFolderCreate")} << true;
        QTest::newRow("not an archive")
            << "garbage" << QStringList{T("WarningLoadingBcsar")} << false;
        QTest::newRow("no archive") << "missing" << QStringList{T("WarningLoadingBcsar")} << false;
        QTest::newRow("voice folder missing")
            << "novoice" << QStringList{T("ApplyingVoice"), T("WarningCopyingSoundFiles")} << false;
        QTest::newRow("clip name taken by a folder")
            << "clipfolder" << QStringList{T("ApplyingVoice"), T("WarningCopyingSoundFiles")}
            << false;
        QTest::newRow("INFO too short for the slots")
            << "shortinfo" << QStringList{T("WarningLoadingBcsar")} << false;
    }
    void failures() {
        QFETCH(QString, setup);
        QFETCH(QStringList, entries);
        QFETCH(bool, workFolderRemains);
        auto list = MakeTrackList();
        if (setup == "workfolder") {
            QDir().mkpath(WorkFolder());
        } else if (setup == "garbage") {
            WriteFile(m_archive, "CSAR but nothing else");
        } else if (setup == "missing") {
            QFile::remove(m_archive);
        } else if (setup == "novoice") {
            Host().NoVoice = false;
            WriteFile(m_patch + "voice/ENG/3_BCWAV/000.bcwav", "only English");
        } else if (setup == "clipfolder") {
            Host().NoVoice = false;
            QDir().mkpath(m_patch + "voice/ENG/3_BCWAV/001.bcwav");
        } else if (setup == "shortinfo") {
            WriteArchive(kShortInfo);
            list->SetChanged(true);
            Host().Tracks = list.get();
        }
        const QByteArray before = ReadFile(m_archive);
        QCOMPARE(Apply(setup == "novoice" ? 2 : 0), 1);
        QCOMPARE(Host().Entries, entries);
        QCOMPARE(ReadFile(m_archive), before);
        QCOMPARE(QFileInfo::exists(WorkFolder()), workFolderRemains);
    }
};

QTEST_GUILESS_MAIN(TestVoiceAndMusic)
#include "TestVoiceAndMusic.moc"
