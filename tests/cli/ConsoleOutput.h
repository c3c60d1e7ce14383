#pragma once
// What a command line program of the build printed, as text. On Windows the C library writes
// each line end of a program's text as CR LF; the tests compare the lines as the program
// wrote them.

#include <QByteArray>
#include <QString>

inline QString ConsoleText(const QByteArray& bytes) {
    QString text = QString::fromUtf8(bytes);
#if defined(_WIN32)
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
#endif
    return text;
}
