#include "sound_archive/FileBasics.h"

#include <QDir>
#include <QFile>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

fs::path ToPath(const QString& path) {
#if defined(_WIN32)
    return fs::path(path.toStdWString());
#else
    return fs::path(QFile::encodeName(path).toStdString());
#endif
}

QString FromPath(const fs::path& path) {
#if defined(_WIN32)
    return QDir::fromNativeSeparators(QString::fromStdWString(path.native()));
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

bool DeleteFolder(const QString& folder) {
    std::error_code ec;
    const fs::path path = ToPath(folder);
    if (fs::symlink_status(path, ec).type() != fs::file_type::directory)
        return false;
    fs::remove_all(path, ec); // removes links themselves, never what they point to
    return !ec;
}

std::int64_t PadTo64(std::int64_t size) {
    const std::int64_t rest = size % 64;
    return rest == 0 ? 0 : 64 - rest;
}
