#include "core/PackDatStage.h"

#include "core/FileTools.h"
#include "core/RunContext.h"

#include <QFile>

#include <memory>

namespace {

const QString kOldPackDat = QStringLiteral("tools/temp/old_pack.dat");

// The patch's difference file as xdelta3's argument. xdelta3 takes its file names in the
// system's code page on Windows, which cannot spell every folder name; a difference in such
// a folder is read from a copy in tools/temp.
QString DifferenceArgument(TRunContext& run) {
    const QString difference = FindEntryNoCase(run.PatchFolder(), QStringLiteral("patch.xdelta"));
    const QString copied = QStringLiteral("tools/temp/patch.xdelta");
    if (!PlainAsciiText(difference) && QFile::copy(difference, run.Job.ProgramFolder + copied))
        return copied;
    return difference;
}

// Starts xdelta3 decoding old_pack.dat into `output`; its progress goes through `report` once
// the difference stage sets it. Null, with the reason in `start_failure`, when it cannot start.
std::unique_ptr<TToolTask> StartXdelta(TRunContext& run, const TPackDatPlan& plan,
                                       const TXdeltaOutput& output, const TTools::TReport& report,
                                       QString& start_failure) {
    try {
        if (plan.Start)
            return plan.Start(output, [&report](double fraction) {
                if (report)
                    report(fraction);
            });
        return run.Tools().StartDifference(ToPath(kOldPackDat), ToPath(DifferenceArgument(run)),
                                           ToPath(output.Argument), [&report](double fraction) {
                                               if (report)
                                                   report(fraction);
                                           });
    } catch (const TSystemError& error) {
        start_failure = QString::fromStdString(error.Reason());
    }
    return nullptr;
}

} // namespace

void PatchPackDat(TRunContext& run, const TPackDatPlan& plan) {
    TTools::TReport report; // the bar's mapping, known once the difference stage begins
    std::unique_ptr<TToolTask> xdelta;
    QString start_failure;
    TXdeltaOutput output = plan.Early;
    if (!output.Argument.isEmpty())
        xdelta = StartXdelta(run, plan, output, report, start_failure);
    try {
        if (!run.Job.OriginalPackDatMD5.isEmpty())
            CheckDigest(run, run.Job.OriginalPackDatMD5, true, plan.PackDatDigest);
        if (!run.Job.OriginalPackIncMD5.isEmpty())
            CheckDigest(run, run.Job.OriginalPackIncMD5, false,
                        TDigestSource::File(QStringLiteral("tools/temp/romfs/pack.inc")));
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

    if (!plan.Start && !QFile::remove(run.Paths.OldPackDat))
        run.Fail("ErrorDeleteTempFile");
}

void PatchPackDatInTemp(TRunContext& run) {
    // The game's pack.dat moves aside as xdelta3's source, and the new one takes its place.
    // Should it not move, the digests are still taken from it and the move's failure is
    // reported after them, where it always was.
    const QString pack_dat = run.Paths.RomFs + QStringLiteral("/pack.dat");
    const bool moved = QFile::rename(pack_dat, run.Paths.OldPackDat);
    TPackDatPlan plan;
    plan.PackDatDigest =
        TDigestSource::File(moved ? kOldPackDat : QStringLiteral("tools/temp/romfs/pack.dat"));
    if (moved)
        plan.Early = {QStringLiteral("tools/temp/romfs/pack.dat"), pack_dat};
    else
        plan.BeforeMark = [&run] { run.Fail("ErrorMovingPackDat"); };
    plan.Abandon = [&run, pack_dat](bool started, const TXdeltaOutput&) {
        if (!started)
            return;
        QFile::remove(pack_dat);
        QFile::rename(run.Paths.OldPackDat, pack_dat);
    };
    PatchPackDat(run, plan);
}
