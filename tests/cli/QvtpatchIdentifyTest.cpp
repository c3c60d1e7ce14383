// qvtpatch --identify, run as a real program on images built field by field.
#include "ConsoleOutput.h"
#include "desktop/Language.h"
#include "tests/desktop/SampleImages.h"

#include <QFile>
#include <QFileInfo>

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

struct TRun {
    int ExitCode = -1;
    QString Out;
    QString Err;
};

TRun Identify(const QString& image) {
    QProcess process;
    process.start(qEnvironmentVariable("QVT_APP_DIR") + "/qvtpatch", {"--identify", image});
    process.waitForFinished(-1);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            ConsoleText(process.readAllStandardOutput()),
            ConsoleText(process.readAllStandardError())};
}

QString English(const QString& key) {
    TLanguageTable table;
    table.LoadFile(qEnvironmentVariable("QVT_APP_DIR") + "/lang/English.lng");
    return table.Lookup(key);
}

TEST(QvtpatchIdentify, UsableImagesExitZero) {
    QTemporaryDir dir;
    sample::TImageSpec shape;
    auto layout = sample::WriteImage(shape, dir.filePath("game.cia"));
    TRun run = Identify(dir.filePath("game.cia"));
    EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out, QStringLiteral("Product Code: CTR-P-QVTE\nROM Region: EUR\nKind: .cia\n"
                                      "Region: EUR\nInfoPosition: 0x%1\n")
                           .arg(QString::number(layout.InfoPosition, 16).toUpper()));
    EXPECT_TRUE(run.Err.isEmpty());

    shape.Kind = ".3ds";
    shape.ProgramIdLow = sample::kJap;
    layout = sample::WriteImage(shape, dir.filePath("card.3ds"));
    run = Identify(dir.filePath("card.3ds"));
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_TRUE(run.Out.startsWith("ProductCode: CTR-P-QVTE\nROM Region: JAP\nKind: .3ds\n"));
}

TEST(QvtpatchIdentify, UnusableImagesExitOneWithTheText) {
    QTemporaryDir dir;
    sample::TImageSpec encrypted;
    encrypted.Kind = ".cxi";
    encrypted.Encrypted = true;
    sample::WriteImage(encrypted, dir.filePath("enc.cxi"));
    TRun run = Identify(dir.filePath("enc.cxi"));
    EXPECT_EQ(run.ExitCode, 1);
    // The container library cannot take this image apart, and says why.
    EXPECT_TRUE(run.Out.startsWith(English("LogEncrypted") + "\n\n" +
                                   English("LogEncryptedImageProblem") + " "))
        << run.Out.toStdString();
    EXPECT_TRUE(run.Out.endsWith(English("LogEncryptedGodMode9") + "\nKind: .cxi\n"));

    sample::TImageSpec bad;
    bad.CiaHeaderSize = 0x2000;
    sample::WriteImage(bad, dir.filePath("bad.cia"));
    run = Identify(dir.filePath("bad.cia"));
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Err, English("ErrorNOTCIAROM") + "\n");

    sample::TImageSpec other;
    other.ProgramIdLow = 0x00ABCD00;
    sample::WriteImage(other, dir.filePath("other.cia"));
    run = Identify(dir.filePath("other.cia"));
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_TRUE(run.Out.startsWith("Product Code: CTR-P-QVTE\nKind: .cia\nInfoPosition: 0x"));
    EXPECT_EQ(run.Err, English("ErrorWrongROM") + "\n");

    run = Identify(dir.filePath("missing.cia"));
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Err, English("ErrorLoadingROM") + "\n");
}

// Images from the sample generator, which builds them with the container tools.
TRun Sample(const QStringList& options) {
    QProcess process;
    process.start(qEnvironmentVariable("QVT_APP_DIR") + "/qvtsample",
                  QStringList{"--pack-size", "64K"} + options);
    process.waitForFinished(-1);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            ConsoleText(process.readAllStandardOutput()),
            ConsoleText(process.readAllStandardError())};
}

QByteArray BytesAt(const QString& path, qint64 position, qint64 length) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(position))
        return {};
    return file.read(length);
}

