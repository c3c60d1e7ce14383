// The partial files our tools leave beside an output they were ended while writing: only names
// of exactly that form go, and never a folder.

#include "CtrTestSupport.h"

#include "engine/Folders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

TEST(PartialFiles, OnlyTheToolsPartialFilesOfThatOutputAreRemoved) {
    const struct {
        const char* Name;
        bool Removed;
    } rows[] = {
        {"out.cia.0123abcd.part", true},   {".out.cia.ffffffff.part", false},
        {"out.cia.0123ABCD.part", false},  {"out.cia.0123abc.part", false},
        {"out.cia.0123abcde.part", false}, {"out.ciax.0123abcd.part", false},
        {"out.cia.0123abcd.parts", false}, {"out.cia", false},
    };
    // Each name in a folder of its own: on Windows two names that differ only in letter case
    // are one file.
    for (const auto& row : rows) {
        const ctr_test::TTempDir dir;
        ctr_test::WriteText(dir.Path() / row.Name, "x");
        engine::RemovePartialFiles(dir.Path() / "out.cia");
        EXPECT_EQ(fs::exists(dir.Path() / row.Name), !row.Removed) << row.Name;
    }
    const ctr_test::TTempDir dir;
    fs::create_directory(dir.Path() / "out.cia.00000000.part");
    engine::RemovePartialFiles(dir.Path() / "out.cia");
    EXPECT_TRUE(fs::exists(dir.Path() / "out.cia.00000000.part"));
}

} // namespace
