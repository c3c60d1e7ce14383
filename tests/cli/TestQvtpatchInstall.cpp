// qvtpatch's installation mode run as a program from a temporary program folder with the real
// tools, on small sample images.

#include "ConsoleOutput.h"
#include "tests/desktop/RealProgramFolder.h"

#include "ctr/Verify.h"
#include "ctr/Z3ds.h"
#include "ctr/Z3dsWrite.h"
#include "desktop/FileTools.h"
#include "desktop/Identify.h"
#include "desktop/InstallJob.h"
#include "desktop/Language.h"
#include "desktop/ModFolder.h"
#include "desktop/PatchCatalogue.h"
#include "desktop/Places.h"
#include "sample/SampleCrypt.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <random>

#ifndef _WIN32
#include <signal.h>
#endif

namespace {

// Sends a signal as a shell's kill does; Windows has no such thing for a console program.
bool SendSignal(qint64 pid, int signal_number) {
#ifdef _WIN32
    (void)pid;
    (void)signal_number;
    return false;
#else
    return ::kill(static_cast<pid_t>(pid), signal_number) == 0;
#endif
}

struct TResult {
    int ExitCode = -1;
    QString Out;
    QString Err;
};

} // namespace

class TestQvtpatchInstall : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_program;
    QString m_patch;
    QString m_cia;
    QString m_3ds;
    TLanguageTable m_texts;

    TResult Run(const QStringList& arguments, const QString& home = QString()) {
        QProcess process;
        if (!home.isEmpty()) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("HOME", home);
            environment.remove("XDG_DATA_HOME");
            process.setProcessEnvironment(environment);
        }
        process.start(m_program + "/qvtpatch", arguments);
        process.waitForFinished(120000);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                ConsoleText(process.readAllStandardOutput()),
                ConsoleText(process.readAllStandardError())};
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // No emulator's key folder of this machine takes part.
        qputenv("XDG_DATA_HOME", (m_dir.path() + "/no emulators").toUtf8());
        m_program = m_dir.path() + "/program";
        QVERIFY(MakeRealProgramFolder(m_program, true));
        QVERIFY(m_texts.LoadFile(m_program + "/lang/English.lng"));
        m_patch = m_dir.path() + "/patch folder";
        m_cia = m_dir.path() + "/source image.cia";
        m_3ds = m_dir.path() + "/source image.3ds";
        QCOMPARE(WriteSampleImage(m_program + "/tools", ".cia", m_cia, m_patch), QString());
        QCOMPARE(WriteSampleImage(m_program + "/tools", ".3ds", m_3ds, QString()), QString());
        for (const char* title : {"Sample One", "Sample Two"}) {
            const QString copy = m_program + "/patch/" + title;
            QVERIFY(QDir().mkpath(m_program + "/patch") &&
                    CopyFolder(m_patch, m_program + "/patch"));
            QVERIFY(QDir().rename(m_program + "/patch/patch folder", copy));
            for (const QString& name : QDir(copy).entryList({"*.dsc"})) {
                QFile file(copy + "/" + name);
                QVERIFY(file.open(QIODevice::ReadOnly));
                QString text = QString::fromUtf8(file.readAll());
                file.close();
                text.replace(QRegularExpression("Title *= *[^\r\n]*"),
                             QString("Title=\"%1\"").arg(title));
                QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
                file.write(text.toUtf8());
            }
        }
    }

    void helpAndVersion() {
        TResult result = Run({"--help"});
        QCOMPARE(result.ExitCode, 0);
        QVERIFY(result.Out.contains("qvtpatch install --source") ||
                result.Out.contains("--source <IMAGE>"));
        result = Run({"--version"});
        QCOMPARE(result.ExitCode, 0);
        QVERIFY2(QRegularExpression("^qvtpatch \\d+\\.\\d+\\.\\d+\n$").match(result.Out).hasMatch(),
                 qPrintable(result.Out));
    }

    void everyProgramAnswersHelpAndVersion_data() {
        QTest::addColumn<QString>("program");
        for (const char* name : {"qvtpatch", "qvtpatch-gui", "bcsartool", "qvtsample",
                                 "tools/ctrtool", "tools/3dstool", "tools/makerom"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void everyProgramAnswersHelpAndVersion() {
        QFETCH(QString, program);
        const QString path = qEnvironmentVariable("QVT_APP_DIR") + "/" + program;
        const QString name = QFileInfo(program).fileName();
        for (const char* option : {"--help", "--version"}) {
            QProcess process;
            process.start(path, {option});
            QVERIFY(process.waitForFinished(120000));
            const QString out = ConsoleText(process.readAllStandardOutput());
            QCOMPARE(process.exitCode(), 0);
            if (QByteArray(option) == "--help")
                QVERIFY2(out.contains("--version"), qPrintable(out));
            else
                QVERIFY2(QRegularExpression("^" + QRegularExpression::escape(name) +
                                            " \\d+\\.\\d+\\.\\d+\n$")
                             .match(out)
                             .hasMatch(),
                         qPrintable(out));
        }
    }

    void musicRoundTripsThroughInstall() {
        const TResult json = Run({"music", m_cia, "--json"});
        QCOMPARE(json.ExitCode, 0);
        const QJsonArray cells = QJsonDocument::fromJson(json.Out.toUtf8()).array();
        QCOMPARE(cells.size(), 34);
        QCOMPARE(cells.at(33).toObject().value("row").toInt(), 0);
        QCOMPARE(cells.at(10).toObject().value("row").toInt(), 4);
        const QString wanted = cells.at(1).toObject().value("id").toString();
        QVERIFY(wanted != cells.at(0).toObject().value("id").toString());

        // The text is a music file: change slot 0 to slot 1's track and install it.
        QStringList lines = Run({"music", m_cia}).Out.split('\n');
        QVERIFY(lines.at(1).startsWith("0 1 1 "));
        lines[1] = "0 1 1 " + wanted;
        const QString music = m_dir.path() + "/music.txt";
        QFile file(music);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(lines.join('\n').toUtf8());
        file.close();
        const QString before = FileMD5Hex(m_cia);
        const QString output = m_dir.path() + "/music.cia";
        const TResult run = Run({"install", "--source", m_cia, "--output", output, "--kind", "cia",
                                 "--music", music, "--quiet"});
        QVERIFY2(run.ExitCode == 0, qPrintable(run.Out + run.Err));
        QCOMPARE(FileMD5Hex(m_cia), before);
        const QStringList after = Run({"music", output}).Out.split('\n');
        QCOMPARE(after.at(1).section(' ', 0, 3), "0 1 1 " + wanted);
        QCOMPARE(after.mid(2), lines.mid(2));
    }

    // An encrypted copy of a sample with made-up keys, written as files into `key_folder`;
    // returns every key's text so a test can look for it in the output.
    QStringList Encrypt(const QString& plain, const QString& encrypted, bool fixed_key, bool seed,
                        const QString& key_folder) {
        std::mt19937_64 random{std::random_device{}()};
        ctr::TCryptoKeys keys = sample::MakeUpKeys(random());
        sample::TEncryption encryption;
        encryption.FixedKey = fixed_key;
        encryption.CryptoMethod = 0x0B;
        if (seed)
            encryption.Seed = ctr::TSeed{static_cast<std::uint8_t>(random()), 1, 2, 3};
        sample::EncryptImage(plain.toStdU16String(),
                             *ctr::ImageKindFromText(plain.right(3).toStdString()),
                             encrypted.toStdU16String(), encryption, keys);
        QDir().mkpath(key_folder);
        sample::WriteKeyFiles((key_folder + "/aes_keys.txt").toStdU16String(), keys);
        QStringList values;
        for (const QString& line :
             QString::fromStdString(ctr::FormatKeyFile(keys.Keys)).split('\n', Qt::SkipEmptyParts))
            values << line.section('=', 1);
        return values;
    }

    void encryptedSourcesInstallWithKeysOrSayWhatToDo_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("fixed_key");
        QTest::addColumn<bool>("seed");
        QTest::addColumn<QString>("keys"); // where the key files lie: given, program, none
        QTest::newRow("CIA with seed, given keys, to CIA") << "cia"
                                                           << "cia" << false << true << "given";
        QTest::newRow("CIA, program folder keys, to mods") << "cia"
                                                           << "mods" << false << false << "program";
        QTest::newRow("3DS with fixed key to 3DS") << "3ds"
                                                   << "3ds" << true << false << "none";
        QTest::newRow("3DS without keys is refused") << "3ds"
                                                     << "cxi" << false << false << "none";
        QTest::newRow("compressed 3DS, given keys, to 3DS") << "zcci"
                                                            << "3ds" << false << false << "given";
    }
    void encryptedSourcesInstallWithKeysOrSayWhatToDo() {
        QFETCH(QString, source);
        QFETCH(QString, kind);
        QFETCH(bool, fixed_key);
        QFETCH(bool, seed);
        QFETCH(QString, keys);
        const QString given = m_dir.path() + "/given keys";
        const QString program_keys = m_program + "/keys";
        QString encrypted = m_dir.path() + "/encrypted." + (source == "cia" ? "cia" : "3ds");
        const QStringList values = Encrypt(source == "cia" ? m_cia : m_3ds, encrypted, fixed_key,
                                           seed, keys == "program" ? program_keys : given);
        if (source == "zcci") {
            ctr::CompressImage(encrypted.toStdU16String(), ctr::TImageKind::Cci,
                               (encrypted + ".zcci").toStdU16String());
            encrypted += ".zcci";
        }
        QStringList key_options;
        if (keys == "given")
            key_options = {"--keys", given + "/aes_keys.txt", "--seeddb", given + "/seeddb.bin"};
        if (keys != "given")
            QFile::remove(given + "/aes_keys.txt");

        const TResult identify = Run(QStringList{"identify", encrypted, "--json"} + key_options);
        const QJsonObject object = QJsonDocument::fromJson(identify.Out.toUtf8()).object();
        QVERIFY(object.value("encrypted").toBool());
        const bool usable = fixed_key || keys != "none";
        QCOMPARE(object.value("keysFound").toBool(), usable);
        QCOMPARE(identify.ExitCode, usable ? 0 : 1);
        QCOMPARE(object.value("error").isNull(), usable);
        // The music is read through the keys, as from the decrypted image, or refused.
        const TResult music = Run(QStringList{"music", encrypted} + key_options);
        QCOMPARE(music.ExitCode, usable ? 0 : 1);
        if (usable)
            QCOMPARE(music.Out, Run({"music", source == "cia" ? m_cia : m_3ds}).Out);
        else
            QVERIFY2(music.Err.contains(m_texts.Lookup("LogEncryptedNoKeys")),
                     qPrintable(music.Err));

        const QString output = m_dir.path() + "/from encrypted " + source + "." + kind;
        const TResult run = Run(QStringList{"install", "--source", encrypted, "--output", output,
                                            "--kind", kind, "--patch", m_patch, "--quiet"} +
                                key_options);
        QDir(program_keys).removeRecursively();
        for (const QString& value : values)
            QVERIFY2(!(run.Out + run.Err + identify.Out).contains(value, Qt::CaseInsensitive),
                     "a key appears in the output");
        if (!usable) {
            QVERIFY(run.ExitCode != 0);
            QVERIFY2(run.Out.contains(m_texts.Lookup("LogEncrypted")), qPrintable(run.Out));
            QVERIFY(run.Out.contains(m_texts.Lookup("LogEncryptedNoKeys")));
            QVERIFY(run.Out.contains(m_texts.Lookup("LogEncryptedGodMode9")));
            QVERIFY(!QFileInfo::exists(output));
            return;
        }
        QVERIFY2(run.ExitCode == 0, qPrintable(run.Out + run.Err));
        QVERIFY(run.Out.contains(m_texts.Lookup("LogEncryptedWillDecrypt")));
        QVERIFY(run.Out.contains(m_texts.Lookup("DecryptingSource")));
        QVERIFY(run.Out.contains(m_texts.Lookup("ApplyingXdelta")));
        QVERIFY(!QFileInfo::exists(m_program + "/tools/temp"));
        if (kind != "mods") {
            QCOMPARE(CheckOutputImage(output, "." + kind, m_texts), QString());
            return;
        }
        // Read through its decryption, the image gives the folder its decrypted form gives.
        const QString plain_output = m_dir.path() + "/from decrypted " + source + "." + kind;
        const TResult plain = Run({"install", "--source", m_cia, "--output", plain_output, "--kind",
                                   kind, "--patch", m_patch, "--quiet"});
        QVERIFY2(plain.ExitCode == 0, qPrintable(plain.Out + plain.Err));
        const QStringList files = FilesBelow(output);
        QVERIFY(files.contains("0004000000133300/romfs/pack.dat"));
        QCOMPARE(files, FilesBelow(plain_output));
        for (const QString& file : files)
            QVERIFY2(ReadWholeFile(output + "/" + file) == ReadWholeFile(plain_output + "/" + file),
                     qPrintable(file));
    }

    void wrongKeysAreNamedWithoutTheirValues() {
        const QString folder = m_dir.path() + "/wrong keys";
        const QString encrypted = m_dir.path() + "/wrong.cia";
        Encrypt(m_cia, encrypted, false, false, folder);
        const QString other = m_dir.path() + "/other keys";
        const QStringList values = Encrypt(m_cia, m_dir.path() + "/other.cia", false, false, other);
        const TResult run = Run({"identify", encrypted, "--keys", other + "/aes_keys.txt"});
        QCOMPARE(run.ExitCode, 1);
        QVERIFY2(run.Out.contains(m_texts.Lookup("LogEncryptedKeyProblem") +
                                  " the keys do not fit this image"),
                 qPrintable(run.Out));
        for (const QString& value : values)
            QVERIFY(!run.Out.contains(value, Qt::CaseInsensitive));
        QFile broken(folder + "/aes_keys.txt");
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("# made up\nslot0x2CKeyX=" + values.first().left(31).toLatin1() + "\n");
        broken.close();
        const TResult bad = Run({"identify", encrypted, "--keys", folder + "/aes_keys.txt"});
        QCOMPARE(bad.ExitCode, 1);
        QVERIFY2(bad.Out.contains("key file line 2: the value of slot0x2CKeyX"),
                 qPrintable(bad.Out));
        QVERIFY(!bad.Out.contains(values.first().left(31), Qt::CaseInsensitive));
    }

    // Each key file found is tried in turn; a missing key is named with the files read, and an
    // image that cannot be taken apart says why, in the text and in the JSON error.
    void keyProblemsAreNamed_data() {
        QTest::addColumn<QString>("setup");
        QTest::newRow("a key missing from the named file") << "missing";
        QTest::newRow("another console's keys before the emulator's keys.txt") << "second";
        QTest::newRow("a truncated image") << "cut";
    }
    void keyProblemsAreNamed() {
        QFETCH(QString, setup);
        const QString folder = m_dir.path() + "/key sets";
        const QString encrypted = m_dir.path() + "/key sets.cia";
        QDir(folder).removeRecursively();
        const QStringList values = Encrypt(m_cia, encrypted, false, false, folder);
        const QString key_file = folder + "/aes_keys.txt";
        QString text = QString::fromLatin1(ReadWholeFile(key_file));
        const QString sysdata = EmulatorUserFolders(SystemFolderInputs()).value(0) + "/sysdata";
        QStringList options{"--keys", key_file};
        QFile file(key_file);
        if (setup == "missing") {
            text.remove(QRegularExpression("slot0x1BKeyX=[0-9A-F]+\n"));
        } else if (setup == "second") {
            Encrypt(m_cia, m_dir.path() + "/other.cia", false, false, m_program + "/keys");
            QVERIFY(QDir().mkpath(sysdata));
            file.setFileName(sysdata + "/keys.txt");
            text = "\xEF\xBB\xBF:AES\r\n" + text + ":RSA\r\nmodulus\r\n";
            options.clear();
        } else {
            QVERIFY(QFile::resize(encrypted, QFileInfo(encrypted).size() - 0x1000));
        }
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toLatin1());
        file.close();
        const TResult run = Run(QStringList{"identify", encrypted} + options);
        const TResult json = Run(QStringList{"identify", encrypted, "--json"} + options);
        QDir(m_program + "/keys").removeRecursively();
        QDir(sysdata).removeRecursively();
        for (const QString& value : values)
            QVERIFY(!(run.Out + json.Out).contains(value, Qt::CaseInsensitive));
        if (setup == "second") {
            QVERIFY2(run.ExitCode == 0, qPrintable(run.Out));
            QVERIFY(run.Out.contains(m_texts.Lookup("LogEncryptedKeysFrom") + " " +
                                     QDir::toNativeSeparators(sysdata + "/keys.txt")));
            return;
        }
        QCOMPARE(run.ExitCode, 1);
        const QJsonObject object = QJsonDocument::fromJson(json.Out.toUtf8()).object();
        const QString error = object.value("error").toString();
        if (setup == "missing") {
            QVERIFY2(run.Out.contains(m_texts.Lookup("LogEncryptedKeyProblem") +
                                      " the key file lacks slot0x1BKeyX"),
                     qPrintable(run.Out));
            QVERIFY(run.Out.contains(m_texts.Lookup("LogEncryptedFilesRead") + " " +
                                     QDir::toNativeSeparators(key_file)));
            QVERIFY2(error.contains("slot0x1BKeyX"), qPrintable(json.Out));
            // The title ID comes from the TMD, not from the still encrypted NCCH.
            const TResult plain = Run({"identify", m_cia, "--json"});
            QCOMPARE(
                object.value("titleId").toString(),
                QJsonDocument::fromJson(plain.Out.toUtf8()).object().value("titleId").toString());
            return;
        }
        QVERIFY2(run.Out.contains(m_texts.Lookup("LogEncryptedImageProblem") + " "),
                 qPrintable(run.Out));
        QVERIFY2(error.contains("truncated"), qPrintable(json.Out));
    }

    void identifyCommandTextAndJson() {
        const TResult text = Run({"identify", m_cia});
        QCOMPARE(text.ExitCode, 0);
        const QRegularExpressionMatch id =
            QRegularExpression("\nTitleId: ([0-9A-F]{16})\n").match(text.Out);
        QVERIFY2(id.hasMatch(), qPrintable(text.Out));
        const TResult json = Run({"identify", m_cia, "--json"});
        QCOMPARE(json.ExitCode, 0);
        const QJsonObject object = QJsonDocument::fromJson(json.Out.toUtf8()).object();
        QCOMPARE(object.value("kind").toString(), "cia");
        QCOMPARE(object.value("region").toString(), "EUR");
        QCOMPARE(object.value("titleId").toString(), id.captured(1));
        QCOMPARE(object.value("encrypted").toBool(), false);
        QVERIFY(object.value("infoPosition").toInteger() > 0);
        QVERIFY(object.value("errorKey").isNull());
        const auto patch = ReadPatchDescription(m_patch + "/English.dsc");
        QVERIFY(patch.has_value());
        QCOMPARE(object.value("packDatMD5").toString(), patch->OriginalPackDatMD5);
        QCOMPARE(object.value("packIncMD5").toString(), patch->OriginalPackIncMD5);
        QVERIFY(text.Out.contains("\nPackDatMD5: " + patch->OriginalPackDatMD5 + "\n"));
        const TResult bad = Run({"identify", m_program + "/lang/English.lng", "--json"});
        QCOMPARE(bad.ExitCode, 1);
        QCOMPARE(
            QJsonDocument::fromJson(bad.Out.toUtf8()).object().value("error").toString(),
            m_texts.Lookup(
                QJsonDocument::fromJson(bad.Out.toUtf8()).object().value("errorKey").toString()));
    }

    void patchesListsTheCatalogueAndInstallTakesATitle() {
        const TResult text = Run({"patches", m_cia});
        QCOMPARE(text.ExitCode, 0);
        QCOMPARE(text.Out.split('\n', Qt::SkipEmptyParts).size(), 3);
        const TResult json = Run({"patches", m_cia, "--json"});
        const QJsonArray entries = QJsonDocument::fromJson(json.Out.toUtf8()).array();
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries.at(0).toObject().value("title").toString(), m_texts.Lookup("None"));
        QVERIFY(entries.at(0).toObject().value("folder").isNull());
        const QJsonObject two = entries.at(2).toObject();
        QCOMPARE(two.value("title").toString(), "Sample Two");
        QCOMPARE(QFileInfo(two.value("folder").toString()).fileName(), "Sample Two");
        QVERIFY(two.value("difference").toBool());
        QVERIFY(two.value("voices").toBool());
        const TResult run =
            Run({"install", "--source", m_cia, "--output", m_dir.path() + "/titled.cia", "--kind",
                 "cia", "--patch", "sample t", "--quiet"});
        QVERIFY2(run.ExitCode == 0, qPrintable(run.Out + run.Err));
        QVERIFY(run.Out.contains(m_texts.Lookup("ApplyingXdelta")));
        QVERIFY(!run.Err.contains('\x1b') && !run.Err.contains('\r'));

        // The fit of each entry: the untouched game, the output that carries the patch, and a
        // game whose pack.dat holds other bytes. "None" fits every image.
        const QString other = m_dir.path() + "/other data.cia";
        QVERIFY(QFile::copy(m_cia, other));
        const auto files = ctr::ListRomFsFiles(other.toStdU16String(), ctr::TImageKind::Cia);
        const auto pack_dat = std::find_if(
            files.begin(), files.end(), [](const auto& file) { return file.Path == "pack.dat"; });
        QVERIFY(pack_dat != files.end());
        QFile changed(other);
        QVERIFY(changed.open(QIODevice::ReadWrite) &&
                changed.seek(qint64(pack_dat->Location.Offset) + 100) && changed.write("x") == 1);
        changed.close();
        for (const auto& [image, fit] : {std::pair{m_cia, "fits"},
                                         {m_dir.path() + "/titled.cia", "installed"},
                                         {other, "differs"}}) {
            const TResult listed = Run({"patches", image, "--json"});
            const QJsonArray fits = QJsonDocument::fromJson(listed.Out.toUtf8()).array();
            QCOMPARE(fits.size(), 3);
            QCOMPARE(fits.at(0).toObject().value("fit").toString(), "fits");
            QCOMPARE(fits.at(1).toObject().value("fit").toString(), fit);
            QCOMPARE(fits.at(2).toObject().value("fit").toString(), fit);
        }
    }

    void progressLineOnlyOnATerminal() {
#if defined(_WIN32)
        QSKIP("a terminal is made with script(1)");
#endif
        QProcess process;
        const QString output = m_dir.path() + "/terminal.cia";
        QStringList command = {
            m_program + "/qvtpatch", "--source", m_cia, "--output", output, "--kind", "cia"};
        for (QString& word : command)
            word = "'" + word.replace("'", "'\\''") + "'";
        process.start("script", {"-qec", command.join(' '), "/dev/null"});
        QVERIFY(process.waitForFinished(120000));
        const QString seen = ConsoleText(process.readAllStandardOutput());
        QCOMPARE(process.exitCode(), 0);
        QVERIFY2(seen.contains("100% ") && seen.contains("\r\x1b[K"), qPrintable(seen));
        QVERIFY(seen.contains(m_texts.Lookup("CliTotalTime") + " 0:"));
    }

    // A compressed source, and one whose name does not say its kind, installs as the plain
    // image it holds does: the same output bytes, the same mod folder.
    void everySourceFormInstallsAlike_data() {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::newRow("ZCIA to CXI") << "cia"
                                     << "game.zcia"
                                     << "cxi";
        QTest::newRow("ZCIA to mods") << "cia"
                                      << "game.zcia"
                                      << "mods";
        QTest::newRow("ZCCI to CIA") << "3ds"
                                     << "game.zcci"
                                     << "cia";
        QTest::newRow("CCI to CXI") << "3ds"
                                    << "game.cci"
                                    << "cxi";
        QTest::newRow("CIA named .bin to mods") << "cia"
                                                << "game.bin"
                                                << "mods";
    }
    void everySourceFormInstallsAlike() {
        QFETCH(QString, plain);
        QFETCH(QString, name);
        QFETCH(QString, kind);
        const QString image = plain == "cia" ? m_cia : m_3ds;
        const QString base = m_dir.path() + "/forms/" + QTest::currentDataTag();
        QVERIFY(QDir().mkpath(base));
        const QString source = base + "/" + name;
        if (name.startsWith("game.z"))
            ctr::CompressImage(image.toStdU16String(), *ctr::ImageKindFromText(plain.toStdString()),
                               source.toStdU16String());
        else
            QVERIFY(QFile::copy(image, source));
        const QString before = FileMD5Hex(source);
        const auto install = [&](const QString& from, const QString& output) {
            const TResult result = Run({"--source", from, "--output", output, "--kind", kind,
                                        "--patch", m_patch, "--quiet"});
            QVERIFY2(result.ExitCode == 0, qPrintable(result.Out + result.Err));
        };
        const QString suffix = kind == "mods" ? QString() : "." + kind;
        install(image, base + "/from plain" + suffix);
        if (QTest::currentTestFailed())
            return;
        install(source, base + "/from form" + suffix);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(FileMD5Hex(source), before);
        QVERIFY(!QFileInfo::exists(m_program + "/tools/temp"));
        if (kind == "mods") {
            const QStringList files = FilesBelow(base + "/from plain");
            QVERIFY(!files.isEmpty());
            QCOMPARE(FilesBelow(base + "/from form"), files);
            for (const QString& file : files)
                QCOMPARE(FileMD5Hex(base + "/from form/" + file),
                         FileMD5Hex(base + "/from plain/" + file));
        } else {
            QCOMPARE(FileMD5Hex(base + "/from form" + suffix),
                     FileMD5Hex(base + "/from plain" + suffix));
        }
    }

    void installsWithPatch_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("kind");
        QTest::newRow("CIA to CXI") << "cia"
                                    << "cxi";
        QTest::newRow("3DS to 3DS") << "3ds"
                                    << "3ds";
    }
    void installsWithPatch() {
        QFETCH(QString, source);
        QFETCH(QString, kind);
        const QString image = source == "cia" ? m_cia : m_3ds;
        const QString before = FileMD5Hex(image);
        const QString output =
            m_dir.path() + QString::fromUtf8("/вывод 'x' ") + source + "." + kind;
        const TResult result = Run({"--source", image, "--output", output, "--kind", kind,
                                    "--patch", m_patch, "--voice", "2"});
        QVERIFY2(result.ExitCode == 0, qPrintable(result.Out + result.Err));
        const QStringList lines = result.Out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.last(), "[" + QDir::toNativeSeparators(output) + "]");
        QCOMPARE(lines.at(lines.size() - 2), m_texts.Lookup("PatchingSuccessful"));
        QVERIFY(result.Out.contains(m_texts.Lookup("StartPatching")));
        QVERIFY(result.Out.contains(m_texts.Lookup("MD5Matched")));
        QVERIFY(result.Out.contains(m_texts.Lookup("ApplyingXdelta")));
        QVERIFY(result.Out.contains(m_texts.Lookup("ApplyingVoice")));
        QVERIFY(!QFileInfo::exists(m_program + "/tools/temp"));
        QCOMPARE(FileMD5Hex(image), before);
        QCOMPARE(IdentifySourceImage(output, m_texts).Kind, "." + kind);
    }

    // A card image by its other name and the compressed forms hold, byte for byte, the image
    // of the plain form from the same source.
    void cciAndCompressedOutputs_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("plain");
        QTest::newRow("3DS to CCI") << "3ds"
                                    << "cci"
                                    << "3ds";
        QTest::newRow("3DS to ZCCI") << "3ds"
                                     << "zcci"
                                     << "3ds";
        QTest::newRow("CIA to ZCIA") << "cia"
                                     << "zcia"
                                     << "cia";
        QTest::newRow("CIA to ZCXI") << "cia"
                                     << "zcxi"
                                     << "cxi";
    }
    void cciAndCompressedOutputs() {
        QFETCH(QString, source);
        QFETCH(QString, kind);
        QFETCH(QString, plain);
        const QString image = source == "cia" ? m_cia : m_3ds;
        const QString base = m_dir.path() + "/form " + QTest::currentDataTag();
        const QString output = base + "." + kind;
        const TResult run = Run({"--source", image, "--output", output, "--kind", kind});
        QVERIFY2(run.ExitCode == 0, qPrintable(run.Out + run.Err));
        QCOMPARE(run.Out.contains(m_texts.Lookup("CompressingOutput")), kind.startsWith('z'));
        QVERIFY(run.Out.endsWith("[" + QDir::toNativeSeparators(output) + "]\n"));
        const TResult plain_run =
            Run({"--source", image, "--output", base + "." + plain, "--kind", plain, "--quiet"});
        QVERIFY2(plain_run.ExitCode == 0, qPrintable(plain_run.Out + plain_run.Err));

        QString read_back = output;
        if (kind.startsWith('z')) {
            QVERIFY(ctr::IsZ3dsFile(output.toStdU16String()));
            read_back = base + " read back." + plain;
            ctr::DecompressImage(output.toStdU16String(), read_back.toStdU16String());
        }
        QCOMPARE(FileMD5Hex(read_back), FileMD5Hex(base + "." + plain));
        QProcess ctrtool;
        ctrtool.start(m_program + "/tools/ctrtool", {"-y", read_back});
        QVERIFY(ctrtool.waitForFinished(120000));
        QCOMPARE(ctrtool.exitCode(), 0);
        QCOMPARE(CheckOutputImage(output, "." + kind, m_texts), QString());
        QVERIFY(!QFileInfo::exists(m_program + "/tools/temp"));
    }

    void noPatchIsTheNoneEntry() {
        const QString output = m_dir.path() + "/plain.cia";
        const TResult result = Run({"--source", m_cia, "--output", output, "--kind", "cia"});
        QVERIFY2(result.ExitCode == 0, qPrintable(result.Out + result.Err));
        QVERIFY(!result.Out.contains(m_texts.Lookup("CheckingMD5PackDat")));
        QVERIFY(!result.Out.contains(m_texts.Lookup("ApplyingVoice")));
        QVERIFY(result.Out.endsWith("[" + QDir::toNativeSeparators(output) + "]\n"));
    }

    void languageChoosesTextsAndDescription() {
        TLanguageTable russian;
        QVERIFY(russian.LoadFile(m_program + QString::fromUtf8("/lang/Русский.lng")));
        const QString output = m_dir.path() + "/russian.cia";
        const TResult result = Run({"--source", m_cia, "--output", output, "--kind", "cia",
                                    "--patch", m_patch, "--lang", QString::fromUtf8("Русский")});
        QVERIFY2(result.ExitCode == 0, qPrintable(result.Out + result.Err));
        QVERIFY(result.Out.contains(russian.Lookup("StartPatching")));
        QVERIFY(result.Out.contains(russian.Lookup("PatchingSuccessful")));
        QVERIFY(!result.Out.contains(m_texts.Lookup("PatchingSuccessful")));
    }

    void refusals_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString out = m_dir.path() + "/refused.cia";
        QTest::newRow("3DS output from a CIA")
            << QStringList{"--source", m_cia, "--output", out, "--kind", "3ds"} << "3DS";
        QTest::newRow("compressed card image from a CIA")
            << QStringList{"--source", m_cia, "--output", out, "--kind", "zcci"} << "3DS";
        QTest::newRow("compressed output is the source")
            << QStringList{"--source", m_cia, "--output", m_dir.path() + "/source image.zcia",
                           "--kind",   "cia"}
            << m_texts.Lookup("ErrorOutputIsSource");
        QTest::newRow("output is the source")
            << QStringList{"--source", m_cia, "--output", m_cia, "--kind", "cia"}
            << m_texts.Lookup("ErrorOutputIsSource");
