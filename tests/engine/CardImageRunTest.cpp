// The engine's card image run gives, byte for byte, the card image the command line writes for
// the same image and patch, from a plain, a compressed and an encrypted image, and its CIA run
// the command line's CIA; a run that fails or is cancelled leaves no scratch file behind.

#include "engine/CardImageRun.h"
#include "ctr/Verify.h"
#include "ctr/Z3ds.h"
#include "ctr/Z3dsWrite.h"
#include "desktop/FileTools.h"
#include "desktop/PatchCatalogue.h"
#include "sample/SampleCrypt.h"
#include "tests/desktop/RealProgramFolder.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct TFormCase {
    const char* Name;
    bool Compressed;
    bool Encrypted; // with made-up keys
    bool OwnCode;   // the patch brings its code and icon too
    int Voice;      // the voice chosen; -1: a patch without voices
};

class EngineCardImage : public testing::TestWithParam<TFormCase> {};

std::filesystem::path PathOf(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

TEST_P(EngineCardImage, WritesWhatTheCommandLineWrites) {
    const TFormCase& form = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.path() + "/program";
    ASSERT_TRUE(MakeRealProgramFolder(program, true));
    const QString image = dir.path() + "/game.3ds";
    const QString patch = dir.path() + "/patch";
    ASSERT_EQ(WriteSampleImage(program + "/tools", ".3ds", image, patch), QString());
    QString source = image;
    QStringList key_options;
    ctr::TCryptoKeys keys = sample::MakeUpKeys(29);
    if (form.Encrypted) {
        source = dir.path() + "/encrypted.3ds";
        sample::TEncryption encryption;
        encryption.CryptoMethod = 0x0B;
        sample::EncryptImage(PathOf(image), ctr::TImageKind::Cci, PathOf(source), encryption, keys);
        sample::WriteKeyFiles(PathOf(dir.path() + "/aes_keys.txt"), keys);
        key_options = {"--keys", dir.path() + "/aes_keys.txt"};
    }
    if (form.Compressed) {
        const QString plain = source;
        source = dir.path() + "/game.zcci";
        ctr::CompressImage(PathOf(plain), ctr::TImageKind::Cci, PathOf(source));
    }
    if (form.Voice < 0)
        ASSERT_TRUE(QDir(patch + "/voice").removeRecursively());
    else
        key_options << "--voice" << QString::number(form.Voice);
    if (form.OwnCode) {
        for (const char* name : {"/exefs/code.bin", "/exefs/icon.icn"}) {
            QFile file(patch + name);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(QByteArray("patched ").append(name).repeated(4000));
        }
    }
    const QString desktop = dir.path() + "/desktop.3ds";
    QProcess qvtpatch;
    qvtpatch.start(program + "/qvtpatch",
                   QStringList{"--source", source, "--output", desktop, "--kind", "3ds", "--patch",
                               patch, "--quiet"} +
                       key_options);
    ASSERT_TRUE(qvtpatch.waitForFinished(600000));
    ASSERT_EQ(qvtpatch.exitCode(), 0) << qvtpatch.readAllStandardError().toStdString();

    engine::TCardImageJob job;
    job.Source = PathOf(source);
    job.Kind = ctr::TImageKind::Cci;
    job.Keys = form.Encrypted ? &keys : nullptr;
    job.Description = "English.dsc";
    job.Patch = engine::PatchFilesBelow(PathOf(patch));
    engine::TDiskScratch scratch(PathOf(dir.path() + "/pack.dat.part"));
    job.PackDatScratch = &scratch;
    job.Voice = std::max(form.Voice, 0);
    const QString ours = dir.path() + "/engine.3ds";
    ctr::TOutFile out(PathOf(ours));
    double last = 0;
    const engine::TModFolderHost host{{}, [&](double fraction, const std::string&) {
                                          EXPECT_GE(fraction, last);
                                          last = fraction;
                                          return true;
                                      }};
    const engine::TCardImageResult result = engine::RunCardImage(job, ctr::WriteAtIn(out, 0), host);
    ASSERT_TRUE(result.Succeeded) << result.ErrorKey << " " << result.Detail;
    out.Commit();
    EXPECT_EQ(last, 1.0);
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/pack.dat.part"));
    EXPECT_EQ(QFileInfo(ours).size(), qint64(result.Size));
    EXPECT_EQ(FileMD5Hex(ours), FileMD5Hex(desktop));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, EngineCardImage,
    testing::Values(TFormCase{"plain_voice1", false, false, true, 1},
                    TFormCase{"compressed", true, false, false, -1},
                    TFormCase{"encrypted_compressed_voice2", true, true, false, 2}),
    [](const testing::TestParamInfo<TFormCase>& info) { return std::string(info.param.Name); });

// The CIA run gives the command line's CIA from a CIA, a card image and a CXI, read back from
// where it was written.
class EngineCia : public testing::TestWithParam<const char*> {};

TEST_P(EngineCia, WritesWhatTheCommandLineWrites) {
    const QString kind = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.path() + "/program";
    ASSERT_TRUE(MakeRealProgramFolder(program, true));
    const QString image = dir.path() + "/game" + kind;
    const QString patch = dir.path() + "/patch";
    ASSERT_EQ(WriteSampleImage(program + "/tools", kind, image, patch), QString());
    const QString desktop = dir.path() + "/desktop.cia";
    QProcess qvtpatch;
    qvtpatch.start(program + "/qvtpatch", {"--source", image, "--output", desktop, "--kind", "cia",
                                           "--patch", patch, "--voice", "1", "--quiet"});
    ASSERT_TRUE(qvtpatch.waitForFinished(600000));
    ASSERT_EQ(qvtpatch.exitCode(), 0) << qvtpatch.readAllStandardError().toStdString();

    engine::TCardImageJob job;
    job.Source = PathOf(image);
    job.Kind = *ctr::ImageKindFromText(kind.toStdString());
    job.Description = "English.dsc";
    job.Patch = engine::PatchFilesBelow(PathOf(patch));
    job.Voice = 1;
    engine::TDiskScratch scratch(PathOf(dir.path() + "/pack.dat.part"));
    job.PackDatScratch = &scratch;
    QByteArray written;
    const ctr::TWriteAt write_at = [&](std::uint64_t offset, std::span<const std::uint8_t> bytes) {
        if (offset + bytes.size() > std::uint64_t(written.size()))
            written.resize(qsizetype(offset + bytes.size()));
        std::copy(bytes.begin(), bytes.end(), written.begin() + qsizetype(offset));
    };
    const ctr::TInFile::TReadSource read_back = [&](std::uint64_t offset,
                                                    std::span<std::uint8_t> bytes) {
        ASSERT_LE(offset + bytes.size(), std::uint64_t(written.size()));
        std::copy_n(written.begin() + qsizetype(offset), bytes.size(), bytes.begin());
    };
    const engine::TCardImageResult result = engine::RunCia(job, write_at, read_back, {});
    ASSERT_TRUE(result.Succeeded) << result.ErrorKey << " " << result.Detail;
    EXPECT_EQ(qsizetype(result.Size), written.size());
    QFile file(desktop);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == written);
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/pack.dat.part"));
}

