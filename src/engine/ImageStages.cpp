#include "engine/ImageStages.h"

#include "ctr/Decrypt.h"
#include "ctr/Platform.h"
#include "ctr/Verify.h"
#include "ctr/Z3ds.h"
#include "ctr/Z3dsWrite.h"
#include "engine/Folders.h"
#include "engine/OutputForms.h"
#include "engine/RunContext.h"
#include "sound_archive/FileBasics.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace engine {

namespace {

constexpr const char* kCrLf = "\r\n";

// The CXI the header stage reads, as its tool argument: what the first stage took out of a CIA
// or card image, or a CXI source itself.
std::string SourceCxiArgument(const TRunContext& run, std::string_view source_kind) {
    if (source_kind == ".cia")
        return "tools/temp/c.0000.00000000";
    if (source_kind == ".3ds")
        return "tools/temp/Partition0.bin";
    return ctr::PathToUtf8(run.Job.SourcePath);
}

// The compression stage of a compressed output: `image` (relative to the program folder), an
// image of the kind `plain`, written compressed as the output file.
void CompressOutput(TRunContext& run, const std::string& image, std::string_view plain) {
    run.Progress(97);
    run.LogKey("CompressingOutput");
    const TTools::TReport report = run.StageReport(99);
    ctr::TProgress progress;
    progress.Callback = [&run, &report](std::uint64_t done, std::uint64_t total) {
        if (total > 0)
            report(static_cast<double>(done) / static_cast<double>(total));
        return !run.StopRequested() && !run.KillTool.load();
    };
    // The frames are compressed on every core; the output appears whole or not at all.
    const unsigned threads = std::max(2u, std::thread::hardware_concurrency());
    try {
        ctr::CompressImage(run.Job.ProgramFolder / ctr::PathFromUtf8(image),
                           *ctr::ImageKindFromText(std::string(plain)), run.OutputFile, &progress,
                           threads);
    } catch (const std::exception& error) {
        // A cancel ends the run here, like at any other checkpoint.
        if (run.KillTool.load())
            run.EndRun();
        run.Checkpoint();
        run.LogSeparated(run.Text("ErrorCompressingOutput") + kCrLf + error.what());
        run.EndRun();
    }
    run.LogKey("Done");
    run.Progress(99);
}

} // namespace

void ClearTempFolder(TRunContext& run) {
    const std::filesystem::path& temp = run.Paths.Temp;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::symlink_status(temp, error);
    if (!std::filesystem::exists(status))
        return;
    bool removed = false;
    try {
        removed = std::filesystem::is_directory(status) ? DeleteFolder(temp)
                                                        : std::filesystem::remove(temp, error);
    } catch (const std::exception&) {
    }
    if (!removed) {
        run.LogKey("ErrorFolderDelete");
        run.EndRun();
    }
}

void MakeTempFolder(TRunContext& run) {
    const std::filesystem::path& temp = run.Paths.Temp;
    std::error_code error;
    if (!std::filesystem::create_directory(temp, error) ||
        !std::filesystem::create_directory(temp / "headers", error)) {
        run.Log(run.Text("ErrorFolderCreate") + kCrLf + NativePathText(temp));
        run.EndRun();
    }
}

std::filesystem::path DecompressSource(TRunContext& run, std::string_view source_kind) {
    // A mod folder reads its few files through the frames; an encrypted image is decrypted
    // straight from them. Only the rest have the image written out whole first.
    const std::filesystem::path& source = run.Job.SourcePath;
    if (!ctr::IsZ3dsFile(source) || IsModFolderKind(run.Job.OutputKind))
        return {};
    try {
        const ctr::TImageKind kind =
            ctr::ImageKindFromText(std::string(source_kind)).value_or(ctr::TImageKind::Cxi);
        if (ctr::ImageIsEncrypted(source, kind))
            return {};
    } catch (const std::exception&) {
        // Damaged inside: the decompression below says what is wrong.
    }
    run.LogKey("DecompressingSource");
    const std::filesystem::path output = run.Paths.Temp / ("source" + std::string(source_kind));
    const TTools::TReport report = run.StageReport(5);
    ctr::TProgress progress{[&](std::uint64_t done, std::uint64_t total) {
                                if (total > 0)
                                    report(double(done) / double(total));
                                return !run.StopRequested();
                            },
                            0, 0};
    try {
        ctr::DecompressImage(source, output, &progress, true);
    } catch (const std::exception& error) {
        run.Checkpoint(); // a cancel ends the run here, like at any other checkpoint
        run.LogSeparated(run.Text("ErrorDecompressingSource") + kCrLf + error.what());
        run.EndRun();
    }
    run.LogKey("Done");
    return output;
}