#if !defined(_WIN32) // a link made there is a shortcut file, not a link
        QTest::newRow("output links to the source")
            << QStringList{"--source", m_cia, "--output", m_dir.path() + "/link.cia",
                           "--kind",   "cia"}
            << m_texts.Lookup("ErrorOutputIsSource");
#endif
        QTest::newRow("unknown kind")
            << QStringList{"--source", m_cia, "--output", out, "--kind", "iso"} << "--kind";
        QTest::newRow("missing output")
            << QStringList{"--source", m_cia, "--kind", "cia"} << "usage";
        QTest::newRow("bad voice")
            << QStringList{"--source", m_cia, "--output", out, "--kind", "cia", "--voice", "3"}
            << "--voice";
        QTest::newRow("not an image")
            << QStringList{"--source", m_program + "/lang/English.lng", "--output", out, "--kind",
                           "cia"}
            << "";
        QTest::newRow("patch of another region")
            << QStringList{"--source", m_cia, "--output", out,
                           "--kind",   "cia", "--patch",  m_dir.path() + "/usa"}
            << "USA";
        QTest::newRow("unknown command") << QStringList{"instal", "--source", m_cia} << "instal";
        QTest::newRow("unknown option")
            << QStringList{"install", "--source", m_cia, "--output", out, "--kind", "cia", "--x"}
            << "'x'";
        QTest::newRow("missing value") << QStringList{"install", "--source"} << "--source";
        QTest::newRow("option of another command")
            << QStringList{"identify", m_cia, "--kind", "cia"} << "--kind";
        QTest::newRow("voice out of range")
            << QStringList{"install", "--source", m_cia,     "--output", out,
                           "--kind",  "cia",      "--voice", "-1"}
            << "'-1'";
        QTest::newRow("title of no patch")
            << QStringList{"install", "--source", m_cia,     "--output", out,
                           "--kind",  "cia",      "--patch", "Other"}
            << "'Other'";
        QTest::newRow("title of several patches")
            << QStringList{"install", "--source", m_cia,     "--output", out,
                           "--kind",  "cia",      "--patch", "SAMPLE"}
            << "Sample One, Sample Two";
        const auto music = [&](const char* name, const QByteArray& text) {
            const QString path = m_dir.path() + "/music " + name + ".txt";
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            file.write("# a comment\n\n" + text);
            return QStringList{"install", "--source", m_cia,     "--output", out,
                               "--kind",  "cia",      "--music", path};
        };
        QTest::newRow("music: unknown slot") << music("slot", "34 0 0 BGM008\n") << "line 3";
        QTest::newRow("music: malformed line") << music("line", "0 1 BGM008\n") << "line 3";
        QTest::newRow("music: duplicate slot")
            << music("twice", "5 2 3 BGM008\n5 2 3 BGM013\n") << "line 4: slot 5";
        QTest::newRow("music: id of 5") << music("short", "0 1 1 BGM08\n") << "'BGM08'";
        QTest::newRow("music: wrong cell") << music("cell", "0 2 1 BGM008\n") << "row 1";
        QTest::newRow("music: no file")
            << music("none", "").replaceInStrings("none", "nothere") << "nothere";
        QTest::newRow("folder without description")
            << QStringList{"--source", m_cia, "--output", out,
                           "--kind",   "cia", "--patch",  m_dir.path()}
            << ".dsc";
    }
    void refusals() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QFile::link(m_cia, m_dir.path() + "/link.cia");
        QDir().mkpath(m_dir.path() + "/usa");
        QFile usa(m_dir.path() + "/usa/English.dsc");
        QVERIFY(usa.open(QIODevice::WriteOnly));
        usa.write("Region=USA\r\nTitle=Other\r\n");
        usa.close();
        const QString before = FileMD5Hex(m_cia);
        const TResult result = Run(arguments);
        QCOMPARE(result.ExitCode, 2);
        QVERIFY2(result.Err.contains(message), qPrintable(result.Err));
        QVERIFY(!result.Out.contains(m_texts.Lookup("StartPatching")));
        QVERIFY(!QFileInfo::exists(m_dir.path() + "/refused.cia"));
        QCOMPARE(FileMD5Hex(m_cia), before);
    }

    void failedRunExitsOne() {
#if defined(_WIN32)
        QSKIP("a shell script stands in for the tool; the archive's test sees failed runs");
#endif
        const QString makerom = m_program + "/tools/makerom";
        QVERIFY(QFile::rename(makerom, makerom + ".real"));
        QFile script(makerom);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nexit 1\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        const TResult result =
            Run({"--source", m_cia, "--output", m_dir.path() + "/failed.cia", "--kind", "cia"});
        QFile::remove(makerom);
        QFile::rename(makerom + ".real", makerom);
        QCOMPARE(result.ExitCode, 1);
        QVERIFY(result.Out.endsWith(m_texts.Lookup("ErrorRebuildingCIA") + "\n"));
        QVERIFY(!QFileInfo::exists(m_program + "/tools/temp"));
    }

    // A mod folder straight into an emulator's user folder, found in a made-up home (native
    // and Flatpak layouts), or into a folder given; a refusal when no emulator is found.
    void modFolderDestinations_data() {
        QTest::addColumn<QString>("emulatorFolder"); // made below the home; empty: none
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("written"); // below the home; empty: refused
        const QString flatpak = ".var/app/org.azahar_emu.Azahar/data/azahar-emu";
        QTest::newRow("native") << ".local/share/azahar-emu"
                                << "emulator"
                                << ".local/share/azahar-emu/load/mods";
        QTest::newRow("Flatpak") << flatpak << "emulator" << flatpak + "/load/mods";
        QTest::newRow("a folder") << ".local/share/citra-emu"
                                  << "HOME/mine"
                                  << "mine";
        QTest::newRow("no emulator") << ""
                                     << "emulator"
                                     << "";
    }
    void modFolderDestinations() {
        QFETCH(QString, emulatorFolder);
        QFETCH(QString, output);
        QFETCH(QString, written);
        if (qEnvironmentVariableIsSet("APPDATA"))
            QSKIP("the emulator's user folders of a Linux home");
        QTemporaryDir home;
        QVERIFY(home.isValid());
        if (!emulatorFolder.isEmpty())
            QVERIFY(QDir().mkpath(home.filePath(emulatorFolder)));
        output.replace("HOME", home.path());

        const TResult places = Run({"places", "--json"}, home.path());
        QStringList emulators;
        for (const QJsonValue& place : QJsonDocument::fromJson(places.Out.toUtf8()).array()) {
            if (place.toObject().value("kind").toString() == "emulator")
                emulators << place.toObject().value("path").toString();
        }
        QCOMPARE(emulators, emulatorFolder.isEmpty()
                                ? QStringList()
                                : QStringList{home.filePath(emulatorFolder) + "/load/mods"});

        const TResult run = Run({"install", "--source", m_cia, "--output", output, "--kind", "mods",
                                 "--patch", m_patch, "--quiet"},
                                home.path());
        if (written.isEmpty()) {
            QCOMPARE(run.ExitCode, 2);
            QVERIFY2(run.Err.contains(m_texts.Lookup("NoModPlaces")), qPrintable(run.Err));
            return;
        }
        QVERIFY2(run.ExitCode == 0, qPrintable(run.Out + run.Err));
        const QString title_id = IdentifySourceImage(m_cia, m_texts).TitleId;
        QVERIFY(QFileInfo(home.filePath(written) + "/" + title_id + "/romfs").isDir());
        QVERIFY(run.Out.contains(m_texts.Lookup(output == "emulator" ? "ModDestinationEmulator"
                                                                     : "ModDestinationFolder")));
        QVERIFY(!run.Out.contains(m_texts.Lookup("ModSdCardReminder")));
    }

    // A mod folder on another volume than tools/temp gets the new pack.dat written straight
    // into it by xdelta3 (on the same volume it is moved in by a rename): the same folder
    // either way. Needs a second volume (a memory file system) and skips without one.
    void modFolderOnAnotherVolume() {
        QTemporaryDir other(QStringLiteral("/dev/shm/qvt-mods-XXXXXX"));
        if (!other.isValid() || FileSystemRootOf(other.path()) == FileSystemRootOf(m_program))
            QSKIP("no second volume here");
        const QString here = m_dir.path() + "/mods on this volume";
        for (const QString& output : {here, other.path()}) {
            const TResult run = Run({"install", "--source", m_cia, "--output", output, "--kind",
                                     "mods", "--patch", m_patch, "--quiet"});
            QVERIFY2(run.ExitCode == 0, qPrintable(run.Out + run.Err));
        }
        const QStringList files = FilesBelow(here);
        QVERIFY(files.contains("0004000000133300/romfs/pack.dat"));
        QCOMPARE(FilesBelow(other.path()), files);
        for (const QString& file : files)
            QVERIFY2(ReadWholeFile(other.path() + "/" + file) == ReadWholeFile(here + "/" + file),
                     qPrintable(file));
    }

    // A game folder holding files the program did not write stops the run with nothing changed
    // unless --replace is given; remove-mods takes away only a folder the program wrote (its
    // marker names the patch and every file) and brings the earlier one back.
    void modFolderForeignFilesAndRemoval() {
        const QString output = m_dir.path() + "/mods to remove";
        const QString title_id = IdentifySourceImage(m_cia, m_texts).TitleId;
        const QString game = output + "/" + title_id;
        QVERIFY(QDir().mkpath(game + "/romfs"));
        QFile mine(game + "/romfs/mine.bin");
        QVERIFY(mine.open(QIODevice::WriteOnly) && mine.write("mine") == 4);
        mine.close();
        const QStringList foreign = {title_id + "/romfs/mine.bin"};
        const QStringList install = {"install", "--source", m_cia,     "--output", output,
                                     "--kind",  "mods",     "--patch", m_patch,    "--quiet"};
        const QStringList remove = {"remove-mods", "--output", output};
        const struct {
            QStringList Arguments;
            int Exit;
            const char* Key; // in what the program writes
            bool Written;    // the folder written by the program is there afterwards
        } steps[] = {
            {install, 1, "ModForeignFiles", false},
            {remove, 1, "ModRemoveForeign", false},
            {install + QStringList{"--replace"}, 0, "ModPreviousRenamed", true},
            {remove + QStringList{"--title", title_id.toLower()}, 0, "ModRemoveRestored", false},
            {remove, 1, "ModRemoveForeign", false},
            {remove + QStringList{"--title", "0004"}, 2, "", false},
        };
        for (const auto& step : steps) {
            const TResult run = Run(step.Arguments);
            const QString what = step.Arguments.join(' ') + "\n" + run.Out + run.Err;
            QVERIFY2(run.ExitCode == step.Exit, qPrintable(what));
            QVERIFY2(!*step.Key || (run.Out + run.Err).contains(m_texts.Lookup(step.Key)),
                     qPrintable(what));
            QVERIFY(!QFileInfo::exists(m_program + "/tools/temp"));
            // A refusal names the file that is not the program's.
            const QString mine_name = QDir::toNativeSeparators("romfs/mine.bin");
            QVERIFY2(step.Exit != 1 || (run.Out + run.Err).contains(mine_name), qPrintable(what));
            const QStringList files = FilesBelow(output);
            if (!step.Written) {
                QCOMPARE(files, foreign);
                QCOMPARE(ReadWholeFile(game + "/romfs/mine.bin"), QByteArray("mine"));
                continue;
            }
            QVERIFY(files.contains(title_id + " (previous)/romfs/mine.bin"));
            const std::optional<TModMarker> marker = ReadModMarker(game);
            QVERIFY(marker);
            QCOMPARE(marker->TitleId, title_id);
            QCOMPARE(marker->Patch, ReadPatchDescription(m_patch + "/English.dsc")->Title);
            QStringList named;
            for (const TModMarkerFile& file : marker->Files)
                named << title_id + "/" + file.Path;
            named << title_id + "/" + kModMarkerName << title_id + " (previous)/romfs/mine.bin";
            named.sort();
            QCOMPARE(files, named);
        }
    }

    // Ctrl+C or SIGTERM while a tool runs: the run ends as the window's Cancel ends it, the
    // tool is ended too, and nothing of the run is left; an earlier output stays as it was.
    // The tool of the stage writes a partial file, as ours do, and then waits to be ended.
    void interruptCancelsTheRun_data() {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("stage"); // a shell pattern of the stage's arguments
        QTest::addColumn<QString>("partial");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("kind");
        const QString in_temp = "tools/temp/x.0badf00d.part";
        const QString beside = m_dir.path() + "/interrupted.cia.0badf00d.part";
        QTest::newRow("extraction, Ctrl+C")
            << "ctrtool"
            << "--contents=*" << in_temp << int(SIGINT) << 1 << 130 << "cia";
        QTest::newRow("xdelta, SIGTERM")
            << "xdelta"
            << "'-d -s '*" << in_temp << int(SIGTERM) << 1 << 143 << "cia";
        QTest::newRow("RomFS rebuild, Ctrl+C")
            << "3dstool"
            << "'-ctf romfs '*" << in_temp << int(SIGINT) << 1 << 130 << "cia";
        QTest::newRow("final build, SIGTERM")
            << "makerom"
            << "'-f Cia '*" << beside << int(SIGTERM) << 1 << 143 << "cia";
        QTest::newRow("final build, Ctrl+C twice")
            << "makerom"
            << "'-f Cia '*" << beside << int(SIGINT) << 2 << 130 << "cia";
        // xdelta writes the new pack.dat straight into the mod folder being written (an empty
        // partial: the stand-in writes its last argument, the file xdelta would write).
        QTest::newRow("xdelta into a mod folder, Ctrl+C")
            << "xdelta"
            << "'-d -s '*" << QString() << int(SIGINT) << 1 << 130 << "mods";
    }
    void interruptCancelsTheRun() {
        QFETCH(QString, tool);
        QFETCH(QString, stage);
        QFETCH(QString, partial);
        QFETCH(int, signal);
        QFETCH(int, count);
        QFETCH(int, status);
        QFETCH(QString, kind);
        if (!SendSignal(QCoreApplication::applicationPid(), 0))
            QSKIP("no signals here");
        const QString path = m_program + "/tools/" + tool;
        const QString started = m_dir.path() + "/started";
        const QString release = m_dir.path() + "/release";
        QFile::remove(started);
        QFile::remove(release);
        QVERIFY(QFile::rename(path, path + ".real"));
        QFile script(path);
        QVERIFY(script.open(QIODevice::WriteOnly));
        const QString write_partial = partial.isEmpty()
                                          ? QString("for last; do :; done; : > \"$last\"")
                                          : QString(": > '%1'").arg(partial);
        script.write(QString("#!/bin/sh\ncase \"$*\" in\n%1)\n  %2; : > '%3'\n"
                             "  while [ ! -f '%4' ]; do sleep 0.05; done; exit 1 ;;\nesac\n"
                             "exec \"$0.real\" \"$@\"\n")
                         .arg(stage, write_partial, started, release)
                         .toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        const bool mods = kind == "mods";
        const QString output = m_dir.path() + (mods ? "/interrupted mods" : "/interrupted.cia");
        const QString earlier_file = mods ? output + "/earlier/kept.bin" : output;
        QDir().mkpath(QFileInfo(earlier_file).path());
        QFile earlier(earlier_file);
        QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("an earlier output") > 0);
        earlier.close();

        QProcess process;
        process.start(m_program + "/qvtpatch",
                      {"--source", m_cia, "--output", output, "--kind", kind, "--patch", m_patch});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(started), 120000);
        for (int i = 0; i < count; ++i)
            QVERIFY(SendSignal(process.processId(), signal));
        QVERIFY(process.waitForFinished(120000));
        QFile(release).open(QIODevice::WriteOnly); // lets a tool that was not ended go
        QFile::remove(path);
        QFile::rename(path + ".real", path);
        const QString out = ConsoleText(process.readAllStandardOutput());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), status);
        QCOMPARE(out.count(m_texts.Lookup("CancelInstall")), 1);
        QVERIFY2(!out.contains(m_texts.Lookup("PatchingSuccessful")), qPrintable(out));
        QVERIFY(!QFileInfo::exists(m_program + "/tools/temp"));
        QCOMPARE(ReadWholeFile(earlier_file), QByteArray("an earlier output"));
        QCOMPARE(QDir(m_dir.path()).entryList({"*.part"}), QStringList());
        if (mods)
            QCOMPARE(QDir(output).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList{"earlier"});
    }
};

QTEST_GUILESS_MAIN(TestQvtpatchInstall)
#include "TestQvtpatchInstall.moc"
