#pragma once
// The install job without Qt: what one installation run needs, complete before it starts, and
// the decisions taken from it alone (the output's file, a refusal before the run).

#include "engine/KeyFiles.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace engine {

class TLanguageTable;
class TTrackList;

/// Everything a run needs, complete before it starts: the run reads nothing back from the one
/// who started it.
struct TInstallJob {
    std::filesystem::path ProgramFolder; // tools run here, relative paths resolve here
    std::filesystem::path SourcePath;    // the source image
    std::filesystem::path OutputPath;    // as the save dialog returned it
    std::string OutputKind;              // an output form's kind: ".cia", ".zcci", "mods", ...
    std::string OriginalPackDatMD5;      // expected digests; empty when the patch names none
    std::string OriginalPackIncMD5;
    const TLanguageTable* LanguageTable = nullptr; // the caller's; copied as the run starts
    std::filesystem::path PatchFolder;             // the selected patch's folder; empty for "None"
    std::filesystem::path PatchDescription;        // its description file; empty for "None"
    bool NoXdelta = false;     // no patch.xdelta in the patch folder, or "None" selected
    bool NoPatch = false;      // "None" selected
    int Voice = 0;             // the voice: 0 English, 1 Japanese modified, 2 Japanese original
    bool NoVoiceChoice = true; // the selected patch offers no voice choice
    /// The music assignment as chosen; null for none.
    std::shared_ptr<const TTrackList> Tracks;
    /// Where the keys of an encrypted source are looked for (only once it shows itself so).
    TKeyPlaces KeyPlaces;
};

/// `output_path` with a final compressed form's extension (".zcia", ".zcxi", ".zcci"), then a
/// final ".cxi" and then a final ".cia" removed from its file name (letter case ignored), and
/// with `strip_3ds` also a final ".cci" and ".3ds". Folders stay as they are.
std::filesystem::path OutputBase(const std::filesystem::path& output_path, bool strip_3ds);

/// The file a run over `job` writes for a source of `source_kind`: the output path without the
/// extensions of any form (a card image source's too) and with the job's kind.
std::filesystem::path OutputFile(const TInstallJob& job, std::string_view source_kind);

/// True when `output_file` is the file `source_path` itself (after following links, or a
/// hard link of it). Writing the output there would destroy the source while it is read.
bool OutputIsSource(const std::filesystem::path& source_path,
                    const std::filesystem::path& output_file);

/// The language key of why `job` must not run for a source of `source_kind`, decided before
/// anything is written; empty when it may run. An image output that is the source itself
/// gives "ErrorOutputIsSource".
std::string_view JobRefusalKey(const TInstallJob& job, std::string_view source_kind);

} // namespace engine
