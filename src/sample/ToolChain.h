#pragma once
// The installer's tool chain without the window and without the sound archive step: the
// same tool command lines in the same order, run in a program folder with tools/temp as
// the work folder, with the installer's own digest and folder copy. Tests run it on sample
// images; the chain benchmark times each stage.

#include <QString>

#include <vector>

namespace sample {

struct TChainJob {
    QString ProgramFolder; // holds tools/{ctrtool,3dstool,makerom,xdelta}
    QString SourcePath;    // kind by its extension: .cia, .cxi or .3ds
    QString OutputBase;    // output path without extension
    QString OutputKind;    // ".cia", ".cxi" or ".3ds" (the last only for a .3ds source)
    QString PatchFolder;   // empty: no patch
    QString PackDatMD5;    // expected digests; empty: not checked
    QString PackIncMD5;
    bool KeepTemp = false; // leave tools/temp behind (for inspection)
};

struct TStageTime {
    QString Name;
    double Seconds;    // wall-clock time
    double CpuSeconds; // user + system time of this process and the tools it ran
};

/// Runs the chain; returns the output file's path. Throws TSampleError naming the stage
/// that failed (tool exit code other than 0, digest mismatch, file operation).
QString RunToolChain(const TChainJob& job, std::vector<TStageTime>* times = nullptr);

} // namespace sample
