// qvtpatch-gui: the main window.
#include "install/FileDialogs.h"
#include "main_window/Main.h"

#include <QApplication>
#include <QComboBox>
#include <QTimer>

namespace {

// Screenshots for the documentation, driven by the environment:
//   QVT_SCREENSHOT         PNG file to write; the window is grabbed after it shows, then quits
//   QVT_SCREENSHOT_SOURCE  a source image to open first (as if dropped on the window)
//   QVT_SCREENSHOT_OUTPUT  an output path to choose next; the first patch is then selected
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
        QTimer::singleShot(500, &window, [&window, screenshot] {
            window.grab().save(screenshot, "PNG");
            QApplication::quit();
        });
    }
    return app.exec();
}
