// The track list against real files: list files of patches, the embedded list's text, small
// synthetic source images, and the in-place write of the music slots.

#include "MusicTestImage.h"

#include "desktop/Language.h"
#include "desktop/TrackList.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr std::int64_t kInfoPosition = 0x1235; // odd on purpose: no alignment is assumed

QString EmbeddedListText() {
    QFile file(QStringLiteral(QVT_TRACKLIST_DATA_PATH));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return DecodeTextFile(file.readAll(), false);
}

QByteArray Utf8Bom(const QByteArray& text) {
    return QByteArray("\xEF\xBB\xBF") + text;
}

QByteArray Utf16LeBom(const QString& text) {
    QByteArray bytes("\xFF\xFE");
    for (QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

} // namespace

class TTestTrackList : public QObject {
    Q_OBJECT

private slots:
    void init();
    void readsSlotsOfEmbeddedList();
    void readsSlotsBeyondFourGiB();
    void noPatchIgnoresOtherListFiles();
    void patchListFile_data();
    void patchListFile();
    void formatErrorKeepsTracksButNoSource();
    void unreadableImage_data();
    void unreadableImage();
    void planSkipsSlot11AndReportsUnknown();
    void planReportsIdsNotSixBytes();
    void applyWritesOnlySlotBytes();
    void applyRefusesChangedImage_data();
    void applyRefusesChangedImage();
    void applyCannotOpen();

private:
    QString WriteImage(const TSlotIds& ids, std::int64_t info = kInfoPosition);
    QString MakePatchFolder(const QString& file_name, const QByteArray& content);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_embedded;
};

void TTestTrackList::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_embedded = EmbeddedListText();
    QVERIFY(!m_embedded.isEmpty());
}

QString TTestTrackList::WriteImage(const TSlotIds& ids, std::int64_t info) {
    const QString path = m_dir->filePath(QStringLiteral("source.cia"));
    WriteFileBytes(path, MakeSourceImageBytes(info, ids));
    return path;
}

QString TTestTrackList::MakePatchFolder(const QString& file_name, const QByteArray& content) {
    const QString folder = m_dir->filePath(QStringLiteral("patch/Some Patch"));
    QDir().mkpath(folder);
    WriteFileBytes(folder + u'/' + file_name, content);
    return folder;
}

void TTestTrackList::readsSlotsOfEmbeddedList() {
    TSlotIds ids = DefaultSlotIds();
    ids[0] = "BGM999"; // not listed: shows raw
    ids[1] = "bgm008"; // equal to a listed id only up to case: raw as well
    ids[2] = "BGM008"; // the same track as slot 3 below
    ids[3] = "BGM008";
    TTrackList list(WriteImage(ids), QString(), kInfoPosition, m_embedded);
    QCOMPARE(list.Status(), TTrackListStatus::Ok);
    QCOMPARE(list.GetTrackCount(), 35);
    QCOMPARE(list.GetSlotTrack(0), QStringLiteral("BGM999"));
    QCOMPARE(list.GetSlotTrack(1), QStringLiteral("bgm008"));
    QCOMPARE(list.GetSlotTrack(2), list.GetTrackTitle(0));
    QCOMPARE(list.GetSlotTrack(3), list.GetTrackTitle(0));
    QCOMPARE(list.IndexOfTrackTitle(list.GetSlotTrack(3)), 0);
    QCOMPARE(list.IndexOfTrackId(QStringLiteral("bgm008")), -1);
    // Slots 10 and 11 read the same place.
    QCOMPARE(list.GetSlotTrack(10), list.GetSlotTrack(11));
    QCOMPARE(list.GetSlotTrack(33), list.GetTrackTitle(34));
    QCOMPARE(list.GetTrackGroup(34), 0);
    QCOMPARE(list.GetInfoPosition(), kInfoPosition);
    QVERIFY(!list.GetChanged());
}

