// qvtpatch-gui: the main window.
#include "gui/ChangeMusic.h"
#include "gui/FileDialogs.h"
#include "gui/Main.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
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

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    TForm1 window;
    if (window.StartupFailed())
        return 1;
    const QString screenshot = qEnvironmentVariable("QVT_SCREENSHOT");
    if (!screenshot.isEmpty())
        PrepareScreenshot(window);
    window.show();
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
