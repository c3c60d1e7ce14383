// Whole installations through the real main window under the offscreen platform: a sample
// image chosen through the open dialog, an output through the save dialog, the sample patch
// with a voice choice and a changed music assignment, the install button, and the real tools.
// The written image is identified and taken apart again to see what it holds.

#include "RecordingForm.h"
#include "tests/desktop/KindPairs.h"
#include "tests/desktop/RealProgramFolder.h"

#include "ctr/Verify.h"
#include "ctr/Z3ds.h"
#include "desktop/Decryption.h"
#include "desktop/FileTools.h"
#include "desktop/Identify.h"
#include "desktop/InstallJob.h"
#include "desktop/ModFolder.h"
#include "desktop/PatchCatalogue.h"
#include "desktop/TrackList.h"
#include "gui/ChangeMusic.h"
#include "gui/FileDialogs.h"
#include "gui/Main.h"
#include "gui/MessageBoxes.h"
#include "sample/SampleCrypt.h"
#include "tests/sound_archive/BcsarQt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <iterator>
#include <random>

#include <memory>
#include <vector>

namespace {

int FilterIndexOf(const QString& kind) {
    return kind == QLatin1String(".cia") ? 1 : kind == QLatin1String(".cxi") ? 2 : 3;
}

} // namespace

