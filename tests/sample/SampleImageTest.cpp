// Images written by qvtsample (with the program folder's tools) carry every field the
// installer's identification reads, for each kind and region, and the test variants
// differ exactly where they should.

#include "SampleTestSupport.h"

#include "sample/SampleData.h"
#include "sample/SampleHeaders.h"
#include "sound_archive/MusicSlots.h"

#include <QFileInfo>
#include <QTemporaryDir>

using namespace sample_test;

namespace {

struct TImageCase {
    const char* Kind;
    const char* Region;
};

class SampleImageTest : public ::testing::TestWithParam<TImageCase> {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    /// Runs qvtsample for an image of `kind` named sample.<kind>; returns its path.
    QString Generate(const QString& kind, const QString& region, const QStringList& extra = {}) {
        const QString out = m_dir.filePath(QStringLiteral("sample.") + kind);
        const TRunResult result = RunProgram(
            AppDir() + QStringLiteral("/qvtsample"),
            QStringList{QStringLiteral("--kind"), kind, QStringLiteral("--region"), region,
                        QStringLiteral("--out"), out, QStringLiteral("--pack-size"),
                        QStringLiteral("70001"), QStringLiteral("--seed"), QStringLiteral("4")} +
                extra);
        EXPECT_EQ(result.ExitCode, 0) << result.Output.toStdString();
        return out;
    }
    QTemporaryDir m_dir;
};

TEST_P(SampleImageTest, IdentificationFindsTitleRegionAndSoundArchive) {
    const TImageCase param = GetParam();
    const QString kind = QString::fromLatin1(param.Kind);
    const QString out = Generate(kind, QString::fromLatin1(param.Region));
    const TIdentity identity = Identify(out, QLatin1Char('.') + kind);
    const sample::TSampleTitle title = sample::MakeTitle(param.Region, std::nullopt);

    EXPECT_TRUE(identity.ContainerOk);
    EXPECT_TRUE(HashesGood(out));
    EXPECT_EQ(identity.NcchProgramId, identity.ExheaderProgramId) << "decrypted image";
    EXPECT_EQ(identity.TitleLow, *sample::RegionTitleLow(param.Region));
    EXPECT_EQ(identity.ProductCode.toStdString(), title.ProductCode);
    ASSERT_EQ(identity.InfoMagic, "INFO");
    TImageReader image(out);
    for (int slot = 0; slot < kMusicSlotCount; ++slot)
        EXPECT_EQ(image.Bytes(identity.InfoPosition + kMusicSlotOffsets[slot], 6).toStdString(),
                  sample::DefaultSlotTrackId(slot));
    // The whole sound archive lies where the identification found it, unchanged.
    const sample::TBytes archive = sample::MakeSoundArchive(4);
    const QByteArray stored =
        image.Bytes(identity.ArchivePosition, static_cast<int>(archive.size()));
    EXPECT_TRUE(stored == QByteArray(reinterpret_cast<const char*>(archive.data()),
                                     static_cast<qsizetype>(archive.size())));
}

INSTANTIATE_TEST_SUITE_P(
    KindsAndRegions, SampleImageTest,
    ::testing::Values(TImageCase{"cia", "JAP"}, TImageCase{"cia", "USA"}, TImageCase{"cia", "EUR"},
                      TImageCase{"cxi", "JAP"}, TImageCase{"cxi", "USA"}, TImageCase{"cxi", "EUR"},
                      TImageCase{"3ds", "JAP"}, TImageCase{"3ds", "USA"}, TImageCase{"3ds", "EUR"}),
    [](const auto& info) { return std::string(info.param.Kind) + "_" + info.param.Region; });

class SampleVariantTest : public SampleImageTest {};

TEST_F(SampleVariantTest, CodeIsStoredCompressedAndTheExheaderSaysSo) {
    const QString out = Generate(QStringLiteral("cxi"), QStringLiteral("EUR"));
    TImageReader image(out);
    const std::int64_t exefs = static_cast<std::int64_t>(image.U32(0x1A0)) * 0x200;
    EXPECT_EQ(image.Bytes(exefs, 5), QByteArray(".code"));
    const std::uint32_t stored = image.U32(exefs + 12);
    EXPECT_LT(stored,
              (sample::kCodeTextSize + sample::kCodeReadOnlySize + sample::kCodeDataSize) * 3 / 4)
        << "code that compresses like real code";
    EXPECT_EQ(image.Number(0x200 + 0x0D, 1) & 1, 1u) << "exheader code-compression flag";
    EXPECT_EQ(image.Bytes(exefs + 16, 6), QByteArray("banner"));
    EXPECT_EQ(image.Bytes(exefs + 32, 4), QByteArray("icon"));
    EXPECT_EQ(image.U32(exefs + 32 + 12), sample::kIconSize);
}

TEST_F(SampleVariantTest, EncryptedImagesHaveDifferingProgramIds) {
    for (const QString& kind :
         {QStringLiteral("cia"), QStringLiteral("cxi"), QStringLiteral("3ds")}) {
        const QString out = Generate(kind, QStringLiteral("EUR"), {QStringLiteral("--encrypted")});
        const TIdentity identity = Identify(out, QLatin1Char('.') + kind);
        EXPECT_TRUE(identity.ContainerOk) << kind.toStdString();
        EXPECT_NE(identity.NcchProgramId, identity.ExheaderProgramId) << kind.toStdString();
        QFile::remove(out);
    }
}

TEST_F(SampleVariantTest, ForeignTitleKeepsItsProgramIdLowWord) {
    const QString out = Generate(QStringLiteral("cxi"), QStringLiteral("USA"),
                                 {QStringLiteral("--title-low"), QStringLiteral("0x00055D00")});
    const TIdentity identity = Identify(out, QStringLiteral(".cxi"));
    EXPECT_EQ(identity.TitleLow, 0x00055D00u);
    EXPECT_EQ(identity.NcchProgramId, identity.ExheaderProgramId);
    EXPECT_EQ(identity.InfoMagic, "INFO");
}

TEST_F(SampleVariantTest, CiaHeaderSizeIsWrittenOverTheHeader) {
    const QString out = Generate(QStringLiteral("cia"), QStringLiteral("JAP"),
                                 {QStringLiteral("--cia-header-size"), QStringLiteral("2000")});
    TImageReader image(out);
    EXPECT_EQ(image.U32(0), 0x2000u);
    EXPECT_FALSE(Identify(out, QStringLiteral(".cia")).ContainerOk);
}

TEST_F(SampleVariantTest, BadOptionsFailWithoutWritingAnImage) {
    const QString qvtsample = AppDir() + QStringLiteral("/qvtsample");
    const QString out = m_dir.filePath(QStringLiteral("bad.cia"));
    const QList<QStringList> rows = {
        {QStringLiteral("--kind"), QStringLiteral("zip"), QStringLiteral("--region"),
         QStringLiteral("EUR"), QStringLiteral("--out"), out},
        {QStringLiteral("--kind"), QStringLiteral("cia"), QStringLiteral("--region"),
         QStringLiteral("KOR"), QStringLiteral("--out"), out},
        {QStringLiteral("--kind"), QStringLiteral("cia"), QStringLiteral("--region"),
         QStringLiteral("EUR")},
        {QStringLiteral("--kind"), QStringLiteral("cia"), QStringLiteral("--region"),
         QStringLiteral("EUR"), QStringLiteral("--out"), out, QStringLiteral("--pack-size"),
         QStringLiteral("ten")},
        {QStringLiteral("--kind"), QStringLiteral("cxi"), QStringLiteral("--region"),
         QStringLiteral("EUR"), QStringLiteral("--out"), out, QStringLiteral("--cia-header-size"),
         QStringLiteral("2000")},
    };
    for (const QStringList& arguments : rows) {
        const TRunResult result = RunProgram(qvtsample, arguments);
        EXPECT_EQ(result.ExitCode, 1) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(QFileInfo::exists(out)) << arguments.join(QLatin1Char(' ')).toStdString();
    }
}

} // namespace
