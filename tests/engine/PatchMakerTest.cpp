// The engine's patch maker alone, without the front end's check run: the changed files of a
// folder we did not write are matched with the game's whatever their letter case, and the
// folder gets its name only at the end.

#include "CtrTestSupport.h"

#include "ctr/Verify.h"
#include "ctr/Z3ds.h"
#include "engine/Identify.h"
#include "engine/PatchMaker.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <iterator>

namespace {

namespace fs = std::filesystem;
using ctr_test::TTempDir;

TEST(PatchMaker, ChangedFilesAreMatchedWithoutRegardToLetterCase) {
    const TTempDir dir;
    const fs::path qvtsample =
        ctr_test::ToolPath("ctrtool").parent_path().parent_path() / "qvtsample";
    ASSERT_EQ(ctr_test::Run(
                  qvtsample,
                  {"--kind", "cia", "--region", "USA", "--pack-size", "65536", "--out", "game.cia"},
                  dir.Path()),
              0);
    const fs::path image_path = dir / "game.cia";
    const engine::TIdentity identity = engine::IdentifyImage(image_path, "game.cia", {});
    ASSERT_TRUE(identity.Usable() && identity.TitleId);
    char title_id[17];
    std::snprintf(title_id, sizeof title_id, "%016llX",
                  static_cast<unsigned long long>(*identity.TitleId));
    std::string lower_title_id = title_id;
    for (char& c : lower_title_id)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    const auto image = ctr::OpenImageFile(image_path);
    const engine::TMakeSource source{image_path, ctr::TImageKind::Cia, image.get(),
                                     title_id,   identity.Region,      *identity.InfoPosition};

    struct TCase {
        const char* Name;
        std::vector<std::string> Files; // below the changed folder, each with its own bytes
        std::vector<std::string> Replaced;
        std::string Refusal; // part of the reason; empty when made
    };
    const TCase cases[] = {
        {"file in another case", {"romfs/PACK.INC"}, {"romfs/pack.inc"}, ""},
        {"folder in another case", {"ROMFS/Pack.Inc"}, {"romfs/pack.inc"}, ""},
        {"title folder", {lower_title_id + "/RomFS/pack.inc"}, {"romfs/pack.inc"}, ""},
        {"new file", {"romfs/Notes.txt"}, {"romfs/Notes.txt"}, ""},
        {"one file twice", {"romfs/pack.inc", "romfs/PACK.inc"}, {}, "same file"},
        {"nothing", {"romfs/other/"}, {}, "Nothing to make"},
    };
    int row = 0;
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        const fs::path changed = dir / ("changed" + std::to_string(++row));
        for (const std::string& file : test.Files) {
            if (file.back() == '/')
                fs::create_directories(changed / file);
            else
                ctr_test::WriteText(changed / file, file);
        }
        if (test.Files.size() == 2 &&
            fs::equivalent(changed / test.Files[0], changed / test.Files[1]))
            continue; // the file system folds letter case: one file cannot have two names
        engine::TMakeRequest request;
        request.ChangedFolder = changed;
        request.OutputFolder = dir / "made" / std::to_string(row) / "Patch";
        request.Title = u"T";
        engine::TMadePatch made;
        std::string refusal;
        try {
            engine::CheckMakeFolders(request);
            engine::TPatchMaker maker(request, source, made);
            maker.MakeFolder({},
                             [](const fs::path&, const std::string&, const std::string&,
                                const std::string&) { ADD_FAILURE() << "pack.dat is unchanged"; });
            maker.Finish();
        } catch (const engine::TMakeRefusal& error) {
            refusal = error.what();
        }
        if (!test.Refusal.empty()) {
            EXPECT_NE(refusal.find(test.Refusal), std::string::npos) << refusal;
            // Nothing left behind, not even the folders made for the output's parent.
            EXPECT_FALSE(fs::exists(dir / "made" / std::to_string(row)));
            continue;
        }
        ASSERT_EQ(refusal, "");
        EXPECT_EQ(made.Replaced, test.Replaced);
        EXPECT_EQ(made.Description.Region, u"USA");
        for (const std::string& path : test.Replaced)
            EXPECT_TRUE(fs::is_regular_file(request.OutputFolder / path)) << path;
        EXPECT_TRUE(fs::is_regular_file(request.OutputFolder / "English.dsc"));
        EXPECT_EQ(std::distance(fs::directory_iterator(request.OutputFolder.parent_path()),
                                fs::directory_iterator()),
                  1); // no scratch folder beside it
    }
}

} // namespace
