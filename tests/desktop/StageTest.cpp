// Stages run alone over a run context with the in-process tools: the pack.dat stage (its
// digest tests, the difference applied, what is left on each way out) and a tool stage's
// judgement of the tool's end.

#include "desktop/FileTools.h"
#include "desktop/RunContext.h"
#include "engine/PackDatStage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray Bytes(int size, int seed) {
    QByteArray bytes(size, '\0');
    std::uint32_t state = 2463534242u + std::uint32_t(seed);
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = char(state >> 24);
    }
    return bytes;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

QString Md5(const QByteArray& bytes) {
    TMd5 md5;
    md5.Update(bytes.constData(), std::size_t(bytes.size()));
    return md5.Hex();
}

// A program folder with a game's unpacked pack.dat and pack.inc and a patch whose difference
// the real xdelta3 made; a run context over it with the in-process tools and a recording of
// what the run told.
class StageFixture : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_folder = m_dir.path() + QLatin1Char('/');
        m_game = Bytes(300000, 1);
        m_patched = m_game.mid(1000, 200000) + Bytes(5000, 2) + m_game.left(90000);
        ASSERT_TRUE(WriteFile(m_folder + "tools/temp/romfs/pack.dat", m_game));
        ASSERT_TRUE(WriteFile(m_folder + "tools/temp/romfs/pack.inc", "inc"));
        ASSERT_TRUE(WriteFile(m_folder + "work/target", m_patched));
        QDir().mkpath(m_folder + "patch/Test");
        const QString app = qEnvironmentVariable("QVT_APP_DIR") + QLatin1Char('/');
        ASSERT_TRUE(m_texts.LoadFile(LanguageFilePath(app, "English")));
        const QString encoder = ToolProgramPath(app, TTool::Xdelta);
        ASSERT_EQ(RunTool(encoder,
                          {"-e", "-f", "-s", "tools/temp/romfs/pack.dat", "work/target",
                           "patch/Test/patch.xdelta"},
                          m_folder),
                  0u);
        m_tools = MakeInProcessTools(m_folder);
        m_job.ProgramFolder = m_folder;
        m_job.PatchFolder = m_folder + "patch/Test/";
    }

    // Runs `stage` as the pipeline does: until it returns or the run ends.
    template <typename F> void Run(F&& stage, bool stop = false) {
        TRunCallbacks callbacks{[this](const QString& entry) { m_log << entry.trimmed(); },
                                [this](int value) { m_progress << value; },
                                [this](const QString& text) { m_log << "message: " + text; },
                                [this] { ++m_finishes; },
                                [stop] { return stop; },
                                {}};
        TRunContext run(m_job, m_texts, callbacks, m_tools.get());
        try {
            stage(run);
        } catch (const TRunEnded&) {
        }
    }

    QString Text(const char* key) const { return m_texts.Lookup(QString::fromLatin1(key)); }
    QString Temp(const QString& name) const { return m_folder + "tools/temp/" + name; }

    QTemporaryDir m_dir;
    QString m_folder;
    QByteArray m_game, m_patched;
    std::unique_ptr<TTools> m_tools;
    TLanguageTable m_texts;
    TInstallJob m_job;
    QStringList m_log;
    QList<int> m_progress;
    int m_finishes = 0;
};

struct TPackDatCase {
    const char* Name;
    bool MatchPackDat; // the patch's pack.dat digest is the game's (in lower case)
    bool MatchPackInc;
    bool Stop; // a cancel is pending
    bool BadDifference;
    const char* LastKey; // the last entry's text
    char PackDat;        // romfs/pack.dat after: 'p' patched, 'g' the game's, '-' none (the
                         // run's clean-up removes tools/temp with xdelta3's source in it)
};

class PackDatStage : public StageFixture, public testing::WithParamInterface<TPackDatCase> {};

