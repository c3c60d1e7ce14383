// Identification of source images built field by field.
#include "desktop/Identify.h"
#include "SampleImages.h"

#include <QFile>
#include <QTemporaryDir>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

namespace {

TLanguageTable Texts() {
    TLanguageTable table;
    table.SetTokens({"LogEncrypted", "Image is encrypted.", "LogEncryptedImageProblem",
                     "Cannot be taken apart:", "ErrorWrongROM", "Wrong game."});
    return table;
}

class IdentifyTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    TIdentifyResult Identify(const QString& path) const {
        return IdentifySourceImage(path, Texts());
    }

    QTemporaryDir m_dir;
};

struct TKindRegion {
    const char* Kind;
    std::uint32_t ProgramIdLow;
    const char* Region;
    const char* ProductLine;
};

class IdentifyKindRegionTest : public IdentifyTest,
                               public ::testing::WithParamInterface<TKindRegion> {};

TEST_P(IdentifyKindRegionTest, DecryptedImageIsIdentified) {
    const TKindRegion row = GetParam();
    sample::TImageSpec shape;
    shape.Kind = QString::fromLatin1(row.Kind);
    shape.ProgramIdLow = row.ProgramIdLow;
    const QString path = Path(QStringLiteral("game") + shape.Kind);
    const auto layout = sample::WriteImage(shape, path);

    const TIdentifyResult result = Identify(path);
    EXPECT_TRUE(result.Opened);
    EXPECT_TRUE(result.Usable());
    EXPECT_EQ(result.Kind, shape.Kind);
    EXPECT_EQ(result.Region, QLatin1String(row.Region));
    EXPECT_EQ(result.ProductCode, QByteArray("CTR-P-QVTE"));
    EXPECT_EQ(result.InfoPosition, layout.InfoPosition);
    EXPECT_EQ(result.LogEntries,
              QStringList({QLatin1String(row.ProductLine) + QStringLiteral("CTR-P-QVTE"),
                           QStringLiteral("ROM Region: ") + QLatin1String(row.Region)}));
    EXPECT_TRUE(result.ErrorKey.isEmpty());
    // Only the fields are read, never the image.
    EXPECT_LT(result.BytesRead, 100);
}

INSTANTIATE_TEST_SUITE_P(
    AllKindsAndRegions, IdentifyKindRegionTest,
    ::testing::Values(TKindRegion{".cia", sample::kEur, "EUR", "Product Code: "},
                      TKindRegion{".cia", sample::kUsa, "USA", "Product Code: "},
                      TKindRegion{".cia", sample::kJap, "JAP", "Product Code: "},
                      TKindRegion{".3ds", sample::kEur, "EUR", "ProductCode: "},
                      TKindRegion{".3ds", sample::kUsa, "USA", "ProductCode: "},
                      TKindRegion{".3ds", sample::kJap, "JAP", "ProductCode: "},
                      TKindRegion{".cxi", sample::kEur, "EUR", "ProductCode: "},
                      TKindRegion{".cxi", sample::kUsa, "USA", "ProductCode: "},
                      TKindRegion{".cxi", sample::kJap, "JAP", "ProductCode: "}));

// The images only look encrypted: the container library cannot take them apart and says why.
TEST_F(IdentifyTest, EncryptedImageThatCannotBeTakenApartSaysWhy) {
    for (const char* kind : {".cia", ".3ds", ".cxi"}) {
        sample::TImageSpec shape;
        shape.Kind = QString::fromLatin1(kind);
        shape.Encrypted = true;
        const QString path = Path(QStringLiteral("enc") + shape.Kind);
        sample::WriteImage(shape, path);
        const TIdentifyResult result = Identify(path);
        EXPECT_TRUE(result.Encrypted) << kind;
        EXPECT_FALSE(result.Usable()) << kind;
        EXPECT_EQ(result.Kind, shape.Kind);
        ASSERT_EQ(result.LogEntries.size(), 3) << kind;
        EXPECT_EQ(result.LogEntries[0], QStringLiteral("Image is encrypted.\r\n"));
        EXPECT_TRUE(result.LogEntries[1].startsWith(QStringLiteral("Cannot be taken apart: ")));
        EXPECT_FALSE(result.NeedsKeys) << kind;
        EXPECT_TRUE(result.ErrorKey.isEmpty());
        EXPECT_FALSE(result.HasInfoPosition);
    }
}

