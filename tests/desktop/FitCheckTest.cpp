// The fit check: digests of pack.dat and pack.inc taken from sample images of every kind (an
// encrypted one through its decryption, a compressed one decompressed), remembered while the file
// is unchanged, and the judgement of a patch's digests against them.
#include "desktop/FitCheck.h"
#include "ctr/Z3ds.h"
#include "ctr/Z3dsWrite.h"
#include "desktop/PatchCatalogue.h"
#include "sample/SampleCrypt.h"
#include "tests/desktop/RealProgramFolder.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class FitCheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new QTemporaryDir;
        ASSERT_TRUE(MakeRealProgramFolder(s_dir->filePath("program")));
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    static QString Tools() { return s_dir->filePath("program/tools"); }
    static QString Path(const QString& name) { return s_dir->filePath(name); }
    static TPackDigests Take(const QString& image, const QString& kind) {
        const std::atomic<bool> cancel{false};
        const TPackDigestResult result = TakePackDigests(image, kind, cancel, {});
        EXPECT_EQ(result.Outcome, TPackDigestResult::TOutcome::Done)
            << result.Problem.toStdString();
        return result.Digests;
    }
    static inline QTemporaryDir* s_dir = nullptr;
};

TEST_F(FitCheckTest, DigestsOfEveryKindAreThoseThePatchWasMadeFor) {
    for (const QString kind : {".cia", ".3ds", ".cxi"}) {
        SCOPED_TRACE(kind.toStdString());
        const QString image = Path("game" + kind);
        const QString patch = Path("patch" + kind);
        ASSERT_EQ(WriteSampleImage(Tools(), kind, image, patch), QString());
        const auto description = ReadPatchDescription(patch + "/English.dsc");
        ASSERT_TRUE(description.has_value());
        const TPackDigests digests = Take(image, kind);
        EXPECT_EQ(digests.PackDatMD5, description->OriginalPackDatMD5);
        EXPECT_EQ(digests.PackIncMD5, description->OriginalPackIncMD5);
        EXPECT_EQ(JudgePatchFit(*description, digests), TPatchFit::Fits);
    }
}

TEST_F(FitCheckTest, EncryptedAndCompressedImagesGiveThePlainImagesDigests) {
    const QString plain = Path("plain.cxi");
    ASSERT_EQ(WriteSampleImage(Tools(), ".cxi", plain, QString()), QString());
    const TPackDigests expected = Take(plain, ".cxi");
    // Fixed zero keys: no key file is needed.
    const QString encrypted = Path("encrypted.cxi");
    ctr::TCryptoKeys keys;
    sample::TEncryption encryption;
    encryption.FixedKey = true;
    sample::EncryptImage(plain.toStdU16String(), ctr::TImageKind::Cxi, encrypted.toStdU16String(),
                         encryption, keys);
    const QString compressed = Path("compressed.zcxi");
    ctr::CompressImage(plain.toStdU16String(), ctr::TImageKind::Cxi, compressed.toStdU16String());
    for (const QString& image : {encrypted, compressed}) {
        const TPackDigests found = Take(image, ".cxi");
        EXPECT_EQ(found.PackDatMD5, expected.PackDatMD5) << image.toStdString();
        EXPECT_EQ(found.PackIncMD5, expected.PackIncMD5) << image.toStdString();
    }
}

TEST_F(FitCheckTest, DigestsAreRememberedWhileTheFileIsUnchanged) {
    const QString image = Path("remembered.cxi");
    ASSERT_EQ(WriteSampleImage(Tools(), ".cxi", image, QString()), QString());
    ForgetPackDigests();
    EXPECT_FALSE(RememberedPackDigests(image).has_value());
    const TPackDigests digests = Take(image, ".cxi");
    const auto remembered = RememberedPackDigests(image);
    ASSERT_TRUE(remembered.has_value());
    EXPECT_EQ(remembered->PackDatMD5, digests.PackDatMD5);

    QFile file(image);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                 QFileDevice::FileModificationTime));
    file.close();
    EXPECT_FALSE(RememberedPackDigests(image).has_value());
}

TEST_F(FitCheckTest, CancelledAndUnreadableChecksGiveNoDigests) {
    const QString image = Path("cancelled.cia");
    ASSERT_EQ(WriteSampleImage(Tools(), ".cia", image, QString()), QString());
    ForgetPackDigests();
    const std::atomic<bool> cancel{true};
    EXPECT_EQ(TakePackDigests(image, ".cia", cancel, {}).Outcome,
              TPackDigestResult::TOutcome::Cancelled);
    EXPECT_FALSE(RememberedPackDigests(image).has_value());

    const std::atomic<bool> go_on{false};
    const TPackDigestResult missing = TakePackDigests(Path("missing.cia"), ".cia", go_on, {});
    EXPECT_EQ(missing.Outcome, TPackDigestResult::TOutcome::Failed);
    EXPECT_FALSE(missing.Problem.isEmpty());
}

TEST(PatchFit, JudgedByTheDigestsThePatchNames) {
    const TPackDigests image{"AAAA", "BBBB"};
    struct TRow {
        const char* Name;
        TPatchDescription Patch;
        TPatchFit Fit;
    };
    const auto patch = [](QString dat, QString inc, QString patched_dat, QString patched_inc) {
        TPatchDescription description;
        description.OriginalPackDatMD5 = dat;
        description.OriginalPackIncMD5 = inc;
        description.PatchedPackDatMD5 = patched_dat;
        description.PatchedPackIncMD5 = patched_inc;
        return description;
    };
    const TRow rows[] = {
        {"both equal, either case", patch("aaaa", "BBBB", "CCCC", "DDDD"), TPatchFit::Fits},
        {"no digest named", patch("", "", "", ""), TPatchFit::Fits},
        {"pack.inc differs", patch("AAAA", "EEEE", "", ""), TPatchFit::Differs},
        {"result digests equal", patch("CCCC", "DDDD", "AAAA", "bbbb"), TPatchFit::Installed},
        {"result pack.dat only", patch("CCCC", "DDDD", "AAAA", ""), TPatchFit::Installed},
        {"result digests differ", patch("CCCC", "DDDD", "AAAA", "EEEE"), TPatchFit::Differs},
    };
    for (const TRow& row : rows)
        EXPECT_EQ(JudgePatchFit(row.Patch, image), row.Fit) << row.Name;
    EXPECT_EQ(PatchFitName(TPatchFit::Installed), "installed");
}

TEST(PatchFit, ResultDigestsAreWrittenOnlyWhenKnown) {
    QTemporaryDir dir;
    TPatchDescription description;
    description.Title = "T";
    description.OriginalPackDatMD5 = "AAAA";
    EXPECT_FALSE(PatchDescriptionText(description).contains("Patched"));
    description.PatchedPackDatMD5 = "CCCC";
    description.PatchedPackIncMD5 = "DDDD";
    ASSERT_TRUE(WritePatchDescription(dir.filePath("English.dsc"), description));
    const auto read = ReadPatchDescription(dir.filePath("English.dsc"));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->PatchedPackDatMD5, "CCCC");
    EXPECT_EQ(read->PatchedPackIncMD5, "DDDD");
}

} // namespace
