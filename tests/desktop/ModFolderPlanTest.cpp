// The plan of a mod folder as a pure function: which of the run's files go in, and under
// which names.

#include "engine/ModFolderPlan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using TPaths = std::vector<std::string>;

struct TPlanCase {
    const char* Name;
    TPaths RomFsFiles;
    TPaths Unchanged;
    TPaths Planned; // paths inside the folder, in order
    TPaths NewFiles;
};

const TPaths kGame = {"pack.dat", "data/Menu.bin", "sound/QK123.bcsar"};

class ModFolderPlan : public testing::TestWithParam<TPlanCase> {};

TEST_P(ModFolderPlan, TakesChangedAndNewFilesUnderTheGamesSpelling) {
    const TPlanCase& row = GetParam();
    engine::TModPlanInput input;
    input.RomFs = "/t/romfs";
    input.RomFsFiles = row.RomFsFiles;
    input.GameFiles = kGame;
    input.Unchanged = {row.Unchanged.begin(), row.Unchanged.end()};
    const engine::TModPlan plan = engine::PlanModFolder(input);
    TPaths planned;
    for (std::size_t i = 0; i < plan.Files.size(); ++i) {
        planned.push_back(plan.Files[i].To);
        // The bytes come from the run's own file, whatever the game calls it.
        EXPECT_EQ(plan.Files[i].From, "/t/romfs/" + row.RomFsFiles[i]);
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
    engine::TModPlanInput input;
    input.RomFs = "/t/romfs";
    input.RomFsFiles = {"sound/QK123.bcsar"};
    input.GameFiles = kGame;
    input.ChangedCode = "/t/exefs/code.bin";
    input.ExeFsFiles = {{"/t/exefs/banner.bnr", "exefs/banner.bnr"},
                        {"/t/exefs/icon.icn", "exefs/icon.bin"}};
    const engine::TModPlan plan = engine::PlanModFolder(input);
    const std::vector<engine::TModFile> expected = {
        {"/t/romfs/sound/QK123.bcsar", "romfs/sound/QK123.bcsar"},
        {"/t/exefs/code.bin", "code.bin"},
        {"/t/exefs/banner.bnr", "exefs/banner.bnr"},
        {"/t/exefs/icon.icn", "exefs/icon.bin"}};
    EXPECT_EQ(plan.Files, expected);
    EXPECT_TRUE(plan.BannerOrIcon);
}

} // namespace
