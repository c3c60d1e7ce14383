#include "engine/PackDatStage.h"

#include "ctr/Platform.h"
#include "engine/Folders.h"
#include "engine/RunContext.h"
#include "sound_archive/FileBasics.h"

#include <algorithm>
#include <system_error>

namespace engine {

namespace {

const std::filesystem::path kOldPackDat = "tools/temp/old_pack.dat";

// The patch's difference file as xdelta3's argument. xdelta3 takes its file names in the
// system's code page on Windows, which cannot spell every folder name; a difference in such
// a folder is read from a copy in tools/temp.
std::filesystem::path DifferenceArgument(TRunContext& run) {
    const std::filesystem::path difference = FindEntryNoCase(run.PatchFolder(), "patch.xdelta");
    const std::filesystem::path copied = "tools/temp/patch.xdelta";
    std::error_code error;
    if (!PlainAsciiText(ctr::PathToUtf8(difference)) &&
        ctr::CopyFileReplacing(difference, run.Job.ProgramFolder / copied, error))
        return copied;
    return difference;
}

// Starts xdelta3 decoding old_pack.dat into `output`; its progress goes through `report` once
// the difference stage sets it. Null, with the reason in `start_failure`, when it cannot start.
std::unique_ptr<TToolTask> StartXdelta(TRunContext& run, const TPackDatPlan& plan,
                                       const TXdeltaOutput& output, const TTools::TReport& report,
                                       std::optional<std::string>& start_failure) {
    const TTools::TReport follow = [&report](double fraction) {
        if (report)
            report(fraction);
    };
    try {
        if (plan.Start)
            return plan.Start(output, follow);
        return run.Tools().StartDifference(kOldPackDat, DifferenceArgument(run), output.Argument,
                                           follow);
    } catch (const TSystemError& error) {
        start_failure = error.Reason();
    }
    return nullptr;
}

} // namespace

bool PlainAsciiText(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte < 0x7F;
    });
}

void PatchPackDat(TRunContext& run, const TPackDatPlan& plan) {
    TTools::TReport report; // the bar's mapping, known once the difference stage begins
    std::unique_ptr<TToolTask> xdelta;
    std::optional<std::string> start_failure;
    TXdeltaOutput output = plan.Early;
    if (!output.Argument.empty())
        xdelta = StartXdelta(run, plan, output, report, start_failure);
    try {
        if (!run.Job.OriginalPackDatMD5.empty())
            CheckDigest(run, run.Job.OriginalPackDatMD5, true, plan.PackDatDigest);
        if (!run.Job.OriginalPackIncMD5.empty())
            CheckDigest(run, run.Job.OriginalPackIncMD5, false,
                        TDigestSource::File("tools/temp/romfs/pack.inc"));
        if (plan.BeforeMark)
            plan.BeforeMark();
        run.Progress(50);
        if (plan.AfterMark)
            plan.AfterMark();
    } catch (...) {
        // A mismatch, a cancel: xdelta3 is ended and what it wrote removed.
        const bool started = xdelta != nullptr;
        xdelta.reset();
        if (plan.Abandon)
            plan.Abandon(started, output);
        throw;
    }
    if (plan.Late) {
        output = plan.Late();
        xdelta = StartXdelta(run, plan, output, report, start_failure);
    }

    run.LogKey("ApplyingXdelta");
    std::uint32_t code = 0;
    if (xdelta) {
        report = run.StageReport(65);
        code = xdelta->Wait(&run.KillTool);
        xdelta.reset();
    }
    run.JudgeTool(TTool::Xdelta, code, start_failure, "ErrorApplyingXdelta", false, false);
    if (plan.Place)
        plan.Place(output);
    run.Progress(65);

    std::error_code error;
    if (!plan.Start && !std::filesystem::remove(run.Paths.OldPackDat, error))
        run.Fail("ErrorDeleteTempFile");
}

void PatchPackDatInTemp(TRunContext& run) {
    // The game's pack.dat moves aside as xdelta3's source, and the new one takes its place.
    // Should it not move, the digests are still taken from it and the move's failure is
    // reported after them, where it always was.
    const std::filesystem::path pack_dat = run.Paths.RomFs / "pack.dat";
    std::error_code error;
    std::filesystem::rename(pack_dat, run.Paths.OldPackDat, error);
    const bool moved = !error;
    TPackDatPlan plan;
    plan.PackDatDigest = TDigestSource::File(moved ? kOldPackDat : "tools/temp/romfs/pack.dat");
    if (moved)
        plan.Early = {"tools/temp/romfs/pack.dat", pack_dat};
    else
        plan.BeforeMark = [&run] { run.Fail("ErrorMovingPackDat"); };
    plan.Abandon = [&run, pack_dat](bool started, const TXdeltaOutput&) {
        if (!started)
            return;
        std::error_code ignored;
        std::filesystem::remove(pack_dat, ignored);
        std::filesystem::rename(run.Paths.OldPackDat, pack_dat, ignored);
    };
    PatchPackDat(run, plan);
}

} // namespace engine
