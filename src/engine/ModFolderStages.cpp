#include "engine/ModFolderStages.h"

#include "ctr/Decrypt.h"
#include "ctr/FileIo.h"
#include "ctr/Platform.h"
#include "ctr/Verify.h"
#include "ctr/Z3ds.h"
#include "engine/Folders.h"
#include "engine/ModFolderMarker.h"
#include "engine/ModFolderRun.h"
#include "engine/ModFolderSteps.h"
#include "engine/PackDatStage.h"
#include "engine/PatchCatalogue.h"
#include "engine/PatchStages.h"
#include "engine/RunContext.h"
#include "sound_archive/FileBasics.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace engine {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCrLf = "\r\n";

using steps::kPackDat;
using steps::kPackInc;
using steps::kSoundArchive;

// What the stages of one mod folder run share.
struct TModFolderRun {
    TRunContext& Run;
    const TModFolderPlatform& Platform;
    ctr::TImageKind ImageKind = ctr::TImageKind::Cia;
    // The source is read in place, through its decryption when it is encrypted.
    std::unique_ptr<ctr::TDecryptingReader> Decrypting; // until the game is opened
    bool Encrypted = false;
    steps::TGame Game;
    std::string TitleId;
    fs::path PatchFolder;      // empty without a patch's own files
    bool CodeChanged = false;  // the patch brings code of its own that is not the game's
    std::string PackDatDigest; // of the game's pack.dat: remembered, or taken as it was copied out
    const ctr::TImageRomFsFile* PackDat = nullptr; // the game's pack.dat in the image
    bool XdeltaBesideDigest = false; // the difference is applied while pack.dat's digest is taken
    std::unique_ptr<TBackgroundDigest> Background; // pack.dat's digest, on its own thread
    fs::path Staging; // the folder being written; removed unless moved into place
    bool StagingKept = false;
    std::string PatchedPack; // the new pack.dat already in the staging folder, relative to it
    std::int64_t PatchedPackSize = -1;
    std::string PatchedPackDigest;     // of the new pack.dat, taken as it was written
    std::unique_ptr<TFolderSink> Sink; // the folder being written, once planned
    std::unique_ptr<steps::TModWriter> Writer;

    TModFolderRun(TRunContext& run, const TModFolderPlatform& platform)
        : Run(run), Platform(platform) {}
    // A failure, a cancel or a tool ended leave nothing behind in the destination.
    ~TModFolderRun() {
        Background.reset();
        // A file left open would keep its folder (on Windows) from going.
        Writer.reset();
        Sink.reset();
        if (!StagingKept && !Staging.empty()) {
            try {
                DeleteFolder(Staging);
            } catch (...) {
            }
        }
    }

    const ctr::TImageRomFsFile* GameFile(const std::string& path) const { return Game.File(path); }
};

std::string Framed(const fs::path& path) {
    return '[' + NativePathText(path) + ']';
}

bool IsFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

bool MakeFolders(const fs::path& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return fs::is_directory(path, ec);
}

bool Rename(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    return !ec;
}

// A rename where it can be one, else a copy and the original removed (from tools/temp to a
// destination on another volume).
bool MoveFile(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    if (fs::exists(to, ec))
        return false;
    if (Rename(from, to))
        return true;
    if (!ctr::CopyFileReplacing(from, to, ec))
        return false;
    fs::remove(from, ec);
    return true;
}

fs::path PatchSubfolder(const TModFolderRun& mod, const char* name) {
    return mod.PatchFolder.empty() ? fs::path() : FindEntryNoCase(mod.PatchFolder, name);
}

// The destination folder, as the user chose it.
fs::path OutputFolder(const TRunContext& run) {
    return CleanAbsolutePath(run.Job.OutputPath);
}

// The game's folder in the destination.
fs::path GameFolderPath(const TModFolderRun& mod) {
    return OutputFolder(mod.Run) / mod.TitleId;
}

// How a thread of its own opens the source's decryption; nothing for a source that is not
// encrypted.
TBackgroundDigest::TOpenDecryption OpenDecryption(const TModFolderRun& mod) {
    if (!mod.Encrypted)
        return {};
    return mod.Platform.OpenDecryption;
}

