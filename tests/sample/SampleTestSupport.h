#pragma once
// Helpers of the sample image and chain tests: the fields the installer's identification
// reads from an image, and running the program folder's tools.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace sample_test {

/// The program folder the build lays out (QVT_APP_DIR), without trailing separator.
inline QString AppDir() {
    const char* dir = std::getenv("QVT_APP_DIR");
    return dir ? QString::fromLocal8Bit(dir) : QString();
}

/// What the identification of a source image sees.
struct TIdentity {
    bool ContainerOk = false;
    QByteArray NcchProgramId;
    QByteArray ExheaderProgramId;
    QByteArray ProductCode;
    std::uint32_t TitleLow = 0;
    std::int64_t ArchivePosition = 0; // start of the sound archive
    std::int64_t InfoPosition = 0;
    QByteArray InfoMagic;
};

/// Reads little-endian fields by seeking, a field past the end reading as zero.
class TImageReader {
public:
    explicit TImageReader(const QString& path) : m_file(path) {
        m_open = m_file.open(QIODevice::ReadOnly);
    }
    bool IsOpen() const { return m_open; }
    QByteArray Bytes(std::int64_t at, int length) {
        QByteArray bytes(length, '\0');
        if (m_file.seek(at)) {
            const QByteArray read = m_file.read(length);
            bytes.replace(0, read.size(), read);
        }
        return bytes;
    }
    std::uint64_t Number(std::int64_t at, int length) {
        const QByteArray bytes = Bytes(at, length);
        std::uint64_t value = 0;
        for (int i = length - 1; i >= 0; --i)
            value = value << 8 | static_cast<std::uint8_t>(bytes[i]);
        return value;
    }
    std::uint32_t U32(std::int64_t at) { return static_cast<std::uint32_t>(Number(at, 4)); }

private:
    QFile m_file;
    bool m_open = false;
};

inline std::int64_t PadTo64(std::int64_t size) {
    return (64 - size % 64) % 64;
}

/// The identification's reading of `path`, whose kind is ".cia", ".cxi" or ".3ds".
inline TIdentity Identify(const QString& path, const QString& kind) {
    TImageReader image(path);
    TIdentity identity;
    if (!image.IsOpen())
        return identity;
    std::int64_t ncch_id_at = 0, exheader_id_at = 0, product_at = 0, romfs_at = 0, level3_base = 0;
    if (kind == QLatin1String(".cia")) {
        identity.ContainerOk = image.U32(0) == 0x2020;
        std::int64_t c = 0;
        for (std::int64_t field : {0, 8, 0xC, 0x10}) {
            const std::int64_t size = image.U32(field);
            c += size + PadTo64(size);
        }
        ncch_id_at = c + 0x118;
        exheader_id_at = c + 0x400;
        product_at = c + 0x150;
        romfs_at = c + 0x1B0;
        level3_base = c + 0x1000;
    } else if (kind == QLatin1String(".3ds")) {
        identity.ContainerOk = image.Bytes(0x100, 4) == "NCSD";
        ncch_id_at = 0x1118;
        exheader_id_at = 0x43C8;
        product_at = 0x1150;
        romfs_at = 0x11B0;
        level3_base = 0x5000;
    } else {
        identity.ContainerOk = image.Bytes(0x100, 4) == "NCCH";
        ncch_id_at = 0x118;
        exheader_id_at = 0x400;
        product_at = 0x150;
        romfs_at = 0x1B0;
        level3_base = 0x1000;
    }
    identity.NcchProgramId = image.Bytes(ncch_id_at, 8);
    identity.ExheaderProgramId = image.Bytes(exheader_id_at, 8);
    identity.ProductCode = image.Bytes(product_at, 10);
    identity.TitleLow = image.U32(ncch_id_at);
    const std::int64_t level3 =
        static_cast<std::int64_t>(image.U32(romfs_at)) * 0x200 + level3_base;
    const std::int64_t file_table = image.U32(level3 + 0x1C);
    const std::int64_t data = image.U32(level3 + 0x24);
    const std::int64_t entry_data = image.U32(level3 + file_table + 0x68);
    identity.ArchivePosition = level3 + data + entry_data;
    identity.InfoPosition = identity.ArchivePosition + image.U32(identity.ArchivePosition + 0x24);
    identity.InfoMagic = image.Bytes(identity.InfoPosition, 4);
    return identity;
}

struct TRunResult {
    int ExitCode = -1;
    QString Output;
};

inline TRunResult RunProgram(const QString& program, const QStringList& arguments,
                             const QString& working_folder = QString()) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!working_folder.isEmpty())
        process.setWorkingDirectory(working_folder);
    process.start(program, arguments);
    if (!process.waitForStarted(-1))
        return {-1, process.errorString()};
    process.waitForFinished(-1);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAll())};
}

/// True when the program folder's ctrtool finds every hash of the image good.
inline ::testing::AssertionResult HashesGood(const QString& image) {
    const TRunResult result =
        RunProgram(AppDir() + QStringLiteral("/tools/ctrtool"), {QStringLiteral("-y"), image});
    if (result.ExitCode == 0 && result.Output.contains(QLatin1String("All hashes GOOD")))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << result.Output.toStdString();
}

inline QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace sample_test
