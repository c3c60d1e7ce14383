// The bcsartool program from the program folder, run as a separate process.

#include "ConsoleOutput.h"
#include "tests/sound_archive/SyntheticBcsar.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct TRun {
    int ExitCode = -1;
    QString Output;
    QString Errors;
};

TRun RunTool(const QStringList& arguments) {
    QProcess process;
    process.start(qEnvironmentVariable("QVT_APP_DIR") + QStringLiteral("/bcsartool"), arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            ConsoleText(process.readAllStandardOutput()),
            ConsoleText(process.readAllStandardError())};
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class BcsartoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        synth::TLayout layout;
        layout.Clips = synth::Clips(3, 40);
        m_archive = synth::Build(layout).Bytes;
        QFile file(Path("sound.bcsar"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(m_archive);
    }
    QString Path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }

    QTemporaryDir m_dir;
    QByteArray m_archive;
};

TEST_F(BcsartoolTest, UnpackThenPackGivesTheSameArchive) {
    const QString folder = Path("new/pieces");
    const TRun unpack = RunTool({"unpack", Path("sound.bcsar"), folder + QLatin1Char('/')});
    EXPECT_EQ(unpack.ExitCode, 0) << unpack.Errors.toStdString();
    EXPECT_TRUE(unpack.Output.startsWith(
        QStringLiteral("CSAR Header saved to [%1/1_CSAR_Header.bin]\n").arg(folder)));
    EXPECT_TRUE(unpack.Output.endsWith(QStringLiteral("File saved as [002.bcwav]\r\n\n")));
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/4_CSAR_FILE/3_CWAR/3_BCWAV/002.bcwav")));

    const TRun pack = RunTool({"pack", folder, Path("packed.bcsar")});
    EXPECT_EQ(pack.ExitCode, 0) << pack.Errors.toStdString();
    EXPECT_TRUE(pack.Output.endsWith(QStringLiteral("Packing pieces.bcsar\r\n\n")));
    EXPECT_EQ(ReadAll(Path("packed.bcsar")), m_archive);
}

TEST_F(BcsartoolTest, FailuresExitWithOne) {
    QFile junk(Path("junk.bin"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a sound archive");
    junk.close();
    QDir().mkpath(Path("empty"));
    struct TRow {
        QStringList Arguments;
        QString Output; // expected standard output
    };
    const TRow rows[] = {
        {{"unpack", Path("junk.bin"), Path("out")}, "This is not a BCSAR file.\r\n\n"},
        {{"unpack", Path("missing.bcsar"), Path("out")}, ""},
        {{"pack", Path("empty"), Path("packed.bcsar")},
         "Packing 3_CWAR\r\n\nSelected folder doesn't contain BCSAR files.\r\n\n"},
        {{"pack", Path("empty")}, ""},
        {{"repack", Path("empty"), Path("packed.bcsar")}, ""},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Arguments.join(QLatin1Char(' ')).toStdString());
        const TRun run = RunTool(row.Arguments);
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_EQ(run.Output, row.Output);
    }
    EXPECT_FALSE(QFile::exists(Path("packed.bcsar")));
}

} // namespace
