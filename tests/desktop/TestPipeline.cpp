// The install pipeline run by the three workers against stand-in tools (real processes),
// reporting to a recording host.

#include "KindPairs.h"
#include "RecordingHost.h"
#include "StageProgress.h"
#include "StandInTools.h"

#include "desktop/FileTools.h"
#include "desktop/Install3DS.h"
#include "desktop/InstallCIA.h"
#include "desktop/InstallCXI.h"
#include "desktop/InstallJob.h"
#include "desktop/InstallRun.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

const QStringList kKeys = {"StartPatching",
                           "ExtractingNCCH",
                           "ExtractingExeFS",
                           "ExtractingRomFS",
                           "UnpackingRomFS",
                           "ExtractingCXIHeaders",
                           "ExtractingExeFSHeaders",
                           "CheckingMD5PackDat",
                           "CheckingMD5PackInc",
                           "MD5Matched",
                           "MD5NotMatched",
                           "ApplyingXdelta",
                           "RebuildingExeFS",
                           "RebuildingRomFS",
                           "RebuildingCXI",
                           "RebuildingCIA",
                           "Rebuilding3DS",
                           "Done",
                           "PatchingSuccessful",
                           "ErrorExtractingNCCH",
                           "ErrorExtractingExeFs",
                           "ErrorExtractingRomFS",
                           "ErrorUnpackingRomFS",
                           "ErrorExtractingCXIHeaders",
                           "ErrorExtractingExeFSHeaders",
                           "ErrorApplyingXdelta",
                           "ErrorRebuildingExeFS",
                           "ErrorRebuildingRomFS",
                           "ErrorRebuildingCXI",
                           "ErrorRebuildingCIA",
                           "ErrorRebuilding3DS",
                           "ErrorCheckingMD5PackDat",
                           "ErrorCheckingMD5PackInc",
                           "ErrorMovingPackDat",
                           "ErrorDeleteTempFile",
                           "ErrorFolderCreate",
                           "ErrorFolderDelete",
                           "ErrorCopyingExeFsFolder",
                           "ErrorCopyingRomFsFolder",
                           "UnkctrtoolError",
                           "Unk3dstoolError",
                           "UnkXdeltaError",
                           "UnkMakeromError",
                           "InstallCanceled",
                           "WarningApplyingVoice",
                           "WarningLoadingBcsar",
                           "WarningPackingBcsar",
                           "WarningCopyingSoundFiles",
                           "ApplyingVoice",
                           "ChangingMusic",
                           "WarningUnknownTrack",
                           "WarningDiskSpace",
                           "ErrorToolCannotStart",
                           "VerifyingOutput",
                           "ErrorVerifyingOutput"};

QString T(const char* key) {
    return QStringLiteral("<%1>").arg(QLatin1String(key));
}
QString Sep(const char* key) {
    return QStringLiteral("\r\n") + T(key);
}
QString Framed(const char* key) {
    return QStringLiteral("\r\n") + T(key) + QStringLiteral("\r\n");
}
QString Success(const QString& file) {
    return QStringLiteral("\r\n<PatchingSuccessful>\r\n[") + file + QLatin1Char(']');
}

QByteArray Md5Of(const QByteArray& bytes) {
    QProcess md5;
    md5.start(QStringLiteral("md5sum"));
    md5.write(bytes);
    md5.closeWriteChannel();
    md5.waitForFinished(-1);
    return md5.readAllStandardOutput().left(32);
}

// The stage values of a whole run with a difference file and replacement folders.
std::vector<int> StageValues(const QString& kind, const QString& output_kind) {
    std::vector<int> values = {0, 5, 10, 20, 30, 35, 40, 45, 50, 65, 75, 75, 80, 85, 90};
    if (kind == QLatin1String(".cxi"))
        values.erase(values.begin() + 1);
    if (output_kind != QLatin1String(".cxi"))
        values.push_back(95);
    values.push_back(100);
    return values;
}

} // namespace

