#pragma once
// The patch description pane: plain text with its links marked, and which links may open.

#include <QString>
#include <QUrl>

/// HTML for a description shown as plain text: every character escaped, line breaks kept,
/// and each link (starting "http://", "https://", "www." or "mailto:") made an anchor whose
/// target is the link's URL ("www." taken as http).
QString DescriptionHtml(const QString& text);

/// The URL of a link text ("www.x" gives "http://www.x"); invalid when it may not be opened:
/// only http, https and mailto links are handed to the system.
QUrl OpenableLinkUrl(const QString& link);
