#include "gui/OpenLink.h"

#include <QDesktopServices>

namespace {
std::function<void(const QUrl&)>& Hook() {
    static std::function<void(const QUrl&)> hook;
    return hook;
}
} // namespace

void SetLinkOpenHook(std::function<void(const QUrl&)> hook) {
    Hook() = std::move(hook);
}

void OpenDescriptionLink(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https") &&
                           scheme != QLatin1String("mailto")))
        return;
    if (Hook()) {
        Hook()(url);
        return;
    }
    QDesktopServices::openUrl(url);
}
