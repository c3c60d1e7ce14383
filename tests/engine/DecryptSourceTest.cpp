// The source's decryption stage alone, over sample images encrypted with made-up keys: an
// image run finds the game's CXI decrypted where the stage after it looks for it (a CXI source
// replaced by its decrypted copy), a mod folder run gets a reader and no file, and keys that
// do not fit end the run with the reason and never a key's value.

#include "ctr/Decrypt.h"
#include "ctr/Verify.h"
#include "engine/InstallRun.h"
#include "engine/Language.h"
#include "engine/RunContext.h"
#include "sample/SampleCrypt.h"
#include "tests/desktop/RealProgramFolder.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace {

namespace fs = std::filesystem;

struct TDecryptCase {
    const char* Name;
    const char* Kind;       // the sample's kind
    const char* OutputKind; // the job's
    bool FittingKeys;       // the key file holds the keys the image was encrypted with
    const char* Cxi;        // where the game's CXI is written decrypted, below tools/temp
};

void PrintTo(const TDecryptCase& row, std::ostream* os) {
    *os << row.Name;
}

class DecryptSourceRows : public testing::TestWithParam<TDecryptCase> {};

TEST_P(DecryptSourceRows, LeavesTheGamesCxiWhereTheNextStageReadsIt) {
    const TDecryptCase& row = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const fs::path root = dir.path().toStdU16String();
    const QString program = dir.path() + "/program";
    ASSERT_TRUE(MakeRealProgramFolder(program));
    const QString plain = dir.path() + "/plain" + row.Kind;
    ASSERT_EQ(WriteSampleImage(program + "/tools", row.Kind, plain, QString()), QString());
    const ctr::TImageKind kind = *ctr::ImageKindFromText(row.Kind);
    std::mt19937_64 random{std::random_device{}()};
    ctr::TCryptoKeys keys = sample::MakeUpKeys(random());
    sample::TEncryption encryption;
    encryption.CryptoMethod = 0x0B;
    const fs::path source = root / (std::string("encrypted") + row.Kind);
    sample::EncryptImage(plain.toStdU16String(), kind, source, encryption, keys);
    ctr::TCryptoKeys other = sample::MakeUpKeys(random());
    fs::create_directories(root / "keys");
    sample::WriteKeyFiles(root / "keys" / "aes_keys.txt", row.FittingKeys ? keys : other);

    engine::TInstallJob job;
    job.ProgramFolder = program.toStdU16String();
    job.SourcePath = source;
    job.OutputPath = root / "out";
    job.OutputKind = row.OutputKind;
    job.KeyPlaces.KeyFile = root / "keys" / "aes_keys.txt";
    const engine::TLanguageTable texts(engine::TTokens{u"DecryptingSource", u"Decrypting", u"Done",
                                                       u"Done.", u"ErrorDecryptingSource", u"Bad"});
    std::vector<std::string> log;
    std::vector<int> progress;
    int finishes = 0;
    engine::TRunCallbacks callbacks;
    callbacks.Log = [&log](const std::string& entry) { log.push_back(entry); };
    callbacks.Progress = [&progress](int value) { progress.push_back(value); };
    callbacks.Finish = [&finishes] { ++finishes; };
    const std::unique_ptr<engine::TTools> tools = engine::MakeInProcessTools(job.ProgramFolder);
    engine::TRunContext run(job, texts, callbacks, *tools);
    fs::create_directories(run.Paths.Temp / "headers");

    engine::TOpenedSource opened;
    try {
        opened = engine::DecryptSource(run, row.Kind);
    } catch (const engine::TRunEnded&) {
    }

    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "Decrypting");
    for (const int value : progress)
        EXPECT_LT(value, 5);
    if (!row.FittingKeys) {
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log.back().rfind("\r\nBad\r\n", 0), 0u) << log.back();
        EXPECT_EQ(finishes, 1);
        std::istringstream lines(ctr::FormatKeyFile(keys.Keys) + ctr::FormatKeyFile(other.Keys));
        for (std::string line; std::getline(lines, line);) {
            const std::string value = line.substr(line.find('=') + 1);
            ASSERT_FALSE(value.empty());
            EXPECT_EQ(log.back().find(value), std::string::npos) << "a key appears in the log";
        }
        return;
    }
    EXPECT_EQ(log, (std::vector<std::string>{"Decrypting", "Done."}));
    EXPECT_EQ(finishes, 0);
    if (row.Cxi == nullptr) {
        // A mod folder reads the image through its decryption: nothing is written.
        EXPECT_TRUE(opened.Decrypting);
        EXPECT_EQ(job.SourcePath, source);
        EXPECT_TRUE(fs::is_empty(run.Paths.Temp / "headers"));
        EXPECT_EQ(std::distance(fs::directory_iterator(run.Paths.Temp), {}), 1);
        return;
    }
    const fs::path cxi = run.Paths.Temp / row.Cxi;
    EXPECT_EQ(opened.GameContentDecrypted, kind != ctr::TImageKind::Cxi);
    // A CXI source is replaced by its decrypted copy; the others stay as they are.
    EXPECT_EQ(job.SourcePath, kind == ctr::TImageKind::Cxi ? cxi : source);
    EXPECT_FALSE(ctr::ImageIsEncrypted(cxi, ctr::TImageKind::Cxi));
    EXPECT_EQ(ctr::VerifyImage(cxi, ctr::TImageKind::Cxi), "");
    if (kind == ctr::TImageKind::Cci) {
        EXPECT_TRUE(fs::is_regular_file(run.Paths.Temp / "headers" / "mainncchheader.bin"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DecryptSourceRows,
    testing::Values(TDecryptCase{"cia", ".cia", ".cia", true, "c.0000.00000000"},
                    TDecryptCase{"card", ".3ds", ".zcci", true, "Partition0.bin"},
                    TDecryptCase{"cxi", ".cxi", ".cia", true, "source.cxi"},
                    TDecryptCase{"cia_mods", ".cia", "mods", true, nullptr},
                    TDecryptCase{"card_wrong_keys", ".3ds", ".3ds", false, nullptr}),
    [](const testing::TestParamInfo<TDecryptCase>& info) { return info.param.Name; });

} // namespace
