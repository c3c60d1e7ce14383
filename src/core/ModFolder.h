#pragma once
// The mod folder output: only the files a patch changes, laid out as the console firmware's
// game patching and the emulator's mods folder load them in place of the game's own. The run
// is a list of stages over the run context: read, the shared patch stages, plan, write,
// verify, move. The game's reading, the plan and the writing with its marker are the engine's
// steps (engine/ModFolderSteps.h), which the browser's run takes too; the desktop keeps its
// work folder, the pack.dat stage it shares with the image run, the folder being written
// beside the final one, its verification and the move into place.

#include "core/OutputForms.h" // the mod folder kind
#include "engine/ModFolderPlan.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace ctr {
class TDecryptingReader;
}
class TRunContext;
class TLanguageTable;

/// `parent`/`name` when nothing lies there yet, else `parent`/`name` 2, 3, ... with the first
/// free number (a space before the number).
QString UnusedFolderPath(const QString& parent, const QString& name);

using engine::kModMarkerName;

/// One file of a written mod folder as its marker names it.
struct TModMarkerFile {
    QString Path; // '/'-separated, relative to the folder
    qint64 Size = 0;
    QString MD5; // 32 upper-case hexadecimal digits
    bool operator==(const TModMarkerFile&) const = default;
};

/// What the marker of a mod folder holds.
struct TModMarker {
    QString TitleId;
    QString Patch;        // the patch's title; empty for "None"
    QString PatchVersion; // as its description gives it; may be empty
    QString ProgramVersion;
    std::vector<TModMarkerFile> Files;
    bool operator==(const TModMarker&) const = default;
};

/// The marker as a UTF-8 JSON object (engine::ModMarkerText).
QByteArray ModMarkerText(const TModMarker& marker);
/// The marker read back; nothing for a text that is not a marker of this program.
std::optional<TModMarker> ParseModMarker(const QByteArray& text);
/// The marker of `folder` as its file holds it; nothing when there is none or it is unreadable.
std::optional<TModMarker> ReadModMarker(const QString& folder);

/// The files below `folder` that the program did not write, in name order: every file when
/// the folder has no marker, else the files the marker does not name and those whose size or
/// digest changed since. The marker itself and files it names that are gone do not count.
QStringList ForeignModFiles(const QString& folder);

/// What removing a mod folder found or did.
struct TModRemoval {
    enum class TOutcome {
        Ready,    // the check found a folder the program wrote (nothing done yet)
        Removed,  // it was removed and the earlier folder, if any, brought back
        NotFound, // no game folder in the destination (or not the one asked for)
        Several,  // several game folders and none named: Candidates lists them
        Foreign,  // the folder holds files the program did not write: Files lists them
        Failed,   // the folder could not be moved or removed: Problem says where
    };
    TOutcome Outcome = TOutcome::NotFound;
    QString Folder;   // the game's folder
    QString Previous; // the earlier folder that comes back (or came back); empty when none
    std::optional<TModMarker> Marker;
    QStringList Files;      // the files the program did not write
    QStringList Candidates; // folder names, for Several
    QString Problem;
};

/// Looks at the folder of the game `title_id` (16 hexadecimal digits; empty: the one game
/// folder in `output`) and says whether it can be removed. Changes nothing.
TModRemoval CheckModRemoval(const QString& output, const QString& title_id);

/// Removes the folder CheckModRemoval finds ready and brings back the latest
/// "<TitleID> (previous)" folder under the game's name. Anything else changes nothing.
TModRemoval RemoveModFolder(const QString& output, const QString& title_id);

/// The log or console text for a removal's outcome (the question's text for Ready); a list of
/// files is cut after `file_limit` of them (0: never), for a message box.
QString ModRemovalText(const TModRemoval& removal, const TLanguageTable& texts, int file_limit = 0);

/// `files` in native form, one a line; after `limit` of them (0: no limit) a line saying how
/// many more there are.
QString FileListText(const QStringList& files, int limit, const TLanguageTable& texts);

/// The run for a mod folder, from the image's few files to the folder moved into place.
/// `decrypting` reads an encrypted source (null for a plain one). Ends the run
/// (TRunEnded) in every case.
[[noreturn]] void RunModFolderPipeline(TRunContext& run, const QString& source_kind,
                                       std::unique_ptr<ctr::TDecryptingReader> decrypting);