TEST_P(PackDatStage, PatchesOrLeavesTheGamesPackDat) {
    const TPackDatCase& row = GetParam();
    m_job.OriginalPackDatMD5 = row.MatchPackDat ? Md5(m_game).toLower() : Md5("other");
    m_job.OriginalPackIncMD5 = Md5(row.MatchPackInc ? QByteArray("inc") : QByteArray("other"));
    if (row.BadDifference) {
        ASSERT_TRUE(WriteFile(m_folder + "patch/Test/patch.xdelta", Bytes(4000, 3)));
    }
    Run([](TRunContext& run) { engine::PatchPackDatInTemp(run.Engine()); }, row.Stop);

    ASSERT_FALSE(m_log.isEmpty());
    EXPECT_EQ(m_log.first(), Text("CheckingMD5PackDat"));
    EXPECT_TRUE(m_log.last().startsWith(Text(row.LastKey))) << m_log.join('|').toStdString();
    const QByteArray expected = row.PackDat == 'p'   ? m_patched
                                : row.PackDat == 'g' ? m_game
                                                     : QByteArray("(missing)");
    EXPECT_EQ(ReadFile(Temp("romfs/pack.dat")), expected);
    // xdelta3's source is gone or back in place, and no partial file stays behind.
    EXPECT_EQ(QFile::exists(Temp("old_pack.dat")), row.PackDat == '-');
    EXPECT_EQ(QDir(Temp("romfs")).entryList(QDir::Files).size(), row.PackDat == '-' ? 1 : 2);
    const bool ended = QString::fromLatin1(row.LastKey) != "Done";
    EXPECT_EQ(m_finishes, ended ? 1 : 0);
    EXPECT_EQ(m_progress.contains(65), !ended);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PackDatStage,
    testing::Values(
        TPackDatCase{"Matched", true, true, false, false, "Done", 'p'},
        TPackDatCase{"PackDatMismatch", false, true, false, false, "MD5NotMatched", 'g'},
        TPackDatCase{"PackIncMismatch", true, false, false, false, "MD5NotMatched", 'g'},
        TPackDatCase{"Cancelled", true, true, true, false, "MD5Matched", 'g'},
        TPackDatCase{"DamagedDifference", true, true, false, true, "ErrorApplyingXdelta", '-'}),
    [](const auto& info) { return std::string(info.param.Name); });

// A container tool stage in the process: the RomFS built from a folder and taken apart
// again; a tool that fails writes the stage's error and ends the run.
TEST_F(StageFixture, ToolStagesRunTheContainerToolsInTheProcess) {
    ASSERT_TRUE(WriteFile(Temp("romfs/sound/a.bin"), Bytes(70000, 4)));
    Run([](TRunContext& run) {
        run.ToolStage("RebuildingRomFS", 90, TTool::Tool3ds,
                      {"-ctf", "romfs", "tools/temp/romfs.bin", "--romfs-dir", "tools/temp/romfs"},
                      "ErrorRebuildingRomFS", true);
        run.ToolStage("UnpackingRomFS", 30, TTool::Tool3ds,
                      {"-xtf", "romfs", "tools/temp/romfs.bin", "--romfs-dir", "tools/temp/again"},
                      "ErrorUnpackingRomFS", false, true);
        run.ToolStage("ExtractingExeFS", 10, TTool::Ctrtool,
                      {"-p", "--exefs=tools/temp/exefs.bin", "tools/temp/missing.cxi"},
                      "ErrorExtractingExeFs");
    });
    EXPECT_EQ(FilesBelow(Temp("again")), FilesBelow(Temp("romfs")));
    EXPECT_EQ(ReadFile(Temp("again/sound/a.bin")), ReadFile(Temp("romfs/sound/a.bin")));
    const QStringList expected = {Text("RebuildingRomFS"), Text("Done"),
                                  Text("UnpackingRomFS"),  Text("Done"),
                                  Text("ExtractingExeFS"), Text("ErrorExtractingExeFs")};
    EXPECT_EQ(m_log, expected);
    EXPECT_EQ(m_finishes, 1);
    EXPECT_FALSE(QFile::exists(Temp("exefs.bin")));
}

} // namespace
