// The patch catalogue's scan over std::filesystem: names in any letters, ordered and matched
// without regard to letter case (the desktop layer's CatalogueTest covers the rest through the
// window's adapter).

#include "CtrTestSupport.h"

#include "ctr/Platform.h"
#include "engine/PatchCatalogue.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

fs::path Utf8(const char* text) {
    return ctr::PathFromUtf8(text);
}

TEST(PatchCatalogueScan, NamesInAnyLettersAreOrderedAndMatchedWithoutCase) {
    const ctr_test::TTempDir dir;
    const auto description = [&](const fs::path& folder, const fs::path& file, const char* title) {
        fs::create_directories(dir.Path() / folder);
        ctr_test::WriteText(dir.Path() / folder / file,
                            std::string("Title = \"") + title + "\"\r\nRegion = EUR\r\n");
    };
    description(Utf8("б"), "x.dsc", "be");
    description(Utf8("А"), "x.dsc", "a cyrillic");
    description("B", "x.dsc", "b");
    description("a", Utf8("РУССКИЙ.DSC"), "a latin, in Russian");
    description("a", "English.dsc", "a latin");
    std::error_code error;
    fs::create_directory_symlink(dir.Path() / "B", dir.Path() / "c-link", error);
    ctr_test::WriteText(dir.Path() / "zeta", "a file, not a patch folder");

    std::vector<std::string> titles;
    for (const engine::TPatchEntry& entry :
         engine::ScanPatchFolders(dir.Path(), true, u".dsc", u"русский", u"EUR", false))
        titles.push_back(engine::ToUtf8(entry.Title));
    std::vector<std::string> wanted = {"a latin, in Russian", "b", "a cyrillic", "be"};
    if (!error) // a link to a folder is listed as the folder it leads to
        wanted.insert(wanted.begin() + 2, "b");
    EXPECT_EQ(titles, wanted);
    EXPECT_TRUE(engine::ListPatchEntries(dir.Path() / "missing", true, u".dsc").empty());
    EXPECT_EQ(engine::FindEntryNoCase(dir.Path(), Utf8("a")), dir.Path() / "a");
    EXPECT_EQ(engine::FindEntryNoCase(dir.Path() / "a", Utf8("русский.dsc")),
              dir.Path() / "a" / Utf8("РУССКИЙ.DSC"));
}

} // namespace
