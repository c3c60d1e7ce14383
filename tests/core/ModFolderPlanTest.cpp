// The plan of a mod folder as a pure function: which of the run's files go in, and under
// which names.

#include "core/ModFolder.h"

#include <gtest/gtest.h>

namespace {

struct TPlanCase {
    const char* Name;
    QStringList RomFsFiles;
    QStringList Unchanged;
    QStringList Planned; // paths inside the folder, in order
    QStringList NewFiles;
};

const QStringList kGame = {"pack.dat", "data/Menu.bin", "sound/QK123.bcsar"};

class ModFolderPlan : public testing::TestWithParam<TPlanCase> {};

TEST_P(ModFolderPlan, TakesChangedAndNewFilesUnderTheGamesSpelling) {
    const TPlanCase& row = GetParam();
    TModPlanInput input;
    input.RomFs = "/t/romfs";
    input.RomFsFiles = row.RomFsFiles;
    input.GameFiles = kGame;
    input.Unchanged = QSet<QString>(row.Unchanged.begin(), row.Unchanged.end());
    const TModPlan plan = PlanModFolder(input);
    QStringList planned;
    for (std::size_t i = 0; i < plan.Files.size(); ++i) {
        planned << plan.Files[i].To;
        // The bytes come from the run's own file, whatever the game calls it.
        EXPECT_EQ(plan.Files[i].From, "/t/romfs/" + row.RomFsFiles[qsizetype(i)]);
    }
    EXPECT_EQ(planned, row.Planned);
    EXPECT_EQ(plan.NewFiles, row.NewFiles);
    EXPECT_FALSE(plan.BannerOrIcon);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModFolderPlan,
    testing::Values(
        TPlanCase{"changed", {"data/Menu.bin"}, {}, {"romfs/data/Menu.bin"}, {}},
        TPlanCase{"unchanged", {"data/Menu.bin"}, {"data/Menu.bin"}, {}, {}},
        TPlanCase{"new", {"data/Extra.bin"}, {}, {"romfs/data/Extra.bin"}, {"data/Extra.bin"}},
        TPlanCase{"letter case", {"DATA/MENU.BIN"}, {}, {"romfs/data/Menu.bin"}, {}},
        TPlanCase{"letter case unchanged", {"data/menu.bin"}, {"data/menu.bin"}, {}, {}}),
    [](const testing::TestParamInfo<TPlanCase>& info) {
        std::string name = info.param.Name;
        for (char& c : name)
            c = c == ' ' ? '_' : c;
        return name;
    });

// The code and the banner and icon follow the RomFS files, in that order.
TEST(ModFolderPlanExeFs, CodeThenBannerAndIconAfterTheRomFs) {
    TModPlanInput input;
    input.RomFs = "/t/romfs";
    input.RomFsFiles = {"sound/QK123.bcsar"};
    input.GameFiles = kGame;
    input.ChangedCode = "/t/exefs/code.bin";
    input.ExeFsFiles = {{"/t/exefs/banner.bnr", "exefs/banner.bnr"},
                        {"/t/exefs/icon.icn", "exefs/icon.bin"}};
    const TModPlan plan = PlanModFolder(input);
    const std::vector<TModFile> expected = {
        {"/t/romfs/sound/QK123.bcsar", "romfs/sound/QK123.bcsar"},
        {"/t/exefs/code.bin", "code.bin"},
        {"/t/exefs/banner.bnr", "exefs/banner.bnr"},
        {"/t/exefs/icon.icn", "exefs/icon.bin"}};
    EXPECT_EQ(plan.Files, expected);
    EXPECT_TRUE(plan.BannerOrIcon);
}

} // namespace
