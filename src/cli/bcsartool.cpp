// bcsartool: takes a CSAR sound archive apart into its piece files and puts it together again.
//   bcsartool unpack ARCHIVE FOLDER   (FOLDER is created when missing)
//   bcsartool pack FOLDER ARCHIVE
// Progress goes to standard output; the exit code is 0 on success and 1 on failure.

#include "cli/ParserText.h"
#include "desktop/FileTools.h"
#include "sound_archive/N3DSbcsar.h"
#include "sound_archive/PieceFiles.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QStringList>

#include <cstdio>

namespace {

void PrintError(const QString& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "bcsartool: %s\n", text.toLocal8Bit().constData());
}

int Unpack(const QString& archive_path, const QString& folder) {
    bcsar::TByteBuffer archive;
    bcsar::AppendFileOrThrow(archive, ToPath(archive_path));
    if (!QDir().mkpath(folder)) {
        PrintError(QStringLiteral("Cannot create %1").arg(folder));
        return 1;
    }
    return UnpackBcsar(archive, ToPath(folder), 0, true) == 0 ? 0 : 1;
}

int Pack(const QString& folder, const QString& archive_path) {
    bcsar::TByteBuffer archive;
    if (PackBcsar(archive, ToPath(folder), true) != 0)
        return 1;
    QSaveFile file(archive_path);
    const auto size = static_cast<qint64>(archive.size());
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(archive.data()), size) != size || !file.commit()) {
        PrintError(QStringLiteral("Cannot write %1: %2").arg(archive_path, file.errorString()));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bcsartool"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QVT_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Takes a CSAR sound archive apart into its piece files and puts it "
                       "together again.\n"
                       "  bcsartool unpack ARCHIVE FOLDER   (FOLDER is created when missing)\n"
                       "  bcsartool pack FOLDER ARCHIVE"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("unpack or pack"));
    parser.addPositionalArgument(QStringLiteral("FROM"), QStringLiteral("archive or folder"));
    parser.addPositionalArgument(QStringLiteral("TO"), QStringLiteral("folder or archive"));
    const bool parsed = parser.parse(QCoreApplication::arguments());
    if (parsed && parser.isSet(QStringLiteral("version")))
        ExitWithVersion();
    if (parsed && parser.isSet(QStringLiteral("help")))
        ExitWithHelp(parser);
    const QStringList arguments = QStringList{QString()} + parser.positionalArguments();
    if (!parsed || arguments.size() != 4 ||
        (arguments[1] != QLatin1String("unpack") && arguments[1] != QLatin1String("pack"))) {
        if (!parsed)
            std::fprintf(stderr, "bcsartool: %s\n", parser.errorText().toLocal8Bit().constData());
        std::fprintf(stderr, "Usage: bcsartool unpack ARCHIVE FOLDER\n"
                             "       bcsartool pack FOLDER ARCHIVE\n"
                             "Try 'bcsartool --help'.\n");
        return 1;
    }
    // The sound archive code takes folders without a trailing separator.
    auto folder_of = [](const QString& path) { return QDir::cleanPath(path); };
    int result = 1;
    try {
        if (arguments[1] == QLatin1String("unpack"))
            result = Unpack(arguments[2], folder_of(arguments[3]));
        else
            result = Pack(folder_of(arguments[2]), arguments[3]);
    } catch (const TSystemError& error) {
        PrintError(QString::fromStdString(error.Reason()));
        result = 1;
    }
    std::fflush(stdout);
    return result;
}