void TTestTrackList::readsSlotsBeyondFourGiB() {
    // A sparse file: the INFO partition lies past 4 GiB, which 32-bit positions cannot reach.
    const std::int64_t info = (std::int64_t(1) << 32) + 0x10;
    const QString path = m_dir->filePath(QStringLiteral("big.3ds"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray tail = MakeSourceImageBytes(0, DefaultSlotIds());
        QVERIFY(file.seek(info));
        QCOMPARE(file.write(tail), tail.size());
    }
    TTrackList list(path, QString(), info, m_embedded);
    QCOMPARE(list.Status(), TTrackListStatus::Ok);
    QCOMPARE(list.GetSlotTrack(0), list.GetTrackTitle(0));
    QCOMPARE(list.GetInfoPosition(), info);
    list.SetSlotTrack(0, list.GetTrackTitle(1));
    QCOMPARE(ApplySlotsToSourceImage(list).Status, TDirectApplyStatus::Ok);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.seek(info + kMusicSlotOffsets[0]));
    QCOMPARE(file.read(6), QByteArray("BGM077"));
}

void TTestTrackList::noPatchIgnoresOtherListFiles() {
    MakePatchFolder(QStringLiteral("Tracklist.tls"),
                    Utf8Bom("TrackCount:1\r\nBGM008:\"Only One Track Here\":1"));
    QDir::setCurrent(m_dir->filePath(QStringLiteral("patch/Some Patch")));
    TTrackList list(WriteImage(DefaultSlotIds()), QString(), kInfoPosition, m_embedded);
    QDir::setCurrent(QDir::tempPath());
    QCOMPARE(list.Status(), TTrackListStatus::Ok);
    QCOMPARE(list.GetTrackCount(), 35);
}

