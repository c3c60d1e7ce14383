#include "desktop/Startup.h"

#include "desktop/FileTools.h"
#include "engine/StartupChecks.h"
#include "engine/Text.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

QString FirstMissingToolKey(const QString& program_folder) {
    QString folder = program_folder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder.append(QLatin1Char('/'));
    return QLatin1String(engine::FirstMissingToolKey(ToPath(folder)));
}

std::optional<TFreeSpace> FreeSpaceOf(const QString& folder) {
    // On Windows QStorageInfo names the drive of a path that does not exist.
    if (!QFileInfo(folder).isDir())
        return std::nullopt;
    const QStorageInfo storage(folder);
    if (!storage.isValid() || !storage.isReady() || storage.bytesAvailable() < 0)
        return std::nullopt;
    // Qt names the root with forward slashes ("C:/"); the log shows it as the system does.
    return TFreeSpace{QDir::toNativeSeparators(storage.rootPath()), storage.bytesAvailable()};
}

QString FormatGeneral4(double value, const QString& decimal_point) {
    return QString::fromStdString(engine::FormatGeneral4(value, decimal_point.toStdString()));
}

QString FormatGibibytes(std::int64_t bytes, const QString& decimal_point) {
    return QString::fromStdString(engine::FormatGibibytes(bytes, decimal_point.toStdString()));
}