void TakeSourceApart(TRunContext& run, std::string_view source_kind, bool game_content_decrypted) {
    const std::string source = ctr::PathToUtf8(run.Job.SourcePath);
    if (source_kind == ".cxi") {
        // The CXI source is read in place and never changed; there is no NCCH stage.
        run.ToolStage("ExtractingExeFS", 10, TTool::Ctrtool,
                      {"-p", "--exefs=tools/temp/exefs.bin", source}, "ErrorExtractingExeFs");
        run.Progress(10);
        run.ToolStage("ExtractingRomFS", 20, TTool::Ctrtool,
                      {"-p", "--romfs=tools/temp/romfs.bin", source}, "ErrorExtractingRomFS");
        run.Progress(20);
        return;
    }
    const bool cia = source_kind == ".cia";
    if (game_content_decrypted) {
        // The decryption of an encrypted source wrote it already.
        run.LogKey("ExtractingNCCH");
        run.LogKey("Done");
    } else if (cia) {
        // ctrtool writes each content of the CIA as tools/temp/c.<index>.<id>; content 0 is
        // the game's CXI.
        run.ToolStage("ExtractingNCCH", 5, TTool::Ctrtool, {"--contents=tools/temp/c", source},
                      "ErrorExtractingNCCH");
    } else {
        // 3dstool saves the card image's header (read again for a 3DS output) and its
        // partition 0, the game's CXI.
        run.ToolStage("ExtractingNCCH", 5, TTool::Tool3ds,
                      {"-xtf", "3ds", source, "--header", "tools/temp/headers/mainncchheader.bin",
                       "-0", "tools/temp/Partition0.bin"},
                      "ErrorExtractingNCCH");
    }
    run.Progress(5);
    if (cia) {
        run.ToolStage("ExtractingExeFS", 10, TTool::Ctrtool,
                      {"-p", "--exefs=tools/temp/exefs.bin", "tools/temp/c.0000.00000000"},
                      "ErrorExtractingExeFs");
        run.Progress(10);
        run.ToolStage("ExtractingRomFS", 20, TTool::Ctrtool,
                      {"-p", "--romfs=tools/temp/romfs.bin", "tools/temp/c.0000.00000000"},
                      "ErrorExtractingRomFS");
    } else {
        run.ToolStage(
            "ExtractingExeFS", 10, TTool::Tool3ds,
            {"-xtf", "cxi", "tools/temp/Partition0.bin", "--exefs", "tools/temp/exefs.bin"},
            "ErrorExtractingExeFs");
        run.Progress(10);
        run.ToolStage(
            "ExtractingRomFS", 20, TTool::Tool3ds,
            {"-xtf", "cxi", "tools/temp/Partition0.bin", "--romfs", "tools/temp/romfs.bin"},
            "ErrorExtractingRomFS");
    }
    run.Progress(20);
}

