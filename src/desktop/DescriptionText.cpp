#include "desktop/DescriptionText.h"

#include <array>

namespace {

constexpr std::array<const char*, 4> kLinkStarts = {"http://", "https://", "www.", "mailto:"};

bool EndsLink(QChar c) {
    return c.unicode() <= 32 || c == QLatin1Char('"') || c == QLatin1Char('<') ||
           c == QLatin1Char('>') || c.isSpace();
}

// Punctuation that closes a sentence rather than belonging to the link.
bool IsTrailingPunctuation(QChar c) {
    return QStringLiteral(".,;:!?)]}'").contains(c);
}

/// Length of the link starting at `start`, or 0 when none starts there.
qsizetype LinkLengthAt(const QString& text, qsizetype start) {
    if (start > 0 &&
        (text.at(start - 1).isLetterOrNumber() || text.at(start - 1) == QLatin1Char('/')))
        return 0;
    for (const char* prefix : kLinkStarts) {
        const QLatin1String p(prefix);
        if (!QStringView(text).mid(start).startsWith(p, Qt::CaseInsensitive))
            continue;
        qsizetype end = start + p.size();
        while (end < text.size() && !EndsLink(text.at(end)))
            ++end;
        while (end > start + p.size() && IsTrailingPunctuation(text.at(end - 1)))
            --end;
        if (end == start + p.size())
            return 0; // a prefix alone is no link
        return end - start;
    }
    return 0;
}

QString EscapedWithBreaks(QStringView text) {
    QString escaped = text.toString().toHtmlEscaped();
    escaped.replace(QStringLiteral("\r\n"), QStringLiteral("<br>"));
    escaped.replace(QLatin1Char('\r'), QStringLiteral("<br>"));
    escaped.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    return escaped;
}

} // namespace

QUrl OpenableLinkUrl(const QString& link) {
    QString text = link;
    if (text.startsWith(QLatin1String("www."), Qt::CaseInsensitive))
        text.prepend(QStringLiteral("http://"));
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https") &&
                           scheme != QLatin1String("mailto")))
        return QUrl();
    return url;
}

QString DescriptionHtml(const QString& text) {
    QString html = QStringLiteral("<body style=\"white-space: pre-wrap\">");
    qsizetype plain_start = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = LinkLengthAt(text, i);
        if (length == 0) {
            ++i;
            continue;
        }
        html += EscapedWithBreaks(QStringView(text).mid(plain_start, i - plain_start));
        const QString link = text.mid(i, length);
        const QUrl url = OpenableLinkUrl(link);
        if (url.isValid()) {
            html += QStringLiteral("<a href=\"") +
                    url.toString(QUrl::FullyEncoded).toHtmlEscaped() + QStringLiteral("\">") +
                    link.toHtmlEscaped() + QStringLiteral("</a>");
        } else {
            html += link.toHtmlEscaped();
        }
        i += length;
        plain_start = i;
    }
    html += EscapedWithBreaks(QStringView(text).mid(plain_start));
    html += QStringLiteral("</body>");
    return html;
}
