// The tool programs run with the installer's own command lines, and every tool refusing bad
// input with exit code 1 while leaving its inputs untouched.

#include "CtrTestSupport.h"

#include "ctr/ByteReader.h"
#include "ctr/Cia.h"
#include "ctr/ExeFs.h"
#include "ctr/Ncsd.h"
#include "ctr/Verify.h"

#include <gtest/gtest.h>

#include <optional>

using namespace ctr_test;

namespace {

const std::string T = "tools/temp/";
const std::string H = "tools/temp/headers/";

int Tool(const std::string& tool, const std::vector<std::string>& args, const fs::path& cwd,
         std::string* error = nullptr) {
    return Run(ToolPath(tool), args, cwd, error);
}

// ---- the installer's chain ----

enum class TKind { Cia, Cci, Cxi };

struct TChainRow {
    const char* Name;
    TKind Source;
    TKind Output;
};

class ToolChain : public ::testing::TestWithParam<TChainRow> {};

TEST_P(ToolChain, InstallerCommandLinesRebuildAValidImage) {
    const TChainRow row = GetParam();
    TTempDir dir;
    const fs::path parts = dir / "parts";
    WriteTitleParts(parts);
    // The source image, built with the tools as the sample generator does.
    const fs::path prog = dir.Path() / fs::path(u8"Программа с пробелом");
    fs::create_directories(prog / "tools" / "temp" / "headers");
    const std::string source_name = row.Source == TKind::Cia   ? "Исходник 'src' (q).cia"
                                    : row.Source == TKind::Cci ? "Исходник 'src' (q).3ds"
                                                               : "Исходник 'src' (q).cxi";
    const fs::path source = dir.Path() / ctr::PathFromUtf8(source_name);
    {
        const fs::path p = parts;
        ASSERT_EQ(Tool("3dstool",
                       {"-ctf", "romfs", (p / "romfs.bin").string(), "--romfs-dir",
                        (p / "romfs").string()},
                       p),
                  0);
        ASSERT_EQ(Tool("3dstool",
                       {"-cztf", "exefs", (p / "exefs.bin").string(), "--exefs-dir",
                        (p / "exefs").string(), "--header", (p / "exefsheader.bin").string()},
                       p),
                  0);
        const fs::path cxi = row.Source == TKind::Cxi ? source : p / "title.cxi";
        ASSERT_EQ(Tool("3dstool",
                       {"-cvtf", "cxi", cxi.string(), "--header", "ncchheader.bin", "--exh",
                        "exheader.bin", "--exefs", "exefs.bin", "--romfs", "romfs.bin", "--logo",
                        "logo.bin"},
                       p),
                  0);
        if (row.Source == TKind::Cia) {
            ASSERT_EQ(
                Tool("makerom",
                     {"-f", "Cia", "-content", cxi.string() + ":0:0x00", "-o", source.string()}, p),
                0);
        }
        if (row.Source == TKind::Cci) {
            ASSERT_EQ(Tool("3dstool",
                           {"-ctf", "3ds", source.string(), "--header", "mainncchheader.bin", "-0",
                            cxi.string()},
                           p),
                      0);
        }
    }
    const std::string source_hash = Sha256Hex(source);

    // Source stages.
    std::string cxi;
    if (row.Source == TKind::Cia) {
        ASSERT_EQ(Tool("ctrtool", {"--contents=" + T + "c", source.string()}, prog), 0);
        cxi = T + "c.0000.00000000";
        ASSERT_EQ(Tool("ctrtool", {"-p", "--exefs=" + T + "exefs.bin", cxi}, prog), 0);
        ASSERT_EQ(Tool("ctrtool", {"-p", "--romfs=" + T + "romfs.bin", cxi}, prog), 0);
    } else if (row.Source == TKind::Cci) {
        ASSERT_EQ(Tool("3dstool",
                       {"-xtf", "3ds", source.string(), "--header", H + "mainncchheader.bin", "-0",
                        T + "Partition0.bin"},
                       prog),
                  0);
        cxi = T + "Partition0.bin";
        ASSERT_EQ(Tool("3dstool", {"-xtf", "cxi", cxi, "--exefs", T + "exefs.bin"}, prog), 0);
        ASSERT_EQ(Tool("3dstool", {"-xtf", "cxi", cxi, "--romfs", T + "romfs.bin"}, prog), 0);
    } else {
        cxi = source.string();
        ASSERT_EQ(Tool("ctrtool", {"-p", "--exefs=" + T + "exefs.bin", cxi}, prog), 0);
        ASSERT_EQ(Tool("ctrtool", {"-p", "--romfs=" + T + "romfs.bin", cxi}, prog), 0);
    }
    ASSERT_EQ(Tool("3dstool", {"-xtf", "romfs", T + "romfs.bin", "--romfs-dir", T + "romfs"}, prog),
              0);
    ASSERT_EQ(Tool("3dstool",
                   {"-xvtf", "cxi", cxi, "--header", H + "ncchheader.bin", "--exh",
                    H + "exheader.bin", "--logo", H + "logo.bin"},
                   prog),
              0);
    ASSERT_EQ(Tool("3dstool",
                   {"-xutf", "exefs", T + "exefs.bin", "--exefs-dir", T + "exefs", "--header",
                    H + "exefsheader.bin"},
                   prog),
              0);
    EXPECT_EQ(ReadBytes(prog / T / "exefs" / "code.bin"), CodeLikeBytes(60000, 1));
    EXPECT_EQ(ReadBytes(prog / T / "romfs" / "sound" / "QK123.bcsar"), NoiseBytes(20000, 6));
    if (row.Source != TKind::Cxi)
        fs::remove(prog / cxi);
    fs::remove(prog / T / "exefs.bin");
    fs::remove(prog / T / "romfs.bin");

    // The patch step replaces files; then the rebuild.
    WriteBytes(prog / T / "romfs" / "pack.dat", NoiseBytes(80000, 44));
    WriteBytes(prog / T / "exefs" / "code.bin", CodeLikeBytes(64000, 45));
    ASSERT_EQ(Tool("3dstool",
                   {"-cztf", "exefs", T + "exefs.bin", "--exefs-dir", T + "exefs", "--header",
                    H + "exefsheader.bin"},
                   prog),
              0);
    ASSERT_EQ(Tool("3dstool", {"-ctf", "romfs", T + "romfs.bin", "--romfs-dir", T + "romfs"}, prog),
              0);
    const std::vector<std::string> cxi_parts = {
        "--header", H + "ncchheader.bin", "--exh",  H + "exheader.bin", "--exefs", T + "exefs.bin",
        "--romfs",  T + "romfs.bin",      "--logo", H + "logo.bin"};
    const fs::path output =
        dir.Path() / ctr::PathFromUtf8(row.Output == TKind::Cia   ? "Вывод out.cia"
                                       : row.Output == TKind::Cci ? "Вывод out.3ds"
                                                                  : "Вывод out.cxi");
    std::vector<std::string> build = {
        "-cvtf", "cxi", row.Output == TKind::Cxi ? output.string() : T + "Partition0.cxi"};
    build.insert(build.end(), cxi_parts.begin(), cxi_parts.end());
    ASSERT_EQ(Tool("3dstool", build, prog), 0);
    if (row.Output == TKind::Cia) {
        ASSERT_EQ(
            Tool("makerom",
                 {"-f", "Cia", "-content", T + "Partition0.cxi:0:0x00", "-o", output.string()},
                 prog),
            0);
    }
    if (row.Output == TKind::Cci) {
        ASSERT_EQ(Tool("3dstool",
                       {"-ctf", "3ds", output.string(), "--header", H + "mainncchheader.bin", "-0",
                        T + "Partition0.cxi"},
                       prog),
                  0);
    }

    const ctr::TImageKind kind = row.Output == TKind::Cia   ? ctr::TImageKind::Cia
                                 : row.Output == TKind::Cci ? ctr::TImageKind::Cci
                                                            : ctr::TImageKind::Cxi;
    EXPECT_EQ(ctr::VerifyImage(output, kind), "");
    const auto found = ctr::FindRomFsFile(output, kind, "pack.dat");
    ASSERT_TRUE(found);
    ctr::TInFile in(output);
    EXPECT_EQ(in.ReadVector(found->Offset, found->Size), NoiseBytes(80000, 44));
    EXPECT_EQ(Sha256Hex(source), source_hash);
    EXPECT_EQ(Tool("ctrtool", {"-y", output.string()}, prog), 0);
}

INSTANTIATE_TEST_SUITE_P(Sources, ToolChain,
                         ::testing::Values(TChainRow{"CiaToCia", TKind::Cia, TKind::Cia},
                                           TChainRow{"CciToCci", TKind::Cci, TKind::Cci},
                                           TChainRow{"CciToCia", TKind::Cci, TKind::Cia},
                                           TChainRow{"CxiToCxi", TKind::Cxi, TKind::Cxi}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- bad input ----

class BadInput : public ::testing::Test {
protected:
    void SetUp() override {
        WriteTitleParts(m_dir.Path());
        m_cxi = ReadBytes(BuildTitleCxi(m_dir.Path()));
        ctr::BuildCia(m_dir / "title.cxi", m_dir / "title.cia");
        ctr::BuildNcsd(m_dir / "mainncchheader.bin", m_dir / "title.cxi", m_dir / "title.3ds",
                       false);
        fs::create_directories(m_dir / "out");
    }
    // Runs the tool on `bytes` saved as in.bin; expects exit 1, in.bin unchanged and none
    // of `outputs` (relative to the temp folder) created.
    void ExpectRefused(const std::string& what, const std::string& tool,
                       const std::vector<std::string>& args, const std::vector<std::uint8_t>& bytes,
                       const std::vector<std::string>& outputs) {
        WriteBytes(m_dir / "in.bin", bytes);
        for (const std::string& output : outputs)
            fs::remove_all(m_dir / output);
        std::string error;
        EXPECT_EQ(Tool(tool, args, m_dir.Path(), &error), 1) << what;
        EXPECT_EQ(ReadBytes(m_dir / "in.bin"), bytes) << what;
        EXPECT_NE(error, "") << what;
        EXPECT_EQ(error.find('\n'), error.size() - 1) << what << ": " << error;
        for (const std::string& output : outputs)
            EXPECT_FALSE(fs::exists(m_dir / output)) << what << ": " << output;
    }
    static std::vector<std::uint8_t> Cut(const std::vector<std::uint8_t>& bytes, std::size_t size) {
        return {bytes.begin(),
                bytes.begin() + static_cast<std::ptrdiff_t>(std::min(size, bytes.size()))};
    }
    static std::vector<std::uint8_t> Patched(std::vector<std::uint8_t> bytes, std::size_t offset,
                                             std::uint32_t value) {
        ctr::PutLE<std::uint32_t>(&bytes[offset], value);
        return bytes;
    }
    TTempDir m_dir;
    std::vector<std::uint8_t> m_cxi;
};

TEST_F(BadInput, TruncatedImagesAtEachHeaderField) {
    const auto cia = ReadBytes(m_dir / "title.cia");
    const auto romfs = ReadBytes(m_dir / "romfs.bin");
    const auto exefs = ReadBytes(m_dir / "exefs.bin");
    const auto card = ReadBytes(m_dir / "title.3ds");
    for (std::size_t cut :
         std::initializer_list<std::size_t>{0x0, 0x8, 0x20, 0x2020, 0x2A50, 0x2DC0 + 0x1E0,
                                            0x3900 + 0x100, cia.size() - 0x3AC0 - 1})
        ExpectRefused("cia cut " + std::to_string(cut), "ctrtool", {"--contents=out/c", "in.bin"},
                      Cut(cia, cut), {"out/c.0000.00000000"});
    for (std::size_t cut : std::initializer_list<std::size_t>{0x0, 0x100, 0x104, 0x180, 0x1B0,
                                                              0x200, 0x9FF, m_cxi.size() - 1}) {
        const std::string name = "cxi cut " + std::to_string(cut);
        ExpectRefused(name, "ctrtool", {"-p", "--exefs=out/exefs.bin", "in.bin"}, Cut(m_cxi, cut),
                      {"out/exefs.bin"});
        ExpectRefused(name, "ctrtool", {"-p", "--romfs=out/romfs.bin", "in.bin"}, Cut(m_cxi, cut),
                      {"out/romfs.bin"});
        ExpectRefused(name, "3dstool",
                      {"-xvtf", "cxi", "in.bin", "--header", "out/h.bin", "--exh", "out/e.bin",
                       "--logo", "out/l.bin"},
                      Cut(m_cxi, cut), {"out/h.bin", "out/e.bin", "out/l.bin"});
        ExpectRefused(name, "makerom", {"-f", "cia", "-content", "in.bin:0:0", "-o", "out/x.cia"},
                      Cut(m_cxi, cut), {"out/x.cia"});
    }
    for (std::size_t cut : std::initializer_list<std::size_t>{0x4, 0x20, 0x5C, 0x60, 0x1000, 0x1010,
                                                              0x1030, romfs.size() - 0x1000 - 1})
        ExpectRefused("romfs cut " + std::to_string(cut), "3dstool",
                      {"-xtf", "romfs", "in.bin", "--romfs-dir", "out/r"}, Cut(romfs, cut),
                      {"out/r"});
    for (std::size_t cut : {0x0, 0x100, 0x1FF, 0x200, 0x400})
        ExpectRefused(
            "exefs cut " + std::to_string(cut), "3dstool",
            {"-xutf", "exefs", "in.bin", "--exefs-dir", "out/e", "--header", "out/eh.bin"},
            Cut(exefs, cut), {"out/e", "out/eh.bin"});
    for (std::size_t cut : {0x0, 0x100, 0x104, 0x124, 0x200, 0x4000, 0x4800})
        ExpectRefused("3ds cut " + std::to_string(cut), "3dstool",
                      {"-xtf", "3ds", "in.bin", "--header", "out/mh.bin", "-0", "out/p0.bin"},
                      Cut(card, cut), {"out/mh.bin", "out/p0.bin"});
}

TEST_F(BadInput, TablesPointingOutsideTheFile) {
    const auto cia = ReadBytes(m_dir / "title.cia");
    const auto exefs = ReadBytes(m_dir / "exefs.bin");
    const auto card = ReadBytes(m_dir / "title.3ds");
    ExpectRefused("exefs offset", "ctrtool", {"-p", "--exefs=out/x.bin", "in.bin"},
                  Patched(m_cxi, 0x1A0, 0xFFFFFF), {"out/x.bin"});
    ExpectRefused("romfs size", "ctrtool", {"-p", "--romfs=out/x.bin", "in.bin"},
                  Patched(m_cxi, 0x1B4, 0x7FFFFFFF), {"out/x.bin"});
    ExpectRefused("content size", "3dstool", {"-xtf", "cxi", "in.bin", "--romfs", "out/x.bin"},
                  Patched(m_cxi, 0x104, 0xFFFFFFFF), {"out/x.bin"});
    ExpectRefused("exheader size", "3dstool", {"-xtf", "cxi", "in.bin", "--exh", "out/x.bin"},
                  Patched(m_cxi, 0x180, 0x200), {"out/x.bin"});
    ExpectRefused("not NoCrypto", "3dstool", {"-xtf", "cxi", "in.bin", "--exefs", "out/x.bin"},
                  Patched(m_cxi, 0x18C, 0x00000001), {"out/x.bin"});
    ExpectRefused("not an executable", "3dstool", {"-xtf", "cxi", "in.bin", "--exefs", "out/x.bin"},
                  Patched(m_cxi, 0x18C, 0x04000101), {"out/x.bin"});
    ExpectRefused("cxi hash", "makerom", {"-f", "cia", "-content", "in.bin:0:0", "-o", "out/x.cia"},
                  Patched(m_cxi, 0x210, 0x12345678), {"out/x.cia"});
    ExpectRefused("tmd content count", "ctrtool", {"--contents=out/c", "in.bin"},
                  Patched(cia, 0x2DC0 + 0x1DC, 0xFFFF0000), {"out/c.0000.00000000"});
    ExpectRefused("cia content size", "ctrtool", {"--contents=out/c", "in.bin"},
                  Patched(cia, 0x1C, 0x10), {"out/c.0000.00000000"});
    ExpectRefused("cia tmd chunk size", "ctrtool", {"--contents=out/c", "in.bin"},
                  Patched(cia, 0x2DC0 + 0xB04 + 8, 0x01000000), {"out/c.0000.00000000"});
    ExpectRefused("ncsd partition", "3dstool", {"-xtf", "3ds", "in.bin", "-0", "out/p0.bin"},
                  Patched(card, 0x124, 0x7FFFFFFF), {"out/p0.bin"});
    ExpectRefused("ncsd magic", "3dstool", {"-xtf", "3ds", "in.bin", "-0", "out/p0.bin"},
                  Patched(card, 0x100, 0), {"out/p0.bin"});
    ExpectRefused("exefs entry", "3dstool",
                  {"-xutf", "exefs", "in.bin", "--exefs-dir", "out/e", "--header", "out/eh.bin"},
                  Patched(exefs, 0x18, 0x7FFFFFF0), {"out/e", "out/eh.bin"});
    ExpectRefused("exefs entry 0 offset", "ctrtool", {"-p", "--exefs=out/x.bin", "in.bin"},
                  Patched(m_cxi, ctr::GetLE<std::uint32_t>(&m_cxi[0x1A0]) * 0x200 + 8, 0x200),
                  {"out/x.bin"});
}

TEST_F(BadInput, BadBuildInputs) {
    const auto header = ReadBytes(m_dir / "ncchheader.bin");
    const auto exheader = ReadBytes(m_dir / "exheader.bin");
    auto cxi_args = [](const std::string& header, const std::string& exh, const std::string& exefs,
                       const std::string& romfs) {
        return std::vector<std::string>{"-cvtf", "cxi",    "out/n.cxi", "--header", header,
                                        "--exh", exh,      "--exefs",   exefs,      "--romfs",
                                        romfs,   "--logo", "logo.bin"};
    };
    ExpectRefused("short header", "3dstool",
                  cxi_args("in.bin", "exheader.bin", "exefs.bin", "romfs.bin"), Cut(header, 0x1FF),
                  {"out/n.cxi"});
    ExpectRefused("header magic", "3dstool",
                  cxi_args("in.bin", "exheader.bin", "exefs.bin", "romfs.bin"),
                  Patched(header, 0x100, 0), {"out/n.cxi"});
    ExpectRefused("short exheader", "3dstool",
                  cxi_args("ncchheader.bin", "in.bin", "exefs.bin", "romfs.bin"),
                  Cut(exheader, 0x7FF), {"out/n.cxi"});
    ExpectRefused("romfs not IVFC", "3dstool",
                  cxi_args("ncchheader.bin", "exheader.bin", "exefs.bin", "in.bin"),
                  NoiseBytes(0x2000, 1), {"out/n.cxi"});
    ExpectRefused("exefs not valid", "3dstool",
                  cxi_args("ncchheader.bin", "exheader.bin", "in.bin", "romfs.bin"),
                  Cut(m_cxi, 0x100), {"out/n.cxi"});
    ExpectRefused("missing romfs", "3dstool",
                  cxi_args("ncchheader.bin", "exheader.bin", "exefs.bin", "none.bin"), {},
                  {"out/n.cxi"});
    ExpectRefused("short card header", "3dstool",
                  {"-ctf", "3ds", "out/n.3ds", "--header", "in.bin", "-0", "title.cxi"},
                  Cut(ReadBytes(m_dir / "mainncchheader.bin"), 0x14FF), {"out/n.3ds"});
    ExpectRefused("card from non-NCCH", "3dstool",
                  {"-ctf", "3ds", "out/n.3ds", "--header", "mainncchheader.bin", "-0", "in.bin"},
                  NoiseBytes(0x1000, 2), {"out/n.3ds"});
    ExpectRefused("exefs file missing", "3dstool",
                  {"-cztf", "exefs", "out/x.bin", "--exefs-dir", "nowhere", "--header", "in.bin"},
                  ReadBytes(m_dir / "exefsheader.bin"), {"out/x.bin"});
    ExpectRefused("size mismatch", "makerom",
                  {"-f", "cia", "-content", "in.bin:0:0", "-o", "out/x.cia"},
                  [&] {
                      auto b = m_cxi;
                      b.resize(b.size() + 0x200);
                      return b;
                  }(),
                  {"out/x.cia"});
    // An output that is also an input is refused before anything is written.
    ExpectRefused("output is input", "makerom",
                  {"-f", "cia", "-content", "in.bin:0:0", "-o", "in.bin"}, m_cxi, {});
    ExpectRefused("output is input", "3dstool",
                  {"-ctf", "3ds", "in.bin", "--header", "mainncchheader.bin", "-0", "in.bin"},
                  m_cxi, {});
}

TEST_F(BadInput, MissingFilesUnwritableOutputsAndUsage) {
    struct TRow {
        const char* Tool;
        std::vector<std::string> Args;
    };
    const TRow rows[] = {
        {"ctrtool", {}},
        {"ctrtool", {"--bogus", "title.cia"}},
        {"ctrtool", {"--contents=out/c"}},
        {"ctrtool", {"--contents=out/c", "missing.cia"}},
        {"ctrtool", {"--contents=no/such/dir/c", "title.cia"}},
        {"ctrtool", {"-p", "--exefs=out/x.bin", "title.cia"}},
        {"ctrtool", {"-p", "--romfs=no/dir/x.bin", "title.cxi"}},
        {"3dstool", {}},
        {"3dstool", {"-xtf", "cxi"}},
        {"3dstool", {"-xyz", "cxi", "title.cxi"}},
        {"3dstool", {"-xtf", "bogus", "title.cxi"}},
        {"3dstool", {"-xctf", "romfs", "romfs.bin", "--romfs-dir", "out/r"}},
        {"3dstool", {"-xtf", "romfs", "romfs.bin"}},
        {"3dstool", {"-xtf", "romfs", "missing.bin", "--romfs-dir", "out/r"}},
        {"3dstool", {"-xtf", "romfs", "romfs.bin", "--romfs-dir", "no/such/r"}},
        {"3dstool", {"-ctf", "romfs", "no/such/r.bin", "--romfs-dir", "romfs"}},
        {"3dstool", {"-xtf", "cxi", "title.cia", "--exefs", "out/x.bin"}},
        {"3dstool", {"-ctf", "3ds", "out/x.3ds", "--header", "missing.bin", "-0", "title.cxi"}},
        {"makerom", {}},
        {"makerom", {"-f", "cci", "-content", "title.cxi:0:0", "-o", "out/x.cia"}},
        {"makerom", {"-f", "cia", "-content", "title.cxi", "-o", "out/x.cia"}},
        {"makerom", {"-f", "cia", "-content", "missing.cxi:0:0", "-o", "out/x.cia"}},
        {"makerom", {"-f", "cia", "-content", "title.cxi:0:0", "-o", "no/such/x.cia"}},
        {"makerom", {"-f", "cia", "-content", "title.cxi:0:0"}},
        {"makerom", {"-f", "cia", "-content", "title.cxi:0:0", "-o", "out/x.cia", "-bogus"}},
    };
    const std::string cxi_hash = Sha256Hex(m_dir / "title.cxi");
    const std::string cia_hash = Sha256Hex(m_dir / "title.cia");
    for (const TRow& row : rows) {
        std::string text = row.Tool;
        for (const auto& arg : row.Args)
            text += " " + arg;
        std::string error;
        EXPECT_EQ(Tool(row.Tool, row.Args, m_dir.Path(), &error), 1) << text;
        if (!row.Args.empty()) {
            EXPECT_EQ(error.find('\n'), error.size() - 1) << text << ": " << error;
        }
    }
    EXPECT_TRUE(fs::is_empty(m_dir / "out"));
    EXPECT_EQ(Sha256Hex(m_dir / "title.cxi"), cxi_hash);
    EXPECT_EQ(Sha256Hex(m_dir / "title.cia"), cia_hash);
}

TEST_F(BadInput, UnpackingCodeWithoutFooterWritesItRaw) {
    // -u on an ExeFS whose code is stored raw: code.bin as it is, exit 0.
    ctr::BuildExeFs(m_dir / "exefsheader.bin", m_dir / "exefs", m_dir / "raw.bin", false);
    EXPECT_EQ(Tool("3dstool",
                   {"-xutf", "exefs", "raw.bin", "--exefs-dir", "out/e", "--header", "out/h.bin"},
                   m_dir.Path()),
              0);
    EXPECT_EQ(ReadBytes(m_dir / "out" / "e" / "code.bin"), CodeLikeBytes(60000, 1));
    // -z on incompressible code stores it raw, exit 0.
    WriteBytes(m_dir / "out" / "e" / "code.bin", NoiseBytes(5000, 9));
    EXPECT_EQ(Tool("3dstool",
                   {"-cztf", "exefs", "out/z.bin", "--exefs-dir", "out/e", "--header", "out/h.bin"},
                   m_dir.Path()),
              0);
    EXPECT_EQ(ctr::GetLE<std::uint32_t>(ReadBytes(m_dir / "out" / "z.bin").data() + 12), 5000u);
}

TEST_F(BadInput, InterruptedWritesLeaveNoPartialOutput) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no per-process file size limit to stop the tools with";
#endif
    // Each tool stopped part way through its output, by a kill or a full disk (a file size
    // limit below the output's size): the earlier file of that name stays as it was, and no
    // partial file is left by a tool that could clean up. A normal run then writes the output.
    struct TRow {
        const char* Tool;
        std::vector<std::string> Args;
        const char* Output;
        std::optional<ctr::TImageKind> Kind; // checked whole after the normal run
    };
    const TRow rows[] = {
        {"3dstool",
         {"-ctf", "cxi", "out/x.cxi", "--header", "ncchheader.bin", "--exh", "exheader.bin",
          "--exefs", "exefs.bin", "--romfs", "romfs.bin", "--logo", "logo.bin"},
         "out/x.cxi",
         ctr::TImageKind::Cxi},
        {"3dstool",
         {"-ctf", "3ds", "out/x.3ds", "--header", "mainncchheader.bin", "-0", "title.cxi"},
         "out/x.3ds",
         ctr::TImageKind::Cci},
        {"makerom",
         {"-f", "cia", "-content", "title.cxi:0:0", "-o", "out/x.cia"},
         "out/x.cia",
         ctr::TImageKind::Cia},
        {"ctrtool", {"-p", "--romfs=out/romfs.bin", "title.cxi"}, "out/romfs.bin", {}},
        {"3dstool", {"-xtf", "romfs", "romfs.bin", "--romfs-dir", "out/r"}, "out/r/pack.dat", {}},
    };
    const std::vector<std::uint8_t> earlier(100, 0x5A);
    for (const TRow& row : rows) {
        for (const TSizeLimit limit : {TSizeLimit::Kills, TSizeLimit::FillsDisk}) {
            const std::string what =
                std::string(row.Output) + (limit == TSizeLimit::Kills ? " killed" : " disk full");
            fs::remove_all(m_dir / "out");
            fs::create_directories((m_dir / row.Output).parent_path());
            WriteBytes(m_dir / row.Output, earlier);
            const int code =
                ctr_test::Run(ToolPath(row.Tool), row.Args, m_dir.Path(), nullptr, 32 << 10, limit);
            EXPECT_EQ(code, limit == TSizeLimit::Kills ? -1 : 1) << what;
            EXPECT_EQ(ReadBytes(m_dir / row.Output), earlier) << what;
            if (limit == TSizeLimit::FillsDisk) {
                for (const auto& entry : fs::recursive_directory_iterator(m_dir / "out"))
                    EXPECT_FALSE(entry.path().extension() == ".part")
                        << what << ": " << entry.path();
            }
        }
        ASSERT_EQ(Tool(row.Tool, row.Args, m_dir.Path()), 0) << row.Output;
        EXPECT_NE(ReadBytes(m_dir / row.Output), earlier) << row.Output;
        if (row.Kind) {
            EXPECT_EQ(ctr::VerifyImage(m_dir / row.Output, *row.Kind), "") << row.Output;
        }
    }
    EXPECT_EQ(ReadBytes(m_dir / "out" / "r" / "pack.dat"), NoiseBytes(70000, 4));
}

} // namespace
