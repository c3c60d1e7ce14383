#pragma once
// The pack.dat stage: the digest tests, then the patch's difference applied by xdelta3 to the
// game's pack.dat. xdelta3 may start before the digests are taken (both read the same bytes
// at once), but everything the run shows stays in the order of one stage after the other,
// and nothing it wrote is kept unless the digests matched.

#include "engine/DigestStage.h"
#include "engine/Tools.h"

#include <filesystem>
#include <functional>
#include <memory>

namespace engine {

class TRunContext;

/// Where xdelta3 writes the new pack.dat: its argument (relative to the program folder, or
/// absolute) and the file itself.
struct TXdeltaOutput {
    std::filesystem::path Argument;
    std::filesystem::path File;
};

/// How one output takes the new pack.dat. xdelta3 always reads tools/temp/old_pack.dat,
/// which the stage deletes at its end.
struct TPackDatPlan {
    /// Where the game's pack.dat digest comes from.
    TDigestSource PackDatDigest;
    /// xdelta3's output when it starts beside the digests; empty: it starts after them.
    TXdeltaOutput Early;
    /// After the digests matched, before the progress mark: may end the run.
    std::function<void()> BeforeMark;
    /// After the mark: may end the run.
    std::function<void()> AfterMark;
    /// xdelta3's output when it starts after the digests.
    std::function<TXdeltaOutput()> Late;
    /// The stage ended early (a mismatch, a cancel): `started` tells whether xdelta3 ran;
    /// it is stopped already.
    std::function<void(bool started, const TXdeltaOutput& output)> Abandon;
    /// Starts the difference into `output` instead of xdelta3 on tools/temp/old_pack.dat
    /// (a source read in place); may throw TSystemError as a tool that cannot start.
    std::function<std::unique_ptr<TToolTask>(const TXdeltaOutput& output,
                                             const TTools::TReport& report)>
        Start;
    /// xdelta3 succeeded: its output is put where it belongs (may end the run).
    std::function<void(const TXdeltaOutput& output)> Place;
};

/// The pack.dat stage of a run (progress 45 to 65).
void PatchPackDat(TRunContext& run, const TPackDatPlan& plan);

/// The pack.dat stage of an image output: the new pack.dat replaces the game's in
/// tools/temp/romfs.
void PatchPackDatInTemp(TRunContext& run);

/// True when `text` (UTF-8) holds only printable ASCII: xdelta3 takes its file names in the
/// system's code page on Windows, which cannot spell every other name.
bool PlainAsciiText(std::string_view text);

} // namespace engine