// Copies the game's pack.dat out of the image into tools/temp/old_pack.dat, its digest
// taken from the same read unless it is taken beside xdelta3.
void CopyOutPackDat(TModFolderRun& mod, const ctr::TImageRomFsFile& pack_dat) {
    TRunContext& run = mod.Run;
    const std::uint64_t offset = pack_dat.Location.Offset;
    const std::uint64_t size = pack_dat.Location.Size;
    // A digest taken when the image was chosen spares the copy its digest.
    mod.PackDatDigest = RememberedDigest(run, true);
    const bool digest_known = !mod.PackDatDigest.empty();
    const bool expected = !run.Job.OriginalPackDatMD5.empty();
    if (mod.XdeltaBesideDigest && expected && !digest_known) {
        // The digest is read straight from the image on a thread of its own while the copy
        // goes on here and xdelta3 runs after it; both reads meet in the system's cache.
        mod.Background = std::make_unique<TBackgroundDigest>(run.Job.SourcePath,
                                                             OpenDecryption(mod), offset, size);
    }
    ctr::TOutFile out(run.Paths.OldPackDat);
    out.MarkScratch();
    if (!expected || mod.XdeltaBesideDigest || digest_known) {
        ctr::CopyRange(mod.Game.Image(), offset, size, out);
    } else {
        const TTools::TReport report = run.StageReport(20);
        ctr::TProgress progress{[&](std::uint64_t done, std::uint64_t total) {
                                    report(total == 0 ? 1.0 : double(done) / double(total));
                                    return !run.StopRequested();
                                },
                                0, 0};
        ctr::TMd5 md5;
        ctr::CopyRangeObserved(
            mod.Game.Image(), offset, size, out,
            [&md5](std::span<const std::uint8_t> chunk) { md5.Update(chunk); }, &progress);
        mod.PackDatDigest = steps::Md5Hex(md5);
    }
    out.Commit();
}

// A compressed or encrypted image's pack.dat stays in the image: the difference reads it in
// place, through the image's decompression or decryption (which no program can be given), so
// no copy of the largest file is made. Its digest, unless remembered from the source's check,
// is read on a thread of its own meanwhile.
void PreparePackDatSource(TModFolderRun& mod, const ctr::TImageRomFsFile& pack_dat) {
    TRunContext& run = mod.Run;
    mod.PackDat = &pack_dat;
    mod.PackDatDigest = RememberedDigest(run, true);
    if (!run.Job.OriginalPackDatMD5.empty() && mod.PackDatDigest.empty())
        mod.Background =
            std::make_unique<TBackgroundDigest>(run.Job.SourcePath, OpenDecryption(mod),
                                                pack_dat.Location.Offset, pack_dat.Location.Size);
}

