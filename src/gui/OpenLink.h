#pragma once
// Opening a description link in the system's browser or mail program, with a test seam.

#include <QUrl>

#include <functional>

/// Hands an http, https or mailto URL to the system; any other URL is ignored. Failures are
/// not shown.
void OpenDescriptionLink(const QUrl& url);

/// Test seam: while set, the URLs that would be opened go to the hook instead.
void SetLinkOpenHook(std::function<void(const QUrl&)> hook);
