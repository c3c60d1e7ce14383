#include "engine/InstallRun.h"

#include "ctr/Decrypt.h"
#include "ctr/FileIo.h"
#include "ctr/Platform.h"
#include "ctr/Verify.h"
#include "ctr/Z3ds.h"
#include "engine/Folders.h"
#include "engine/Identify.h"
#include "engine/ImageChecks.h"
#include "engine/ImageStages.h"
#include "engine/KeyFiles.h"
#include "engine/Language.h"
#include "engine/ModFolderStages.h"
#include "engine/OutputForms.h"
#include "engine/PackDatStage.h"
#include "engine/PatchStages.h"
#include "engine/RunContext.h"
#include "engine/Text.h"
#include "engine/Versions.h"

#include <stdexcept>
#include <system_error>
#include <utility>

namespace engine {

namespace {

namespace fs = std::filesystem;

constexpr const char* kCrLf = "\r\n";

ctr::TImageKind LibraryKind(std::string_view kind) {
    return ctr::ImageKindFromText(std::string(kind)).value_or(ctr::TImageKind::Cxi);
}

// ---- The source's decryption.

// The keys the job's key places give that open the image, and the reader they opened; throws
// ctr::TCtrError saying why when none does.
TKeyTrial FittingKeys(const TRunContext& run, ctr::TImageKind kind) {
    TKeyTrial trial = TryKeyFiles(run.Job.SourcePath, kind, FindKeyFiles(run.Job.KeyPlaces));
    if (!trial.Reader)
        throw ctr::TCtrError(trial.Problem);
    return trial;
}

// The failure of the decryption: a cancel ends the run here, like at any other checkpoint.
[[noreturn]] void FailDecryption(TRunContext& run, const std::exception& error) {
    run.Checkpoint();
    run.Fail("ErrorDecryptingSource", error.what());
}

void VerifyOutput(TRunContext& run, const TRunPlatform& platform) {
    // The tools may exit 0 (or with an unknown code) and still leave a broken image: read it
    // back before calling the run a success. The output file stays in either case.
    run.LogKey("VerifyingOutput");
    const std::string problem =
        platform.CheckOutput
            ? platform.CheckOutput(run.OutputFile, run.Job.OutputKind, &run.KillTool,
                                   run.StageReport(100))
            : CheckOutputImage(run.OutputFile, run.Job.OutputKind, run.Texts, run.Job.KeyPlaces,
                               &run.KillTool, run.StageReport(100));
    if (!problem.empty())
        run.Fail("ErrorVerifyingOutput", problem);
    run.LogKey("Done");
}

// What the mod folder stages ask of the system, from what the run's platform tells.
TModFolderPlatform ModFolderPlatform(const TRunContext& run, std::string_view source_kind,
                                     const TRunPlatform& platform) {
    TModFolderPlatform mod;
    mod.ProgramVersion = std::string(ProgramVersion());
    mod.RussianLocale = platform.RussianLocale;
    mod.SameVolume = !run.Job.NoXdelta &&
                     (!platform.SameVolume ||
                      platform.SameVolume(run.Paths.Temp, fs::absolute(run.Job.OutputPath)));
    // pack.dat's digest thread opens its own reader through the keys that open the source.
    mod.OpenDecryption = [source = run.Job.SourcePath, kind = LibraryKind(source_kind),
                          places = run.Job.KeyPlaces]() -> std::unique_ptr<ctr::TDecryptingReader> {
        TKeyTrial trial = TryKeyFiles(source, kind, FindKeyFiles(places));
        if (!trial.Reader)
            throw ctr::TCtrError(trial.Problem);
        return std::move(trial.Reader);
    };
    return mod;
}

} // namespace

std::string CheckOutputImage(const fs::path& image, std::string_view kind,
                             const TLanguageTable& texts, const TKeyPlaces& keys,
                             const std::atomic<bool>* stop, const TTools::TReport& report) {
    const auto image_kind = ctr::ImageKindFromText(std::string(PlainOutputKind(kind)));
    if (!image_kind)
        return "unknown output kind " + std::string(kind);
    const bool compressed = IsCompressedOutputKind(kind);
    const std::string container = ContainerProblem(image, *image_kind, compressed, kind);
    if (!container.empty())
        return container;
    // Only a regular file can be an image: opening a named pipe would wait for a writer.
    std::error_code error;
    if (!fs::is_regular_file(image, error))
        return texts.LookupUtf8("ErrorLoadingROM");
    // An encrypted image is read through the first key set found that opens it.
    const TOpenDecryption open_decryption = [&](ctr::TImageKind found_kind) {
        TKeyTrial trial = InspectImageKeys(image, found_kind, FindKeyFiles(keys));
        return trial.Encrypted && trial.Problem.empty() ? std::move(trial.Reader) : nullptr;
    };
    const TIdentity identity =
        IdentifyImage(image, ctr::PathToUtf8(image.filename()), open_decryption);
    if (!identity.Opened)
        return texts.LookupUtf8("ErrorLoadingROM");
    if (identity.Kind != image_kind || identity.Compressed != compressed || !identity.Usable()) {
        return identity.ErrorKey.empty() ? "the image is not a usable " + std::string(kind)
                                         : texts.LookupUtf8(identity.ErrorKey);
    }
    // Reading back a big image takes a while; a closing window must not wait for it.
    std::function<bool(std::uint64_t, std::uint64_t)> go_on;
    if (stop != nullptr || report)
        go_on = [stop, &report](std::uint64_t done, std::uint64_t total) {
            if (report && total > 0)
                report(static_cast<double>(done) / static_cast<double>(total));
            return stop == nullptr || !stop->load();
        };
    const std::string problem = ctr::VerifyImage(image, *image_kind, go_on);
    if (!problem.empty())
        return problem;
    return SoundArchiveProblem(image, *image_kind);
}

void WarnOfDiskSpace(TRunContext& run, std::string_view source_kind, const TRunPlatform& platform) {
    if (!platform.FreeBytes)
        return;
    const fs::path& source = run.Job.SourcePath;
    const std::string& output_kind = run.Job.OutputKind;
    bool encrypted = false;
    try {
        encrypted = ctr::ImageIsEncrypted(source, LibraryKind(source_kind));
    } catch (const std::exception&) {
    }
    TSpaceNeed need =
        EstimateSpaceNeed(source_kind, output_kind, SourceContentSize(source, source_kind),
                          PackDatSize(source, source_kind), encrypted);
    // A compressed source is first written out whole beside the rest, unless it is encrypted:
    // that is decrypted straight from its frames. A mod folder reads a compressed or encrypted
    // image's pack.dat in place: only the new one is written, on the destination's volume or
    // straight into it.
    const bool compressed = ctr::IsZ3dsFile(source);
    if (IsModFolderKind(output_kind) && (compressed || encrypted))
        need.TempBytes = 0;
    else if (!IsModFolderKind(output_kind) && !encrypted && compressed)
        need.TempBytes += SourceImageSize(source);
    const fs::path& temp_place = run.Paths.Temp;
    std::error_code error;
    fs::path output_place = fs::absolute(run.OutputFile, error);
    output_place = (error ? run.OutputFile : output_place).parent_path();
    std::int64_t needed = 0;
    std::int64_t free = 0;
    bool short_of_space = false;
    if (!platform.SameVolume || platform.SameVolume(temp_place, output_place)) {
        needed = need.TempBytes + need.OutputBytes;
        free = platform.FreeBytes(temp_place);
        short_of_space = free >= 0 && free < needed;
    } else {
        const std::int64_t temp_free = platform.FreeBytes(temp_place);
        const std::int64_t output_free = platform.FreeBytes(output_place);
        if (temp_free >= 0 && temp_free < need.TempBytes) {
            short_of_space = true;
            needed = need.TempBytes;
            free = temp_free;
        } else if (output_free >= 0 && output_free < need.OutputBytes) {
            short_of_space = true;
            needed = need.OutputBytes;
            free = output_free;
        }
    }
    if (short_of_space) {
        // A warning only: the estimate is rough, and the tools report a full disk themselves.
        run.LogFramed(run.Text("WarningDiskSpace") + kCrLf +
                      FormatGibibytes(needed, platform.DecimalPoint) + " GB / " +
                      FormatGibibytes(free, platform.DecimalPoint) + " GB");
    }
}

TOpenedSource::TOpenedSource() = default;
TOpenedSource::TOpenedSource(TOpenedSource&&) noexcept = default;
TOpenedSource& TOpenedSource::operator=(TOpenedSource&&) noexcept = default;
TOpenedSource::~TOpenedSource() = default;

TOpenedSource DecryptSource(TRunContext& run, std::string_view source_kind) {
    TOpenedSource opened;
    const ctr::TImageKind kind = LibraryKind(source_kind);
    bool encrypted = false;
    try {
        encrypted = ctr::ImageIsEncrypted(run.Job.SourcePath, kind);
    } catch (const std::exception&) {
        return opened; // a damaged image: the stages that take it apart say what is wrong
    }
    if (!encrypted)
        return opened;
    run.LogKey("DecryptingSource");
    if (IsModFolderKind(run.Job.OutputKind)) {
        // A mod folder takes only a few files out of the image: they are decrypted block by
        // block as they are read, and no decrypted copy of the image is written.
        try {
            opened.Decrypting = std::move(FittingKeys(run, kind).Reader);
        } catch (const std::exception& error) {
            FailDecryption(run, error);
        }
        run.LogKey("Done");
        return opened;
    }
    // Only what the source stages would take out of the image is written decrypted, where
    // they would put it: a CIA's game content, a card image's header area and partition 0.
    // The image itself is not written again.
    const fs::path& temp = run.Paths.Temp;
    const TTools::TReport report = run.StageReport(5);
    ctr::TProgress progress{[&](std::uint64_t done, std::uint64_t total) {
                                report(total == 0 ? 1.0 : double(done) / double(total));
                                return !run.StopRequested();
                            },
                            0, 0};
    const bool parts = kind == ctr::TImageKind::Cia || kind == ctr::TImageKind::Cci;
    const fs::path output = temp / ("source" + std::string(source_kind));
    try {
        const ctr::TCryptoKeys keys = FittingKeys(run, kind).Keys;
        // The decrypted files are scratch files of the run, deleted with tools/temp.
        if (kind == ctr::TImageKind::Cia)
            ctr::DecryptCiaGameContent(run.Job.SourcePath, temp / "c.0000.00000000", keys,
                                       &progress, true);
        else if (kind == ctr::TImageKind::Cci)
            ctr::DecryptCardParts(run.Job.SourcePath, temp / "headers" / "mainncchheader.bin",
                                  temp / "Partition0.bin", keys, &progress, true);
        else
            ctr::DecryptImage(run.Job.SourcePath, kind, output, keys, &progress, true);
    } catch (const std::exception& error) {
        FailDecryption(run, error);
    }
    run.LogKey("Done");
    if (parts) {
        opened.GameContentDecrypted = true;
        return opened;
    }
    // The rest of the run takes the decrypted copy apart, as it would a decrypted source.
    run.Job.SourcePath = output;
    return opened;
}

void FinishImage(TRunContext& run, const TRunPlatform& platform) {
    RebuildImage(run); // ExeFS, RomFS, CXI, then the CIA or 3DS image
    VerifyOutput(run, platform);
    run.ShowProgress(100);
    // The path as the system writes it (backslashes on Windows).
    run.Log(kCrLf + run.Text("PatchingSuccessful") + kCrLf + '[' + NativePathText(run.OutputFile) +
            ']');
    run.Succeed();
    run.EndRun();
}

void RunInstall(TRunContext& run, std::string_view source_kind, const TRunPlatform& platform) {
    RunStages(run, [&] {
        const bool mod_folder_output = IsModFolderKind(run.Job.OutputKind);
        run.OutputFile = mod_folder_output ? run.Job.OutputPath : OutputFile(run.Job, source_kind);
        run.ShowProgress(0);
        ClearTempFolder(run);
        WarnOfDiskSpace(run, source_kind, platform);
        MakeTempFolder(run);
        // The rest of the run takes a decompressed copy apart as it would an uncompressed source.
        if (fs::path decompressed = DecompressSource(run, source_kind); !decompressed.empty())
            run.Job.SourcePath = std::move(decompressed);
        TOpenedSource source = DecryptSource(run, source_kind);
        if (mod_folder_output)
            RunModFolderStages(run, std::string(source_kind), std::move(source.Decrypting),
                               ModFolderPlatform(run, source_kind, platform));
        // The image taken apart into exefs.bin and romfs.bin, then into the game's files.
        TakeSourceApart(run, source_kind, source.GameContentDecrypted);
        UnpackGame(run, source_kind);
        if (!run.Job.NoXdelta)
            PatchPackDatInTemp(run); // digests, then the difference for pack.dat
        if (!run.Job.NoPatch)
            CopyReplacementFolders(run); // the patch's exefs and romfs files
        ApplySoundArchive(run);          // voices and music
        run.Progress(80);
        FinishImage(run, platform);
    });
}

} // namespace engine