TEST_F(IdentifyTest, WrongContainerGivesTheKindsError) {
    sample::TImageSpec cia;
    cia.CiaHeaderSize = 0x2000;
    sample::WriteImage(cia, Path("short-header.cia"));
    const auto result = Identify(Path("short-header.cia"));
    EXPECT_EQ(result.ErrorKey, QStringLiteral("ErrorNOTCIAROM"));
    EXPECT_TRUE(result.Kind.isEmpty());
    EXPECT_TRUE(result.LogEntries.isEmpty());

    // A file that is no image at all under a name that says nothing.
    QFile text(Path("notes.txt"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write(QByteArray(0x400, 'x'));
    text.close();
    EXPECT_EQ(Identify(Path("notes.txt")).ErrorKey, QStringLiteral("ErrorNotAnImage"));
}

// The content decides the kind; a name that says otherwise (or nothing) gets one log entry.
TEST_F(IdentifyTest, KindComesFromTheContent) {
    const struct {
        const char* Kind;
        const char* Name;
        bool NameAgrees;
    } rows[] = {
        {".3ds", "game.cci", true},     {".3ds", "GAME.CCI", true},   {".cia", "GAME.CIA", true},
        {".cxi", "card.3ds", false},    {".3ds", "plain.cxi", false}, {".cia", "game.bin", false},
        {".cia", "noextension", false}, {".cxi", "game.zcxi", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        sample::TImageSpec shape;
        shape.Kind = QString::fromLatin1(row.Kind);
        sample::WriteImage(shape, Path(row.Name));
        const auto result = Identify(Path(row.Name));
        EXPECT_TRUE(result.Usable());
        EXPECT_EQ(result.Kind, shape.Kind);
        EXPECT_FALSE(result.Compressed);
        EXPECT_EQ(result.LogEntries.size(), row.NameAgrees ? 2 : 3);
    }
}

TEST_F(IdentifyTest, ForeignTitleLogsProductCodeThenWrongRom) {
    sample::TImageSpec shape;
    shape.ProgramIdLow = 0x00FF1200;
    shape.ProductCode = "CTR-P-ZZZA";
    sample::WriteImage(shape, Path("other.cia"));
    const auto result = Identify(Path("other.cia"));
    EXPECT_EQ(result.LogEntries, QStringList{QStringLiteral("Product Code: CTR-P-ZZZA")});
    EXPECT_EQ(result.ErrorKey, QStringLiteral("ErrorWrongROM"));
    EXPECT_TRUE(result.Region.isEmpty());
    EXPECT_TRUE(result.HasInfoPosition);
    EXPECT_FALSE(result.Usable());
}

TEST_F(IdentifyTest, UnreadablePathsCannotBeLoaded) {
    EXPECT_EQ(Identify(Path("missing.cia")).ErrorKey, QStringLiteral("ErrorLoadingROM"));
    EXPECT_FALSE(Identify(Path("missing.cia")).Opened);
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("folder.cia"));
    EXPECT_EQ(Identify(Path("folder.cia")).ErrorKey, QStringLiteral("ErrorLoadingROM"));
    EXPECT_FALSE(Identify(Path("folder.cia")).Opened);
#if !defined(_WIN32)
    // A named pipe is no image; opening it would wait for a writer for ever.
    ASSERT_EQ(mkfifo(QFile::encodeName(Path("pipe.cia")).constData(), 0600), 0);
    EXPECT_EQ(Identify(Path("pipe.cia")).ErrorKey, QStringLiteral("ErrorLoadingROM"));
#endif
}

// An image cut short at each field: the missing bytes read as zero.
TEST_F(IdentifyTest, TruncatedImagesNeverCrash) {
    for (const char* kind : {".cia", ".3ds", ".cxi"}) {
        sample::TImageSpec shape;
        shape.Kind = QString::fromLatin1(kind);
        sample::TImageBuilder builder;
        const auto layout = sample::BuildImage(shape, builder);
        const QString path = Path(QStringLiteral("cut") + shape.Kind);
        const QString container_error = shape.Kind == QLatin1String(".cia")   ? "ErrorNOTCIAROM"
                                        : shape.Kind == QLatin1String(".3ds") ? "ErrorNOT3DSROM"
                                                                              : "ErrorNOTCXIROM";
        struct TCut {
            std::int64_t At;
            QString ErrorKey;
            bool Encrypted;
            bool Usable;
        };
        const TCut cuts[] = {
            {0, container_error, false, false},
            {layout.Container + 1, container_error, false, false},
            {layout.ProgramId, "ErrorWrongROM", false, false}, // both IDs read as zero
            {layout.ProgramId + 4, "", true, false},
            {layout.ExHeaderProgramId, "", true, false},
            {layout.ExHeaderProgramId + 4, "", true, false},
            {layout.Level3, "", false, true},
            {layout.SoundArchiveEntry + 3, "", false, true},
            {layout.Archive + 0x26, "", false, true},
        };
        for (const TCut& cut : cuts) {
            ASSERT_TRUE(builder.Write(path, layout.Size, cut.At));
            const auto result = Identify(path);
            EXPECT_EQ(result.ErrorKey, cut.ErrorKey) << kind << " cut at " << cut.At;
            EXPECT_EQ(result.Encrypted, cut.Encrypted) << kind << " cut at " << cut.At;
            EXPECT_EQ(result.Usable(), cut.Usable) << kind << " cut at " << cut.At;
        }
        // Cut before the sound archive header, the INFO position is only the archive start.
        ASSERT_TRUE(builder.Write(path, layout.Size, layout.Archive));
        EXPECT_EQ(Identify(path).InfoPosition, layout.Archive);
    }
}

TEST_F(IdentifyTest, SoundArchiveBeyondFourGibibytesIsFound) {
    for (const char* kind : {".cia", ".3ds", ".cxi"}) {
        sample::TImageSpec shape;
        shape.Kind = QString::fromLatin1(kind);
        shape.ArchiveGap = 0x140000000LL; // 5 GiB into the data area
        const QString path = Path(QStringLiteral("big") + shape.Kind);
        const auto layout = sample::WriteImage(shape, path); // sparse
        const auto result = Identify(path);
        EXPECT_TRUE(result.Usable()) << kind;
        EXPECT_EQ(result.InfoPosition, layout.InfoPosition) << kind;
        EXPECT_GT(result.InfoPosition, 0x100000000LL);
        EXPECT_LT(result.BytesRead, 100);
        QFile::remove(path);
    }
}

TEST_F(IdentifyTest, HugeOffsetsDoNotOverflow) {
    sample::TImageSpec shape;
    shape.Kind = QStringLiteral(".cxi");
    sample::TImageBuilder builder;
    const auto layout = sample::BuildImage(shape, builder);
    builder.Put32(layout.RomFsOffset, 0xFFFFFFFF);
    builder.Put64(layout.SoundArchiveEntry, 0xFFFFFFFFFFFFFFFFULL);
    ASSERT_TRUE(builder.Write(Path("odd.cxi"), layout.Size));
    const auto result = Identify(Path("odd.cxi"));
    EXPECT_TRUE(result.Usable());
    EXPECT_GE(result.InfoPosition, 0);
}

} // namespace
