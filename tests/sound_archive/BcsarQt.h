#pragma once
// The sound archive's calls for tests and benchmarks that hold bytes in QByteArray and paths
// in QString: each converts and calls the sound archive's own.

#include "sound_archive/N3DSbcsar.h"
#include "sound_archive/PieceFiles.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace bcsar_qt {

inline std::filesystem::path Path(const QString& path) {
#if defined(_WIN32)
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

inline std::span<const std::uint8_t> Span(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())};
}

inline QByteArray Bytes(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// Runs a packer into a vector and hands the bytes over on success only, as the packers do.
template <typename TPack> int PackInto(QByteArray& output, TPack pack) {
    std::vector<std::uint8_t> bytes;
    const int result = pack(bytes);
    if (result == 0)
        output = Bytes(bytes);
    return result;
}

} // namespace bcsar_qt

inline int UnpackBcsar(const QByteArray& stream, const QString& folder, qint64 start,
                       bool verbose) {
    return UnpackBcsar(bcsar_qt::Span(stream), bcsar_qt::Path(folder), start, verbose);
}

inline int PackBcsar(QByteArray& output, const QString& folder, bool verbose) {
    return bcsar_qt::PackInto(output, [&](std::vector<std::uint8_t>& bytes) {
        return PackBcsar(bytes, bcsar_qt::Path(folder), verbose);
    });
}

inline int PackCwar(QByteArray& output, const QString& folder, bool verbose) {
    return bcsar_qt::PackInto(output, [&](std::vector<std::uint8_t>& bytes) {
        return PackCwar(bytes, bcsar_qt::Path(folder), verbose);
    });
}

inline int PackCsarFile(QByteArray& output, const QByteArray& cwar, const QString& folder,
                        bool verbose) {
    return bcsar_qt::PackInto(output, [&](std::vector<std::uint8_t>& bytes) {
        return PackCsarFile(bytes, bcsar_qt::Span(cwar), bcsar_qt::Path(folder), verbose);
    });
}