void UnpackGame(TRunContext& run, std::string_view source_kind) {
    // The RomFS tree.
    run.ToolStage("UnpackingRomFS", 30, TTool::Tool3ds,
                  {"-xtf", "romfs", "tools/temp/romfs.bin", "--romfs-dir", "tools/temp/romfs"},
                  "ErrorUnpackingRomFS", false, true);
    run.Progress(30);

    // The CXI's headers.
    run.ToolStage("ExtractingCXIHeaders", 35, TTool::Tool3ds,
                  {"-xvtf", "cxi", SourceCxiArgument(run, source_kind), "--header",
                   "tools/temp/headers/ncchheader.bin", "--exh", "tools/temp/headers/exheader.bin",
                   "--logo", "tools/temp/headers/logo.bin"},
                  "ErrorExtractingCXIHeaders");
    run.Progress(35);

    // The ExeFS files and header.
    run.ToolStage("ExtractingExeFSHeaders", 40, TTool::Tool3ds,
                  {"-xutf", "exefs", "tools/temp/exefs.bin", "--exefs-dir", "tools/temp/exefs",
                   "--header", "tools/temp/headers/exefsheader.bin"},
                  "ErrorExtractingExeFSHeaders");
    run.Progress(40);

    // The CXI taken out of a CIA or card image, and the two archives, are unpacked now.
    std::vector<std::string> files;
    if (source_kind != ".cxi")
        files.push_back(SourceCxiArgument(run, source_kind));
    files.push_back("tools/temp/exefs.bin");
    files.push_back("tools/temp/romfs.bin");
    for (const std::string& file : files) {
        std::error_code error;
        if (!std::filesystem::remove(run.Job.ProgramFolder / ctr::PathFromUtf8(file), error)) {
            run.LogSeparated(run.Text("ErrorDeleteTempFile"));
            run.EndRun();
        }
    }
    run.Progress(45);
}

void RebuildImage(TRunContext& run) {
    run.ToolStage("RebuildingExeFS", 85, TTool::Tool3ds,
                  {"-cztf", "exefs", "tools/temp/exefs.bin", "--exefs-dir", "tools/temp/exefs",
                   "--header", "tools/temp/headers/exefsheader.bin"},
                  "ErrorRebuildingExeFS", true);
    run.Progress(85);

    run.ToolStage("RebuildingRomFS", 90, TTool::Tool3ds,
                  {"-ctf", "romfs", "tools/temp/romfs.bin", "--romfs-dir", "tools/temp/romfs"},
                  "ErrorRebuildingRomFS", true);
    run.Progress(90);

    // A compressed output is built whole in tools/temp first: only its compression writes the
    // output file. A ".cci" is a card image by another name.
    const std::string_view plain = PlainOutputKind(run.Job.OutputKind);
    const bool compressed = IsCompressedOutputKind(run.Job.OutputKind);
    const bool cxi_image = plain == ".cxi";
    const std::string output = ctr::PathToUtf8(run.OutputFile);
    const std::string cxi =
        cxi_image && !compressed ? output : std::string("tools/temp/Partition0.cxi");
    const std::string image =
        compressed ? (cxi_image ? cxi : "tools/temp/output" + std::string(plain)) : output;
    run.ToolStage("RebuildingCXI", 95, TTool::Tool3ds,
                  {"-cvtf", "cxi", cxi, "--header", "tools/temp/headers/ncchheader.bin", "--exh",
                   "tools/temp/headers/exheader.bin", "--exefs", "tools/temp/exefs.bin", "--romfs",
                   "tools/temp/romfs.bin", "--logo", "tools/temp/headers/logo.bin"},
                  "ErrorRebuildingCXI", true);
    run.Checkpoint();

    if (!cxi_image) {
        run.ShowProgress(95);
        const int until = compressed ? 97 : 100;
        if (plain == ".3ds") {
            run.ToolStage("Rebuilding3DS", until, TTool::Tool3ds,
                          {"-ctf", "3ds", image, "--header",
                           "tools/temp/headers/mainncchheader.bin", "-0",
                           "tools/temp/Partition0.cxi"},
                          "ErrorRebuilding3DS", true);
        } else {
            run.ToolStage(
                "RebuildingCIA", until, TTool::Makerom,
                {"-f", "Cia", "-content", "tools/temp/Partition0.cxi:0:0x00", "-o", image},
                "ErrorRebuildingCIA", true);
        }
    }
    if (compressed)
        CompressOutput(run, image, plain);
}

} // namespace engine