// A compressed image under any name is read as the image it holds; a damaged one, or one that
// holds no image, is refused with its reason.
TEST(QvtpatchIdentify, CompressedImagesByContent) {
    QTemporaryDir dir;
    const TRun made = Sample(
        {"--kind", "cxi", "--region", "EUR", "--out", dir.filePath("game.zcxi"), "--compress"});
    ASSERT_EQ(made.ExitCode, 0) << made.Err.toStdString();
    QFile compressed(dir.filePath("game.zcxi"));
    ASSERT_TRUE(compressed.open(QIODevice::ReadOnly));
    const QByteArray whole = compressed.readAll();
    const auto write = [&](const char* name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return dir.filePath(name);
    };

    for (const char* name : {"game.zcxi", "renamed.cxi", "renamed.3ds"}) {
        const TRun run = Identify(write(name, whole));
        EXPECT_EQ(run.ExitCode, 0) << name << run.Err.toStdString();
        EXPECT_TRUE(run.Out.contains("Kind: .cxi (compressed)")) << name;
        EXPECT_EQ(run.Out.contains(English("LogKindByContent")), QString(name) != "game.zcxi");
    }
    QByteArray bigger = whole;
    bigger[0x18] = char(0xFF); // the image's size in the header, now beyond what the frames hold
    QByteArray no_image = whole.left(0x20) + QByteArray(0x200, '\x5A');
    const struct {
        const char* Name;
        QByteArray Bytes;
    } damaged[] = {{"cut.zcxi", whole.left(whole.size() / 2)},
                   {"header.zcxi", whole.left(0x10)},
                   {"sizes.zcxi", bigger},
                   {"nothing.zcxi", no_image}};
    for (const auto& row : damaged) {
        const TRun run = Identify(write(row.Name, row.Bytes));
        EXPECT_EQ(run.ExitCode, 1) << row.Name;
        EXPECT_TRUE(run.Err.contains(English("ErrorCompressedImage"))) << row.Name;
        EXPECT_FALSE(QFileInfo::exists(dir.filePath("tools"))) << row.Name;
    }
}

TEST(QvtpatchIdentify, GeneratedImagesOfEveryKindAndRegion) {
    QTemporaryDir dir;
    for (const char* kind : {"cia", "3ds", "cxi"}) {
        for (const char* region : {"JAP", "USA", "EUR"}) {
            const QString image = dir.filePath(QStringLiteral("%1-%2.%1").arg(kind, region));
            const TRun made = Sample({"--kind", kind, "--region", region, "--out", image});
            ASSERT_EQ(made.ExitCode, 0) << made.Err.toStdString();
            const TRun run = Identify(image);
            EXPECT_EQ(run.ExitCode, 0) << kind << region << run.Err.toStdString();
            const QStringList lines = run.Out.split('\n');
            ASSERT_EQ(lines.size(), 6) << run.Out.toStdString();
            EXPECT_TRUE(lines[0].startsWith(
                QLatin1String(kind) == QLatin1String("cia") ? "Product Code: " : "ProductCode: "));
            EXPECT_EQ(lines[1], QStringLiteral("ROM Region: ") + region);
            EXPECT_EQ(lines[2], QStringLiteral("Kind: .") + kind);
            bool ok = false;
            const qint64 info =
                lines[4].mid(QStringLiteral("InfoPosition: 0x").size()).toLongLong(&ok, 16);
            ASSERT_TRUE(ok);
            EXPECT_EQ(BytesAt(image, info, 4), QByteArray("INFO")) << kind << region;
        }
    }
    const QString encrypted = dir.filePath("enc.cia");
    ASSERT_EQ(
        Sample({"--kind", "cia", "--region", "EUR", "--out", encrypted, "--encrypted"}).ExitCode,
        0);
    EXPECT_EQ(Identify(encrypted).Out, English("LogEncrypted") + "\n\nKind: .cia\n");
    const QString other = dir.filePath("other.3ds");
    ASSERT_EQ(
        Sample({"--kind", "3ds", "--region", "USA", "--out", other, "--title-low", "00ABCD00"})
            .ExitCode,
        0);
    EXPECT_EQ(Identify(other).Err, English("ErrorWrongROM") + "\n");
    const QString header = dir.filePath("header.cia");
    ASSERT_EQ(
        Sample({"--kind", "cia", "--region", "EUR", "--out", header, "--cia-header-size", "2000"})
            .ExitCode,
        0);
    EXPECT_EQ(Identify(header).Err, English("ErrorNOTCIAROM") + "\n");
}

} // namespace