class TestInstallEndToEnd : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_program;
    QString m_patch;
    QByteArray m_patched_pack;
    TLanguageTable m_texts;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_program = m_dir.path() + QStringLiteral("/program");
        QVERIFY(MakeRealProgramFolder(m_program, true));
        // No key files but those a test chooses: the emulators' folders are empty ones.
        const QByteArray no_emulators = QFile::encodeName(m_dir.path() + "/no emulators");
        qputenv("XDG_DATA_HOME", no_emulators);
        if (qEnvironmentVariableIsSet("APPDATA"))
            qputenv("APPDATA", no_emulators);
        m_patch = m_program + QStringLiteral("/patch/Demo");
        m_patched_pack = ExpectedPatchedPackDat(m_dir.path() + QStringLiteral("/expected.dat"));
        QVERIFY(!m_patched_pack.isEmpty());
        QVERIFY(m_texts.LoadFile(m_program + QStringLiteral("/lang/English.lng")));
        SetMessageHook([](TMessageKind, const QString& text) { QFAIL(qPrintable(text)); });
    }

    void install_data() { AddKindPairRows(); }
    void install() {
        QFETCH(QString, kind);
        QFETCH(QString, outputKind);
        const QString row = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_');
        const QString source = m_dir.path() + "/source " + row + kind;
        // Every image carries the same content and so the same patch; the last one written wins.
        QCOMPARE(WriteSampleImage(m_program + "/tools", kind, source, m_patch), QString());
        const QString source_md5 = FileMD5Hex(source);

        TRecordingForm form(m_program);
        QVERIFY(!form.StartupFailed());
        form.show();
        const auto control = [&](const char* name) {
            return form.findChild<QWidget*>(QLatin1String(name));
        };

        QueueFileDialogAnswer({true, source, 1});
        QTest::mouseClick(static_cast<QPushButton*>(control("btOldRomPath")), Qt::LeftButton);
        QVERIFY(control("btNewRomPath")->isEnabled());
        const QString output = m_dir.path() + "/output " + row + outputKind;
        QueueFileDialogAnswer({true, output, FilterIndexOf(outputKind)});
        QTest::mouseClick(static_cast<QPushButton*>(control("btNewRomPath")), Qt::LeftButton);
        auto* patches = static_cast<QComboBox*>(control("CBPatch"));
        QCOMPARE(patches->count(), 2);
        patches->setCurrentIndex(1);
        QVERIFY(control("TntRadioGroup2")->isEnabled());
        QTest::mouseClick(form.findChild<QRadioButton*>("TntRadioGroup2Item1"), Qt::LeftButton);

        // A new music assignment, as the music window's save leaves it.
        TTrackList* tracks = form.State().TrackList.get();
        QVERIFY(tracks && tracks->Status() == TTrackListStatus::Ok);
        const int chosen = tracks->GetTrackCount() - 1;
        tracks->SetSlotTrack(0, tracks->GetTrackTitle(chosen));
        tracks->SetSlotTrack(33, tracks->GetTrackTitle(chosen));
        tracks->SetChanged(true);

        QTest::mouseClick(static_cast<QPushButton*>(control("BTNInstallPatch")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            form.Worker() == nullptr && control("BTNInstallPatch")->isEnabled(), 120000);

        // The log: start entry, every stage in order, the read-back, the success entry.
        const QString log = static_cast<QPlainTextEdit*>(control("MemoLog"))->toPlainText();
        QStringList keys = {"StartPatching"};
        if (kind != ".cxi")
            keys << "ExtractingNCCH";
        keys << "ExtractingExeFS"
             << "ExtractingRomFS"
             << "UnpackingRomFS"
             << "ExtractingCXIHeaders"
             << "ExtractingExeFSHeaders"
             << "CheckingMD5PackDat"
             << "MD5Matched"
             << "CheckingMD5PackInc"
             << "MD5Matched"
             << "ApplyingXdelta"
             << "ApplyingVoice"
             << "ChangingMusic"
             << "RebuildingExeFS"
             << "RebuildingRomFS"
             << "RebuildingCXI";
        if (outputKind == ".cia")
            keys << "RebuildingCIA";
        if (outputKind == ".3ds")
            keys << "Rebuilding3DS";
        keys << "VerifyingOutput"
             << "PatchingSuccessful";
        qsizetype at = 0;
        for (const QString& key : keys) {
            const qsizetype found = log.indexOf(m_texts.Lookup(key), at);
            QVERIFY2(found >= 0, qPrintable(key + " missing or out of order in:\n" + log));
            at = found + 1;
        }
        QVERIFY2(log.endsWith("\n[" + QDir::toNativeSeparators(output) + "]"), qPrintable(log));
        QVERIFY(!log.contains(m_texts.Lookup("WarningApplyingVoice")));
        QVERIFY(!log.contains(m_texts.Lookup("WarningUnknownTrack")));

        std::vector<int> progress = {0, 5, 10, 20, 30, 35, 40, 45, 50, 65, 75, 75, 80, 85, 90};
        if (kind == ".cxi")
            progress.erase(progress.begin() + 1);
        if (outputKind != ".cxi")
            progress.push_back(95);
        progress.push_back(100);
        // Every stage's value in order; between them the tools' own reports move the bar,
        // never backwards and never past the next stage's value.
        const std::vector<int> seen = form.Values();
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QVERIFY(std::includes(seen.begin(), seen.end(), progress.begin(), progress.end()));
        std::vector<int> inside;
        std::set_difference(seen.begin(), seen.end(), progress.begin(), progress.end(),
                            std::back_inserter(inside));
        QVERIFY2(std::any_of(inside.begin(), inside.end(), [](int v) { return v > 20 && v < 30; }),
                 "the RomFS unpacking moves the bar");

        QVERIFY(!QFileInfo::exists(m_program + "/tools/temp"));
        QCOMPARE(static_cast<QProgressBar*>(control("ProgressBar1"))->value(), 0);
        for (const char* name : {"CBLang", "btOldRomPath", "ebOldRom", "btNewRomPath", "ebNewRom",
                                 "CBPatch", "BTNMusicChange", "BTNInstallPatch", "TntRadioGroup2"})
            QVERIFY2(control(name)->isEnabled(), name);
        QVERIFY(!control("BTNCancel")->isEnabled());
        QCOMPARE(FileMD5Hex(source), source_md5);

        // The image: identified as the window identifies sources, then taken apart.
        const TIdentifyResult identity = IdentifySourceImage(output, m_texts);
        QVERIFY(identity.Usable());
        QCOMPARE(identity.Kind, outputKind);
        QFile image(output);
        QVERIFY(image.open(QIODevice::ReadOnly));
        QVERIFY(image.seek(identity.InfoPosition + kMusicSlotOffsets[0]));
        const QByteArray chosen_id = tracks->GetTrackId(chosen).toLatin1();
        QCOMPARE(image.read(6), chosen_id);
        QVERIFY(image.seek(identity.InfoPosition + kMusicSlotOffsets[33]));
        QCOMPARE(image.read(6), chosen_id);

        const QString parts = m_dir.path() + "/parts " + row;
        QCOMPARE(ExtractImage(m_program, output, outputKind, parts), QString());
        QVERIFY(ReadWholeFile(parts + "/romfs/pack.dat") == m_patched_pack);
        for (const QString& name : QDir(m_patch + "/exefs").entryList(QDir::Files))
            QVERIFY2(ReadWholeFile(parts + "/exefs/" + name) ==
                         ReadWholeFile(m_patch + "/exefs/" + name),
                     qPrintable(name));
        QCOMPARE(ReadWholeFile(parts + "/romfs/text/notes.msg"),
                 ReadWholeFile(m_patch + "/romfs/text/notes.msg"));
        QCOMPARE(ReadWholeFile(parts + "/romfs/pack.inc"),
                 ReadWholeFile(m_patch + "/romfs/pack.inc"));

        const QString sound = parts + "/sound";
        QDir().mkpath(sound);
        QCOMPARE(UnpackBcsar(ReadWholeFile(parts + "/romfs/sound/QK123.bcsar"), sound, 0, false),
                 0);
        const QString voices = m_patch + "/voice/JAP MOD/3_BCWAV/";
        const QStringList clips = QDir(voices).entryList(QDir::Files);
        QVERIFY(!clips.isEmpty());
        for (const QString& clip : clips)
            QVERIFY2(ReadWholeFile(sound + "/4_CSAR_FILE/3_CWAR/3_BCWAV/" + clip) ==
                         ReadWholeFile(voices + clip),
                     qPrintable(clip));
        form.close();
    }

    // Runs the window from source to finish with the sample patch, `voice` and a changed
    // music assignment; returns the log.
    QString RunWindow(TRecordingForm& form, const QString& source, const QString& output,
                      int filter_index, int voice, const QString& patch_title = QString()) {
        form.show();
        const auto control = [&](const char* name) {
            return form.findChild<QWidget*>(QLatin1String(name));
        };
        QueueFileDialogAnswer({true, source, 1});
        QTest::mouseClick(static_cast<QPushButton*>(control("btOldRomPath")), Qt::LeftButton);
        QueueFileDialogAnswer({true, output, filter_index});
        QTest::mouseClick(static_cast<QPushButton*>(control("btNewRomPath")), Qt::LeftButton);
        auto* patches = static_cast<QComboBox*>(control("CBPatch"));
        patches->setCurrentIndex(patch_title.isEmpty() ? 1 : patches->findText(patch_title));
        QTest::mouseClick(
            form.findChild<QRadioButton*>("TntRadioGroup2Item" + QString::number(voice)),
            Qt::LeftButton);
        TTrackList* tracks = form.State().TrackList.get();
        if (tracks && tracks->Status() == TTrackListStatus::Ok) {
            tracks->SetSlotTrack(5, tracks->GetTrackTitle(tracks->GetTrackCount() - 1));
            tracks->SetChanged(true);
        }
        QTest::mouseClick(static_cast<QPushButton*>(control("BTNInstallPatch")), Qt::LeftButton);
        const auto finished = [&] {
            return form.Worker() == nullptr && control("BTNInstallPatch")->isEnabled();
        };
        for (int waited = 0; !finished() && waited < 120000; waited += 20)
            QTest::qWait(20);
        return static_cast<QPlainTextEdit*>(control("MemoLog"))->toPlainText();
    }

    // A compressed form through the window: the card image is built in tools/temp and then
    // compressed into the output by a stage of its own, the bar moving on through it;
    // decompressed, the output is the .3ds output of the same choices.
    void compressedOutput() {
        const QString source = m_dir.path() + "/for compression.3ds";
        QCOMPARE(WriteSampleImage(m_program + "/tools", ".3ds", source, m_patch), QString());
        const QString plain = m_dir.path() + "/plain card.3ds";
        const QString packed = m_dir.path() + "/compressed card.zcci";
        {
            TRecordingForm form(m_program);
            QVERIFY(RunWindow(form, source, plain, 3, 1)
                        .endsWith("[" + QDir::toNativeSeparators(plain) + "]"));
            form.close();
        }
        TRecordingForm form(m_program);
        const QString log = RunWindow(form, source, packed, 8, 1);
        qsizetype at = 0;
        for (const char* key : {"Rebuilding3DS", "CompressingOutput", "Done", "VerifyingOutput",
                                "PatchingSuccessful"}) {
            const qsizetype found = log.indexOf(m_texts.Lookup(key), at);
            QVERIFY2(found >= 0, qPrintable(QString(key) + " missing or out of order in:\n" + log));
            at = found + 1;
        }
        QVERIFY2(log.endsWith("\n[" + QDir::toNativeSeparators(packed) + "]"), qPrintable(log));
        const std::vector<int> seen = form.Values();
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        for (const int value : {95, 97, 99, 100})
            QVERIFY2(std::binary_search(seen.begin(), seen.end(), value),
                     qPrintable(QString::number(value)));
        QVERIFY(!QFileInfo::exists(m_program + "/tools/temp"));
        form.close();

        const QString read_back = m_dir.path() + "/compressed card read back.3ds";
        ctr::DecompressImage(packed.toStdU16String(), read_back.toStdU16String());
        QCOMPARE(FileMD5Hex(read_back), FileMD5Hex(plain));
    }

    // A mod folder holds exactly the files of a CIA made with the same choices that differ
    // from the source's, under the title ID of the source's region; an earlier folder of the
    // same game is kept under a new name.
    void modFolder_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("region");
        QTest::addColumn<int>("voice");
        QTest::addColumn<QString>("titleId");
        QTest::newRow("CIA EUR") << ".cia"
                                 << "EUR" << 0 << "0004000000133300";
        QTest::newRow("CXI USA") << ".cxi"
                                 << "USA" << 1 << "0004000000138F00";
        QTest::newRow("3DS JAP") << ".3ds"
                                 << "JAP" << 2 << "0004000000108800";
    }
    void modFolder() {
        QFETCH(QString, kind);
        QFETCH(QString, region);
        QFETCH(int, voice);
        QFETCH(QString, titleId);
        const QString base = m_dir.path() + "/mods " + region;
        const QString source = base + kind;
        QCOMPARE(WriteSampleImage(m_program + "/tools", kind, source, m_patch, region), QString());
        const QString source_md5 = FileMD5Hex(source);

        const QString cia = base + " image.cia";
        {
            TRecordingForm form(m_program);
            const QString log = RunWindow(form, source, cia, 1, voice);
            QVERIFY2(log.contains(m_texts.Lookup("PatchingSuccessful")), qPrintable(log));
            form.close();
        }
        QCOMPARE(ExtractImage(m_program, cia, ".cia", base + " cia parts"), QString());
        QCOMPARE(ExtractImage(m_program, source, kind, base + " source parts"), QString());

        const QString output = base + " out";
        QVERIFY(QDir().mkpath(output + "/" + titleId));
        QVERIFY(QFile(source).copy(output + "/" + titleId + "/kept.bin"));
        TRecordingForm form(m_program);
        // The earlier folder was not written by the program: the window names its file and
        // goes on only when told to.
        QStringList questions;
        SetChoiceHook([&](TMessageKind, const QString& text, const QString& choice) {
            questions << text;
            return choice == m_texts.Lookup("ModForeignFilesGoOn");
        });
        const QString log = RunWindow(form, source, output, kind == ".3ds" ? 4 : 3, voice);
        SetChoiceHook({});
        QCOMPARE(questions.size(), 1);
        QVERIFY2(questions.front().contains("\r\nkept.bin\r\n"), qPrintable(questions.front()));
        const QString folder = output + "/" + titleId;
        QVERIFY2(log.endsWith(m_texts.Lookup("ModFolderSuccessful") + "\n[" +
                              QDir::toNativeSeparators(folder) + "]"),
                 qPrintable(log));
        QVERIFY(log.contains(m_texts.Lookup("ModDestinationFolder") + "\n[" +
                             QDir::toNativeSeparators(output) + "]"));
        QVERIFY(log.contains(m_texts.Lookup("ModBannerIcon")));
        QVERIFY(log.contains(m_texts.Lookup("WarningModNewFiles") + "\ntext/notes.msg\n"));
        QVERIFY(QFileInfo::exists(output + "/" + titleId + " (previous)/kept.bin"));
        QCOMPARE(QDir(output).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 2);
        QVERIFY(!QFileInfo::exists(m_program + "/tools/temp"));
        QCOMPARE(FileMD5Hex(source), source_md5);

        QStringList expected;
        const QString cia_romfs = base + " cia parts/romfs/";
        for (const QString& path : FilesBelow(cia_romfs)) {
            if (ReadWholeFile(cia_romfs + path) !=
                ReadWholeFile(base + " source parts/romfs/" + path))
                expected << "romfs/" + path;
        }
        QVERIFY(expected.contains("romfs/pack.dat"));
        QVERIFY(expected.contains("romfs/sound/QK123.bcsar"));
        expected << "exefs/banner.bnr";
        expected.sort();
        QStringList written = FilesBelow(folder);
        QVERIFY(written.removeOne(kModMarkerName));
        QCOMPARE(written, expected);
        for (const QString& path : expected) {
            const QString in_cia = path == "exefs/banner.bnr" ? base + " cia parts/exefs/banner.bnr"
                                                              : cia_romfs + path.mid(6);
            QVERIFY2(ReadWholeFile(folder + "/" + path) == ReadWholeFile(in_cia), qPrintable(path));
        }

        // The remove button, once agreed to, takes the folder away and brings back the
        // earlier one.
        auto* remove = form.findChild<QPushButton*>("BTNRemoveMods");
        QVERIFY(remove->isEnabled());
        questions.clear();
        SetChoiceHook([&](TMessageKind, const QString& text, const QString& choice) {
            questions << text;
            return choice == m_texts.Lookup("ModRemoveChoice");
        });
        QTest::mouseClick(remove, Qt::LeftButton);
        SetChoiceHook({});
        QCOMPARE(questions.size(), 1);
        QVERIFY2(questions.front().contains(m_texts.Lookup("ModRemoveBringsBack")),
                 qPrintable(questions.front()));
        QCOMPARE(QDir(output).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{titleId});
        QCOMPARE(FilesBelow(folder), QStringList{"kept.bin"});
        QVERIFY(form.findChild<QPlainTextEdit*>("MemoLog")->toPlainText().contains(
            m_texts.Lookup("ModRemoveRestored")));
        form.close();
    }

    // A run that cannot finish leaves no mod folder, no success entry and an earlier folder as
    // it was: an output below a file, and a cancel at each progress step.
    void modFolderFails_data() {
        QTest::addColumn<bool>("blocked");
        QTest::addColumn<int>("cancelAt");
        QTest::newRow("output below a file") << true << -1;
        for (int value : {5, 20, 45, 50, 65, 75, 80, 90, 95})
            QTest::newRow(qPrintable("cancel at " + QString::number(value))) << false << value;
    }
    void modFolderFails() {
        QFETCH(bool, blocked);
        QFETCH(int, cancelAt);
        const QString source = m_dir.path() + "/failing.cia";
        if (!QFileInfo::exists(source))
            QCOMPARE(WriteSampleImage(m_program + "/tools", ".cia", source, m_patch), QString());
        const QString output = m_dir.path() + "/failing out";
        QDir(output).removeRecursively();
        QVERIFY(QDir().mkpath(output + "/0004000000133300"));
        QString target = output;
        if (blocked) {
            QVERIFY(QFile(source).copy(output + "/file"));
            target = output + "/file/mods";
        }
        TRecordingForm form(m_program);
        form.CancelAt = cancelAt;
        const QString log = RunWindow(form, source, target, 3, 0);
        QVERIFY2(!log.contains(m_texts.Lookup("ModFolderSuccessful")), qPrintable(log));
        QCOMPARE(log.contains(m_texts.Lookup("ErrorWritingModFolder")), blocked);
        QStringList left = {"0004000000133300"};
        QCOMPARE(QDir(output).entryList(QDir::Dirs | QDir::NoDotAndDotDot), left);
        QVERIFY(QDir(output + "/0004000000133300").isEmpty());
        QVERIFY(!QFileInfo::exists(m_program + "/tools/temp"));
        form.close();
    }

    // An encrypted image with no key file anywhere: the window says so and offers the choice;
    // the made-up key file chosen (its seed database beside it) identifies it, reads its music,
    // refuses to write plain music into it and installs it. No key reaches the log.
    void encryptedImageWithChosenKeyFile() {
        const QString plain = m_dir.path() + "/plain for keys.cia";
        QCOMPARE(WriteSampleImage(m_program + "/tools", ".cia", plain, QString()), QString());
        std::mt19937_64 random{std::random_device{}()};
        ctr::TCryptoKeys keys = sample::MakeUpKeys(random());
        sample::TEncryption encryption;
        encryption.CryptoMethod = 0x0B;
        encryption.Seed = ctr::TSeed{static_cast<std::uint8_t>(random()), 7, 7, 7};
        const QString source = m_dir.path() + "/encrypted.cia";
        sample::EncryptImage(plain.toStdU16String(), ctr::TImageKind::Cia, source.toStdU16String(),
                             encryption, keys);
        const QString key_file = m_dir.path() + "/my keys/aes_keys.txt";
        QVERIFY(QDir().mkpath(m_dir.path() + "/my keys"));
        sample::WriteKeyFiles(key_file.toStdU16String(), keys);
        QStringList secrets;
        for (const QString& line :
             QString::fromStdString(ctr::FormatKeyFile(keys.Keys)).split('\n', Qt::SkipEmptyParts))
            secrets << line.section('=', 1);
        const QString source_md5 = FileMD5Hex(source);
        SetKeySearch({});

        TRecordingForm form(m_program);
        form.show();
        const auto log = [&] { return form.findChild<QPlainTextEdit*>("MemoLog")->toPlainText(); };
        QStringList offers;
        QString log_at_offer;
        SetChoiceHook([&](TMessageKind, const QString& text, const QString& choice) {
            offers << text + "|" + choice;
            if (offers.size() == 1)
                log_at_offer = log();
            return true;
        });
        QueueFileDialogAnswer({true, source, 1});
        QueueFileDialogAnswer({true, key_file, 1});
        QTest::mouseClick(form.findChild<QPushButton*>("btOldRomPath"), Qt::LeftButton);
        SetChoiceHook({});
        QCOMPARE(offers, QStringList({m_texts.Lookup("EncryptedChooseKeys") + "|" +
                                          m_texts.Lookup("ChooseKeyFile"),
                                      m_texts.Lookup("KeyFilesCopyQuestion") + "|" +
                                          m_texts.Lookup("KeyFilesCopy")}));
        QVERIFY2(log_at_offer.contains(m_texts.Lookup("LogEncryptedNoKeys")),
                 qPrintable(log_at_offer));
        QCOMPARE(LastFileDialogFilter(), KeyFileFilter());
        QVERIFY2(log().contains(m_texts.Lookup("LogEncryptedWillDecrypt")), qPrintable(log()));
        QVERIFY(form.findChild<QWidget*>("btNewRomPath")->isEnabled());
        // Agreed: both files were copied into the program's keys.
        QCOMPARE(ReadWholeFile(m_program + "/keys/aes_keys.txt"), ReadWholeFile(key_file));
        QVERIFY(QFileInfo(m_program + "/keys/seeddb.bin").isFile());
        QVERIFY(QDir(m_program + "/keys").removeRecursively());

        // The music is that of the decrypted image; written straight into the source, refused.
        const QString output = m_dir.path() + "/from encrypted.cia";
        QueueFileDialogAnswer({true, output, 1});
        QTest::mouseClick(form.findChild<QPushButton*>("btNewRomPath"), Qt::LeftButton);
        QVERIFY(form.State().TrackList);
        const TTrackList from_plain(plain, QString(), form.State().InfoPosition,
                                    DefaultTrackListData());
        TTrackList& tracks = *form.State().TrackList;
        QVERIFY(tracks.Status() == TTrackListStatus::Ok);
        for (int slot = 0; slot < kMusicSlotCount; ++slot)
            QCOMPARE(tracks.GetSlotTrack(slot), from_plain.GetSlotTrack(slot));
        QStringList messages;
        SetMessageHook([&](TMessageKind, const QString& text) { messages << text; });
        {
            TForm2 music(tracks, form.State().LanguageTable, m_program + "/", "English",
                         [](const QString&) {});
            music.show();
            music.findChild<QCheckBox*>("CBApplyDirectly")->setChecked(true);
            QTest::mouseClick(music.findChild<QPushButton*>("TntButton4"), Qt::LeftButton);
            QVERIFY(music.result() != QDialog::Accepted);
        }
        SetMessageHook([](TMessageKind, const QString& text) { QFAIL(qPrintable(text)); });
        QCOMPARE(messages, QStringList{m_texts.Lookup("ErrorApplyDirectlyEncrypted")});
        QCOMPARE(FileMD5Hex(source), source_md5);

        // The key file stays chosen for the session: the install decrypts with it.
        const QString run_log = RunWindow(form, source, output, 1, 0);
        SetKeySearch({});
        QVERIFY2(run_log.contains(m_texts.Lookup("DecryptingSource")) &&
                     run_log.contains(m_texts.Lookup("PatchingSuccessful")),
                 qPrintable(run_log));
        QCOMPARE(CheckOutputImage(output, ".cia", m_texts), QString());
        QCOMPARE(FileMD5Hex(source), source_md5);
        for (const QString& secret : secrets)
            QVERIFY2(!(log_at_offer + run_log).contains(secret, Qt::CaseInsensitive),
                     "a key appears in the log");
        form.close();
    }

    // A patch made by qvtpatch make-patch from a changed tree installs through the window to a
    // mod folder that holds that tree (the sound archive aside, which the run's voice and music
    // step rewrites).
    void madePatchInstallsThroughTheWindow() {
        const QString base = m_dir.path() + "/made";
        const QString source = base + "/game.cia";
        QCOMPARE(WriteSampleImage(m_program + "/tools", ".cia", source, base + "/sample"),
                 QString());
        // The changed tree: the sample patch installed as a mod folder, with a changed code.
        QVERIFY(DeleteFolder(base + "/sample/voice"));
        QProcess qvtpatch;
        qvtpatch.start(m_program + "/qvtpatch",
                       {"install", "--source", source, "--output", base + "/changed", "--kind",
                        "mods", "--patch", base + "/sample", "--quiet"});
        QVERIFY(qvtpatch.waitForFinished(300000) && qvtpatch.exitCode() == 0);
        const QString changed = base + "/changed/0004000000133300";
        std::vector<std::uint8_t> code =
            ctr::ReadImageCode(source.toStdU16String(), ctr::TImageKind::Cia);
        code[0x80] ^= 0xFF;
        QFile code_file(changed + "/code.bin");
        QVERIFY(code_file.open(QIODevice::WriteOnly));
        code_file.write(reinterpret_cast<const char*>(code.data()), qsizetype(code.size()));
        code_file.close();

        const QString made = m_program + "/patch/Made";
        qvtpatch.start(m_program + "/qvtpatch", {"make-patch", "--source", source, "--changed",
                                                 changed, "--out", made, "--title", "Made here"});
        QVERIFY(qvtpatch.waitForFinished(300000));
        QVERIFY2(qvtpatch.exitCode() == 0, qvtpatch.readAllStandardError().constData());

        TRecordingForm form(m_program);
        QVERIFY(QDir().mkpath(base + "/out"));
        const QString log = RunWindow(form, source, base + "/out", 3, 0, "Made here");
        QVERIFY(DeleteFolder(made));
        QVERIFY2(log.contains(m_texts.Lookup("ModFolderSuccessful")), qPrintable(log));
        const QString installed = base + "/out/0004000000133300";
        QStringList files = FilesBelow(installed);
        QVERIFY(files.removeAll("romfs/sound/QK123.bcsar") == 1);
        QVERIFY(files.removeAll(kModMarkerName) == 1);
        QStringList expected = FilesBelow(changed);
        expected.removeAll("romfs/sound/QK123.bcsar");
        expected.removeAll(kModMarkerName); // the changed files came from a run's folder
        QCOMPARE(files, expected);
        QVERIFY(files.contains("code.bin") && files.contains("romfs/pack.dat"));
        for (const QString& path : files)
            QVERIFY2(ReadWholeFile(installed + "/" + path) == ReadWholeFile(changed + "/" + path),
                     qPrintable(path));
        form.close();
    }

    // The fit check marks each patch once the chosen image's digests are known: the sample
    // patch fits its game; a patch made for other data does not fit and its install explains
    // why; the patched output carries the sample patch already.
    void fitMarksExplainWhatCannotBeInstalled() {
        const QString base = m_dir.path() + "/fit";
        const QString source = base + "/game.cia";
        QCOMPARE(WriteSampleImage(m_program + "/tools", ".cia", source, m_patch), QString());
        const auto sample = ReadPatchDescription(m_patch + "/English.dsc");
        QVERIFY(sample && !sample->PatchedPackDatMD5.isEmpty());
        TPatchDescription other = *sample;
        other.Title = "Other data";
        other.OriginalPackDatMD5 = "00112233445566778899AABBCCDDEEFF";
        const QString other_folder = m_program + "/patch/Other";
        QVERIFY(QDir().mkpath(other_folder));
        QVERIFY(WritePatchDescription(other_folder + "/English.dsc", other));
        const auto remove_other = qScopeGuard([&] { DeleteFolder(other_folder); });
        QStringList messages;
        SetMessageHook([&](TMessageKind, const QString& text) { messages << text; });
        const auto fail_on_messages = qScopeGuard([] {
            SetMessageHook([](TMessageKind, const QString& text) { QFAIL(qPrintable(text)); });
        });

        TRecordingForm form(m_program);
        form.show();
        auto* patches = form.findChild<QComboBox*>("CBPatch");
        auto* status = form.findChild<QLabel*>("LFitStatus");
        const auto choose = [&](const QString& image, const QString& output) {
            QueueFileDialogAnswer({true, image, 1});
            form.findChild<QPushButton*>("btOldRomPath")->click();
            QueueFileDialogAnswer({true, output, 1});
            form.findChild<QPushButton*>("btNewRomPath")->click();
            QTRY_VERIFY_WITH_TIMEOUT(form.SourceDigests().has_value(), 60000);
        };
        const auto mark = [&](const QString& title) {
            return patches->itemData(patches->findText(title), Qt::ToolTipRole).toString();
        };
        choose(source, base + "/out.cia");
        QCOMPARE(mark(sample->Title), m_texts.Lookup("FitMarkFits"));
        QCOMPARE(mark("Other data"), m_texts.Lookup("FitMarkDiffers"));
        patches->setCurrentIndex(patches->findText("Other data"));
        QCOMPARE(status->text(), m_texts.Lookup("FitMarkDiffers"));
        form.findChild<QPushButton*>("BTNInstallPatch")->click();
        QVERIFY(form.Worker() == nullptr);
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(sample->OriginalPackDatMD5) &&
                     messages[0].contains(other.OriginalPackDatMD5) &&
                     messages[0].contains("region EUR"),
                 qPrintable(messages[0]));

        // The fitting patch installs; its run takes pack.dat's digest from the check.
        const QString log = RunWindow(form, source, base + "/out.cia", 1, 0, sample->Title);
        QVERIFY2(log.contains(m_texts.Lookup("PatchingSuccessful")), qPrintable(log));
        QVERIFY(log.contains("This MD5: " + sample->OriginalPackDatMD5));

        messages.clear();
        choose(base + "/out.cia", base + "/again.cia");
        QCOMPARE(mark(sample->Title), m_texts.Lookup("FitMarkInstalled"));
        patches->setCurrentIndex(patches->findText(sample->Title));
        form.findChild<QPushButton*>("BTNInstallPatch")->click();
        QVERIFY(form.Worker() == nullptr);
        QCOMPARE(messages, QStringList{m_texts.Lookup("PatchAlreadyInstalled")});
        form.close();
    }

    // The read-back of an output: a good image passes; one byte changed in the RomFS file data
    // (level 3, here inside the sound archive) is found by the hash check.
    void outputCheckFindsDamage_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("CIA") << ".cia";
        QTest::newRow("CXI") << ".cxi";
        QTest::newRow("3DS") << ".3ds";
    }
    void outputCheckFindsDamage() {
        QFETCH(QString, kind);
        const QString image = m_dir.path() + "/checked" + kind;
        QCOMPARE(WriteSampleImage(m_program + "/tools", kind, image, QString()), QString());
        QCOMPARE(CheckOutputImage(image, kind, m_texts), QString());
        const std::atomic<bool> stop{true}; // the window is closing: the check gives up
        QVERIFY(!CheckOutputImage(image, kind, m_texts, &stop).isEmpty());

        const auto place =
            ctr::FindRomFsFile(QFile::encodeName(image).toStdString(),
                               *ctr::ImageKindFromText(kind.toStdString()), "sound/QK123.bcsar");
        QVERIFY(place && place->Size > 0x100);
        QFile file(image);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(static_cast<qint64>(place->Offset + 0x80)));
        char byte = 0;
        QVERIFY(file.getChar(&byte));
        QVERIFY(file.seek(static_cast<qint64>(place->Offset + 0x80)));
        QVERIFY(file.putChar(static_cast<char>(byte ^ 0x5A)));
        file.close();
        QVERIFY(!CheckOutputImage(image, kind, m_texts).isEmpty());
    }
};

QTEST_MAIN(TestInstallEndToEnd)
#include "TestInstallEndToEnd.moc"
