// qvtpatch-gui: the main window.
#include "gui/ChangeMusic.h"
#include "gui/FileDialogs.h"
#include "gui/Fonts.h"
#include "gui/Main.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

namespace {

// Screenshots for the documentation, driven by the environment:
//   QVT_SCREENSHOT         PNG file to write; the window is grabbed after it shows, then quits
//   QVT_SCREENSHOT_SOURCE  a source image to open first (as if dropped on the window)
//   QVT_SCREENSHOT_OUTPUT  an output path to choose next; the first patch is then selected
//   QVT_SCREENSHOT_INSTALL when set, install first and grab the window after the run
//   QVT_SCREENSHOT_MUSIC   when set, grab the music window instead of the main window
void PrepareScreenshot(TForm1& window) {
    const QString source = qEnvironmentVariable("QVT_SCREENSHOT_SOURCE");
    if (source.isEmpty())
        return;
    window.OpenSourceImage(source);
    const QString output = qEnvironmentVariable("QVT_SCREENSHOT_OUTPUT");
    if (output.isEmpty())
        return;
    QueueFileDialogAnswer({true, output, 1});
    window.btNewRomPathClick(nullptr);
    if (auto* patch = window.findChild<QComboBox*>(QStringLiteral("CBPatch"));
        patch && patch->count() > 1)
        patch->setCurrentIndex(1);
}

// QVT_QUIT_AFTER_START (for the release checks): once the window is up, print the language
// box's text and the log to standard output and quit, with exit code 0.
void QuitAfterStart(TForm1& window) {
    QTimer::singleShot(0, &window, [&window] {
        QTextStream out(stdout);
        out << "qvtpatch-gui: window started\n";
        if (auto* language = window.findChild<QComboBox*>(QStringLiteral("CBLang")))
            out << "language box: " << language->currentText() << '\n';
        if (auto* log = window.findChild<QPlainTextEdit*>(QStringLiteral("MemoLog")))
            out << log->toPlainText() << '\n';
        out.flush();
        QApplication::quit();
    });
}

// The window program's command line: --help, --version and the source image to open.
void SetUpCommandLine(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral("Patch installer window."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("IMAGE"),
        QStringLiteral("Source image to open (CIA, CXI or 3DS/CCI, compressed or not; an "
                       "encrypted one is read with your keys)."),
        QStringLiteral("[IMAGE]"));
}

// --help and --version print and end before any window system is needed.
bool AsksOnlyForText(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "-h" || argument == "--help" || argument == "--help-all" ||
            argument == "-v" || argument == "--version")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationVersion(QStringLiteral(QVT_VERSION));
    QCommandLineParser parser;
    SetUpCommandLine(parser);
    if (AsksOnlyForText(argc, argv)) {
        QCoreApplication text_only(argc, argv);
        parser.process(text_only);
        return 0;
    }
    QApplication app(argc, argv);
    // The music window and the message boxes take the application's font.
    if (const QFont font = UsableSystemFont(QFontDatabase::GeneralFont);
        font != QApplication::font())
        QApplication::setFont(font);
    parser.process(app);
    if (parser.positionalArguments().size() > 1)
        parser.showHelp(2);

    TForm1 window;
    if (window.StartupFailed())
        return 1;
    if (!parser.positionalArguments().isEmpty())
        window.OpenSourceImage(parser.positionalArguments().constFirst());
    const QString screenshot = qEnvironmentVariable("QVT_SCREENSHOT");
    if (!screenshot.isEmpty())
        PrepareScreenshot(window);
    window.show();
    if (qEnvironmentVariableIsSet("QVT_QUIT_AFTER_START"))
        QuitAfterStart(window);
    if (!screenshot.isEmpty()) {
        auto grab_after = [screenshot](QWidget* widget, int delay_ms) {
            QTimer::singleShot(delay_ms, widget, [widget, screenshot] {
                widget->grab().save(screenshot, "PNG");
                QApplication::quit();
            });
        };
        auto* install = window.findChild<QPushButton*>(QStringLiteral("BTNInstallPatch"));
        if (qEnvironmentVariableIsSet("QVT_SCREENSHOT_MUSIC") && window.State().TrackList) {
            const auto context = window.MusicWindowContext();
            auto* music = new TForm2(
                *window.State().TrackList, *context.LanguageTable, context.ProgramFolder,
                context.LanguageName, [](const QString&) {}, &window);
            music->show();
            grab_after(music, 500);
        } else if (qEnvironmentVariableIsSet("QVT_SCREENSHOT_INSTALL") && install &&
                   install->isEnabled()) {
            window.BTNInstallPatchClick();
            // Grab once the finish routine has given the controls back.
            auto* poll = new QTimer(&window);
            QObject::connect(poll, &QTimer::timeout, &window, [&window, install, poll, grab_after] {
                if (window.Worker() == nullptr && install->isEnabled()) {
                    poll->stop();
                    grab_after(&window, 300);
                }
            });
            poll->start(100);
        } else {
            grab_after(&window, 500);
        }
    }
    return app.exec();
}
