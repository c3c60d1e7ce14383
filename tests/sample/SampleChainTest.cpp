// The installer's tool chain (source stages, header and RomFS extraction, digest check,
// xdelta, replacement folders, rebuild) run with the program folder's own tools on sample
// images of every kind, into every output kind the installer offers for it. Each output is
// taken apart again and must hold the patched files and still identify.

#include "SampleTestSupport.h"

#include "desktop/FileTools.h"
#include "sample/SampleData.h"
#include "sample/SampleHeaders.h"
#include "sample/SampleImage.h"
#include "sample/ToolChain.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

using namespace sample_test;

namespace {

constexpr std::uint64_t kSeed = 11;
constexpr std::uint64_t kPackSize = 123457;

struct TChainCase {
    const char* Source;
    const char* Output;
};

QByteArray ToQt(const sample::TBytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

class SampleChainTest : public ::testing::TestWithParam<TChainCase> {
protected:
    /// One program folder (tools linked from the build's) shared by all cases; the source
    /// images (each written with the same patch) are made when a case first needs them,
    /// since every case runs in a process of its own.
    static void SetUpTestSuite() {
        s_dir = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(s_dir->isValid());
        const QString tools = s_dir->filePath(QStringLiteral("program/tools"));
        ASSERT_TRUE(QDir().mkpath(tools));
        for (const char* tool : {"ctrtool", "3dstool", "makerom", "xdelta"}) {
            const QString name = ToolFileName(QLatin1String(tool));
#if defined(_WIN32)
            // A link there is a shortcut file, which no process can start.
            ASSERT_TRUE(QFile::copy(AppDir() + QStringLiteral("/tools/") + name,
                                    tools + QLatin1Char('/') + name));
#else
            ASSERT_TRUE(QFile::link(AppDir() + QStringLiteral("/tools/") + name,
                                    tools + QLatin1Char('/') + name));
#endif
        }
        sample::TSampleOptions options;
        options.Seed = kSeed;
        options.PackSize = kPackSize;
        const QString changed = s_dir->filePath(QStringLiteral("changed_pack.dat"));
        sample::WriteChangedPackDat(changed, options);
        s_changed_md5 = FileMD5Hex(changed);
    }
    /// The source image of `kind` ("cia", "cxi", "3ds"), written on first use.
    static QString EnsureSource(const QString& kind) {
        const QString path = Source(kind);
        if (!QFileInfo::exists(path)) {
            const TRunResult result = RunProgram(
                AppDir() + QStringLiteral("/qvtsample"),
                {QStringLiteral("--kind"), kind, QStringLiteral("--region"), QStringLiteral("EUR"),
                 QStringLiteral("--out"), path, QStringLiteral("--pack-size"),
                 QString::number(kPackSize), QStringLiteral("--seed"), QString::number(kSeed),
                 QStringLiteral("--patch"), PatchFolder()});
            EXPECT_EQ(result.ExitCode, 0) << result.Output.toStdString();
        }
        return path;
    }
    static void TearDownTestSuite() {
        s_dir.reset();
    }

    static QString Source(const QString& kind) {
        return s_dir->filePath(QStringLiteral("source.") + kind);
    }
    static QString PatchFolder() {
        return s_dir->filePath(QStringLiteral("patch/Veridane"));
    }
    static QString ProgramFolder() {
        return s_dir->filePath(QStringLiteral("program"));
    }

    /// Takes `image` apart with the tools into `folder`/romfs and `folder`/exefs.
    static void Unpack(const QString& image, const QString& kind, const QString& folder) {
        const QString tools = ProgramFolder() + QStringLiteral("/tools/");
        QString cxi = image;
        auto run = [&](const QString& tool, const QStringList& arguments) {
            const TRunResult result = RunProgram(tools + tool, arguments, folder);
            ASSERT_EQ(result.ExitCode, 0) << tool.toStdString() << " "
                                          << arguments.join(QLatin1Char(' ')).toStdString() << "\n"
                                          << result.Output.toStdString();
        };
        ASSERT_TRUE(QDir().mkpath(folder));
        if (kind == QLatin1String(".cia")) {
            run(QStringLiteral("ctrtool"), {QStringLiteral("--contents=c"), image});
            cxi = folder + QStringLiteral("/c.0000.00000000");
        } else if (kind == QLatin1String(".3ds")) {
            run(QStringLiteral("3dstool"),
                {QStringLiteral("-xtf"), QStringLiteral("3ds"), image, QStringLiteral("--header"),
                 QStringLiteral("ncsd.bin"), QStringLiteral("-0"), QStringLiteral("p0.cxi")});
            cxi = folder + QStringLiteral("/p0.cxi");
        }
        run(QStringLiteral("ctrtool"),
            {QStringLiteral("-p"), QStringLiteral("--romfs=romfs.bin"), cxi});
        run(QStringLiteral("ctrtool"),
            {QStringLiteral("-p"), QStringLiteral("--exefs=exefs.bin"), cxi});
        run(QStringLiteral("3dstool"),
            {QStringLiteral("-xtf"), QStringLiteral("romfs"), QStringLiteral("romfs.bin"),
             QStringLiteral("--romfs-dir"), QStringLiteral("romfs")});
        run(QStringLiteral("3dstool"),
            {QStringLiteral("-xutf"), QStringLiteral("exefs"), QStringLiteral("exefs.bin"),
             QStringLiteral("--exefs-dir"), QStringLiteral("exefs"), QStringLiteral("--header"),
             QStringLiteral("exefsheader.bin")});
    }

    static inline std::unique_ptr<QTemporaryDir> s_dir;
    static inline QString s_changed_md5;
};

TEST_P(SampleChainTest, OutputHoldsThePatchedFilesAndStillIdentifies) {
    const QString source_kind = QLatin1Char('.') + QLatin1String(GetParam().Source);
    const QString output_kind = QLatin1Char('.') + QLatin1String(GetParam().Output);

    sample::TChainJob job;
    job.ProgramFolder = ProgramFolder();
    job.SourcePath = EnsureSource(source_kind.mid(1));
    ASSERT_FALSE(HasFailure());
    job.OutputBase =
        s_dir->filePath(QStringLiteral("out_%1_%2").arg(source_kind.mid(1), output_kind.mid(1)));
    job.OutputKind = output_kind;
    job.PatchFolder = PatchFolder();
    const sample::TBytes pack_inc = sample::MakePackInc(kSeed, kPackSize, false);
    job.PackIncMD5 = QString::fromLatin1(
        QCryptographicHash::hash(ToQt(pack_inc), QCryptographicHash::Md5).toHex().toUpper());
    std::vector<sample::TStageTime> stages;
    QString output;
    try {
        output = sample::RunToolChain(job, &stages);
    } catch (const std::exception& error) {
        FAIL() << error.what();
    }
    EXPECT_FALSE(QFileInfo::exists(ProgramFolder() + QStringLiteral("/tools/temp")));

    EXPECT_TRUE(HashesGood(output));
    const TIdentity identity = Identify(output, output_kind);
    EXPECT_TRUE(identity.ContainerOk);
    EXPECT_EQ(identity.NcchProgramId, identity.ExheaderProgramId);
    EXPECT_EQ(identity.TitleLow, 0x00133300u);
    EXPECT_EQ(identity.InfoMagic, "INFO") << "the sound archive entry moved";

    const QString unpacked =
        s_dir->filePath(QStringLiteral("check_") + QFileInfo(output).fileName());
    Unpack(output, output_kind, unpacked);
    if (HasFatalFailure())
        return;
    EXPECT_EQ(FileMD5Hex(unpacked + QStringLiteral("/romfs/pack.dat")), s_changed_md5);
    for (const QString& name :
         {QStringLiteral("romfs/pack.inc"), QStringLiteral("romfs/text/notes.msg"),
          QStringLiteral("exefs/banner.bnr")})
        EXPECT_TRUE(ReadFile(unpacked + QLatin1Char('/') + name) ==
                    ReadFile(PatchFolder() + QLatin1Char('/') + name))
            << name.toStdString();
    EXPECT_TRUE(ReadFile(unpacked + QStringLiteral("/romfs/sound/QK123.bcsar")) ==
                ToQt(sample::MakeSoundArchive(kSeed)));
    EXPECT_TRUE(ReadFile(unpacked + QStringLiteral("/exefs/code.bin")) ==
                ToQt(sample::MakeCode(kSeed)));
    EXPECT_TRUE(ReadFile(unpacked + QStringLiteral("/exefs/icon.icn")) ==
                ToQt(sample::MakeIcon("EUR")));
    QDir(unpacked).removeRecursively();
    QFile::remove(output);
}

INSTANTIATE_TEST_SUITE_P(SourceAndOutputKinds, SampleChainTest,
                         ::testing::Values(TChainCase{"cia", "cia"}, TChainCase{"cia", "cxi"},
                                           TChainCase{"cxi", "cia"}, TChainCase{"cxi", "cxi"},
                                           TChainCase{"3ds", "cia"}, TChainCase{"3ds", "cxi"},
                                           TChainCase{"3ds", "3ds"}),
                         [](const auto& info) {
                             return std::string(info.param.Source) + "_to_" + info.param.Output;
                         });

TEST_F(SampleChainTest, WrongDigestStopsBeforeTheArchiveIsTouched) {
    sample::TChainJob job;
    job.ProgramFolder = ProgramFolder();
    job.SourcePath = EnsureSource(QStringLiteral("cxi"));
    ASSERT_FALSE(HasFailure());
    job.OutputBase = s_dir->filePath(QStringLiteral("never"));
    job.OutputKind = QStringLiteral(".cxi");
    job.PatchFolder = PatchFolder();
    job.PackDatMD5 = QStringLiteral("00000000000000000000000000000000");
    job.KeepTemp = true;
    EXPECT_THROW(sample::RunToolChain(job), sample::TSampleError);
    EXPECT_TRUE(QFileInfo(ProgramFolder() + QStringLiteral("/tools/temp/romfs/pack.dat")).isFile());
    EXPECT_FALSE(QFileInfo::exists(job.OutputBase + job.OutputKind));
    QDir(ProgramFolder() + QStringLiteral("/tools/temp")).removeRecursively();
}

} // namespace
