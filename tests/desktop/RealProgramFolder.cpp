#include "RealProgramFolder.h"

#include "desktop/FileTools.h"
#include "sample/SampleImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace {

constexpr std::uint64_t kSamplePackSize = 192 * 1024; // small images keep the tests quick

sample::TSampleOptions SampleOptions(const QString& kind, const QString& region) {
    sample::TSampleOptions options;
    options.Kind = kind == QLatin1String(".cxi")   ? sample::TImageKind::Cxi
                   : kind == QLatin1String(".3ds") ? sample::TImageKind::Cci
                                                   : sample::TImageKind::Cia;
    options.Region = region.toStdString();
    options.PackSize = kSamplePackSize;
    return options;
}

QString Run(const QString& program, const QStringList& arguments, const QString& folder) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(-1))
        return program + QStringLiteral(": ") + process.errorString();
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) +
               QStringLiteral(": ") + QString::fromLocal8Bit(process.readAll());
    return QString();
}

} // namespace

QByteArray ReadWholeFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool MakeRealProgramFolder(const QString& folder, bool with_qvtpatch) {
    const QString app = qEnvironmentVariable("QVT_APP_DIR");
    QDir().mkpath(folder + QStringLiteral("/tools"));
    QDir().mkpath(folder + QStringLiteral("/lang"));
    QDir().mkpath(folder + QStringLiteral("/patch"));
    for (const char* tool : {"ctrtool", "3dstool", "makerom"}) {
        const QString name = QStringLiteral("/tools/") + ToolFileName(QLatin1String(tool));
        if (!QFile::copy(app + name, folder + name))
            return false;
    }
    // A copy of the program itself: the build's tools/xdelta may be a link.
    const QString xdelta_name = QStringLiteral("/tools/") + ToolFileName(QStringLiteral("xdelta"));
    const QString xdelta = QFileInfo(app + xdelta_name).canonicalFilePath();
    if (xdelta.isEmpty() || !QFile::copy(xdelta, folder + xdelta_name))
        return false;
    for (const QString& name : QDir(app + QStringLiteral("/lang")).entryList(QDir::Files))
        QFile::copy(app + QStringLiteral("/lang/") + name,
                    folder + QStringLiteral("/lang/") + name);
    const QString qvtpatch = QLatin1Char('/') + ToolFileName(QStringLiteral("qvtpatch"));
    if (with_qvtpatch && !QFile::copy(app + qvtpatch, folder + qvtpatch))
        return false;
    return true;
}

QString WriteSampleImage(const QString& tools_folder, const QString& kind, const QString& image,
                         const QString& patch_folder, const QString& region) {
    sample::TSampleOptions options = SampleOptions(kind, region);
    options.OutPath = image;
    options.PatchFolder = patch_folder;
    options.ToolsFolder = tools_folder;
    try {
        sample::GenerateSample(options);
    } catch (const std::exception& error) {
        return QString::fromLocal8Bit(error.what());
    }
    return QString();
}

QByteArray ExpectedPatchedPackDat(const QString& scratch_file, const QString& region) {
    sample::WriteChangedPackDat(scratch_file, SampleOptions(QStringLiteral(".cia"), region));
    return ReadWholeFile(scratch_file);
}

QString ExtractImage(const QString& program_folder, const QString& image, const QString& kind,
                     const QString& destination) {
    const QString ctrtool = program_folder + QStringLiteral("/tools/") + ToolFileName("ctrtool");
    const QString tool3ds = program_folder + QStringLiteral("/tools/") + ToolFileName("3dstool");
    QDir().mkpath(destination);
    QString cxi = image;
    QString problem;
    if (kind == QLatin1String(".cia")) {
        problem = Run(ctrtool, {QStringLiteral("--contents=c"), image}, destination);
        cxi = destination + QStringLiteral("/c.0000.00000000");
    } else if (kind == QLatin1String(".3ds")) {
        problem = Run(tool3ds, {"-xtf", "3ds", image, "--header", "ncsd.bin", "-0", "p0.cxi"},
                      destination);
        cxi = destination + QStringLiteral("/p0.cxi");
    }
    if (problem.isEmpty())
        problem = Run(tool3ds, {"-xtf", "cxi", cxi, "--exefs", "exefs.bin", "--romfs", "romfs.bin"},
                      destination);
    if (problem.isEmpty())
        problem = Run(tool3ds, {"-xtf", "romfs", "romfs.bin", "--romfs-dir", "romfs"}, destination);
    if (problem.isEmpty())
        problem = Run(
            tool3ds,
            {"-xutf", "exefs", "exefs.bin", "--exefs-dir", "exefs", "--header", "exefsheader.bin"},
            destination);
    return problem;
}
