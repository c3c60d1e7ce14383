// The key search without Qt: the order in which key files are found, a chosen file's partner,
// and which of the files found opens an encrypted sample (its keys made up by qvtsample).

#include "CtrTestSupport.h"

#include "engine/KeyFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using ctr::TImageKind;
using ctr_test::TTempDir;

void Touch(const fs::path& path, const std::string& text = {}) {
    fs::create_directories(path.parent_path());
    ctr_test::WriteText(path, text);
}

TEST(KeyFiles, FoundInOrderAndChosenWithTheirPartner) {
    const TTempDir dir;
    const fs::path program = dir / "program";
    const fs::path sysdata = dir / "emulator" / "sysdata";
    const std::vector<fs::path> folders = engine::KeyFolders(program, {sysdata});
    ASSERT_EQ(folders, (std::vector<fs::path>{program / "keys", sysdata}));
    EXPECT_EQ(engine::KeyFolders({}, {sysdata}), std::vector<fs::path>{sysdata});

    EXPECT_TRUE(engine::FindKeyFiles({{}, {}, folders}).KeyFiles.empty());
    Touch(sysdata / "keys.txt");
    Touch(sysdata / "aes_keys.txt");
    Touch(sysdata / "seeddb.bin");
    Touch(program / "keys" / "aes_keys.txt");
    fs::create_directories(program / "keys" / "seeddb.bin"); // a folder is no file
    const engine::TKeyFiles found = engine::FindKeyFiles({{}, {}, folders});
    EXPECT_EQ(found.KeyFiles,
              (std::vector<fs::path>{program / "keys" / "aes_keys.txt", sysdata / "aes_keys.txt",
                                     sysdata / "keys.txt"}));
    EXPECT_EQ(found.SeedDbs, std::vector<fs::path>{sysdata / "seeddb.bin"});
    // A named file stands alone, found or not.
    const engine::TKeyFiles named = engine::FindKeyFiles({dir / "gone.txt", {}, folders});
    EXPECT_EQ(named.KeyFiles, std::vector<fs::path>{dir / "gone.txt"});
    EXPECT_EQ(named.SeedDbs, found.SeedDbs);

    struct TCase {
        const char* Name;
        engine::TKeyPlaces Before;
        fs::path Chosen, KeyFile, SeedDb;
    };
    const TCase cases[] = {
        {"seed database brings its key file",
         {},
         sysdata / "seeddb.BIN",
         sysdata / "aes_keys.txt",
         sysdata / "seeddb.BIN"},
        {"key file brings its seed database",
         {},
         sysdata / "keys.txt",
         sysdata / "keys.txt",
         sysdata / "seeddb.bin"},
        {"a named partner stays",
         {{}, dir / "mine.bin", {}},
         sysdata / "keys.txt",
         sysdata / "keys.txt",
         dir / "mine.bin"},
        {"no partner beside it",
         {},
         program / "keys" / "aes_keys.txt",
         program / "keys" / "aes_keys.txt",
         {}},
    };
    for (const TCase& c : cases) {
        const engine::TKeyPlaces after = engine::WithChosenKeyFile(c.Before, c.Chosen);
        EXPECT_EQ(after.KeyFile, c.KeyFile) << c.Name;
        EXPECT_EQ(after.SeedDb, c.SeedDb) << c.Name;
    }
}

// Each key file found is tried in turn until one opens the image; the reason a file failed
// names the file when several were tried, and names keys, never their values.
TEST(KeyFiles, TheFirstFileThatOpensTheImageWins) {
    const TTempDir dir;
    const fs::path qvtsample =
        ctr_test::ToolPath("ctrtool").parent_path().parent_path() / "qvtsample";
    ASSERT_EQ(ctr_test::Run(qvtsample,
                            {"--kind", "cxi", "--region", "EUR", "--pack-size", "300001",
                             "--encrypt", "keys", "--keys", "good.txt", "--out", "locked.cxi"},
                            dir.Path()),
              0);
    ASSERT_EQ(ctr_test::Run(qvtsample,
                            {"--kind", "cxi", "--region", "EUR", "--pack-size", "300001", "--out",
                             "plain.cxi"},
                            dir.Path()),
              0);
    // The same names with other made-up values, each value's digits in reverse order.
    std::vector<std::string> values;
    std::ostringstream other;
    std::ifstream good(dir / "good.txt");
    for (std::string line; std::getline(good, line);) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos || line[0] == '#') {
            other << line << '\n';
            continue;
        }
        values.push_back(line.substr(equals + 1));
        other << line.substr(0, equals + 1)
              << std::string(values.back().rbegin(), values.back().rend()) << '\n';
    }
    ASSERT_FALSE(values.empty());
    ctr_test::WriteText(dir / "other.txt", other.str());
    ctr_test::WriteText(dir / "none.txt", ":AES\n");
    ctr_test::WriteText(dir / "broken.txt", "slot0x2CKeyX\n");

    struct TCase {
        const char* Name;
        std::vector<std::string> Files;
        bool Opens, KeysMissing;
        std::string Opener;
    };
    const TCase cases[] = {
        {"no key file", {}, false, true, ""},
        {"keys missing", {"none.txt"}, false, true, ""},
        {"keys that do not fit", {"other.txt"}, false, false, ""},
        {"missing, then not fitting", {"none.txt", "other.txt"}, false, false, ""},
        {"broken then fitting", {"broken.txt", "none.txt", "good.txt"}, true, false, "good.txt"},
        {"fitting first", {"good.txt", "other.txt"}, true, false, "good.txt"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        engine::TKeyFiles files;
        for (const std::string& name : c.Files)
            files.KeyFiles.push_back(dir / name);
        const engine::TKeyTrial trial =
            engine::InspectImageKeys(dir / "locked.cxi", TImageKind::Cxi, files);
        EXPECT_TRUE(trial.Encrypted);
        EXPECT_FALSE(trial.ImageProblem);
        EXPECT_EQ(trial.Reader != nullptr, c.Opens);
        EXPECT_EQ(trial.Problem.empty(), c.Opens) << trial.Problem;
        EXPECT_EQ(trial.KeysMissing, c.KeysMissing);
        EXPECT_EQ(trial.KeyFileFound, !c.Files.empty());
        EXPECT_EQ(trial.KeyFile, c.Opener.empty() ? fs::path() : dir / c.Opener);
        if (c.Files.size() > 1 && !c.Opens) {
            EXPECT_NE(trial.Problem.find(c.Files[0]), std::string::npos);
        }
        for (const std::string& value : values)
            EXPECT_EQ(trial.Problem.find(value), std::string::npos);
    }
    const engine::TKeyTrial plain =
        engine::InspectImageKeys(dir / "plain.cxi", TImageKind::Cxi, {});
    EXPECT_FALSE(plain.Encrypted);
    EXPECT_TRUE(plain.Problem.empty());
    const engine::TKeyTrial broken =
        engine::InspectImageKeys(dir / "none.txt", TImageKind::Cxi, {});
    EXPECT_TRUE(broken.ImageProblem);
    EXPECT_FALSE(broken.Problem.empty());
}

} // namespace