// Read: only the files the run works on come out of the image; no tool unpacks it. An
// encrypted image is read through its decryption. Progress 5, 20 and 45.
void ReadModFiles(TModFolderRun& mod) {
    TRunContext& run = mod.Run;
    run.LogKey("ExtractingModFiles");
    try {
        // A compressed image is read by frames.
        mod.Game.Open(run.Job.SourcePath, mod.ImageKind, std::move(mod.Decrypting));
        mod.TitleId = mod.Game.TitleId();
    } catch (const ctr::TCtrError& error) {
        run.Fail("ErrorExtractingRomFS", error.what());
    }
    run.Progress(5);

    mod.PatchFolder = run.Job.NoPatch ? fs::path() : run.PatchFolder();

    std::vector<std::string> wanted = {kPackInc, kSoundArchive};
    const fs::path patch_romfs = PatchSubfolder(mod, "romfs");
    std::error_code ec;
    if (!patch_romfs.empty() && fs::is_directory(patch_romfs, ec)) {
        for (std::string& path : ModFilesBelow(patch_romfs))
            wanted.push_back(std::move(path));
    }
    if (const char* missing = mod.Game.MissingFile())
        run.Fail("ErrorExtractingRomFS", std::string(missing) + " is not in the RomFS");
    // pack.dat is the one large file: it comes out only as the source of the difference, and
    // a patch's own pack.dat replaces it whole.
    const ctr::TImageRomFsFile* pack_dat = mod.GameFile(kPackDat);
    try {
        for (const std::string& path : wanted) {
            const ctr::TImageRomFsFile* file = mod.GameFile(path);
            if (file == nullptr || file == pack_dat)
                continue; // a new file of the patch, or the data archive
            const fs::path target = run.Paths.RomFs / ctr::PathFromUtf8(file->Path);
            if (fs::exists(target, ec))
                continue;
            fs::create_directories(target.parent_path(), ec);
            ctr::TOutFile out(target);
            out.MarkScratch();
            ctr::CopyRange(mod.Game.Image(), file->Location.Offset, file->Location.Size, out);
            out.Commit();
            run.Checkpoint();
        }
        if (!run.Job.NoXdelta && mod.Game.Image().Direct())
            CopyOutPackDat(mod, *pack_dat);
        else if (!run.Job.NoXdelta)
            PreparePackDatSource(mod, *pack_dat);
    } catch (const ctr::TCtrError& error) {
        run.Checkpoint(); // a cancel during the copy ends the run here
        run.Fail("ErrorExtractingRomFS", error.what());
    }
    run.Progress(20);

    // The code, decompressed, only when the patch brings its own, to be compared with it.
    const fs::path patch_exefs = PatchSubfolder(mod, "exefs");
    const fs::path patch_code =
        patch_exefs.empty() ? fs::path() : FindEntryNoCase(patch_exefs, "code.bin");
    if (!patch_code.empty() && IsFile(patch_code)) {
        run.LogKey("ExtractingExeFS");
        try {
            mod.CodeChanged = steps::CodeChanged(mod.Game.Image(), mod.ImageKind, patch_code);
        } catch (const ctr::TCtrError& error) {
            run.Fail("ErrorExtractingExeFs", error.what());
        }
        run.LogKey("Done");
    }
    run.Progress(45);
}

// Creates the folder the mod folder is written into (once), beside the final folder.
void OpenStagingFolder(TModFolderRun& mod) {
    if (!mod.Staging.empty())
        return;
    TRunContext& run = mod.Run;
    const fs::path output = OutputFolder(run);
    if (!MakeFolders(output))
        run.Fail("ErrorWritingModFolder", NativePathText(output));
    // Written under a name of its own beside the final folder, moved into place when whole.
    const fs::path staging = UnusedFolderPath(output, mod.TitleId + ".part");
    if (!MakeFolders(staging))
        run.Fail("ErrorWritingModFolder", NativePathText(staging));
    mod.Staging = staging;
}

// Before anything is written: a game folder in the destination holding files the program did
// not write is moved aside only with the host's agreement (the window asks, the command line
// answers with --replace); without it the run ends and the folder stays as it is.
void CheckForeignFiles(TModFolderRun& mod) {
    TRunContext& run = mod.Run;
    const fs::path folder = GameFolderPath(mod);
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(folder, ec);
    std::vector<std::string> foreign;
    if (fs::is_symlink(status) || (fs::exists(status) && !fs::is_directory(status)))
        foreign.push_back(mod.TitleId); // not a folder of ours in any case
    else if (fs::is_directory(status))
        foreign = ForeignModFiles(folder);
    if (foreign.empty())
        return;
    const std::string native = NativePathText(folder);
    if (run.ReplaceForeignModFiles(native, foreign)) {
        run.Checkpoint();
        return;
    }
    run.Fail("ModForeignFiles", '[' + native + ']' + kCrLf + FileListText(foreign, 0, run.Texts) +
                                    kCrLf +
                                    ArgText(run.Text("ModForeignFilesRefused"), mod.TitleId));
}