INSTANTIATE_TEST_SUITE_P(Sources, EngineCia, testing::Values(".cia", ".3ds", ".cxi"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param + 1) + "_source";
                         });

// A wrong digest ends the run before the difference, a damaged difference while it is
// applied, a cancel while the image is written; none leaves its scratch file.
struct TEndCase {
    const char* Name;
    const char* Key;
    bool Cancelled;
};

class EngineCardImageEnds : public testing::TestWithParam<TEndCase> {};

TEST_P(EngineCardImageEnds, LeaveNoScratchFile) {
    const TEndCase& end = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.path() + "/program";
    ASSERT_TRUE(MakeRealProgramFolder(program, true));
    const QString image = dir.path() + "/game.3ds";
    const QString patch = dir.path() + "/patch";
    ASSERT_EQ(WriteSampleImage(program + "/tools", ".3ds", image, patch), QString());
    ASSERT_TRUE(QDir(patch + "/voice").removeRecursively());
    if (end.Key == std::string("MD5NotMatched")) {
        QFile description(patch + "/English.dsc");
        ASSERT_TRUE(description.open(QIODevice::ReadOnly));
        QByteArray text = description.readAll();
        description.close();
        const qsizetype at = text.indexOf("OriginalPackDatMD5 = ") + 21;
        text.replace(at, 32, QByteArray(32, '0'));
        ASSERT_TRUE(description.open(QIODevice::WriteOnly | QIODevice::Truncate));
        description.write(text);
    } else if (end.Key == std::string("ErrorApplyingXdelta")) {
        QFile difference(patch + "/patch.xdelta");
        ASSERT_TRUE(difference.resize(difference.size() / 2));
    }
    engine::TCardImageJob job;
    job.Source = PathOf(image);
    job.Kind = ctr::TImageKind::Cci;
    job.Description = "English.dsc";
    job.Patch = engine::PatchFilesBelow(PathOf(patch));
    ASSERT_TRUE(QDir().mkpath(dir.path() + "/scratch"));
    engine::TDiskScratch scratch(PathOf(dir.path() + "/scratch/pack.dat"));
    job.PackDatScratch = &scratch;
    std::vector<std::uint8_t> written;
    const ctr::TWriteAt write_at = [&](std::uint64_t offset, std::span<const std::uint8_t> bytes) {
        written.resize(std::max<std::size_t>(written.size(), offset + bytes.size()));
        std::copy(bytes.begin(), bytes.end(), written.begin() + std::ptrdiff_t(offset));
    };
    const engine::TModFolderHost host{
        {}, [&](double fraction, const std::string&) { return !end.Cancelled || fraction < 0.9; }};
    const engine::TCardImageResult result = engine::RunCardImage(job, write_at, host);
    EXPECT_FALSE(result.Succeeded);
    EXPECT_EQ(result.Cancelled, end.Cancelled);
    EXPECT_EQ(result.ErrorKey, end.Key);
    EXPECT_EQ(end.Cancelled, !written.empty()); // a cancel comes while the image is written
    EXPECT_TRUE(QDir(dir.path() + "/scratch").isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Ends, EngineCardImageEnds,
    testing::Values(TEndCase{"wrong_digest", "MD5NotMatched", false},
                    TEndCase{"damaged_difference", "ErrorApplyingXdelta", false},
                    TEndCase{"cancel", "", true}),
    [](const testing::TestParamInfo<TEndCase>& info) { return std::string(info.param.Name); });

} // namespace
