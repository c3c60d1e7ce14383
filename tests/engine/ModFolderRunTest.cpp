// The engine's mod folder run gives, file for file and byte for byte, the folder the command
// line's mod folder run writes for the same image and the sample patch with its voices, from a
// plain and a compressed image, for each voice choice, and with a music assignment.

#include "engine/ModFolderRun.h"
#include "ctr/Z3ds.h"
#include "ctr/Z3dsWrite.h"
#include "desktop/FileTools.h"
#include "desktop/PatchCatalogue.h"
#include "desktop/TrackList.h"
#include "engine/Identify.h"
#include "tests/desktop/RealProgramFolder.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct TFormCase {
    const char* Kind; // the sample's kind
    bool Compressed;
    int Voice;
    // The music as the command line's --music file gives it (slot, row, column, id a line),
    // the track's id per slot for the engine; none when null.
    const char* Music = nullptr;
};

class EngineModFolder : public testing::TestWithParam<TFormCase> {};

std::filesystem::path PathOf(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

TEST_P(EngineModFolder, WritesWhatTheCommandLineWrites) {
    const TFormCase& form = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.path() + "/program";
    ASSERT_TRUE(MakeRealProgramFolder(program, true));
    const QString image = dir.path() + "/game" + form.Kind;
    const QString patch = dir.path() + "/patch";
    ASSERT_EQ(WriteSampleImage(program + "/tools", form.Kind, image, patch), QString());
    const ctr::TImageKind kind = *ctr::ImageKindFromText(form.Kind);
    QString source = image;
    if (form.Compressed) {
        source = dir.path() + "/game.z" + QString(form.Kind).mid(1);
        ctr::CompressImage(PathOf(image), kind, PathOf(source));
    }
    engine::TModFolderJob job;
    job.Source = PathOf(source);
    job.Kind = kind;
    job.Description = "English.dsc";
    job.ProgramVersion = ProgramVersion().toStdString();
    job.Voice = form.Voice;

    ASSERT_TRUE(QFileInfo(patch + "/voice").isDir());
    const QString desktop = dir.path() + "/desktop";
    QStringList arguments = {"--source", source, "--output", desktop, "--kind", "mods"};
    arguments << "--patch" << patch << "--voice" << QString::number(form.Voice) << "--quiet";
    std::unique_ptr<TTrackList> tracks;
    if (form.Music != nullptr) {
        const QString music = dir.path() + "/music.txt";
        QFile file(music);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(form.Music);
        file.close();
        arguments << "--music" << music;
        const engine::TIdentity identity = engine::IdentifyImage(PathOf(source), "game", {});
        ASSERT_TRUE(identity.InfoPosition);
        tracks = std::make_unique<TTrackList>(source, patch, *identity.InfoPosition,
                                              DefaultTrackListData());
        ASSERT_EQ(tracks->Status(), TTrackListStatus::Ok);
        for (const QString& line : QString(form.Music).split('\n', Qt::SkipEmptyParts)) {
            const QStringList fields = line.split(' ');
            tracks->SetSlotTrack(fields[0].toInt(),
                                 tracks->GetTrackTitle(tracks->IndexOfTrackId(fields[3])));
        }
        tracks->SetChanged(true);
        job.Tracks = &tracks->Engine();
    }
    QProcess qvtpatch;
    qvtpatch.start(program + "/qvtpatch", arguments);
    ASSERT_TRUE(qvtpatch.waitForFinished(600000));
    ASSERT_EQ(qvtpatch.exitCode(), 0) << qvtpatch.readAllStandardError().toStdString();

    job.Patch = engine::PatchFilesBelow(PathOf(patch));
    // The sound step's folder, in a temporary folder of this test's own.
    const QString temp = dir.path() + "/temp";
    ASSERT_TRUE(QDir().mkpath(temp));
    // Put back when this test ends: the folder goes with it, and later tests in this process
    // take their temporary files from TMPDIR too.
    struct TRestoredTmpDir {
        bool Set = qEnvironmentVariableIsSet("TMPDIR");
        QByteArray Value = qgetenv("TMPDIR");
        ~TRestoredTmpDir() { Set ? qputenv("TMPDIR", Value) : qunsetenv("TMPDIR"); }
    } restored_tmpdir;
    qputenv("TMPDIR", temp.toLocal8Bit());
    const QString ours = dir.path() + "/engine";
    engine::TFolderSink sink(PathOf(ours));
    std::vector<std::string> stages;
    double last = 0;
    const engine::TModFolderHost host{
        [&](const std::string& key, const std::string&) { stages.push_back(key); },
        [&](double fraction, const std::string&) {
            EXPECT_GE(fraction, last);
            last = fraction;
            return true;
        }};
    const engine::TModFolderResult result = engine::RunModFolder(job, sink, host);
    ASSERT_TRUE(result.Succeeded) << result.ErrorKey << " " << result.Detail;
    EXPECT_EQ(last, 1.0);
    for (const char* key : {"MD5Matched", "ApplyingVoice"})
        EXPECT_NE(std::find(stages.begin(), stages.end(), key), stages.end()) << key;
    EXPECT_TRUE(QDir(temp).isEmpty()) << "the sound step's folder stays";

    const QStringList files = FilesBelow(desktop);
    ASSERT_TRUE(files.contains(QString::fromStdString(result.TitleId) + "/qvtpatch-mod.json"));
    ASSERT_TRUE(files.contains(QString::fromStdString(result.TitleId) + "/romfs/pack.dat"));
    ASSERT_TRUE(
        files.contains(QString::fromStdString(result.TitleId) + "/romfs/sound/QK123.bcsar"));
    EXPECT_EQ(FilesBelow(ours), files);
    for (const QString& file : files)
        EXPECT_EQ(FileMD5Hex(ours + "/" + file), FileMD5Hex(desktop + "/" + file))
            << file.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Forms, EngineModFolder,
    testing::Values(TFormCase{".cia", false, 0}, TFormCase{".3ds", true, 1},
                    TFormCase{".cia", false, 2},
                    TFormCase{".cia", false, 0, "0 1 1 BGM118\n10 4 2 BGM005\n33 0 0 BGM013\n"}),
    [](const testing::TestParamInfo<TFormCase>& info) {
        return std::string(info.param.Kind + 1) + (info.param.Compressed ? "_compressed" : "") +
               "_voice" + std::to_string(info.param.Voice) + (info.param.Music ? "_music" : "");
    });

} // namespace