// The pack.dat stage of a mod folder: the new pack.dat goes straight into the folder being
// written, as the game names it below its romfs. Nothing reaches the destination before the
// digests matched. From a compressed or encrypted image the difference is applied in the
// process, reading the game's pack.dat in place, and the new file's digest is taken as it is
// written; otherwise xdelta3 reads tools/temp/old_pack.dat. Beside the digest it writes into
// tools/temp (the volume of the destination: a rename moves the file in); otherwise it starts
// once they matched and writes straight into the folder being written, under a name of its
// own until it is whole.
void PatchPackDatInto(TModFolderRun& mod) {
    TRunContext& run = mod.Run;
    const std::string relative = "romfs/" + mod.GameFile(kPackDat)->Path;
    const TXdeltaOutput in_temp = {"tools/temp/new_pack.dat",
                                   run.Job.ProgramFolder / "tools/temp/new_pack.dat"};
    fs::path target;
    TPackDatPlan plan;
    const bool in_place = mod.PackDat != nullptr; // read through the image, in the process
    if (mod.Background)
        plan.PackDatDigest = TDigestSource::Pending(*mod.Background);
    else if (mod.XdeltaBesideDigest && !in_place)
        plan.PackDatDigest = TDigestSource::File("tools/temp/old_pack.dat");
    else
        // Taken as it came out.
        plan.PackDatDigest = TDigestSource::Known(mod.PackDatDigest);
    if (mod.XdeltaBesideDigest)
        plan.Early = in_temp;
    plan.AfterMark = [&] {
        OpenStagingFolder(mod);
        target = mod.Staging / ctr::PathFromUtf8(relative);
        if (!MakeFolders(target.parent_path()))
            run.Fail("ErrorWritingModFolder", NativePathText(target));
    };
    plan.Abandon = [](bool, const TXdeltaOutput& output) {
        std::error_code ec;
        if (!output.File.empty())
            fs::remove(output.File, ec);
    };
    if (!mod.XdeltaBesideDigest) {
        // A folder xdelta3 cannot be given by name (see the difference's argument) gets the
        // archive from tools/temp.
        plan.Late = [&, in_place] {
            fs::path written = target;
            written += ".part";
            return in_place || PlainAsciiText(ctr::PathToUtf8(written))
                       ? TXdeltaOutput{written, written}
                       : in_temp;
        };
    }
    ctr::TMd5 written_digest;
    if (in_place)
        plan.Start = [&](const TXdeltaOutput& output, const TTools::TReport& report) {
            std::unique_ptr<ctr::TInFile> source;
            try {
                source = ctr::OpenRange(mod.Game.Image(), mod.PackDat->Location.Offset,
                                        mod.PackDat->Location.Size);
            } catch (const ctr::TCtrError& error) {
                throw TSystemError(0, error.what());
            }
            return StartDifferenceInProcess(
                std::move(source), FindEntryNoCase(run.PatchFolder(), "patch.xdelta"), output.File,
                report, [&written_digest](std::span<const std::uint8_t> bytes) {
                    written_digest.Update(bytes);
                });
        };
    plan.Place = [&](const TXdeltaOutput& output) {
        std::error_code ec;
        if (!fs::exists(output.File, ec))
            return;
        mod.PatchedPackSize = std::int64_t(fs::file_size(output.File, ec));
        if (in_place)
            mod.PatchedPackDigest = steps::Md5Hex(written_digest);
        if (!MoveFile(output.File, target))
            run.Fail("ErrorWritingModFolder", NativePathText(target));
        mod.PatchedPack = relative;
    };
    PatchPackDat(run, plan);
}

// The facts the plan is made from; each RomFS file compared with the game's bytes, with a
// checkpoint before each.
TModPlanInput PlanInput(TModFolderRun& mod) {
    TRunContext& run = mod.Run;
    TModPlanInput input;
    input.RomFs = ctr::PathToUtf8(run.Paths.RomFs);
    for (const ctr::TImageRomFsFile& file : mod.Game.Files())
        input.GameFiles.push_back(file.Path);
    for (const std::string& path : ModFilesBelow(run.Paths.RomFs)) {
        input.RomFsFiles.push_back(path);
        run.Checkpoint();
        const ctr::TImageRomFsFile* game = mod.GameFile(path);
        if (game != nullptr &&
            SameBytes(mod.Game.Image(), game->Location.Offset, game->Location.Size,
                      run.Paths.RomFs / ctr::PathFromUtf8(path)))
            input.Unchanged.insert(path);
    }
    if (mod.CodeChanged)
        input.ChangedCode = ctr::PathToUtf8(FindEntryNoCase(run.Paths.ExeFs, "code.bin"));
    const fs::path patch_exefs = PatchSubfolder(mod, "exefs");
    for (const steps::TModExeFsName& name : steps::kModExeFsNames) {
        // Only what the patch brings: the game's own banner and icon change nothing.
        if (patch_exefs.empty() || !IsFile(FindEntryNoCase(patch_exefs, name.Ours)))
            continue;
        input.ExeFsFiles.push_back(
            {ctr::PathToUtf8(FindEntryNoCase(run.Paths.ExeFs, name.Ours)), name.Theirs});
    }
    return input;
}

