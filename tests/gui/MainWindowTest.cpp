// The main window under the offscreen platform: start-up, identification, drag and drop,
// the patch catalogue, patch packages, the language choice and the description links.
#include "desktop/FileTools.h"
#include "desktop/PatchPackage.h"
#include "gui/FileDialogs.h"
#include "gui/Main.h"
#include "gui/MessageBoxes.h"
#include "gui/OpenLink.h"
#include "tests/desktop/SampleImages.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <memory>

namespace {

struct TMessage {
    TMessageKind Kind;
    QString Text;
};

QString EnglishText(const QString& key) {
    TLanguageTable table;
    table.LoadFile(QStringLiteral(QVT_LANG_DIR "/English.lng"));
    return table.Lookup(key);
}

void Touch(const QString& path, const QByteArray& content = QByteArray()) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

QByteArray Dsc(const QString& title, const QString& region, const QString& description = {}) {
    return "\xEF\xBB\xBF" +
           (QStringLiteral("Title=\"%1\"\r\nRegion=\"%2\"\r\nDescription=\"%3\"\r\n"
                           "OriginalPackDatMD5=0123\r\nOriginalPackIncMD5=4567\r\n")
                .arg(title, region,
                     description.isEmpty() ? QStringLiteral("About ") + title : description))
               .toUtf8();
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    /// A program folder of the test's own: language files, placeholder tools, patch folder.
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<TForm1> m_window;
    QList<TMessage> m_messages;
    QList<QUrl> m_opened;

    QString Folder() const { return m_folder->path(); }
    void MakeProgramFolder(const QStringList& tools = {"3dstool", "ctrtool", "makerom"},
                           bool languages = true) {
        m_folder = std::make_unique<QTemporaryDir>();
        QDir().mkpath(Folder() + "/lang");
        QDir().mkpath(Folder() + "/tools");
        QDir().mkpath(Folder() + "/patch");
        if (languages) {
            QFile::copy(QVT_LANG_DIR "/English.lng", Folder() + "/lang/English.lng");
            QFile::copy(QVT_LANG_DIR "/Русский.lng", Folder() + "/lang/Русский.lng");
        }
        for (const QString& tool : tools)
            Touch(Folder() + "/tools/" + ToolFileName(tool), "#!/bin/sh\n");
    }
    TForm1& Open() {
        m_window = std::make_unique<TForm1>(Folder());
        return *m_window;
    }
    template <typename T> T* Control(const char* name) {
        T* control = m_window->findChild<T*>(QLatin1String(name));
        if (control == nullptr)
            qFatal("no control %s", name);
        return control;
    }
    bool Enabled(const char* name) { return Control<QWidget>(name)->isEnabled(); }
    QString Log() { return Control<QPlainTextEdit>("MemoLog")->toPlainText(); }
    QString Image(const sample::TImageSpec& shape, const QString& name) {
        const QString path = Folder() + "/images/" + name;
        QDir().mkpath(Folder() + "/images");
        sample::WriteImage(shape, path);
        return path;
    }
    void ChooseSource(const QString& path) {
        QueueFileDialogAnswer({true, path, 1});
        Control<QPushButton>("btOldRomPath")->click();
    }
    void ChooseOutput(const QString& path, int filter_index = 1) {
        QueueFileDialogAnswer({true, path, filter_index});
        Control<QPushButton>("btNewRomPath")->click();
    }
    QStringList PatchItems() {
        QStringList items;
        auto* box = Control<QComboBox>("CBPatch");
        for (int i = 0; i < box->count(); ++i)
            items.append(box->itemText(i));
        return items;
    }
    void Drop(const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(m_window.get(), &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_window.get(), &drop);
    }
    QStringList MessageTexts() const {
        QStringList texts;
        for (const TMessage& message : m_messages)
            texts.append(message.Text);
        return texts;
    }

private slots:
    void init() {
        m_messages.clear();
        m_opened.clear();
        SetMessageHook([this](TMessageKind kind, const QString& text) {
            m_messages.append({kind, text});
        });
        SetLinkOpenHook([this](const QUrl& url) { m_opened.append(url); });
    }
    void cleanup() {
        m_window.reset();
        m_folder.reset();
        SetMessageHook({});
        SetLinkOpenHook({});
    }

    void initialStateAndFreeSpaceLog() {
        MakeProgramFolder();
        TForm1& window = Open();
        QVERIFY(!window.StartupFailed());
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(window.windowTitle(), QStringLiteral("QVT Patch Tool v.0.7.1"));
        QCOMPARE(window.size(), QSize(657, 482));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        for (const char* name : {"CBLang", "ebOldRom", "btOldRomPath"})
            QVERIFY2(Enabled(name), name);
        for (const char* name : {"ebNewRom", "btNewRomPath", "CBPatch", "TntRadioGroup2",
                                 "BTNMusicChange", "BTNInstallPatch", "BTNCancel", "BTNRemoveMods"})
            QVERIFY2(!Enabled(name), name);
        QVERIFY(Control<QLineEdit>("ebOldRom")->isReadOnly());
        QVERIFY(Control<QLineEdit>("ebNewRom")->isReadOnly());
        QVERIFY(Control<QComboBox>("CBLang")->isEditable());
        QVERIFY(!Control<QComboBox>("CBPatch")->isEditable());
        QVERIFY(Control<QRadioButton>("TntRadioGroup2Item0")->isChecked());
        QCOMPARE(Control<QProgressBar>("ProgressBar1")->value(), 0);
        QCOMPARE(Control<QProgressBar>("ProgressBar1")->maximum(), 100);
        QCOMPARE(Control<QWidget>("btOldRomPath")->geometry(), QRect(256, 49, 25, 25));
        QCOMPARE(Control<QWidget>("MemoLog")->geometry(), QRect(312, 272, 337, 201));
        QCOMPARE(Control<QWidget>("TntGroupBox2")->geometry(), QRect(8, 40, 297, 433));
        QVERIFY(Control<QPlainTextEdit>("MemoLog")->isReadOnly());

        // English texts applied (the test runs in the C locale).
        QCOMPARE(Control<QComboBox>("CBLang")->currentText(), QStringLiteral("English"));
        QCOMPARE(Control<QLabel>("TntLabel0")->text(), EnglishText("Label0"));
        QCOMPARE(Control<QGroupBox>("TntRadioGroup2")->title(), EnglishText("RadioGroup2"));
        QCOMPARE(Control<QRadioButton>("TntRadioGroup2Item2")->text(),
                 EnglishText("RadioGroup2BTN3"));
        QCOMPARE(Control<QPushButton>("BTNInstallPatch")->text(), EnglishText("BTNInstallPatch"));
        QCOMPARE(Control<QTextBrowser>("RichDesc")->toPlainText(),
                 EnglishText("DescriptionDefault").replace("\r\n", "\n"));
        QCOMPARE(window.State().ProgramFolder, Folder() + "/");

        // Three texts: the message and an empty line, the drive, the free space.
        const QStringList lines = Log().split('\n');
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], EnglishText("MessageDiskFreeSpace"));
        QCOMPARE(lines[1], QString());
        QVERIFY(lines[2].startsWith(EnglishText("CurrentDrive")));
        QVERIFY(lines[2].endsWith(QDir::separator()));
        QVERIFY2(QRegularExpression("^" + QRegularExpression::escape(EnglishText("FreeSpace")) +
                                    "[0-9.E+-]+ GB$")
                     .match(lines[3])
                     .hasMatch(),
                 qPrintable(lines[3]));
        QVERIFY(!Log().contains('\r'));
    }

    void toolCheck_data() {
        QTest::addColumn<QStringList>("tools");
        QTest::addColumn<QString>("key");
        QTest::newRow("3dstool and makerom missing") << QStringList{"ctrtool"} << "Missing3dstool";
        QTest::newRow("ctrtool missing") << QStringList{"3dstool", "makerom"} << "Missingctrtool";
        QTest::newRow("makerom missing") << QStringList{"3dstool", "ctrtool"} << "Missingmakerom";
        QTest::newRow("ctrtool is a folder")
            << QStringList{"3dstool", "makerom"} << "Missingctrtool";
    }
    void toolCheck() {
        QFETCH(QStringList, tools);
        QFETCH(QString, key);
        MakeProgramFolder(tools);
        if (QString(QTest::currentDataTag()).contains("folder"))
            QDir().mkpath(Folder() + "/tools/" + ToolFileName("ctrtool"));
        QVERIFY(Open().StartupFailed());
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages[0].Kind, TMessageKind::Error);
        QCOMPARE(m_messages[0].Text, EnglishText(key));
    }

    void missingLanguageEndsStartUp() {
        MakeProgramFolder({"3dstool", "ctrtool", "makerom"}, false);
        QDir().mkpath(Folder() + "/lang/English.lng"); // a folder does not count
        QVERIFY(Open().StartupFailed());
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages[0].Kind, TMessageKind::LanguageMissing);
        QCOMPARE(m_messages[0].Text,
                 QStringLiteral("Отсутствуют языковые файлы.\r\nLanguage files are missing."));
        QCOMPARE(Control<QComboBox>("CBLang")->count(), 0);
    }

    void languageListing() {
        MakeProgramFolder({"3dstool", "ctrtool", "makerom"}, false);
        QFile::copy(QVT_LANG_DIR "/English.lng", Folder() + "/lang/English.LNG");
        QDir().mkpath(Folder() + "/lang/x.lng");
        Touch(Folder() + "/lang/.hidden.lng", "A=B");
        Touch(Folder() + "/lang/notes.txt", "A=B");
        TForm1& window = Open();
        QVERIFY(!window.StartupFailed());
        auto* box = Control<QComboBox>("CBLang");
        QCOMPARE(box->count(), 1);
        QCOMPARE(box->itemText(0), QStringLiteral("English"));
        QCOMPARE(window.State().LanguageTable.Lookup("BTNCancel"), EnglishText("BTNCancel"));
    }

    void languageChangeReloadsAndRebuildsThePatchList() {
        MakeProgramFolder();
        Touch(Folder() + "/patch/P/English.dsc", Dsc("English title", ""));
        Touch(Folder() + "/patch/P/Русский.dsc", Dsc("Русское название", ""));
        TForm1& window = Open();
        ChooseSource(Image({}, "eur.cia"));
        ChooseOutput(Folder() + "/out.cia");
        QCOMPARE(PatchItems(), QStringList({EnglishText("None"), "English title"}));
        Control<QComboBox>("CBPatch")->setCurrentIndex(1);
        Control<QRadioButton>("TntRadioGroup2Item2")->setChecked(true);

        Control<QComboBox>("CBLang")->setCurrentText(QStringLiteral("Русский"));
        TLanguageTable russian;
        russian.LoadFile(QVT_LANG_DIR "/Русский.lng");
        QCOMPARE(PatchItems(), QStringList({russian.Lookup("None"), "Русское название"}));
        QCOMPARE(Control<QComboBox>("CBPatch")->currentIndex(), 0);
        QCOMPARE(Control<QPushButton>("BTNCancel")->text(), russian.Lookup("BTNCancel"));
        QVERIFY(Control<QRadioButton>("TntRadioGroup2Item0")->isChecked());
        QVERIFY(window.State().NoPatch);
        QVERIFY(m_messages.isEmpty());

        // Typing: every keystroke reloads; a name without a file shows the message once.
        Control<QComboBox>("CBLang")->setEditText(QStringLiteral("Klingon"));
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages[0].Kind, TMessageKind::LanguageMissing);
        QVERIFY(window.State().LanguageTable.IsEmpty());
        Control<QComboBox>("CBLang")->setEditText(QStringLiteral("../lang/English"));
        QCOMPARE(m_messages.size(), 2);
        Control<QComboBox>("CBLang")->setEditText(QStringLiteral("english"));
        QCOMPARE(m_messages.size(), 2);
        QCOMPARE(PatchItems().first(), EnglishText("None"));

        // A typed name confirmed with Enter is not added to the languages found.
        auto* language_box = Control<QComboBox>("CBLang");
        const int languages = language_box->count();
        language_box->lineEdit()->selectAll();
        QTest::keyClicks(language_box->lineEdit(), QStringLiteral("Zz"));
        QTest::keyClick(language_box->lineEdit(), Qt::Key_Return);
        QCOMPARE(language_box->count(), languages);
    }

    void identification_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<uint>("region_code");
        QTest::addColumn<QString>("log");
        QTest::newRow("EUR CIA") << ".cia" << uint(sample::kEur)
                                 << "Product Code: CTR-P-QVTE\nROM Region: EUR";
        QTest::newRow("USA 3DS") << ".3ds" << uint(sample::kUsa)
                                 << "ProductCode: CTR-P-QVTE\nROM Region: USA";
        QTest::newRow("JAP CXI") << ".cxi" << uint(sample::kJap)
                                 << "ProductCode: CTR-P-QVTE\nROM Region: JAP";
    }
    void identification() {
        QFETCH(QString, kind);
        QFETCH(uint, region_code);
        QFETCH(QString, log);
        MakeProgramFolder();
        TForm1& window = Open();
        sample::TImageSpec shape;
        shape.Kind = kind;
        shape.ProgramIdLow = region_code;
        const QString path = Image(shape, "game" + kind);
        ChooseSource(path);
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(Log(), log);
        // The three entries of old first, then the cartridge and compressed forms beside them.
        QVERIFY(LastFileDialogFilter().startsWith(
            QStringLiteral("Decrypted CIA ROM (*.cia)|*.cia|Decrypted CXI ROM (*.cxi)|*.cxi|"
                           "Decrypted 3DS ROM (*.3ds)|*.3ds|")));
        for (const char* pattern : {"*.cci", "*.zcia", "*.zcxi", "*.zcci"})
            QVERIFY(LastFileDialogFilter().contains(QLatin1String(pattern)));
        QCOMPARE(Control<QLineEdit>("ebOldRom")->text(), path);
        QCOMPARE(window.State().SourcePath, path);
        QCOMPARE(window.State().SourceKind, kind);
        QCOMPARE(window.State().SourceRegion, log.right(3));
        QVERIFY(Enabled("ebNewRom"));
        QVERIFY(Enabled("btNewRomPath"));
        QVERIFY(!Enabled("CBPatch"));
        QVERIFY(!Enabled("BTNInstallPatch"));
    }

    void identificationFailures() {
        MakeProgramFolder();
        TForm1& window = Open();
        ChooseSource(Image({}, "good.cia"));
        ChooseOutput(Folder() + "/out.cia");
        QVERIFY(Enabled("BTNInstallPatch"));
        const std::int64_t info = window.State().InfoPosition;

        // Encrypted in a way the container library cannot take apart: the encrypted text, an
        // empty line and the reason; no key file is asked for.
        sample::TImageSpec encrypted;
        encrypted.Kind = ".cxi";
        encrypted.Encrypted = true;
        ChooseSource(Image(encrypted, "enc.cxi"));
        QVERIFY2(Log().startsWith(EnglishText("LogEncrypted") + "\n\n" +
                                  EnglishText("LogEncryptedImageProblem") + " "),
                 qPrintable(Log()));
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(window.State().SourceKind, QStringLiteral(".cxi"));
        QCOMPARE(window.State().InfoPosition, info);
        QVERIFY(!Enabled("btNewRomPath"));

        // A language change does not reopen the patch list behind the closed output step.
        Control<QComboBox>("CBLang")->setCurrentText(QStringLiteral("Русский"));
        QVERIFY(!Enabled("CBPatch"));
        QCOMPARE(Control<QComboBox>("CBPatch")->count(), 0);
        QVERIFY(!Enabled("BTNInstallPatch"));
        Control<QComboBox>("CBLang")->setCurrentText(QStringLiteral("English"));
        QVERIFY(m_messages.isEmpty());

        // Header size 0x2000: the CIA error, the kind stays.
        sample::TImageSpec short_header;
        short_header.CiaHeaderSize = 0x2000;
        ChooseSource(Image(short_header, "bad.cia"));
        QCOMPARE(MessageTexts(), QStringList{EnglishText("ErrorNOTCIAROM")});
        QCOMPARE(m_messages[0].Kind, TMessageKind::Error);
        QCOMPARE(window.State().SourceKind, QStringLiteral(".cxi"));
        QCOMPARE(Log(), QString());

        // Another title: the product code is logged, then the region error.
        m_messages.clear();
        sample::TImageSpec other;
        other.ProgramIdLow = 0x00ABCD00;
        other.ProductCode = "CTR-P-ZZZA";
        ChooseSource(Image(other, "other.cia"));
        QCOMPARE(Log(), QStringLiteral("Product Code: CTR-P-ZZZA"));
        QCOMPARE(MessageTexts(), QStringList{EnglishText("ErrorWrongROM")});
        QCOMPARE(window.State().SourceRegion, QStringLiteral("EUR"));

        // A file that is not there: the path is shown, the log kept, the output step closed.
        m_messages.clear();
        ChooseSource(Image({}, "good.cia"));
        QVERIFY(Enabled("btNewRomPath"));
        ChooseSource(Folder() + "/images/vanished.cia");
        QCOMPARE(MessageTexts(), QStringList{EnglishText("ErrorLoadingROM")});
        QCOMPARE(Control<QLineEdit>("ebOldRom")->text(), Folder() + "/images/vanished.cia");
        QVERIFY(Log().endsWith("ROM Region: EUR"));
        QVERIFY(!Enabled("btNewRomPath"));
        m_messages.clear();
        ChooseSource(Folder() + "/images");
        QCOMPARE(MessageTexts(), QStringList{EnglishText("ErrorLoadingROM")});

        // Another extension on a file that is no image: the error, and nothing changes at all.
        m_messages.clear();
        ChooseSource(Image({}, "good.cia"));
        ChooseOutput(Folder() + "/out.cia");
        const QString log_before = Log();
        QFile no_image(Folder() + "/images/game.bin");
        QVERIFY(no_image.open(QIODevice::WriteOnly));
        no_image.write(QByteArray(0x4000, 'x'));
        no_image.close();
        ChooseSource(no_image.fileName());
        QCOMPARE(MessageTexts(), QStringList{EnglishText("ErrorNotAnImage")});
        QCOMPARE(Control<QLineEdit>("ebOldRom")->text(), Folder() + "/images/good.cia");
        QCOMPARE(window.State().SourcePath, Folder() + "/images/good.cia");
        QCOMPARE(Log(), log_before);
        QVERIFY(Enabled("btNewRomPath"));
        QVERIFY(Enabled("BTNInstallPatch"));
        QCOMPARE(Control<QComboBox>("CBPatch")->count(), 1);

        // A cancelled open dialog changes nothing.
        QueueFileDialogAnswer({false, {}, 1});
        Control<QPushButton>("btOldRomPath")->click();
        QCOMPARE(Control<QLineEdit>("ebOldRom")->text(), Folder() + "/images/good.cia");
    }

    void newSourceAfterCompleteSetup() {
        MakeProgramFolder();
        Touch(Folder() + "/patch/A/English.dsc", Dsc("A", "EUR"));
        QDir().mkpath(Folder() + "/patch/A/voice");
        TForm1& window = Open();
        ChooseSource(Image({}, "one.cia"));
        ChooseOutput(Folder() + "/out.cia");
        Control<QComboBox>("CBPatch")->setCurrentIndex(1);
        QVERIFY(Enabled("BTNInstallPatch"));
        QVERIFY(Enabled("TntRadioGroup2"));

        sample::TImageSpec cxi;
        cxi.Kind = ".cxi";
        ChooseSource(Image(cxi, "two.cxi"));
        QCOMPARE(Control<QComboBox>("CBPatch")->count(), 0);
        QVERIFY(!Enabled("CBPatch"));
        QVERIFY(!Enabled("BTNInstallPatch"));
        QVERIFY(!Enabled("BTNMusicChange"));
        QVERIFY(!Enabled("TntRadioGroup2"));
        QVERIFY(window.State().PatchList.isEmpty());
        QCOMPARE(Control<QLineEdit>("ebNewRom")->text(), Folder() + "/out.cia");
        QCOMPARE(window.State().OutputPath, Folder() + "/out.cia");
        QVERIFY(Enabled("btNewRomPath"));
    }

    void dragAndDrop() {
        MakeProgramFolder();
        TForm1& window = Open();
        const QString path = Image({}, "dropped.cia");
        const QString other = Image({}, "other.cia");
        Drop({QUrl::fromLocalFile(path), QUrl::fromLocalFile(other)});
        QVERIFY(window.State().SourcePath.isEmpty());
        Drop({QUrl::fromLocalFile(Folder() + "/images")});
        QVERIFY(window.State().SourcePath.isEmpty());
        Drop({QUrl("https://example.org/x.cia")});
        QVERIFY(window.State().SourcePath.isEmpty());
        Drop({QUrl::fromLocalFile(path)});
        QCOMPARE(window.State().SourcePath, path);
        QCOMPARE(Log(), QStringLiteral("Product Code: CTR-P-QVTE\nROM Region: EUR"));
        QVERIFY(Enabled("btNewRomPath"));
        // A file dropped on the language box goes to the window, not into the language name.
        const QString language = Control<QComboBox>("CBLang")->currentText();
        {
            QLineEdit* edit = Control<QComboBox>("CBLang")->lineEdit();
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(other)});
            mime.setText(QUrl::fromLocalFile(other).toString());
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton,
                                  Qt::NoModifier);
            QApplication::sendEvent(edit, &enter);
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(edit, &drop);
        }
        QCOMPARE(Control<QComboBox>("CBLang")->currentText(), language);
        QVERIFY(m_messages.isEmpty());
        Drop({QUrl::fromLocalFile(path)});
        QCOMPARE(window.State().SourcePath, path);
        // While a run is active the source button is disabled and drops are refused.
        Control<QPushButton>("btOldRomPath")->setEnabled(false);
        Drop({QUrl::fromLocalFile(other)});
        QCOMPARE(window.State().SourcePath, path);
        QVERIFY(m_messages.isEmpty());
    }

    void patchListByRegion() {
        MakeProgramFolder();
        Touch(Folder() + "/patch/A/English.dsc", Dsc("Patch A", "EUR"));
        Touch(Folder() + "/patch/B/English.dsc", Dsc("Patch B", "USA"));
        Touch(Folder() + "/patch/C/English.dsc", Dsc("Patch C", ""));
        Touch(Folder() + "/patch/Root.dsc", Dsc("Root patch", ""));
        TForm1& window = Open();
        ChooseSource(Image({}, "eur.cia"));
        ChooseOutput(Folder() + "/out.cia");
        const QString compressed = EnglishText("EmulatorCompressed");
        QCOMPARE(LastFileDialogFilter(), EnglishText("Console") + " (*.cia)|*.cia|" +
                                             EnglishText("Emulator") + " (*.cxi)|*.cxi|" +
                                             EnglishText("ModFolder") + " (*)|*|" + compressed +
                                             " (*.zcia)|*.zcia|" + compressed + " (*.zcxi)|*.zcxi");
        QCOMPARE(PatchItems(),
                 QStringList({EnglishText("None"), "Patch A", "Patch C", "Root patch"}));
        QCOMPARE(window.State().PatchList,
                 QStringList({"", Folder() + "/patch/A/English.dsc",
                              Folder() + "/patch/C/English.dsc", Folder() + "/patch/Root.dsc"}));
        QCOMPARE(Control<QComboBox>("CBPatch")->currentIndex(), 0);
        QVERIFY(Enabled("CBPatch"));
        QVERIFY(Enabled("BTNInstallPatch"));
        QVERIFY(Enabled("BTNMusicChange"));
        QVERIFY(window.State().TrackList != nullptr);
        QVERIFY(m_messages.isEmpty());
    }

    void patchPackagesByDropAndButton() {
        MakeProgramFolder();
        const auto package = [&](const QString& version) {
            const QString folder = Folder() + "/made/Packed " + version;
            Touch(folder + "/English.dsc",
                  Dsc("Packed", "EUR") + "Version=\"" + version.toUtf8() + "\"\r\n");
            QString problem;
            const bool written = WritePatchPackage(folder, folder + ".qvtpatch", problem);
            return written ? folder + ".qvtpatch" : problem;
        };
        const QString first = package("1.0");
        const QString second = package("1.1");
        Touch(Folder() + "/patch/New/English.dsc",
              Dsc("Needs new", "EUR") + "MinimumProgramVersion=999\r\n");
        Open();
        ChooseSource(Image({}, "eur.cia"));
        ChooseOutput(Folder() + "/out.cia");
        auto* box = Control<QComboBox>("CBPatch");

        Drop({QUrl::fromLocalFile(first)});
        QVERIFY2(m_messages.isEmpty(), qPrintable(MessageTexts().join('\n')));
        QCOMPARE(box->currentText(), "Packed (1.0)");
        QVERIFY(QFileInfo(Folder() + "/patch/Packed/English.dsc").isFile());
        QVERIFY(Log().contains(EnglishText("PackageAdded")));

        // The newer version through the button: replaced after the question, and chosen.
        QList<TMessage> questions;
        SetChoiceHook([&](TMessageKind kind, const QString& text, const QString& choice) {
            questions.append({kind, text + '|' + choice});
            return true;
        });
        QueueFileDialogAnswer({true, second, 1});
        Control<QPushButton>("BTNAddPatch")->click();
        SetChoiceHook({});
        QCOMPARE(LastFileDialogFilter(), PatchPackageFilter());
        QCOMPARE(questions.size(), 1);
        QCOMPARE(questions.first().Text,
                 EnglishText("PackageUpgradeQuestion").arg("Packed", "1.0", "1.1") + '|' +
                     EnglishText("PackageReplace"));
        QCOMPARE(PatchItems(), QStringList({EnglishText("None"), "Needs new", "Packed (1.1)"}));
        QCOMPARE(box->currentIndex(), 2);
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(Control<QTextBrowser>("RichDesc")->toPlainText(),
                 "About Packed\n\n" + EnglishText("PaneVersion") + " 1.1");

        // A package that is no zip: an error, and the list stays as it was.
        Touch(Folder() + "/bad.qvtpatch", "not a zip");
        Drop({QUrl::fromLocalFile(Folder() + "/bad.qvtpatch")});
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages.first().Text.startsWith(EnglishText("PackageNotZip")));
        QCOMPARE(box->currentIndex(), 2);

        // A patch that needs a newer program cannot be chosen.
        m_messages.clear();
        box->setCurrentIndex(1);
        QCOMPARE(box->currentIndex(), 2);
        QCOMPARE(MessageTexts(),
                 QStringList({EnglishText("PatchNeedsNewerProgram").arg("999", ProgramVersion())}));

        // While a run is active the button is off, and a dropped package is not taken.
        Control<QPushButton>("BTNAddPatch")->setEnabled(false);
        QVERIFY(QFile::remove(Folder() + "/patch/Packed/English.dsc"));
        Drop({QUrl::fromLocalFile(first)});
        QVERIFY(!QFileInfo::exists(Folder() + "/patch/Packed/English.dsc"));
    }

    void outputChoice() {
        MakeProgramFolder();
        TForm1& window = Open();
        sample::TImageSpec card;
        card.Kind = ".3ds";
        ChooseSource(Image(card, "card.3ds"));

        // Cancelled before any output was chosen: nothing shown, no patch list.
        QueueFileDialogAnswer({false, {}, 1});
        Control<QPushButton>("btNewRomPath")->click();
        QCOMPARE(Control<QLineEdit>("ebNewRom")->text(), QString());
        QCOMPARE(Control<QComboBox>("CBPatch")->count(), 0);
        QVERIFY(!Enabled("CBPatch"));
        const QString compressed = EnglishText("EmulatorCompressed");
        QCOMPARE(LastFileDialogFilter(),
                 EnglishText("Console") + " (CFW) (*.cia)|*.cia|" + EnglishText("Emulator") +
                     " (*.cxi)|*.cxi|" + EnglishText("Console") + " (Sky3DS) (*.3ds)|*.3ds|" +
                     EnglishText("ModFolder") + " (*)|*|" + EnglishText("CardImage") +
                     " (*.cci)|*.cci|" + compressed + " (*.zcia)|*.zcia|" + compressed +
                     " (*.zcxi)|*.zcxi|" + compressed + " (*.zcci)|*.zcci|");

        // A typed name without extension shows the kind; OutputPath stays as typed.
        ChooseOutput(Folder() + "/patched", 1);
        QCOMPARE(Control<QLineEdit>("ebNewRom")->text(), Folder() + "/patched.cia");
        QCOMPARE(window.State().OutputPath, Folder() + "/patched");
        QCOMPARE(window.State().OutputKind, QStringLiteral(".cia"));
        ChooseOutput(Folder() + "/flash", 3);
        QCOMPARE(Control<QLineEdit>("ebNewRom")->text(), Folder() + "/flash.3ds");
        // The fourth entry names a folder, shown as chosen.
        ChooseOutput(Folder() + "/mods", 4);
        QCOMPARE(Control<QLineEdit>("ebNewRom")->text(), Folder() + "/mods");
        QCOMPARE(window.State().OutputKind, QStringLiteral("mods"));
        QVERIFY(Enabled("BTNInstallPatch"));
        // A compressed form: its own extension, the kind after its filter entry.
        ChooseOutput(Folder() + "/packed", 8);
        QCOMPARE(Control<QLineEdit>("ebNewRom")->text(), Folder() + "/packed.zcci");
        QCOMPARE(window.State().OutputKind, QStringLiteral(".zcci"));
        ChooseOutput(Folder() + "/emu.cxi", 2);
        QCOMPARE(Control<QLineEdit>("ebNewRom")->text(), Folder() + "/emu.cxi");
        QCOMPARE(window.State().OutputKind, QStringLiteral(".cxi"));

        // A later cancel keeps the output and still rebuilds the list.
        QueueFileDialogAnswer({false, {}, 1});
        Control<QPushButton>("btNewRomPath")->click();
        QCOMPARE(Control<QLineEdit>("ebNewRom")->text(), Folder() + "/emu.cxi");
        QCOMPARE(PatchItems(), QStringList{EnglishText("None")});

        // A CIA image keeps an output it offers, but forgets a 3DS output, which it does not
        // offer: a language change then finds no output and leaves the patch list closed.
        sample::TImageSpec console;
        console.Kind = ".cia";
        ChooseSource(Image(console, "console.cia"));
        QCOMPARE(Control<QLineEdit>("ebNewRom")->text(), Folder() + "/emu.cxi");
        for (const int card_entry : {8, 3}) { // .zcci, .3ds
            ChooseSource(Image(card, "card.3ds"));
            ChooseOutput(Folder() + "/flash", card_entry);
            ChooseSource(Image(console, "console.cia"));
            QCOMPARE(Control<QLineEdit>("ebNewRom")->text(), QString());
            QCOMPARE(window.State().OutputKind, QString());
        }
        Control<QComboBox>("CBLang")->setCurrentText(QStringLiteral("Русский"));
        QCOMPARE(Control<QComboBox>("CBPatch")->count(), 0);
        QVERIFY(!Enabled("BTNInstallPatch"));
    }

    // Once the mod folder form is chosen, the save dialog opens in the first emulator found
    // (its user folder until load/mods exists) and its sidebar lists every place.
    void modFolderDialogStartsInAPlace() {
        if (qEnvironmentVariableIsSet("APPDATA"))
            QSKIP("the emulator's user folders of a Linux home");
        MakeProgramFolder();
        QTemporaryDir home;
        const QByteArray saved_home = qgetenv("HOME");
        const QByteArray saved_data = qgetenv("XDG_DATA_HOME");
        qputenv("HOME", home.path().toUtf8());
        qunsetenv("XDG_DATA_HOME");
        const QString native = home.path() + "/.local/share/azahar-emu";
        const QString flatpak = home.path() + "/.var/app/org.azahar_emu.Azahar/data/azahar-emu";
        QVERIFY(QDir().mkpath(native) && QDir().mkpath(flatpak + "/load/mods"));
        Open();
        sample::TImageSpec card;
        card.Kind = ".3ds";
        ChooseSource(Image(card, "card.3ds"));
        ChooseOutput(Folder() + "/flash", 3);
        const QString first_folder = LastFileDialogFolder();
        ChooseOutput(Folder() + "/mods", 4);
        ChooseOutput(Folder() + "/again", 4);
        const QString mod_folder = LastFileDialogFolder();
        const QStringList sidebar = LastFileDialogSidebar();
        qputenv("HOME", saved_home);
        if (!saved_data.isNull())
            qputenv("XDG_DATA_HOME", saved_data);
        QCOMPARE(QDir::cleanPath(first_folder), QDir::cleanPath(Folder()));
        QCOMPARE(mod_folder, native);
        QCOMPARE(sidebar.mid(0, 2), (QStringList{native, flatpak + "/load/mods"}));
    }

    void patchChoice() {
        MakeProgramFolder();
        Touch(Folder() + "/patch/Voiced/English.dsc",
              Dsc("Voiced", "", "See <b>www.example.org</b> or mailto:team@example.org"));
        QDir().mkpath(Folder() + "/patch/Voiced/VOICE");
        Touch(Folder() + "/patch/Voiced/Patch.XDELTA", "x");
        Touch(Folder() + "/patch/Plain/English.dsc", Dsc("Plain", ""));
        TForm1& window = Open();
        ChooseSource(Image({}, "eur.cia"));
        ChooseOutput(Folder() + "/out.cia");
        QCOMPARE(PatchItems(), QStringList({EnglishText("None"), "Plain", "Voiced"}));
        QVERIFY(window.State().NoPatch);
        QVERIFY(window.State().NoVoiceChoice);
        QVERIFY(window.State().NoXdelta);

        auto* patch = Control<QComboBox>("CBPatch");
        patch->setCurrentIndex(2);
        QVERIFY(!window.State().NoPatch);
        QVERIFY(!window.State().NoVoiceChoice);
        QVERIFY(!window.State().NoXdelta);
        QVERIFY(Enabled("TntRadioGroup2"));
        QVERIFY(Enabled("BTNInstallPatch"));
        QCOMPARE(window.State().OriginalPackDatMD5, QStringLiteral("0123"));
        QCOMPARE(window.State().OriginalPackIncMD5, QStringLiteral("4567"));
        auto* desc = Control<QTextBrowser>("RichDesc");
        QCOMPARE(desc->toPlainText(),
                 QStringLiteral("See <b>www.example.org</b> or mailto:team@example.org"));
        emit desc->anchorClicked(QUrl("http://www.example.org"));
        emit desc->anchorClicked(QUrl("file:///etc/passwd"));
        QCOMPARE(m_opened, QList<QUrl>{QUrl("http://www.example.org")});
        QVERIFY(desc->toHtml().contains("href=\"mailto:team@example.org\""));

        Control<QRadioButton>("TntRadioGroup2Item1")->setChecked(true);
        patch->setCurrentIndex(1);
        QVERIFY(!Enabled("TntRadioGroup2"));
        QVERIFY(window.State().NoVoiceChoice);
        QVERIFY(window.State().NoXdelta);
        QVERIFY(Control<QRadioButton>("TntRadioGroup2Item1")->isChecked());

        patch->setCurrentIndex(2);
        patch->setCurrentIndex(0); // "None" disables the voice choice after a voiced patch
        QVERIFY(!Enabled("TntRadioGroup2"));
        QVERIFY(window.State().NoVoiceChoice);
        QVERIFY(window.State().NoPatch);
        QCOMPARE(window.State().OriginalPackDatMD5, QStringLiteral("0123"));
        QCOMPARE(desc->toPlainText(), EnglishText("DescriptionDefault").replace("\r\n", "\n"));

        // A description that vanished after the scan: the dialog, and nothing changes.
        patch->setCurrentIndex(2);
        QFile::remove(Folder() + "/patch/Plain/English.dsc");
        patch->setCurrentIndex(1);
        QCOMPARE(MessageTexts(), QStringList{EnglishText("LoadDescError")});
        // The selection goes back to the entry in force, the one a run would install.
        QCOMPARE(patch->currentIndex(), 2);
        QVERIFY(Enabled("TntRadioGroup2"));
        QVERIFY(!window.State().NoPatch);
        QVERIFY(desc->toPlainText().startsWith("See"));
    }

    void trackListProblemsDisableTheMusicButton() {
        MakeProgramFolder();
        Touch(Folder() + "/patch/Bad/English.dsc", Dsc("Bad list", ""));
        Touch(Folder() + "/patch/Bad/Tracklist.tls", "\xEF\xBB\xBFTrackCount:nonsense");
        TForm1& window = Open();
        ChooseSource(Image({}, "eur.cia"));
        ChooseOutput(Folder() + "/out.cia");
        QVERIFY(Enabled("BTNMusicChange"));
        Control<QComboBox>("CBPatch")->setCurrentIndex(1);
        QCOMPARE(MessageTexts(), QStringList{EnglishText("ErrorTrackListFormat")});
        QVERIFY(!Enabled("BTNMusicChange"));
        QVERIFY(Enabled("BTNInstallPatch"));

        // The image no longer holds "INFO" where identification found it.
        m_messages.clear();
        QFile image(window.State().SourcePath);
        QVERIFY(image.open(QIODevice::ReadWrite));
        image.seek(window.State().InfoPosition);
        image.write("XXXX");
        image.close();
        Control<QComboBox>("CBPatch")->setCurrentIndex(0);
        QCOMPARE(MessageTexts(), QStringList{EnglishText("ErrorReadingTracks")});
        QVERIFY(!Enabled("BTNMusicChange"));
    }

    void musicButtonOpensTheMusicWindow() {
        MakeProgramFolder();
        TForm1& window = Open();
        ChooseSource(Image({}, "eur.cia"));
        ChooseOutput(Folder() + "/out.cia");
        QVERIFY(Enabled("BTNMusicChange"));
        QString shown;
        QTimer::singleShot(0, this, [&shown] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                shown = dialog->objectName() + "|" + dialog->windowTitle();
                dialog->close();
            }
        });
        Control<QPushButton>("BTNMusicChange")->click();
        QCOMPARE(shown, "TForm2|" + EnglishText("Form2Caption"));
        QVERIFY(window.State().TrackList != nullptr);
    }

    void musicWindowContext() {
        MakeProgramFolder();
        TForm1& window = Open();
        const auto context = window.MusicWindowContext();
        QCOMPARE(context.LanguageTable, &window.State().LanguageTable);
        QCOMPARE(context.ProgramFolder, Folder() + "/");
        QCOMPARE(context.LanguageName, QStringLiteral("English"));
    }

    void logEntriesBreakAtEachLineBreak() {
        MakeProgramFolder();
        TForm1& window = Open();
        Control<QPlainTextEdit>("MemoLog")->clear();
        window.AddLogEntry("\r\nStarted\r\n");
        window.AddLogEntry("one\rtwo\nthree");
        QCOMPARE(Log(), QStringLiteral("\nStarted\n\none\ntwo\nthree"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
