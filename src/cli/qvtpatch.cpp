// qvtpatch: the command-line side of the patch tool. `--identify IMAGE` identifies a source
// image; everything else is the installation mode.
#include "cli/qvtpatch_modes.h"

#include "core/FileTools.h"
#include "core/Identify.h"
#include "core/Language.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

void WriteLine(FILE* stream, const QString& text) {
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    line.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
}

} // namespace

int RunIdentifyMode(const QStringList& args) {
    if (args.size() != 1) {
        WriteLine(stderr, QStringLiteral("usage: qvtpatch --identify IMAGE"));
        return 2;
    }
    const QString program_folder = WithTrailingSeparator(QCoreApplication::applicationDirPath());
    TLanguageTable texts;
    if (!texts.LoadFile(LanguageFilePath(program_folder, QStringLiteral("English")))) {
        WriteLine(stderr, QStringLiteral("Language files are missing."));
        return 1;
    }
    const TIdentifyResult result = IdentifySourceImage(args.first(), texts);
    for (const QString& entry : result.LogEntries)
        WriteLine(stdout, entry);
    if (!result.Kind.isEmpty())
        WriteLine(stdout, QStringLiteral("Kind: ") + result.Kind);
    if (!result.Region.isEmpty())
        WriteLine(stdout, QStringLiteral("Region: ") + result.Region);
    if (result.HasInfoPosition)
        WriteLine(stdout, QStringLiteral("InfoPosition: 0x") +
                              QString::number(result.InfoPosition, 16).toUpper());
    std::fflush(stdout);
    if (!result.ErrorKey.isEmpty())
        WriteLine(stderr, texts.Lookup(result.ErrorKey));
    return result.Usable() ? 0 : 1;
}

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (!args.isEmpty() && args.first() == QLatin1String("--identify"))
        return RunIdentifyMode(args.mid(1));
    return RunInstallMode(args);
}
