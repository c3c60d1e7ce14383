#pragma once
// --help, --version and command-line errors of the Qt command-line programs, written to the
// standard streams by the program itself. QCommandLineParser's showHelp, showVersion and
// process show their text in a message box on Windows when the program has no console window
// and was handed no standard handles (started from a Unix shell under Wine, for one); a
// console program never shows a window, and its output must reach the streams it has.

#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QString>

#include <cstdio>
#include <cstdlib>

/// Writes `text` to `stream` as UTF-8 and flushes it.
inline void WriteParserText(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

/// The parser's help on standard output, then the program ends with `exit_code`.
[[noreturn]] inline void ExitWithHelp(const QCommandLineParser& parser, int exit_code = 0) {
    WriteParserText(stdout, parser.helpText());
    std::exit(exit_code);
}

/// "name version" on standard output, then the program ends with 0.
[[noreturn]] inline void ExitWithVersion() {
    WriteParserText(stdout, QCoreApplication::applicationName() + QLatin1Char(' ') +
                                QCoreApplication::applicationVersion() + QLatin1Char('\n'));
    std::exit(0);
}

/// What QCommandLineParser::process does, on the standard streams only: a parse error on
/// standard error (exit 1), --version and --help on standard output (exit 0).
inline void ProcessCommandLine(QCommandLineParser& parser) {
    if (!parser.parse(QCoreApplication::arguments())) {
        WriteParserText(stderr, QCoreApplication::applicationName() + QStringLiteral(": ") +
                                    parser.errorText() + QLatin1Char('\n'));
        std::exit(1);
    }
    if (parser.isSet(QStringLiteral("version")))
        ExitWithVersion();
    if (parser.isSet(QStringLiteral("help")))
        ExitWithHelp(parser);
}