// Write: the planned files into the folder being written. Progress 90.
void WriteModFolder(TModFolderRun& mod, const TModPlan& plan) {
    TRunContext& run = mod.Run;
    OpenStagingFolder(mod);
    // Read back before it is moved into place: not forced to the disk file by file.
    mod.Sink = std::make_unique<TFolderSink>(mod.Staging, false);
    mod.Writer = std::make_unique<steps::TModWriter>(*mod.Sink);
    for (const TModFile& file : plan.Files) {
        run.Checkpoint();
        const fs::path target = mod.Staging / ctr::PathFromUtf8(file.To);
        std::error_code ec;
        // A pack.dat of the patch's own replaces the one the difference made.
        if (file.To == mod.PatchedPack) {
            if (!fs::remove(target, ec))
                run.Fail("ErrorWritingModFolder", NativePathText(target));
            mod.PatchedPack.clear();
        }
        // Each name once: a second file under it (in another letter case, where the file
        // system ignores it) would overwrite the first.
        if (fs::exists(target, ec))
            run.Fail("ErrorWritingModFolder", NativePathText(target));
        try {
            ctr::TInFile in(ctr::PathFromUtf8(file.From));
            mod.Writer->WriteFile({}, file.To, in, 0, in.Size());
        } catch (const std::exception&) {
            run.Fail("ErrorWritingModFolder", NativePathText(target));
        }
    }
    run.Progress(90);
}

// Verify: read back exactly the planned files, each with the bytes meant for it, and the new
// pack.dat with the size xdelta3 gave it. Progress 95.
void VerifyModFolder(TModFolderRun& mod, const TModPlan& plan) {
    TRunContext& run = mod.Run;
    run.LogKey("VerifyingModFolder");
    std::set<std::string> planned;
    for (const TModFile& file : plan.Files) {
        planned.insert(file.To);
        run.Checkpoint();
        if (!SameFiles(ctr::PathFromUtf8(file.From), mod.Staging / ctr::PathFromUtf8(file.To)))
            run.Fail("ErrorVerifyingModFolder", NativePathText(ctr::PathFromUtf8(file.To)));
    }
    if (!mod.PatchedPack.empty()) {
        planned.insert(mod.PatchedPack);
        const fs::path written = mod.Staging / ctr::PathFromUtf8(mod.PatchedPack);
        std::error_code ec;
        if (!IsFile(written) || std::int64_t(fs::file_size(written, ec)) != mod.PatchedPackSize)
            run.Fail("ErrorVerifyingModFolder", NativePathText(ctr::PathFromUtf8(mod.PatchedPack)));
    }
    // The files taken from a compressed image are right only once every frame read in part
    // has been checked to its end.
    try {
        mod.Game.Image().ConfirmReads();
    } catch (const ctr::TCtrError& error) {
        run.Fail("ErrorExtractingRomFS", error.what());
    }
    const std::set<std::string> announced(plan.NewFiles.begin(), plan.NewFiles.end());
    for (const std::string& path : ModFilesBelow(mod.Staging)) {
        const bool romfs_file = path.starts_with("romfs/");
        const std::string inside = romfs_file ? path.substr(6) : std::string();
        if (!planned.contains(path) ||
            (romfs_file && !mod.Game.Spells(inside) && !announced.contains(inside)))
            run.Fail("ErrorVerifyingModFolder", NativePathText(ctr::PathFromUtf8(path)));
    }
    run.LogKey("Done");
    run.Progress(95);
}

