#include "core/Startup.h"

#include "core/FileTools.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <cmath>
#include <cstdio>
#include <cstdlib>

QString FirstMissingToolKey(const QString& program_folder) {
    struct TTool {
        const char* Name;
        const char* Key;
    };
    static constexpr TTool kTools[] = {
        {"3dstool", "Missing3dstool"},
        {"ctrtool", "Missingctrtool"},
        {"makerom", "Missingmakerom"},
    };
    QString folder = program_folder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder.append(QLatin1Char('/'));
    for (const TTool& tool : kTools) {
        const QString path =
            folder + QStringLiteral("tools/") + ToolFileName(QLatin1String(tool.Name));
        if (!QFileInfo(path).isFile())
            return QLatin1String(tool.Key);
    }
    return QString();
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

namespace {

QString DropTrailingZeros(QString digits) {
    if (digits.contains(QLatin1Char('.'))) {
        while (digits.endsWith(QLatin1Char('0')))
            digits.chop(1);
        if (digits.endsWith(QLatin1Char('.')))
            digits.chop(1);
    }
    return digits;
}

} // namespace

QString FormatGeneral4(double value, const QString& decimal_point) {
    if (!std::isfinite(value))
        return QString::number(value);
    if (value == 0)
        return QStringLiteral("0");
    constexpr int kPrecision = 4;
    // "%.3e" rounds to four significant digits and tells the decimal exponent after rounding.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*e", kPrecision - 1, value);
    const QString scientific = QString::fromLatin1(buffer);
    const qsizetype e = scientific.indexOf(QLatin1Char('e'));
    const int exponent = scientific.mid(e + 1).toInt();
    QString text;
    if (exponent >= kPrecision || std::fabs(value) < 0.00001) {
        const QString mantissa = DropTrailingZeros(scientific.left(e));
        std::snprintf(buffer, sizeof buffer, "E%c%03d", exponent < 0 ? '-' : '+',
                      std::abs(exponent));
        text = mantissa + QString::fromLatin1(buffer);
    } else {
        const int decimals = std::max(0, kPrecision - 1 - exponent);
        std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
        text = DropTrailingZeros(QString::fromLatin1(buffer));
    }
    return text.replace(QLatin1Char('.'), decimal_point);
}

QString FormatGibibytes(std::int64_t bytes, const QString& decimal_point) {
    // The value is taken in single precision, as the report always did.
    const float gibibytes = static_cast<float>(bytes) / 1024.0f / 1024.0f / 1024.0f;
    return FormatGeneral4(gibibytes, decimal_point);
}