class TestPipeline : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_program; // program folder with a trailing '/'
    QString m_source;
    QString m_source_md5;
    QString m_patch_dsc;
    QStringList m_patch_list;
    TLanguageTable m_table = KeyEchoTable(kKeys);
    QByteArray m_new_pack;

    struct TRun {
        QString Kind = QStringLiteral(".cia");
        QString OutputKind = QStringLiteral(".cia");
        QString Output;
        QString PackDatMD5;
        QString PackIncMD5;
        bool NoXdelta = false;
        bool NoPatch = false;
        int Patch = 1;
    };

    TRun DefaultRun() {
        TRun run;
        run.Output = m_dir->path() + QStringLiteral("/out/game.cia");
        run.PackDatMD5 = QString::fromLatin1(Md5Of(QByteArray(4096, 'd'))).toUpper();
        run.PackIncMD5 = QString::fromLatin1(Md5Of("index of the data archive")).toUpper();
        return run;
    }

    std::unique_ptr<TInstallWorker> MakeWorker(const TRun& run, TRecordingHost& host,
                                               const QString& source) {
        host.Patch = run.Patch;
        TInstallJob job;
        job.ProgramFolder = m_program;
        job.SourcePath = source;
        job.OutputPath = run.Output;
        job.OutputKind = run.OutputKind;
        job.OriginalPackDatMD5 = run.PackDatMD5;
        job.OriginalPackIncMD5 = run.PackIncMD5;
        job.LanguageTable = &m_table;
        job.PatchFolder = SelectedPatchFolder(m_patch_list, run.Patch);
        if (!job.PatchFolder.isEmpty())
            job.PatchDescription = m_patch_list.value(run.Patch);
        job.NoXdelta = run.NoXdelta;
        job.NoPatch = run.NoPatch;
        job.Voice = host.Voice;
        job.NoVoiceChoice = host.NoVoice;
        return MakeInstallWorker(run.Kind, job, &host);
    }

    // Runs a whole install and checks what every run must: one finish request naming the
    // worker, the source untouched.
    std::unique_ptr<TInstallWorker> RunInstall(const TRun& run, TRecordingHost& host,
                                               const QString& source = QString()) {
        const QString from = source.isEmpty() ? m_source : source;
        const QString before = FileMD5Hex(from);
        auto worker = MakeWorker(run, host, from);
        worker->start();
        worker->wait();
        [&] {
            QCOMPARE(host.FinishedWorkers.size(), size_t(1));
            QCOMPARE(host.FinishedWorkers.front(), worker.get());
            QCOMPARE(FileMD5Hex(from), before);
        }();
        return worker;
    }

    QStringList Calls() {
        QFile file(m_program + QStringLiteral("tools/calls.log"));
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    void SetToolExit(const QString& stage, const QByteArray& code) {
        WriteFileBytes(m_program + QStringLiteral("tools/exit_") + stage, code);
    }

    QStringList SourceStageEntries(const QString& kind) {
        QStringList entries;
        if (kind != QLatin1String(".cxi"))
            entries << T("ExtractingNCCH") << T("Done");
        entries << T("ExtractingExeFS") << T("Done") << T("ExtractingRomFS") << T("Done")
                << T("UnpackingRomFS") << T("Done") << T("ExtractingCXIHeaders") << T("Done")
                << T("ExtractingExeFSHeaders") << T("Done");
        return entries;
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_program = m_dir->path() + QStringLiteral("/program folder/");
        WriteStandInTools(m_program);
        m_source = m_dir->path() + QStringLiteral("/source image");
        WriteFileBytes(m_source, "SOURCE IMAGE BYTES");
        QDir().mkpath(m_dir->path() + QStringLiteral("/out"));

        // The patch: a difference for pack.dat, replacement ExeFS and RomFS files in folders
        // whose names differ in letter case from the unpacked ones.
        const QString patch = m_program + QStringLiteral("patch/Demo/");
        WriteFileBytes(patch + QStringLiteral("demo.dsc"), "Region=EUR");
        m_new_pack = QByteArray(3000, 'n') + "patched";
        WriteFileBytes(m_dir->path() + QStringLiteral("/old.dat"), QByteArray(4096, 'd'));
        WriteFileBytes(m_dir->path() + QStringLiteral("/new.dat"), m_new_pack);
        QCOMPARE(QProcess::execute(QStringLiteral("xdelta3"),
                                   {"-e", "-s", m_dir->path() + "/old.dat",
                                    m_dir->path() + "/new.dat", patch + "Patch.XDelta"}),
                 0);
        WriteFileBytes(patch + QStringLiteral("ExeFS/code.bin"), "patched code");
        WriteFileBytes(patch + QStringLiteral("ROMFS/Sound/extra.bcwav"), "extra clip");
        WriteFileBytes(patch + QStringLiteral("ROMFS/text.bin"), "translated text");
        m_patch_dsc = patch + QStringLiteral("demo.dsc");
        m_patch_list = {QString(), m_patch_dsc};
        // The stand-in images are listings, not images: the read-back accepts them, except
        // in the test of the read-back itself.
        SetOutputCheck(
            [](const QString&, const QString&, const TLanguageTable&) { return QString(); });
    }

    void cleanup() {
        SetFreeSpaceQuery({});
        SetOutputCheck({});
    }

    // Every source kind with every output kind it offers, a patch with both digests.
    void wholeRun_data() { AddKindPairRows(); }
    void wholeRun() {
        QFETCH(QString, kind);
        QFETCH(QString, outputKind);
        TRun run = DefaultRun();
        run.Kind = kind;
        run.OutputKind = outputKind;
        run.Output = m_dir->path() + QStringLiteral("/out/game.CXI");
        TRecordingHost host;
        auto worker = RunInstall(run, host);
        QVERIFY(worker->Succeeded());

        const QString output = m_dir->path() + QStringLiteral("/out/game") + outputKind;
        QStringList expected = SourceStageEntries(kind);
        expected << T("CheckingMD5PackDat") << "Orig MD5: " + run.PackDatMD5
                 << "This MD5: " + run.PackDatMD5 << T("MD5Matched") << T("CheckingMD5PackInc")
                 << "Orig MD5: " + run.PackIncMD5 << "This MD5: " + run.PackIncMD5
                 << T("MD5Matched") << T("ApplyingXdelta") << T("Done");
        // The stand-in sound archive is no archive: the step warns and the run goes on.
        expected << T("WarningLoadingBcsar") << Framed("WarningApplyingVoice");
        expected << T("RebuildingExeFS") << T("Done") << T("RebuildingRomFS") << T("Done")
                 << T("RebuildingCXI") << T("Done");
        if (outputKind == ".cia")
            expected << T("RebuildingCIA") << T("Done");
        if (outputKind == ".3ds")
            expected << T("Rebuilding3DS") << T("Done");
        expected << T("VerifyingOutput") << T("Done") << Success(output);
        QCOMPARE(host.Entries, expected);

        QCOMPARE(StageProgressMismatch(host.ProgressValues, StageValues(kind, outputKind)),
                 QString());
        QCOMPARE(host.DisableLanguageCalls, 1);
        QCOMPARE(host.DoubleBufferedCalls, 1);

        // The image holds the patched data archive and the patch's files, merged into the
        // unpacked folders whatever the letter case of the patch's folder names.
        QFile image(output);
        QVERIFY(image.open(QIODevice::ReadOnly));
        const QString listing = QString::fromUtf8(image.readAll());
        QVERIFY2(listing.contains("./code.bin " + Md5Of("patched code")), qPrintable(listing));
        QVERIFY(listing.contains("./banner.bin "));
        QVERIFY(listing.contains("./pack.dat " + Md5Of(m_new_pack)));
        QVERIFY(listing.contains("./sound/extra.bcwav " + Md5Of("extra clip")));
        QVERIFY(listing.contains("./text.bin "));
        QVERIFY(!listing.contains("Sound/"));
        QVERIFY(!listing.contains("ROMFS") && !listing.contains("ExeFS"));
        // The intermediates are gone before the rebuild; tools/temp is the finish routine's.
        QVERIFY(!QFile::exists(m_program + "tools/temp/old_pack.dat"));
        QVERIFY(!QFile::exists(m_program + "tools/temp/c.0000.00000000"));
        QVERIFY(!QFile::exists(m_program + "tools/temp/Partition0.bin"));
    }

    // Every tool call of a whole run, argument by argument, against the command lines the
    // tools are documented with ({src}, {cxi}, {xdelta} and {out} stand for one argument each).
    void argumentLists_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("outputKind");
        for (const char* kind : {".cia", ".cxi", ".3ds"})
            for (const char* output : {".cia", ".cxi", ".3ds"})
                if (QLatin1String(output) != QLatin1String(".3ds") ||
                    QLatin1String(kind) == QLatin1String(".3ds"))
                    QTest::addRow("%s to %s", kind + 1, output + 1) << kind << output;
    }
    void argumentLists() {
        QFETCH(QString, kind);
        QFETCH(QString, outputKind);
        TRun run = DefaultRun();
        run.Kind = kind;
        run.OutputKind = outputKind;
        run.Output = m_dir->path() + QStringLiteral("/out/my game.Cia");
        TRecordingHost host;
        auto worker = RunInstall(run, host);
        QVERIFY2(worker->Succeeded(), qPrintable(host.Entries.join('|')));

        const QString out = m_dir->path() + QStringLiteral("/out/my game") + outputKind;
        const QString cxi = kind == ".cia"   ? QStringLiteral("tools/temp/c.0000.00000000")
                            : kind == ".3ds" ? QStringLiteral("tools/temp/Partition0.bin")
                                             : m_source;
        const QString cxi_out =
            outputKind == ".cxi" ? out : QStringLiteral("tools/temp/Partition0.cxi");
        QStringList texts;
        if (kind == ".cia") {
            texts << "ctrtool --contents=tools/temp/c {src}"
                  << "ctrtool -p --exefs=tools/temp/exefs.bin tools/temp/c.0000.00000000"
                  << "ctrtool -p --romfs=tools/temp/romfs.bin tools/temp/c.0000.00000000";
        } else if (kind == ".3ds") {
            texts << "3dstool -xtf 3ds {src} --header tools/temp/headers/mainncchheader.bin "
                     "-0 tools/temp/Partition0.bin"
                  << "3dstool -xtf cxi tools/temp/Partition0.bin --exefs tools/temp/exefs.bin"
                  << "3dstool -xtf cxi tools/temp/Partition0.bin --romfs tools/temp/romfs.bin";
        } else {
            texts << "ctrtool -p --exefs=tools/temp/exefs.bin {src}"
                  << "ctrtool -p --romfs=tools/temp/romfs.bin {src}";
        }
        texts << "3dstool -xtf romfs tools/temp/romfs.bin --romfs-dir tools/temp/romfs"
              << "3dstool -xvtf cxi {cxi} --header tools/temp/headers/ncchheader.bin --exh "
                 "tools/temp/headers/exheader.bin --logo tools/temp/headers/logo.bin"
              << "3dstool -xutf exefs tools/temp/exefs.bin --exefs-dir tools/temp/exefs "
                 "--header tools/temp/headers/exefsheader.bin"
              << "xdelta -d -s tools/temp/old_pack.dat {xdelta} tools/temp/romfs/pack.dat"
              << "3dstool -cztf exefs tools/temp/exefs.bin --exefs-dir tools/temp/exefs "
                 "--header tools/temp/headers/exefsheader.bin"
              << "3dstool -ctf romfs tools/temp/romfs.bin --romfs-dir tools/temp/romfs"
              << "3dstool -cvtf cxi {cxiout} --header tools/temp/headers/ncchheader.bin --exh "
                 "tools/temp/headers/exheader.bin --exefs tools/temp/exefs.bin --romfs "
                 "tools/temp/romfs.bin --logo tools/temp/headers/logo.bin";
        if (outputKind == ".cia")
            texts << "makerom -f Cia -content tools/temp/Partition0.cxi:0:0x00 -o {out}";
        if (outputKind == ".3ds")
            texts << "3dstool -ctf 3ds {out} --header tools/temp/headers/mainncchheader.bin -0 "
                     "tools/temp/Partition0.cxi";
        QStringList expected;
        for (const QString& text : texts) {
            QStringList args = text.split(QLatin1Char(' '));
            for (QString& arg : args) {
                if (arg == "{src}")
                    arg = m_source;
                else if (arg == "{cxi}")
                    arg = cxi;
                else if (arg == "{xdelta}")
                    arg = m_program + QStringLiteral("patch/Demo/Patch.XDelta");
                else if (arg == "{cxiout}")
                    arg = cxi_out;
                else if (arg == "{out}")
                    arg = out;
            }
            expected << args.join(QLatin1Char('\t'));
        }
        QFile log(m_program + QStringLiteral("tools/argv.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList calls =
            QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(calls, expected);
    }

    void noPatchEntry() {
        TRun run = DefaultRun();
        run.NoPatch = true;
        run.NoXdelta = true;
        run.Patch = 0;
        TRecordingHost host;
        auto worker = RunInstall(run, host);
        QVERIFY(worker->Succeeded());
        QVERIFY(!host.Entries.contains(T("CheckingMD5PackDat")));
        QVERIFY(!Calls().contains("xdelta XDELTA"));
        QCOMPARE(StageProgressMismatch(host.ProgressValues,
                                       {0, 5, 10, 20, 30, 35, 40, 45, 80, 85, 90, 95, 100}),
                 QString());
        QFile image(m_dir->path() + "/out/game.cia");
        QVERIFY(image.open(QIODevice::ReadOnly));
        const QByteArray listing = image.readAll();
        QVERIFY(listing.contains("./pack.dat " + Md5Of(QByteArray(4096, 'd'))));
        QVERIFY(listing.contains("./code.bin " + Md5Of("original\n")));
    }

    void patchWithoutDifference() {
        TRun run = DefaultRun();
        run.NoXdelta = true;
        TRecordingHost host;
        auto worker = RunInstall(run, host);
        QVERIFY(worker->Succeeded());
        QVERIFY(!host.Entries.contains(T("CheckingMD5PackDat")));
        QVERIFY(!host.Entries.contains(T("ApplyingXdelta")));
        QCOMPARE(StageProgressMismatch(host.ProgressValues,
                                       {0, 5, 10, 20, 30, 35, 40, 45, 75, 75, 80, 85, 90, 95, 100}),
                 QString());
    }

    void digests_data() {
        QTest::addColumn<QString>("packDat");
        QTest::addColumn<QString>("packInc");
        QTest::addColumn<QString>("lastEntry");
        QTest::addColumn<bool>("success");
        const QString dat = QString::fromLatin1(Md5Of(QByteArray(4096, 'd')));
        const QString inc = QString::fromLatin1(Md5Of("index of the data archive"));
        QTest::newRow("pack.dat differs")
            << "00112233445566778899AABBCCDDEEFF" << inc.toUpper() << Sep("MD5NotMatched") << false;
        QTest::newRow("pack.inc differs")
            << dat.toUpper() << "00112233445566778899AABBCCDDEEFF" << Sep("MD5NotMatched") << false;
        QTest::newRow("lower-case digests match")
            << dat.toLower() << inc.toLower() << QString() << true;
        QTest::newRow("only pack.inc named") << QString() << inc << QString() << true;
    }
    void digests() {
        QFETCH(QString, packDat);
        QFETCH(QString, packInc);
        QFETCH(QString, lastEntry);
        QFETCH(bool, success);
        TRun run = DefaultRun();
        run.PackDatMD5 = packDat;
        run.PackIncMD5 = packInc;
        // xdelta3 decodes while the digests are taken; a mismatch must stop it where it is.
        if (!success)
            WriteFileBytes(m_program + "tools/block_XDELTA", "");
        TRecordingHost host;
        auto worker = RunInstall(run, host);
        QFile::remove(m_program + "tools/block_XDELTA");
        QCOMPARE(worker->Succeeded(), success);
        QCOMPARE(host.Entries.contains(T("CheckingMD5PackDat")), !packDat.isEmpty());
        if (!success) {
            QCOMPARE(host.Entries.last(), lastEntry);
            QVERIFY(host.Entries.at(host.Entries.size() - 2).startsWith("This MD5: "));
            QVERIFY(!host.Entries.contains(T("ApplyingXdelta")));
            QCOMPARE(host.ProgressValues.back(), 45);
            // The data archive as it was unpacked, and nothing of xdelta3's left behind.
            QCOMPARE(FileMD5Hex(m_program + "tools/temp/romfs/pack.dat").toLower(),
                     QString::fromLatin1(Md5Of(QByteArray(4096, 'd'))).toLower());
            QVERIFY(!QFileInfo::exists(m_program + "tools/temp/old_pack.dat"));
        } else {
            // The log shows the digests as they are, letter case included.
            if (!packDat.isEmpty())
                QVERIFY(host.Entries.contains("Orig MD5: " + packDat));
        }
    }

    void missingDataArchive() {
        QFile::remove(m_program + "fixture/romfs/pack.dat");
        TRun run = DefaultRun();
        TRecordingHost host;
        auto worker = RunInstall(run, host);
        QCOMPARE(host.Entries.last(), "\r\n" + Framed("ErrorCheckingMD5PackDat"));
        QFile::remove(m_program + "fixture/romfs/pack.inc");
    }

    // A tool that reports failure ends the run with the stage's error entry.
    void toolFails_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("outputKind");
        QTest::addColumn<QString>("stage");
        QTest::addColumn<QString>("startEntry");
        QTest::addColumn<QString>("errorEntry");
        QTest::addColumn<int>("lastProgress");
        QTest::newRow("CIA NCCH") << ".cia"
                                  << ".cia"
                                  << "NCCH" << T("ExtractingNCCH") << Sep("ErrorExtractingNCCH")
                                  << 0;
        QTest::newRow("CIA ExeFS")
            << ".cia"
            << ".cia"
            << "EXEFS" << T("ExtractingExeFS") << Sep("ErrorExtractingExeFs") << 5;
        QTest::newRow("CIA RomFS")
            << ".cia"
            << ".cia"
            << "ROMFS" << T("ExtractingRomFS") << Sep("ErrorExtractingRomFS") << 10;
        QTest::newRow("3DS NCCH") << ".3ds"
                                  << ".3ds"
                                  << "NCCH" << T("ExtractingNCCH") << Sep("ErrorExtractingNCCH")
                                  << 0;
        QTest::newRow("3DS ExeFS")
            << ".3ds"
            << ".3ds"
            << "EXEFS" << T("ExtractingExeFS") << Sep("ErrorExtractingExeFs") << 5;
        QTest::newRow("3DS RomFS")
            << ".3ds"
            << ".3ds"
            << "ROMFS" << T("ExtractingRomFS") << Sep("ErrorExtractingRomFS") << 10;
        QTest::newRow("CXI ExeFS")
            << ".cxi"
            << ".cxi"
            << "EXEFS" << T("ExtractingExeFS") << Sep("ErrorExtractingExeFs") << 0;
        QTest::newRow("CXI RomFS")
            << ".cxi"
            << ".cxi"
            << "ROMFS" << T("ExtractingRomFS") << Sep("ErrorExtractingRomFS") << 10;
        QTest::newRow("unpack RomFS")
            << ".cia"
            << ".cia"
            << "UNPACKROMFS" << T("UnpackingRomFS") << Sep("ErrorUnpackingRomFS") << 20;
        QTest::newRow("CXI headers")
            << ".cia"
            << ".cia"
            << "CXIHEADERS" << T("ExtractingCXIHeaders") << Sep("ErrorExtractingCXIHeaders") << 30;
        QTest::newRow("ExeFS headers") << ".cia"
                                       << ".cia"
                                       << "EXEFSHEADERS" << T("ExtractingExeFSHeaders")
                                       << Sep("ErrorExtractingExeFSHeaders") << 35;
        QTest::newRow("xdelta") << ".cia"
                                << ".cia"
                                << "XDELTA" << T("ApplyingXdelta") << Sep("ErrorApplyingXdelta")
                                << 50;
        QTest::newRow("rebuild ExeFS")
            << ".cia"
            << ".cia"
            << "REBUILDEXEFS" << T("RebuildingExeFS") << T("ErrorRebuildingExeFS") << 80;
        QTest::newRow("rebuild RomFS")
            << ".cxi"
            << ".cia"
            << "REBUILDROMFS" << T("RebuildingRomFS") << T("ErrorRebuildingRomFS") << 85;
        QTest::newRow("rebuild CXI")
            << ".3ds"
            << ".cxi"
            << "REBUILDCXI" << T("RebuildingCXI") << T("ErrorRebuildingCXI") << 90;
        QTest::newRow("build CIA") << ".cia"
                                   << ".cia"
                                   << "CIA" << T("RebuildingCIA") << T("ErrorRebuildingCIA") << 95;
        QTest::newRow("build 3DS") << ".3ds"
                                   << ".3ds"
                                   << "3DS" << T("Rebuilding3DS") << T("ErrorRebuilding3DS") << 95;
    }
    void toolFails() {
        QFETCH(QString, kind);
        QFETCH(QString, outputKind);
        QFETCH(QString, stage);
        QFETCH(QString, startEntry);
        QFETCH(QString, errorEntry);
        QFETCH(int, lastProgress);
        SetToolExit(stage, "1");
        TRun run = DefaultRun();
        run.Kind = kind;
        run.OutputKind = outputKind;
        TRecordingHost host;
        auto worker = RunInstall(run, host);
        QVERIFY(!worker->Succeeded());
        QCOMPARE(host.Entries.last(), errorEntry);
        QCOMPARE(host.Entries.at(host.Entries.size() - 2), startEntry);
        QCOMPARE(host.ProgressValues.back(), lastProgress);
        QVERIFY(Calls().last().endsWith(" " + stage));
    }

    // Any exit code but 0 and 1 writes the tool's unknown key and the run goes on.
    void toolExitsTwo_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("stage");
        QTest::addColumn<QString>("unknownEntry");
        QTest::newRow("ctrtool") << ".cia"
                                 << "NCCH" << Sep("UnkctrtoolError");
        QTest::newRow("3dstool") << ".cia"
                                 << "UNPACKROMFS" << Sep("Unk3dstoolError");
        QTest::newRow("xdelta") << ".cxi"
                                << "XDELTA" << Sep("UnkXdeltaError");
        QTest::newRow("makerom, last stage") << ".3ds"
                                             << "CIA" << Sep("UnkMakeromError");
    }
    void toolExitsTwo() {
        QFETCH(QString, kind);
        QFETCH(QString, stage);
        QFETCH(QString, unknownEntry);
        SetToolExit(stage, "2");
        TRun run = DefaultRun();
        run.Kind = kind;
        TRecordingHost host;
        auto worker = RunInstall(run, host);
        QVERIFY(worker->Succeeded());
        QCOMPARE(host.Entries.count(unknownEntry), 1);
        QCOMPARE(host.Entries.last(), Success(m_dir->path() + "/out/game.cia"));
        QCOMPARE(host.ProgressValues.back(), 100);
    }

    void failedReadBackEndsWithoutSuccess() {
        QString checked;
        SetOutputCheck([&](const QString& image, const QString& kind, const TLanguageTable&) {
            checked = image + "|" + kind;
            return QStringLiteral("RomFS level 3 hash mismatch");
        });
        TRecordingHost host;
        auto worker = RunInstall(DefaultRun(), host);
        QVERIFY(!worker->Succeeded());
        QCOMPARE(checked, m_dir->path() + "/out/game.cia|.cia");
        QCOMPARE(host.Entries.mid(host.Entries.size() - 2),
                 (QStringList{T("VerifyingOutput"),
                              Sep("ErrorVerifyingOutput") + "\r\nRomFS level 3 hash mismatch"}));
        QCOMPARE(host.ProgressValues.back(), 95);
        QVERIFY(QFile::exists(m_dir->path() + "/out/game.cia")); // the output stays
    }

    void intermediateCannotBeDeleted() {
        WriteFileBytes(m_program + "tools/dir_EXEFS", "");
        TRecordingHost host;
        auto worker = RunInstall(DefaultRun(), host);
        QCOMPARE(host.Entries.last(), Sep("ErrorDeleteTempFile"));
        QCOMPARE(host.ProgressValues.back(), 40);
    }

    void dataArchiveCannotBeMoved() {
        WriteFileBytes(m_program + "fixture/temp/old_pack.dat/in the way", "");
        TRecordingHost host;
        auto worker = RunInstall(DefaultRun(), host);
        QCOMPARE(host.Entries.last(), Sep("ErrorMovingPackDat"));
        QCOMPARE(host.ProgressValues.back(), 45);
    }

    void breakEndsRomFsUnpacking() {
        SetToolExit("UNPACKROMFS", "INT");
        TRecordingHost host;
        auto worker = RunInstall(DefaultRun(), host);
        QCOMPARE(host.Entries.last(), Sep("InstallCanceled"));
        QCOMPARE(host.ProgressValues.back(), 20);
    }

    // A tool that cannot be started is named, with the system's reason, and the run stops.
    void toolCannotStart_data() {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<bool>("remove");
        QTest::newRow("xdelta missing") << "xdelta" << true;
        QTest::newRow("makerom not executable") << "makerom" << false;
        QTest::newRow("ctrtool missing") << "ctrtool" << true;
    }
    void toolCannotStart() {
        QFETCH(QString, tool);
        QFETCH(bool, remove);
        const QString key = Sep("ErrorToolCannotStart") + " tools/" + tool;
        const QString path = m_program + "tools/" + tool;
        if (remove)
            QFile::remove(path);
        else
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        TRecordingHost host;
        auto worker = RunInstall(DefaultRun(), host);
        QVERIFY(!worker->Succeeded());
        const QString last = host.Entries.last();
        QVERIFY2(last.startsWith(key + "\r\n") && last.size() > key.size() + 2, qPrintable(last));
    }

    // Cancel seen at the checkpoint before the next progress value after `cancelAt`.
    void cancelAtCheckpoint_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("cancelAt");
        QTest::addColumn<QString>("lastCall");
        for (int value : {0, 5, 10, 20, 30, 35, 40, 45, 50, 65, 75, 80, 85, 90})
            QTest::addRow("CIA after %d", value) << ".cia" << value << QString();
        QTest::newRow("CXI after 0") << ".cxi" << 0 << "ctrtool EXEFS";
        QTest::newRow("3DS after 90") << ".3ds" << 90 << "3dstool REBUILDCXI";
    }
    void cancelAtCheckpoint() {
        QFETCH(QString, kind);
        QFETCH(int, cancelAt);
        QFETCH(QString, lastCall);
        TRun run = DefaultRun();
        run.Kind = kind;
        TRecordingHost host;
        TInstallWorker* current = nullptr;
        bool asked = false;
        host.OnProgress = [&](int value) {
            if (value == cancelAt && !asked) {
                asked = true;
                current->requestInterruption();
            }
        };
        auto worker = MakeWorker(run, host, m_source);
        current = worker.get();
        worker->start();
        worker->wait();
        QCOMPARE(host.FinishedWorkers.size(), size_t(1));
        QVERIFY(!worker->Succeeded());
        // Nothing past the cancel's stage; a tool still running may move the bar inside it.
        const std::vector<int> stages = StageValues(kind, ".cia");
        const auto at = std::find(stages.begin(), stages.end(), cancelAt);
        QCOMPARE(StageProgressMismatch(host.ProgressValues, stages,
                                       static_cast<int>(at - stages.begin()) + 1),
                 QString());
        QVERIFY(!host.Entries.last().contains("PatchingSuccessful"));
        if (cancelAt == 45) // at the digests' checkpoint, while xdelta3 may already run
            QVERIFY(!QFileInfo::exists(m_program + "tools/temp/old_pack.dat"));
        if (!lastCall.isEmpty())
            QCOMPARE(Calls().last(), lastCall);
    }

    void cancelDuringLastBuildIsNotSeen() {
        TRecordingHost host;
        TInstallWorker* current = nullptr;
        host.OnProgress = [&](int value) {
            if (value == 95)
                current->requestInterruption();
        };
        auto worker = MakeWorker(DefaultRun(), host, m_source);
        current = worker.get();
        worker->start();
        worker->wait();
        QVERIFY(worker->Succeeded());
        QCOMPARE(host.FinishedWorkers.size(), size_t(1));
    }

    // A tool's progress lines move the bar inside its stage: forwards only, short of the
    // next stage's value; other lines on standard error are ignored.
    void toolProgressMovesTheBarWithinItsStage() {
        WriteFileBytes(m_program + "tools/progress_UNPACKROMFS",
                       "qvt-progress 5 10\nunpacking...\nqvt-progress 2 10\nqvt-progress x 10\n"
                       "qvt-progress 7 10\nqvt-progress 90 10\n");
        TRecordingHost host;
        auto worker = RunInstall(DefaultRun(), host);
        QFile::remove(m_program + "tools/progress_UNPACKROMFS");
        QVERIFY(worker->Succeeded());
        const std::vector<int> expected = {0, 5, 10, 20, 25, 27, 29, 30, 35};
        QCOMPARE(std::vector<int>(host.ProgressValues.begin(), host.ProgressValues.begin() + 9),
                 expected);
    }

    void cancelWhileToolRuns() {
        WriteFileBytes(m_program + "tools/block_UNPACKROMFS", "");
        TRecordingHost host;
        auto worker = MakeWorker(DefaultRun(), host, m_source);
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_program + "tools/started_UNPACKROMFS"), 120000);
        worker->requestInterruption();
        QTest::qWait(100);
        QVERIFY(worker->isRunning()); // the tool is not interrupted
        WriteFileBytes(m_program + "tools/release", "");
        worker->wait();
        QCOMPARE(host.FinishedWorkers.size(), size_t(1));
        QCOMPARE(host.Entries.mid(host.Entries.size() - 2),
                 (QStringList{T("UnpackingRomFS"), T("Done")}));
        QCOMPARE(host.ProgressValues.back(), 20);
    }

    void killRunningTool() {
        WriteFileBytes(m_program + "tools/block_REBUILDROMFS", "");
        TRecordingHost host;
        auto worker = MakeWorker(DefaultRun(), host, m_source);
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_program + "tools/started_REBUILDROMFS"), 120000);
        worker->requestInterruption();
        worker->KillRunningTool();
        QVERIFY(worker->wait());
        QCOMPARE(host.FinishedWorkers.size(), size_t(1));
        QVERIFY(!worker->Succeeded());
        QCOMPARE(host.ProgressValues.back(), 85);
    }

    void leftOverWorkFolder() {
        QDir().mkpath(m_program + "fixture/romfs/sound/QK123_temp");
        TRecordingHost host;
        auto worker = RunInstall(DefaultRun(), host);
        QVERIFY(worker->Succeeded());
        const int at = host.Entries.indexOf(T("ErrorFolderCreate"));
        QVERIFY(at > 0);
        QCOMPARE(host.Entries.at(at + 1), Framed("WarningApplyingVoice"));
        QFile image(m_dir->path() + "/out/game.cia");
        QVERIFY(image.open(QIODevice::ReadOnly));
        QVERIFY(image.readAll().contains("./sound/QK123.bcsar " + Md5Of("not an archive")));
    }

    // Whatever stands at tools/temp goes; a link goes itself, never what it points to.
    void leftOverTempFolder_data() {
        QTest::addColumn<QString>("left");
        QTest::newRow("folder") << "folder";
        QTest::newRow("file") << "file";
        QTest::newRow("link to a folder") << "link";
        QTest::newRow("dangling link") << "dangling";
    }
    void leftOverTempFolder() {
        QFETCH(QString, left);
        const QString temp = m_program + "tools/temp";
        const QString outside = m_dir->path() + "/outside";
        WriteFileBytes(outside + "/keep.bin", "not ours");
        if (left == "folder")
            WriteFileBytes(temp + "/romfs/stale.bin", "from a killed run");
        else if (left == "file")
            WriteFileBytes(temp, "a file in the way");
        else
            QVERIFY(QFile::link(left == "link" ? outside : outside + "/gone", temp));
        TRecordingHost host;
        auto worker = RunInstall(DefaultRun(), host);
        QVERIFY(worker->Succeeded());
        QFile image(m_dir->path() + "/out/game.cia");
        QVERIFY(image.open(QIODevice::ReadOnly));
        QVERIFY(!image.readAll().contains("stale.bin"));
        QVERIFY(QFile::exists(outside + "/keep.bin"));
    }

    // Paths that a shell would split or mangle reach the tools as one argument each.
    void awkwardPaths_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("CIA") << ".cia";
        QTest::newRow("CXI") << ".cxi";
        QTest::newRow("3DS") << ".3ds";
    }
    void awkwardPaths() {
        QFETCH(QString, kind);
        const QString folder = m_dir->path() + QString::fromUtf8("/Игры 'мои' \"x\" $HOME;&|*/");
        const QString source = folder + QString::fromUtf8("ис ходник \"a\" 'b' `c`") + kind;
        WriteFileBytes(source, "SOURCE IMAGE BYTES");
        TRun run = DefaultRun();
        run.Kind = kind;
        run.Output = folder + QString::fromUtf8("вы ход $(x) \"q\".CIA");
        TRecordingHost host;
        auto worker = RunInstall(run, host, source);
        QVERIFY2(worker->Succeeded(), qPrintable(host.Entries.join('|')));
        const QString output = folder + QString::fromUtf8("вы ход $(x) \"q\".cia");
        QCOMPARE(host.Entries.last(), Success(output));
        QVERIFY(QFile::exists(output));
    }

    void diskSpaceWarning() {
        SetFreeSpaceQuery([](const QString&) { return std::int64_t(10); });
        TRecordingHost host;
        auto worker = RunInstall(DefaultRun(), host);
        QVERIFY(worker->Succeeded());
        QVERIFY2(host.Entries.first().startsWith(Framed("WarningDiskSpace")),
                 qPrintable(host.Entries.first()));
        QVERIFY(host.Entries.first().endsWith(" GB\r\n"));
        QCOMPARE(host.Entries.at(1), T("ExtractingNCCH"));
    }

    // The figures of the warning: a 1 GiB CIA needs three times its size under tools/temp
    // and once more for the output, both on the same file system here.
    void diskSpaceWarningFigures() {
        const QString source = m_dir->path() + QStringLiteral("/big source.cia");
        {
            QFile big(source);
            QVERIFY(big.open(QIODevice::WriteOnly));
            QVERIFY(big.resize(std::int64_t(1) << 30)); // sparse: no gigabyte is written
        }
        SetFreeSpaceQuery([](const QString&) { return std::int64_t(3) << 30; });
        SetToolExit(QStringLiteral("NCCH"), "1"); // the run needs to go no further
        TRecordingHost host;
        auto worker = MakeWorker(DefaultRun(), host, source);
        worker->start();
        worker->wait();
        QCOMPARE(host.Entries.first(), QStringLiteral("\r\n<WarningDiskSpace>\r\n4 GB / 3 GB\r\n"));
        QCOMPARE(host.Entries.last(), Sep("ErrorExtractingNCCH"));
    }

    // Bytes under tools/temp at the fullest point, in units of the source image's size.
    void spaceEstimate_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("outputKind");
        QTest::addColumn<int>("tempTimes");
        QTest::newRow("CIA to CIA") << ".cia"
                                    << ".cia" << 3;
        QTest::newRow("CIA to CXI") << ".cia"
                                    << ".cxi" << 3;
        QTest::newRow("3DS to 3DS") << ".3ds"
                                    << ".3ds" << 3;
        QTest::newRow("CXI to CXI") << ".cxi"
                                    << ".cxi" << 2;
        QTest::newRow("CXI to CIA") << ".cxi"
                                    << ".cia" << 3; // the rebuilt CXI comes on top
        QTest::newRow("CXI to ZCXI") << ".cxi"
                                     << ".zcxi" << 3; // the plain CXI is scratch
        QTest::newRow("3DS to ZCCI") << ".3ds"
                                     << ".zcci" << 4; // the plain card image beside the CXI
    }
    void spaceEstimate() {
        QFETCH(QString, kind);
        QFETCH(QString, outputKind);
        QFETCH(int, tempTimes);
        const TSpaceNeed need = EstimateSpaceNeed(kind, outputKind, 1000);
        QCOMPARE(need.TempBytes, std::int64_t(tempTimes) * 1000);
        QCOMPARE(need.OutputBytes, std::int64_t(1000));
        // Only an encrypted CXI is decrypted into a whole copy beside the run's own files.
        const TSpaceNeed encrypted = EstimateSpaceNeed(kind, outputKind, 1000, 0, true);
        QCOMPARE(encrypted.TempBytes,
                 need.TempBytes + (kind == QLatin1String(".cxi") ? std::int64_t(1000) : 0));
    }

    void outputBase_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("strip3ds");
        QTest::addColumn<QString>("base");
        QTest::newRow("cia") << "/a/game.cia" << false << "/a/game";
        QTest::newRow("capital CXI") << "/a/game.CXI" << false << "/a/game";
        QTest::newRow("cxi then cia") << "/a/game.cia.cxi" << false << "/a/game";
        QTest::newRow("3ds kept") << "/a/game.3ds" << false << "/a/game.3ds";
        QTest::newRow("3ds taken") << "/a/game.3DS" << true << "/a/game";
        QTest::newRow("folder untouched") << "/a/x.cia/game" << false << "/a/x.cia/game";
        QTest::newRow("no extension") << "/a/game" << true << "/a/game";
        QTest::newRow("compressed") << "/a/game.cia.zcia" << false << "/a/game";
        QTest::newRow("cci kept") << "/a/game.cci" << false << "/a/game.cci";
        QTest::newRow("cci taken") << "/a/game.3ds.ZCCI" << true << "/a/game";
    }
    void outputBase() {
        QFETCH(QString, path);
        QFETCH(bool, strip3ds);
        QFETCH(QString, base);
        QCOMPARE(OutputBase(path, strip3ds), base);
    }

    void outputIsSource() {
        const QString source = m_source;
        QVERIFY(OutputIsSource(source, source));
        QVERIFY(!OutputIsSource(source, m_dir->path() + "/not there.cia"));
        QVERIFY(QFile::link(source, m_dir->path() + "/link.cia"));
        QVERIFY(OutputIsSource(source, m_dir->path() + "/link.cia"));
        QCOMPARE(QProcess::execute("ln", {source, m_dir->path() + "/hard.cia"}), 0);
        QVERIFY(OutputIsSource(source, m_dir->path() + "/hard.cia"));
        WriteFileBytes(m_dir->path() + "/other.cia", "SOURCE IMAGE BYTES");
        QVERIFY(!OutputIsSource(source, m_dir->path() + "/other.cia"));
    }
};

QTEST_GUILESS_MAIN(TestPipeline)
#include "TestPipeline.moc"
