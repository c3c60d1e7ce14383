#pragma once
// The patch catalogue for the window and the command line: engine/PatchCatalogue.h scans the
// patch folders and reads their description files; here QString, the locale, and the output
// choices of the save dialog.

#include "desktop/Language.h"
#include "engine/PatchDescription.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

/// One entry of the patch list: its title and version and the description file they were
/// read from.
struct TPatchEntry {
    QString Title;
    QString DescriptionPath;
    QString Version;
};

/// The text of an entry in the patch box: the title, and the version beside it when the
/// description names one ("Title (1.2)").
QString PatchEntryText(const TPatchEntry& entry);

/// The values of a description file that the window uses; a missing key gives "".
struct TPatchDescription {
    QString Region;
    QString Title;
    QString Description;
    QString OriginalPackDatMD5;
    QString OriginalPackIncMD5;
    // The digests of the game the patch leaves behind; optional, written only when known.
    QString PatchedPackDatMD5;
    QString PatchedPackIncMD5;
    // What a group says of its release; all optional.
    QString Version; // free text, "1.2" or "1.0 beta"
    QString Authors;
    QString Homepage;
    QString ReleaseDate;           // an ISO date, 2024-05-01
    QString MinimumProgramVersion; // the oldest program that installs the patch, "0.7.0"
};

/// The same values as the engine holds them.
engine::TDescriptionFields EngineDescription(const TPatchDescription& description);
TPatchDescription FromEngineDescription(const engine::TDescriptionFields& fields);

/// Reads a description file; nothing when it cannot be read.
std::optional<TPatchDescription> ReadPatchDescription(const QString& path);

/// The text of a description file in the form the patch folders use: one "Key = value" line
/// per field, Title and Description quoted (a quote inside doubled), CR LF line ends, also
/// between the lines of a multi-line Description. ReadPatchDescription gives the fields back.
QString PatchDescriptionText(const TPatchDescription& description);

/// Writes PatchDescriptionText as UTF-8 with a byte-order mark; false when it cannot be written.
bool WritePatchDescription(const QString& path, const TPatchDescription& description);

/// The text of the description pane for a patch: its Description, then a line for each of
/// Version, Authors, Homepage and ReleaseDate that the description gives, each after its label.
QString PatchPaneText(const TPatchDescription& description, const TLanguageTable& texts);

/// The program's own version ("0.7.1").
QString ProgramVersion();

/// Whether this program may install a patch (engine::ProgramVersionProblemKey): empty when it
/// may, else the text of the reason with both versions filled in.
QString ProgramVersionProblem(const TPatchDescription& description, const TLanguageTable& texts);

/// Names of the visible entries of `folder` that are folders (`folders` true) or files
/// ending in `extension` (letter case ignored), sorted without regard to case.
QStringList ListPatchEntries(const QString& folder, bool folders, const QString& extension);

/// The description file of a folder: `language` + extension (case ignored) when present,
/// else the first of `files` (sorted names); empty when `files` is empty.
QString ChooseDescriptionFile(const QStringList& files, const QString& language,
                              const QString& extension);

/// Scans `folder` as the patch list is filled: each direct subfolder in name order (when
/// `recurse`), then the folder itself. A folder gives at most one entry, read from its chosen
/// description file, when that file can be read and its Region is `region` or empty.
std::vector<TPatchEntry> ScanPatchFolders(const QString& folder, bool recurse,
                                          const QString& extension, const QString& language,
                                          const QString& region);

/// The folder of a description file path (no trailing separator).
QString PatchFolderOf(const QString& description_path);

/// What a patch folder offers: a `voice` folder and a `patch.xdelta` file (names matched
/// without regard to case).
bool PatchHasVoiceFolder(const QString& patch_folder);
bool PatchHasXdelta(const QString& patch_folder);

/// Filter of the output save dialog for a source kind: one entry per output form the source
/// can give (OutputFormsFor), each described by its language text.
QString OutputFilter(const QString& source_kind, const TLanguageTable& texts);
/// The output kind of entry `index` (1-based) of such a filter, taken from its pattern: the
/// kind of the output form with that pattern; empty for no entry.
QString OutputKindOfFilter(const QString& filter, int index);

/// The text shown for the output: the path itself when its extension is that of an image
/// output form (".cxi", ".cia", ".3ds", ".zcci", ..., compared exactly), else the path
/// followed by the output kind.
QString OutputDisplayText(const QString& output_path, const QString& output_kind);
