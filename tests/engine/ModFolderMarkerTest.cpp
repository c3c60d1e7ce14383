// The marker read back without Qt: JSON as any writer may lay it out, and only markers of this
// program's layout taken.

#include "engine/ModFolderMarker.h"

#include <gtest/gtest.h>

namespace {

const std::string kDigest(32, 'A');

// A marker with one file of `path` and `size` as JSON writes them; `extra` members before
// the files.
std::string Marker(const std::string& path, const std::string& size,
                   const std::string& extra = {}) {
    return "{\"writtenBy\":\"QVT Patch Tool\",\"format\":1," + extra +
           "\"files\":[{\"path\":" + path + ",\"size\":" + size + ",\"md5\":\"" + kDigest + "\"}]}";
}

TEST(EngineModMarker, ReadsJsonAsAnyWriterLaysItOut) {
    const struct {
        std::string Text;
        std::optional<std::string> Path; // nothing: not a marker
        std::int64_t Size = 0;
    } rows[] = {
        {Marker("\"a\"", "1"), "a", 1},
        {" \r\n\t" + Marker("\"a\"", "1") + "\n ", "a", 1},
        {Marker("\"\\u0430\\ud83d\\ude00\\/b\"", "2"), "\xD0\xB0\xF0\x9F\x98\x80/b", 2},
        {Marker("\"a\"", "1.0e3"), "a", 1000},
        {Marker("\"a\"", "9007199254740992"), "a", 9007199254740992},
        {Marker("\"a\"", "1", "\"later\":{\"x\":[null,true,false,-0.5]},"), "a", 1},
        {Marker("\"a\"", "1.5"), std::nullopt},
        {Marker("\"a\"", "01"), std::nullopt},
        {Marker("\"a\"", "\"1\""), std::nullopt},
        {Marker("\"a/../b\"", "1"), std::nullopt},
        {Marker("\"a\\\\b\"", "1"), std::nullopt},
        {Marker("\"\"", "1"), std::nullopt},
        {Marker("\"a\"", "1") + "x", std::nullopt},
        {Marker("\"a\tb\"", "1"), std::nullopt},
        {Marker("\"a\"", "1", "\"format\":2,"), std::nullopt}, // the last of a name counts
        {std::string(100, '[') + std::string(100, ']'), std::nullopt},
    };
    for (const auto& row : rows) {
        const std::optional<engine::TModMarker> marker = engine::ParseModMarker(row.Text);
        ASSERT_EQ(marker.has_value(), row.Path.has_value()) << row.Text;
        if (!marker)
            continue;
        ASSERT_EQ(marker->Files.size(), 1u);
        EXPECT_EQ(marker->Files[0].Path, *row.Path);
        EXPECT_EQ(marker->Files[0].Size, row.Size);
    }
}

TEST(EngineModMarker, ArgTextReplacesTheLowestMarker) {
    EXPECT_EQ(engine::ArgText("kept as \"%1 (previous)\", %1", "X"), "kept as \"X (previous)\", X");
    EXPECT_EQ(engine::ArgText("%2 and %1", "X"), "%2 and X");
    EXPECT_EQ(engine::ArgText("%10 and %2", "X"), "%10 and X");
    EXPECT_EQ(engine::ArgText("100%", "X"), "100%");
}

} // namespace
