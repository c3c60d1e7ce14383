#pragma once
// The mod folder output: only the files a patch changes, laid out as the console firmware's
// game patching and the emulator's mods folder load them in place of the game's own. The run
// is a list of stages over the run context: read, the shared patch stages, plan, write,
// verify, move.

#include "core/OutputForms.h" // the mod folder kind

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace ctr {
class TDecryptingReader;
}
class TRunContext;

/// `parent`/`name` when nothing lies there yet, else `parent`/`name` 2, 3, ... with the first
/// free number (a space before the number).
QString UnusedFolderPath(const QString& parent, const QString& name);

/// The game's RomFS paths by their upper-case form: names in patch folders match regardless
/// of letter case, and the mod folder takes the game's spelling.
QHash<QString, QString> GameSpellings(const QStringList& game_files);

/// One file of the mod folder: where its bytes are now and its path inside the folder.
struct TModFile {
    QString From;
    QString To;
    bool operator==(const TModFile&) const = default;
};

/// What the plan of a mod folder is made from.
struct TModPlanInput {
    QString RomFs;           // the folder holding the run's RomFS files
    QStringList RomFsFiles;  // the files below it, '/'-separated, as FilesBelow lists them
    QStringList GameFiles;   // the game's RomFS files, as the game spells them
    QSet<QString> Unchanged; // of RomFsFiles: those that hold the game's own bytes
    QString ChangedCode;     // the code.bin to take when the patch changed the code, else empty
    std::vector<TModFile> ExeFsFiles; // the banner and icon the patch brings
};

/// What goes into a mod folder.
struct TModPlan {
    std::vector<TModFile> Files;
    QStringList NewFiles; // RomFS files the game lacks, as the patch spells them
    bool BannerOrIcon = false;
};

/// The plan: each RomFS file whose bytes differ from the game's under the game's spelling,
/// each file the game lacks under the patch's, the changed code, then the banner and icon.
TModPlan PlanModFolder(const TModPlanInput& input);

/// The run for a mod folder, from the image's few files to the folder moved into place.
/// `decrypting` reads an encrypted source (null for a plain one). Ends the run
/// (TRunEnded) in every case.
[[noreturn]] void RunModFolderPipeline(TRunContext& run, const QString& source_kind,
                                       std::unique_ptr<ctr::TDecryptingReader> decrypting);
