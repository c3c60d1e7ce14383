// qvtpatch make-patch run as a program from a temporary program folder with the real tools and
// xdelta3: a made patch installs to the changed files it was made from, and a refused one
// leaves nothing behind.

#include "ConsoleOutput.h"
#include "tests/desktop/RealProgramFolder.h"

#include "ctr/Verify.h"
#include "ctr/Z3ds.h"
#include "ctr/Z3dsWrite.h"
#include "desktop/FileTools.h"
#include "desktop/ModFolder.h"
#include "desktop/PatchCatalogue.h"
#include "sample/SampleCrypt.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct TRun {
    int ExitCode = -1;
    QString Out;
    QString Err;
};

void Write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// The files below `root` by their path in upper case, with their bytes.
QMap<QString, QByteArray> Tree(const QString& root) {
    QMap<QString, QByteArray> tree;
    for (const QString& path : FilesBelow(root))
        tree.insert(path.toUpper(), ReadWholeFile(root + "/" + path));
    return tree;
}

} // namespace

class TestQvtpatchMakePatch : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_program;
    QString m_cia; // with its sample patch in m_dir/sample

    TRun Run(const QStringList& arguments) {
        QProcess process;
        process.start(m_program + "/qvtpatch", arguments);
        process.waitForFinished(300000);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                ConsoleText(process.readAllStandardOutput()),
                ConsoleText(process.readAllStandardError())};
    }

    // The mod folder an install of `patch` into `image` gives (the image's title ID folder).
    QString InstallMods(const QString& image, const QString& patch, const QString& output) {
        const TRun run = Run({"install", "--source", image, "--output", output, "--kind", "mods",
                              "--patch", patch, "--quiet"});
        if (run.ExitCode != 0)
            return QString();
        const QStringList titles = QDir(output).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        return titles.size() == 1 ? output + "/" + titles.first() : QString();
    }

    // The package make-patch wrote beside `out` goes into the program's patches by add-patch, the
    // same version again only with --replace; `patches` then shows it with its version.
    void AddMadePackage(const QString& image, const QString& out) {
        const TRun added = Run({"add-patch", out + ".qvtpatch"});
        QVERIFY2(added.ExitCode == 0, qPrintable(added.Out + added.Err));
        const QString folder = m_program + "/patch/Veridane _EN_";
        QVERIFY(Tree(folder) == Tree(out));
        const TRun again = Run({"add-patch", out + ".qvtpatch"});
        QCOMPARE(again.ExitCode, 1);
        QVERIFY2(again.Err.contains("--replace"), qPrintable(again.Err));
        QCOMPARE(Run({"add-patch", out + ".qvtpatch", "--replace"}).ExitCode, 0);
        QCOMPARE(Run({"add-patch", m_program + "/lang/English.lng"}).ExitCode, 1);
        QCOMPARE(Run({"add-patch"}).ExitCode, 2);
        const TRun listed = Run({"patches", image});
        QVERIFY2(listed.Out.contains("Veridane \"EN\"\t1.1\t"), qPrintable(listed.Out));
        QVERIFY(DeleteFolder(folder));
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_program = m_dir.path() + "/program";
        QVERIFY(MakeRealProgramFolder(m_program, true));
        m_cia = m_dir.path() + "/game.cia";
        QCOMPARE(WriteSampleImage(m_program + "/tools", ".cia", m_cia, m_dir.path() + "/sample"),
                 QString());

        // The refusals' changed folders: the game's own files, unpacked, in the mod folder
        // layout; one with a changed file; one naming a file twice.
        const QString root = m_dir.path() + "/refusals";
        QVERIFY(ExtractImage(m_program, m_cia, ".cia", root + "/unpacked").isEmpty());
        QVERIFY(QDir().mkpath(root + "/game"));
        QVERIFY(QDir().rename(root + "/unpacked/romfs", root + "/game/romfs"));
        QVERIFY(QFile::rename(root + "/unpacked/exefs/code.bin", root + "/game/code.bin"));
        Write(root + "/changed/romfs/pack.inc", "changed");
        Write(root + "/twice/romfs/pack.inc", "changed");
        Write(root + "/twice/romfs/Pack.inc", "changed too");
        Write(root + "/out/exists/kept.txt", "kept");
        for (const char* voice : {"ENG", "JAP MOD", "JAP ORIG"})
            Write(root + "/bad voices/" + voice + "/999.bcwav", "clip");
    }

    void madePatchInstallsToTheChangedFiles_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("region");
        QTest::newRow("CIA") << ".cia"
                             << "EUR";
        QTest::newRow("CXI") << ".cxi"
                             << "USA";
        QTest::newRow("3DS") << ".3ds"
                             << "JAP";
    }
    void madePatchInstallsToTheChangedFiles() {
        QFETCH(QString, kind);
        QFETCH(QString, region);
        const QString base = m_dir.path() + "/" + QTest::currentDataTag();
        const QString image = base + "/game" + kind;
        const QString sample = base + "/sample patch";
        QCOMPARE(WriteSampleImage(m_program + "/tools", kind, image, sample, region), QString());

        // The changed tree: the sample patch without its voices as the mod folder writer lays
        // it out (a changed pack.dat and pack.inc, a new file, a banner), with a changed code,
        // a name in another letter case and a new file with a Cyrillic name.
        QVERIFY(QDir().mkpath(base + "/plain") && CopyFolder(sample, base + "/plain") &&
                DeleteFolder(base + "/plain/sample patch/voice"));
        const QString changed = InstallMods(image, base + "/plain/sample patch", base + "/changed");
        QVERIFY(!changed.isEmpty());
        QVERIFY(QFile::rename(changed + "/romfs/pack.inc", changed + "/romfs/PACK.inc"));
        Write(changed + QString::fromUtf8("/romfs/text/заметки.txt"), "new text\r\n");
        std::vector<std::uint8_t> code =
            ctr::ReadImageCode(std::filesystem::path(image.toStdU16String()),
                               *ctr::ImageKindFromText(kind.toStdString()));
        code[0x100] ^= 0xFF;
        Write(changed + "/code.bin",
              QByteArray(reinterpret_cast<const char*>(code.data()), qsizetype(code.size())));
        Write(base + "/en.txt", "First line with \"quotes\".\nSecond line: https://example.org\n");
        Write(base + "/ru.txt", QString::fromUtf8("Описание.\nВторая строка.").toUtf8());

        const QString out = base + "/made/" + QString::fromUtf8("Перевод");
        const TRun made = Run({"make-patch",
                               "--source",
                               image,
                               "--changed",
                               changed,
                               "--out",
                               out,
                               "--title",
                               "Veridane \"EN\"",
                               "--description",
                               base + "/en.txt",
                               "--description-ru",
                               base + "/ru.txt",
                               "--voices",
                               sample + "/voice",
                               "--tracklist",
                               sample + "/Tracklist.tls",
                               "--patch-version",
                               "1.1",
                               "--package"});
        QVERIFY2(made.ExitCode == 0, qPrintable(made.Out + made.Err));
        QVERIFY2(made.Err.contains("Warning") && made.Err.contains("text/notes.msg"),
                 qPrintable(made.Err));
        QVERIFY(made.Out.contains("Files replaced: 5\n"));
        QVERIFY(made.Out.contains("Release note: Veridane \"EN\" (" + region + ")"));
        QCOMPARE(
            QDir(base + "/made").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList({QString::fromUtf8("Перевод"), QString::fromUtf8("Перевод.qvtpatch")}));

        // Pack.dat only as a difference; the game's case; the installer's reader.
        QVERIFY(QFileInfo(out + "/patch.xdelta").isFile());
        QVERIFY(!QFileInfo::exists(out + "/romfs/pack.dat"));
        QVERIFY(QFileInfo(out + "/romfs/pack.inc").isFile());
        QVERIFY(QFileInfo(out + "/exefs/code.bin").isFile());
        const auto sample_dsc = ReadPatchDescription(sample + "/English.dsc");
        for (const char* name : {"English.dsc", "Русский.dsc"}) {
            const auto dsc = ReadPatchDescription(out + "/" + QString::fromUtf8(name));
            QVERIFY(dsc && sample_dsc);
            QCOMPARE(dsc->Region, region);
            QCOMPARE(dsc->Title, "Veridane \"EN\"");
            QCOMPARE(dsc->OriginalPackDatMD5, sample_dsc->OriginalPackDatMD5);
            QCOMPARE(dsc->OriginalPackIncMD5, sample_dsc->OriginalPackIncMD5);
            // The changed tree is the sample patch installed: the game it leaves is the same.
            QCOMPARE(dsc->PatchedPackDatMD5, sample_dsc->PatchedPackDatMD5);
            QCOMPARE(dsc->PatchedPackIncMD5, sample_dsc->PatchedPackIncMD5);
        }
        QCOMPARE(ReadPatchDescription(out + "/English.dsc")->Description,
                 "First line with \"quotes\".\r\nSecond line: https://example.org");
        QVERIFY(ReadWholeFile(out + "/English.dsc").startsWith("\xEF\xBB\xBFRegion = "));
        QCOMPARE(ReadPatchDescription(out + "/English.dsc")->Version, "1.1");
        if (kind == ".cia")
            AddMadePackage(image, out);

        // Installed again by the command line, it gives the changed tree and the English
        // voices in the sound archive.
        const QString installed = InstallMods(image, out, base + "/check");
        QVERIFY(!installed.isEmpty());
        QMap<QString, QByteArray> tree = Tree(installed);
        QCOMPARE(tree.remove("ROMFS/SOUND/QK123.BCSAR"), 1);
        // Each run's folder has its own marker; the changed tree came from one.
        QMap<QString, QByteArray> expected = Tree(changed);
        for (auto* files : {&tree, &expected})
            QCOMPARE(files->remove(QString(kModMarkerName).toUpper()), 1);
        QVERIFY(tree == expected);
        QCOMPARE(Tree(out + "/voice"), Tree(sample + "/voice"));
    }

    // An encrypted or compressed source gives the patch its plain form gives.
    void everySourceFormMakesTheSamePatch_data() {
        QTest::addColumn<QString>("form");
        QTest::newRow("encrypted") << "encrypted";
        QTest::newRow("compressed") << "compressed";
    }
    void everySourceFormMakesTheSamePatch() {
        QFETCH(QString, form);
        const QString base = m_dir.path() + "/forms/" + form;
        const QString changed = m_dir.path() + "/refusals/changed";
        const QStringList common = {"--changed", changed, "--title", "T"};
        const QString plain = m_dir.path() + "/forms/plain";
        if (!QFileInfo::exists(plain)) {
            const TRun made =
                Run(QStringList{"make-patch", "--source", m_cia, "--out", plain} + common);
            QVERIFY2(made.ExitCode == 0, qPrintable(made.Out + made.Err));
        }
        QStringList source = {"--source", base + "/game.zcia"};
        QVERIFY(QDir().mkpath(base));
        if (form == "encrypted") {
            ctr::TCryptoKeys keys = sample::MakeUpKeys(0x5EED);
            sample::TEncryption encryption;
            encryption.CryptoMethod = 0x0B;
            sample::EncryptImage(m_cia.toStdU16String(), ctr::TImageKind::Cia,
                                 (base + "/game.cia").toStdU16String(), encryption, keys);
            sample::WriteKeyFiles((base + "/aes_keys.txt").toStdU16String(), keys);
            source = {"--source", base + "/game.cia", "--keys", base + "/aes_keys.txt"};
        } else {
            ctr::CompressImage(m_cia.toStdU16String(), ctr::TImageKind::Cia,
                               (base + "/game.zcia").toStdU16String());
        }
        const TRun made = Run(QStringList{"make-patch"} + source +
                              QStringList{"--out", base + "/patch"} + common);
        QVERIFY2(made.ExitCode == 0, qPrintable(made.Out + made.Err));
        QCOMPARE(Tree(base + "/patch"), Tree(plain));
    }

    void refusals_data() {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QString>("changed");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QString root = m_dir.path();
        QTest::newRow("the game itself") << QStringList() << "game" << 1 << "Nothing to make";
        QTest::newRow("destination exists") << QStringList() << "exists" << 1 << "exists";
        QTest::newRow("not an image") << QStringList{"--source", m_program + "/lang/English.lng"}
                                      << "changed" << 1 << "installer would refuse";
        QTest::newRow("unreadable description")
            << QStringList{"--description", root + "/none.txt"} << "changed" << 1 << "none.txt";
        QTest::newRow("clip the archive lacks")
            << QStringList{"--voices", root + "/refusals/bad voices"} << "changed" << 1
            << "999.bcwav";
        QTest::newRow("malformed track list")
            << QStringList{"--tracklist", m_program + "/lang/English.lng"} << "changed" << 1
            << "--tracklist";
        QTest::newRow("one file in two cases") << QStringList() << "twice" << 1 << "same file";
        QTest::newRow("no title") << QStringList{"--title", ""} << "changed" << 2 << "--title";
        QTest::newRow("unknown region")
            << QStringList{"--region", "EU"} << "changed" << 2 << "--region";
    }
    void refusals() {
        QFETCH(QStringList, extra);
        QFETCH(QString, changed);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const QString root = m_dir.path() + "/refusals";
        if (changed == "twice" && QDir(root + "/twice/romfs").entryList(QDir::Files).size() < 2)
            QSKIP("the file system folds letter case: one file cannot have two names");
        const QString out = root + "/out/" + (changed == "exists" ? "exists" : "new");
        QStringList arguments = {"make-patch",
                                 "--source",
                                 m_cia,
                                 "--changed",
                                 root + "/" + (changed == "exists" ? "changed" : changed),
                                 "--out",
                                 out,
                                 "--title",
                                 "T"};
        for (qsizetype i = 0; i + 1 < extra.size(); i += 2) {
            const qsizetype at = arguments.indexOf(extra.at(i));
            if (at < 0)
                arguments << extra.at(i) << extra.at(i + 1);
            else
                arguments[at + 1] = extra.at(i + 1);
        }
        const TRun run = Run(arguments);
        QCOMPARE(run.ExitCode, exitCode);
        QVERIFY2(run.Err.contains(message), qPrintable(run.Err));
        // Nothing left behind: no folder, no scratch folders, no work folder of the check.
        QCOMPARE(
            QDir(root + "/out").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{"exists"});
        QCOMPARE(ReadWholeFile(root + "/out/exists/kept.txt"), "kept");
        QVERIFY(!QFileInfo::exists(m_program + "/tools/temp"));
    }
};

QTEST_GUILESS_MAIN(TestQvtpatchMakePatch)
#include "TestQvtpatchMakePatch.moc"
