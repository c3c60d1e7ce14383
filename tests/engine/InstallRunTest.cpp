// The disk-space warning alone, through the platform's queries: which volume's room is held
// against which need when tools/temp and the output share a volume or not, and no warning when
// the room is unknown or no one can tell it (the browser). The desktop's TestPipeline checks the
// entry's form and figures in a whole run.

#include "CtrTestSupport.h"

#include "engine/InstallRun.h"
#include "engine/Language.h"
#include "engine/RunContext.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kGiB = std::int64_t(1) << 30;

struct TSpaceRow {
    const char* Name;
    bool Queries;            // the platform tells the free space at all
    bool SameVolume;         // tools/temp and the output on one volume
    std::int64_t TempFree;   // GiB free where tools/temp is (-1: unknown)
    std::int64_t OutputFree; // GiB free where the output goes
    const char* Warning;     // the entry; empty for none
};

void PrintTo(const TSpaceRow& row, std::ostream* os) {
    *os << row.Name;
}

// A 1 GiB CIA source (not an image: its size counts) to a CIA needs 3 GiB under tools/temp and
// 1 GiB for the output.
const TSpaceRow kSpaceRows[] = {
    {"one volume, room for both", true, true, 4, 4, ""},
    {"one volume, room for either alone", true, true, 3, 3, "\r\nLow\r\n4 GB / 3 GB\r\n"},
    {"one volume, unknown room", true, true, -1, -1, ""},
    {"two volumes, room on each", true, false, 3, 1, ""},
    {"two volumes, tools/temp short", true, false, 2, 9, "\r\nLow\r\n3 GB / 2 GB\r\n"},
    {"two volumes, output short", true, false, 9, 0, "\r\nLow\r\n1 GB / 0 GB\r\n"},
    {"two volumes, tools/temp unknown", true, false, -1, 9, ""},
    {"no queries", false, true, 0, 0, ""},
};

class DiskSpaceRows : public ::testing::TestWithParam<TSpaceRow> {};

TEST_P(DiskSpaceRows, WarnOfTheVolumeThatIsShort) {
    const TSpaceRow& row = GetParam();
    const ctr_test::TTempDir dir;
    const fs::path program = dir.Path() / "program";
    const fs::path elsewhere = dir.Path() / "elsewhere";
    fs::create_directories(program / "tools" / "temp");
    fs::create_directories(elsewhere);
    ctr_test::WriteText(dir.Path() / "source.cia", "");
    fs::resize_file(dir.Path() / "source.cia", kGiB); // sparse: no gigabyte is written
    engine::TInstallJob job;
    job.ProgramFolder = program;
    job.SourcePath = dir.Path() / "source.cia";
    job.OutputPath = elsewhere / "out.cia";
    job.OutputKind = ".cia";
    const engine::TLanguageTable texts(engine::TTokens{u"WarningDiskSpace", u"Low"});
    std::vector<std::string> log;
    int finishes = 0;
    engine::TRunCallbacks callbacks;
    callbacks.Log = [&log](const std::string& entry) { log.push_back(entry); };
    callbacks.Progress = [](int) {};
    callbacks.Finish = [&finishes] { ++finishes; };
    const std::unique_ptr<engine::TTools> tools = engine::MakeInProcessTools(program);
    engine::TRunContext run(job, texts, callbacks, *tools);
    run.OutputFile = job.OutputPath;

    engine::TRunPlatform platform;
    std::vector<fs::path> asked;
    if (row.Queries) {
        platform.FreeBytes = [&](const fs::path& path) {
            asked.push_back(path);
            const std::int64_t free = path == elsewhere ? row.OutputFree : row.TempFree;
            return free < 0 ? free : free * kGiB;
        };
        platform.SameVolume = [&row](const fs::path&, const fs::path&) { return row.SameVolume; };
    }
    engine::WarnOfDiskSpace(run, ".cia", platform);

    EXPECT_EQ(log.empty() ? std::string() : log.front(), row.Warning);
    EXPECT_LE(log.size(), 1u);
    EXPECT_EQ(finishes, 0); // a warning only: the run goes on
    // The volumes asked about are those of tools/temp and of the output's folder.
    for (const fs::path& path : asked)
        EXPECT_TRUE(path == run.Paths.Temp || path == elsewhere) << path;
}

INSTANTIATE_TEST_SUITE_P(Rows, DiskSpaceRows, ::testing::ValuesIn(kSpaceRows));

} // namespace
