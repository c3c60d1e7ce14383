// The refusal decided from a complete job before anything runs: the output file a job names,
// with the extensions of every form taken off, is the source image itself (the desktop layer's
// TestPipeline covers the output base and the links through the desktop's adapters).

#include "CtrTestSupport.h"

#include "engine/InstallJob.h"

#include <gtest/gtest.h>

namespace {

struct TRefusalRow {
    const char* Name;
    const char* Source; // in a folder holding game.cia, card.3ds and xmods
    const char* SourceKind;
    const char* Output;
    const char* OutputKind;
    const char* Key;
};

void PrintTo(const TRefusalRow& row, std::ostream* os) {
    *os << row.Name;
}

class RefusalRows : public ::testing::TestWithParam<TRefusalRow> {};

TEST_P(RefusalRows, ComesFromTheJobAlone) {
    const TRefusalRow& row = GetParam();
    const ctr_test::TTempDir dir;
    ctr_test::WriteText(dir.Path() / "game.cia", "source");
    ctr_test::WriteText(dir.Path() / "card.3ds", "source");
    ctr_test::WriteText(dir.Path() / "xmods", "source");
    engine::TInstallJob job;
    job.SourcePath = dir.Path() / row.Source;
    job.OutputPath = dir.Path() / row.Output;
    job.OutputKind = row.OutputKind;
    EXPECT_EQ(engine::JobRefusalKey(job, row.SourceKind), row.Key);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RefusalRows,
    ::testing::Values(
        TRefusalRow{"SameFile", "game.cia", ".cia", "game.cia", ".cia", "ErrorOutputIsSource"},
        TRefusalRow{"CompressedName", "game.cia", ".cia", "game.zcia", ".cia",
                    "ErrorOutputIsSource"},
        TRefusalRow{"CapitalExtension", "game.cia", ".cia", "game.CIA", ".cia",
                    "ErrorOutputIsSource"},
        TRefusalRow{"OtherKind", "game.cia", ".cia", "game.cia", ".cxi", ""},
        TRefusalRow{"OtherName", "game.cia", ".cia", "other.cia", ".cia", ""},
        TRefusalRow{"ModFolderNeverTheSource", "xmods", ".cia", "x", "mods", ""},
        TRefusalRow{"CardImageName", "card.3ds", ".3ds", "card.cci", ".3ds", "ErrorOutputIsSource"},
        TRefusalRow{"CardNameKeptForCia", "card.3ds", ".cia", "card.3ds", ".3ds", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
