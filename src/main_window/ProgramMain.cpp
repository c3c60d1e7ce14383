// qvtpatch-gui: the main window.
#include "main_window/Main.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    TForm1 window;
    if (window.StartupFailed())
        return 1;
    window.show();
    // Screenshots for the documentation: grab the shown window into a PNG, then quit.
    const QString screenshot = qEnvironmentVariable("QVT_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(500, &window, [&window, screenshot] {
            window.grab().save(screenshot, "PNG");
            QApplication::quit();
        });
    }
    return app.exec();
}