void TTestTrackList::patchListFile_data() {
    QTest::addColumn<QString>("file_name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("titles");

    const int ok = int(TTrackListStatus::Ok);
    const int format = int(TTrackListStatus::ErrorTrackListFormat);
    QTest::newRow("fewer tracks, name in other case")
        << "TRACKLIST.TLS"
        << Utf8Bom("TrackCount:2\r\n\r\nBGM013:\"Harbor Theme Remade\":2\r\n"
                   "BGM008:\"Opening Theme Remade\":1")
        << ok << QStringList{"Harbor Theme Remade", "Opening Theme Remade"};
    QTest::newRow("count key in lower case")
        << "Tracklist.tls" << QByteArray("trackcount:1\nBGM008:\"Opening Theme Remade\":1\n") << ok
        << QStringList{"Opening Theme Remade"};
    QTest::newRow("quoted title with colon")
        << "tracklist.tls" << Utf8Bom("TrackCount:1\r\nBGM008:\"Act I: Arrival 2001\":1") << ok
        << QStringList{"Act I: Arrival 2001"};
    QTest::newRow("utf-16 with quotes doubled")
        << "Tracklist.tls"
        << Utf16LeBom(QStringLiteral("TrackCount:1\r\nBGM008:\"The \"\"Grey\"\" Gate\":1")) << ok
        << QStringList{"The \"Grey\" Gate"};
    QTest::newRow("group given as a word")
        << "Tracklist.tls"
        << QByteArray("TrackCount:2\r\nBGM008:\"Opening Theme\":1\r\nBGM013:Harbor at Dusk:2")
        << format << QStringList{"Opening Theme"};
    QTest::newRow("count larger than the tracks")
        << "Tracklist.tls" << QByteArray("TrackCount:3\r\nBGM008:\"A\":1\r\nBGM013:\"B\":2")
        << format << QStringList{"A", "B"};
    QTest::newRow("count not a whole number")
        << "Tracklist.tls" << QByteArray("TrackCount:1.5\r\nBGM008:\"A\":1") << format
        << QStringList{};
    QTest::newRow("count missing")
        << "Tracklist.tls" << QByteArray("BGM008:\"A\":1") << format << QStringList{};
    QByteArray many = "TrackCount:102\r\n";
    for (int i = 0; i < 102; ++i)
        many += QStringLiteral("BGM%1:\"T%1\":1\r\n").arg(i, 3, 10, QChar(u'0')).toLatin1();
    QTest::newRow("more than 101 tracks") << "Tracklist.tls" << many << format << QStringList{};
}

void TTestTrackList::patchListFile() {
    QFETCH(QString, file_name);
    QFETCH(QByteArray, content);
    QFETCH(int, status);
    QFETCH(QStringList, titles);
    const QString folder = MakePatchFolder(file_name, content);
    TTrackList list(WriteImage(DefaultSlotIds()), folder, kInfoPosition, m_embedded);
    QCOMPARE(int(list.Status()), status);
    QStringList read;
    for (int i = 0; i < list.GetTrackCount(); ++i)
        read.append(list.GetTrackTitle(i));
    QCOMPARE(read, titles);
    if (list.Status() == TTrackListStatus::Ok) {
        // Slots naming a listed id show its title, all others the raw id.
        for (int s = 0; s < kMusicSlotCount; ++s) {
            const QString id = QString::fromLatin1(DefaultSlotIds()[s]);
            const int k = list.IndexOfTrackId(id);
            QCOMPARE(list.GetSlotTrack(s), k < 0 ? id : list.GetTrackTitle(k));
        }
    }
}

void TTestTrackList::formatErrorKeepsTracksButNoSource() {
    const QString folder =
        MakePatchFolder(QStringLiteral("Tracklist.tls"),
                        "TrackCount:2\r\nBGM008:\"Opening Theme\":1\r\nBGM013:\"Harbor\":two");
    TTrackList list(WriteImage(DefaultSlotIds()), folder, kInfoPosition, m_embedded);
    QCOMPARE(list.Status(), TTrackListStatus::ErrorTrackListFormat);
    QCOMPARE(list.GetTrackCount(), 1);
    QCOMPARE(list.GetSlotTrack(0), QStringLiteral("Opening Theme"));
    QVERIFY(list.GetSourcePath().isEmpty());
    QVERIFY(!list.GetChanged());
}

void TTestTrackList::unreadableImage_data() {
    QTest::addColumn<int>("damage");
    QTest::newRow("INFO magic missing") << 0;
    QTest::newRow("image ends before the last slot") << 1;
    QTest::newRow("image missing") << 2;
    QTest::newRow("INFO position negative") << 3;
}

void TTestTrackList::unreadableImage() {
    QFETCH(int, damage);
    TSlotIds ids = DefaultSlotIds();
    ids[0] = "BGM999";
    QByteArray bytes = MakeSourceImageBytes(kInfoPosition, ids);
    std::int64_t info = kInfoPosition;
    if (damage == 0)
        bytes[qsizetype(kInfoPosition + 3)] = 'X';
    if (damage == 1)
        bytes.truncate(kInfoPosition + kMusicSlotOffsets[33] + 3);
    if (damage == 3)
        info = -1;
    QString path = m_dir->filePath(QStringLiteral("source.cxi"));
    WriteFileBytes(path, bytes);
    if (damage == 2)
        path += QStringLiteral(".gone");
    TTrackList list(path, QString(), info, m_embedded);
    QCOMPARE(list.Status(), TTrackListStatus::ErrorReadingTracks);
    // The slots keep the titles of the tracks with their numbers.
    for (int s = 0; s < kMusicSlotCount; ++s)
        QCOMPARE(list.GetSlotTrack(s), list.GetTrackTitle(s));
}

void TTestTrackList::planSkipsSlot11AndReportsUnknown() {
    TSlotIds ids = DefaultSlotIds();
    ids[5] = "BGM999";
    TTrackList list(WriteImage(ids), QString(), kInfoPosition, m_embedded);
    list.SetSlotTrack(11, QStringLiteral("never looked at"));
    list.SetSlotTrack(20, QStringLiteral("typed text"));
    const TSlotPlan plan = PlanSlotWrites(list);
    QCOMPARE(plan.UnknownTexts, (QStringList{"BGM999", "typed text"}));
    QCOMPARE(plan.Writes.size(), std::size_t(31));
    for (const TSlotWrite& write : plan.Writes)
        QCOMPARE(write.Id.size(), kTrackIdLength);
    QCOMPARE(plan.Writes.front().Offset, kMusicSlotOffsets[0]);
    QCOMPARE(plan.Writes.front().Id, QByteArray("BGM008"));
    QCOMPARE(plan.Writes.back().Offset, kMusicSlotOffsets[33]);
    QCOMPARE(plan.Writes.back().Id, QByteArray("BGM200"));
}

void TTestTrackList::planReportsIdsNotSixBytes() {
    // Ids of other lengths are listed and chosen like any other, but never written.
    const QString folder = MakePatchFolder(
        QStringLiteral("Tracklist.tls"),
        Utf8Bom("TrackCount:4\r\nBGM08:\"Short Id Track Here\":1\r\nBGM0080:\"Long Id Track "
                "Here\":1\r\nBGMЖ01:\"Wide Id Track Here\":1\r\nBGM200:\"Menu Track Here\":0"));
    TTrackList list(WriteImage(DefaultSlotIds()), folder, kInfoPosition, m_embedded);
    QCOMPARE(list.Status(), TTrackListStatus::Ok);
    QCOMPARE(list.GetTrackCount(), 4);
    for (int s = 0; s < kMusicSlotCount; ++s)
        list.SetSlotTrack(s, list.GetTrackTitle(s % 3));
    list.SetSlotTrack(33, QStringLiteral("Menu Track Here"));
    const TSlotPlan plan = PlanSlotWrites(list);
    QCOMPARE(plan.Writes.size(), std::size_t(1));
    QCOMPARE(plan.Writes[0].Id, QByteArray("BGM200"));
    QCOMPARE(plan.UnknownTexts.size(), 32);
    QCOMPARE(plan.UnknownTexts[0], QStringLiteral("Short Id Track Here"));
    QCOMPARE(plan.UnknownTexts[1], QStringLiteral("Long Id Track Here"));
    QCOMPARE(plan.UnknownTexts[2], QStringLiteral("Wide Id Track Here"));
}

void TTestTrackList::applyWritesOnlySlotBytes() {
    TSlotIds ids = DefaultSlotIds();
    ids[7] = "BGM999";
    const QString path = WriteImage(ids);
    TTrackList list(path, QString(), kInfoPosition, m_embedded);
    list.SetSlotTrack(0, list.GetTrackTitle(2));   // BGM117
    list.SetSlotTrack(11, list.GetTrackTitle(0));  // never written
    list.SetSlotTrack(32, list.GetTrackTitle(34)); // BGM200
    list.SetSlotTrack(33, list.GetTrackTitle(1));  // BGM077
    const TDirectApplyResult result = ApplySlotsToSourceImage(list);
    QCOMPARE(result.Status, TDirectApplyStatus::Ok);
    QCOMPARE(result.UnknownTexts, QStringList{"BGM999"});
    TSlotIds expected_ids = ids;
    expected_ids[0] = "BGM117";
    expected_ids[32] = "BGM200";
    expected_ids[33] = "BGM077";
    QCOMPARE(ReadFileBytes(path), MakeSourceImageBytes(kInfoPosition, expected_ids));
}

void TTestTrackList::applyRefusesChangedImage_data() {
    QTest::addColumn<int>("damage");
    QTest::newRow("INFO magic changed") << 0;
    QTest::newRow("image cut short") << 1;
}

void TTestTrackList::applyRefusesChangedImage() {
    QFETCH(int, damage);
    const QString path = WriteImage(DefaultSlotIds());
    TTrackList list(path, QString(), kInfoPosition, m_embedded);
    QCOMPARE(list.Status(), TTrackListStatus::Ok);
    QByteArray changed = ReadFileBytes(path);
    if (damage == 0)
        changed[qsizetype(kInfoPosition)] = 'i';
    else
        changed.truncate(kInfoPosition + kMusicSlotOffsets[33]);
    WriteFileBytes(path, changed);
    list.SetSlotTrack(0, list.GetTrackTitle(2));
    QCOMPARE(ApplySlotsToSourceImage(list).Status, TDirectApplyStatus::ErrorReadingTracks);
    QCOMPARE(ReadFileBytes(path), changed);
}

void TTestTrackList::applyCannotOpen() {
    const QString path = WriteImage(DefaultSlotIds());
    TTrackList list(path, QString(), kInfoPosition, m_embedded);
    QVERIFY(QFile::remove(path));
    const TDirectApplyResult gone = ApplySlotsToSourceImage(list);
    QCOMPARE(gone.Status, TDirectApplyStatus::CannotOpen);
    QVERIFY(!gone.Reason.isEmpty());
    QVERIFY(!QFile::exists(path)); // not created anew
    QVERIFY(QDir().mkdir(path));
    QCOMPARE(ApplySlotsToSourceImage(list).Status, TDirectApplyStatus::CannotOpen);
}

QTEST_GUILESS_MAIN(TTestTrackList)
#include "TestTrackList.moc"
