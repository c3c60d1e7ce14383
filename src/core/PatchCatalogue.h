#pragma once
// The patch catalogue: patch folders beside the program, their description files, and the
// output choices of the save dialog.

#include "core/Language.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

/// One entry of the patch list: its title and the description file it was read from.
struct TPatchEntry {
    QString Title;
    QString DescriptionPath;
};

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
};

/// Reads a description file; nothing when it cannot be read.
std::optional<TPatchDescription> ReadPatchDescription(const QString& path);

/// The text of a description file in the form the patch folders use: one "Key = value" line
/// per field, Title and Description quoted (a quote inside doubled), CR LF line ends, also
/// between the lines of a multi-line Description. ReadPatchDescription gives the fields back.
QString PatchDescriptionText(const TPatchDescription& description);

/// Writes PatchDescriptionText as UTF-8 with a byte-order mark; false when it cannot be written.
bool WritePatchDescription(const QString& path, const TPatchDescription& description);

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
