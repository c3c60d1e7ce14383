#pragma once
// The install job: what one installation run needs, and the values derived from it.

#include "engine/InstallJob.h"
#include "engine/OutputForms.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class TLanguageTable;
class TTrackList;

/// Everything a run needs, complete before it starts: the run reads nothing back from the one
/// who started it.
struct TInstallJob {
    QString ProgramFolder;      // with a trailing '/'; tools run here, relative paths resolve here
    QString SourcePath;         // the source image
    QString OutputPath;         // as the save dialog returned it
    QString OutputKind;         // an output form's kind: ".cia", ".cxi", ".3ds", ".zcci", ...
    QString OriginalPackDatMD5; // expected digests; empty when the patch names none
    QString OriginalPackIncMD5;
    const TLanguageTable* LanguageTable = nullptr; // the caller's; copied as the run starts
    QString PatchFolder;       // the selected patch's folder with a trailing '/'; empty for "None"
    QString PatchDescription;  // the selected patch's description file; empty for "None"
    bool NoXdelta = false;     // no patch.xdelta in the patch folder, or "None" selected
    bool NoPatch = false;      // "None" selected
    int Voice = 0;             // the voice: 0 English, 1 Japanese modified, 2 Japanese original
    bool NoVoiceChoice = true; // the selected patch offers no voice choice
    /// The music assignment as chosen (a copy); null for none.
    std::shared_ptr<const TTrackList> Tracks;
};

/// The same job for the engine: paths and texts converted, the language table and the music
/// assignment shared with this one (which must outlive it).
engine::TInstallJob EngineJob(const TInstallJob& job);

/// The language key of why `job` must not run for a source of `source_kind`, decided before
/// anything is written (engine::JobRefusalKey); empty when it may run.
QString JobRefusalKey(const TInstallJob& job, const QString& source_kind);

/// The folder of the patch entry `index` of `patch_list` (description files, entry 0 "None")
/// with a trailing '/', as a job carries it; empty for "None" or an index out of the list.
QString SelectedPatchFolder(const QStringList& patch_list, int index);

/// `output_path` with a final compressed form's extension (".zcia", ".zcxi", ".zcci"), then a
/// final ".cxi" and then a final ".cia" removed from its file name (letter case ignored), and
/// with `strip_3ds` also a final ".cci" and ".3ds". Folders stay as they are.
QString OutputBase(const QString& output_path, bool strip_3ds);

/// True when `output_file` is the file `source_path` itself (after following links, or a
/// hard link of it). Writing the output there would destroy the source while it is read.
bool OutputIsSource(const QString& source_path, const QString& output_file);

/// Reads back a written image of the output kind `kind` (engine::CheckOutputImage, with the
/// keys of KeySearch()). An empty text when all hold, else what failed. The check gives up when
/// `stop` becomes true (the window is closing); `report` hears how far it has come, 0 to 1. Tests
/// may replace it with SetOutputCheck.
QString CheckOutputImage(const QString& image, const QString& kind, const TLanguageTable& texts,
                         const std::atomic<bool>* stop = nullptr,
                         const std::function<void(double)>& report = {});
using TOutputCheck =
    std::function<QString(const QString& image, const QString& kind, const TLanguageTable& texts)>;
/// Replaces the output check (an empty function restores the real one).
void SetOutputCheck(TOutputCheck check);

/// Bytes a run needs on disk: the temporary files of the source kind plus the output.
using engine::TSpaceNeed;
/// engine::EstimateSpaceNeed with the kinds as QString: `source_size` counts the image's content
/// (SourceContentSize), a mod folder run needs room for about `pack_dat_size` twice under
/// tools/temp and once in the output, an `encrypted` source is decrypted into tools/temp first.
TSpaceNeed EstimateSpaceNeed(const QString& source_kind, const QString& output_kind,
                             std::int64_t source_size, std::int64_t pack_dat_size = 0,
                             bool encrypted = false);
/// Free bytes on the file system holding `path` (or its nearest existing parent); -1 when
/// unknown. Tests replace the query with SetFreeSpaceQuery.
std::int64_t FreeBytesAt(const QString& path);
using TFreeSpaceQuery = std::function<std::int64_t(const QString& path)>;
/// Replaces the free-space query (an empty function restores the real one).
void SetFreeSpaceQuery(TFreeSpaceQuery query);
/// The device of the file system holding `path` (or its nearest existing parent).
QString FileSystemRootOf(const QString& path);