// The marker beside romfs/: the patch and the files written, each with its size and digest.
void WriteModMarker(TModFolderRun& mod) {
    TRunContext& run = mod.Run;
    std::optional<TDescriptionFields> description;
    if (!run.PatchFolder().empty() && !run.Job.PatchDescription.empty())
        description = ReadDescriptionFile(run.Job.PatchDescription, mod.Platform.RussianLocale);
    TModMarker marker = steps::MarkerOf(mod.TitleId, mod.Platform.ProgramVersion,
                                        description ? &*description : nullptr);
    // The planned files' digests were taken as they were written; the new pack.dat's too when
    // the difference was applied in the process.
    std::set<std::string> written;
    for (const TModMarkerFile& file : mod.Writer->Written())
        written.insert(file.Path);
    for (const std::string& path : ModFilesBelow(mod.Staging)) {
        run.Checkpoint();
        if (written.contains(path))
            continue;
        const fs::path file = mod.Staging / ctr::PathFromUtf8(path);
        std::optional<std::string> digest = mod.PatchedPackDigest;
        if (path != mod.PatchedPack || mod.PatchedPackDigest.empty())
            digest = FileDigest(file);
        if (!digest)
            throw TSystemError(0, ctr::PathToUtf8(file) + ": cannot be read");
        std::error_code ec;
        mod.Writer->Note({path, std::int64_t(fs::file_size(file, ec)), *digest});
    }
    try {
        mod.Writer->WriteMarker({}, std::move(marker));
    } catch (const std::exception&) {
        run.Fail("ErrorWritingModFolder", NativePathText(mod.Staging / kModMarkerName));
    }
}

// Move: the folder into place. An earlier folder of the same game is kept under a new name,
// never merged into. Ends the run with its success entry.
[[noreturn]] void MoveModFolder(TModFolderRun& mod) {
    TRunContext& run = mod.Run;
    run.Checkpoint();
    const fs::path output = OutputFolder(run);
    const fs::path final_path = GameFolderPath(mod);
    fs::path previous;
    std::error_code ec;
    if (fs::symlink_status(final_path, ec).type() != fs::file_type::not_found && !ec) {
        previous = UnusedFolderPath(output, mod.TitleId + " (previous)");
        if (!Rename(final_path, previous))
            run.Fail("ErrorWritingModFolder", NativePathText(final_path));
        run.Log(run.Text("ModPreviousRenamed") + kCrLf + Framed(previous));
    }
    if (!Rename(mod.Staging, final_path)) {
        if (!previous.empty() && Rename(previous, final_path))
            previous.clear();
        run.Fail("ErrorWritingModFolder", NativePathText(final_path));
    }
    mod.StagingKept = true;
    run.ShowProgress(100);
    run.LogSeparated(run.Text("ModFolderSuccessful") + kCrLf + Framed(final_path));
    run.Succeed();
    run.EndRun();
}

} // namespace

void RunModFolderStages(TRunContext& run, const std::string& source_kind,
                        std::unique_ptr<ctr::TDecryptingReader> decrypting,
                        const TModFolderPlatform& platform) {
    TModFolderRun mod(run, platform);
    mod.ImageKind = *ctr::ImageKindFromText(source_kind);
    mod.Encrypted = decrypting != nullptr;
    mod.Decrypting = std::move(decrypting);
    // A destination on the volume of tools/temp takes the new pack.dat by a rename: the
    // difference can then be applied while pack.dat's digest is taken.
    mod.XdeltaBesideDigest = !run.Job.NoXdelta && platform.SameVolume;

    ReadModFiles(mod);
    CheckForeignFiles(mod);
    // The same stages as for an image, but the new pack.dat goes straight into the folder.
    if (!run.Job.NoXdelta)
        PatchPackDatInto(mod);
    if (!run.Job.NoPatch)
        CopyReplacementFolders(run);
    ApplySoundArchive(run);
    run.Progress(80);

    // What goes in: each RomFS file whose bytes differ from the game's, files the game lacks,
    // the code when the patch changed it, and the banner and icon under the names the
    // emulator looks for.
    run.LogKey("WritingModFolder");
    const TModPlan plan = PlanModFolder(PlanInput(mod));
    WriteModFolder(mod, plan);
    VerifyModFolder(mod, plan);
    WriteModMarker(mod);
    if (!plan.NewFiles.empty()) {
        std::string new_files;
        for (const std::string& path : plan.NewFiles)
            new_files += kCrLf + path;
        run.LogFramed(run.Text("WarningModNewFiles") + new_files);
    }
    if (plan.BannerOrIcon)
        run.LogKey("ModBannerIcon");
    MoveModFolder(mod);
}

} // namespace engine
