#include "install/InstallJob.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <filesystem>
#include <system_error>

namespace {

// Removes `suffix` from the end of the file name part of `path`, letter case ignored.
QString StripSuffix(const QString& path, const QString& suffix) {
    const qsizetype name_start = path.lastIndexOf(QLatin1Char('/')) + 1;
    if (path.size() - name_start >= suffix.size() && path.endsWith(suffix, Qt::CaseInsensitive))
        return path.left(path.size() - suffix.size());
    return path;
}

TFreeSpaceQuery& FreeSpaceQuery() {
    static TFreeSpaceQuery query;
    return query;
}

// The path itself when it exists, else its nearest existing parent.
QString ExistingAncestor(const QString& path) {
    QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    while (!info.exists()) {
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath())
            break;
        info = QFileInfo(parent);
    }
    return info.absoluteFilePath();
}

} // namespace

QString OutputBase(const QString& output_path, bool strip_3ds) {
    QString base = StripSuffix(output_path, QStringLiteral(".cxi"));
    base = StripSuffix(base, QStringLiteral(".cia"));
    if (strip_3ds)
        base = StripSuffix(base, QStringLiteral(".3ds"));
    return base;
}

bool OutputIsSource(const QString& source_path, const QString& output_file) {
    namespace fs = std::filesystem;
    const QString source = QFileInfo(source_path).canonicalFilePath();
    const QString output = QFileInfo(output_file).canonicalFilePath();
    if (source.isEmpty() || output.isEmpty())
        return false; // a file that does not exist yet cannot be the source
    if (source == output)
        return true;
    std::error_code ec;
    const bool same = fs::equivalent(fs::path(QFile::encodeName(source).toStdString()),
                                     fs::path(QFile::encodeName(output).toStdString()), ec);
    return same && !ec;
}

TSpaceNeed EstimateSpaceNeed(const QString& source_kind, const QString& output_kind,
                             std::int64_t source_size) {
    // At the fullest point a CIA or 3DS source has its CXI, the image's RomFS and its unpacked
    // tree under tools/temp (about three times the image); a CXI source is read in place, so
    // only the RomFS image and its tree are there. The rebuilt CXI of a CIA or 3DS output
    // replaces files already deleted by then, so it needs no extra room.
    TSpaceNeed need;
    need.TempBytes = source_kind == QLatin1String(".cxi") ? 2 * source_size : 3 * source_size;
    need.OutputBytes = source_size;
    (void)output_kind;
    return need;
}

std::int64_t FreeBytesAt(const QString& path) {
    if (FreeSpaceQuery())
        return FreeSpaceQuery()(path);
    const QStorageInfo storage(ExistingAncestor(path));
    if (!storage.isValid())
        return -1;
    return storage.bytesAvailable();
}

void SetFreeSpaceQuery(TFreeSpaceQuery query) { FreeSpaceQuery() = std::move(query); }

QString FileSystemRootOf(const QString& path) {
    const QStorageInfo storage(ExistingAncestor(path));
    return QString::fromLocal8Bit(storage.device()) + QLatin1Char('|') + storage.rootPath();
}
