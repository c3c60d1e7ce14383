#pragma once
// What a mod folder run (and the card image run built on its steps) is given and gives back:
// the job, known whole before the run starts, the sink it writes into, the host that hears
// how it goes, and how it ended.

#include "ctr/Keys.h"
#include "ctr/Verify.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace engine {

class TTrackList;

/// Where a mod folder run writes: one file after another, each whole before the next.
class TModSink {
public:
    virtual ~TModSink() = default;
    /// Starts the file at `path` ('/'-separated, "<TitleID>/romfs/..."); `size` when known.
    virtual void Begin(const std::string& path, std::optional<std::uint64_t> size) = 0;
    virtual void Write(std::span<const std::uint8_t> bytes) = 0;
    /// The file is whole.
    virtual void End() = 0;
    /// Every file is written: what the sink holds is complete.
    virtual void Finish() = 0;
};

/// One file of a patch folder, by its path inside the folder as the patch spells it.
struct TPatchFile {
    std::string Path;            // '/'-separated
    std::filesystem::path Where; // where it is read (a served file in the browser)
};

/// The files below `folder`, as a patch list for the run.
std::vector<TPatchFile> PatchFilesBelow(const std::filesystem::path& folder);

/// Everything a mod folder run needs, known before it starts.
struct TModFolderJob {
    std::filesystem::path Source; // the image; a compressed one is read by frames
    ctr::TImageKind Kind = ctr::TImageKind::Cia;
    const ctr::TCryptoKeys* Keys = nullptr; // set for an encrypted image
    std::vector<TPatchFile> Patch;          // empty: the game's files only
    std::string Description;    // the patch's description file among Patch ("English.dsc")
    bool RussianLocale = false; // how a description without a byte order mark is decoded
    // The digests taken when the image was chosen (upper-case hexadecimal), spare a read.
    std::string KnownPackDatMD5;
    std::string KnownPackIncMD5;
    std::string ProgramVersion; // for the marker
    int Voice = 0;              // when the patch offers voices: 0 ENG, 1 JAP MOD, 2 JAP ORIG
    const TTrackList* Tracks = nullptr; // the music assignment, written when changed; null: none
};

/// What the run tells its host as it goes.
struct TModFolderHost {
    /// A log entry by its language key, with a text of its own after it (may be empty).
    std::function<void(const std::string& key, const std::string& detail)> Log;
    /// How far the run is (0 to 1) and the key of its stage; false asks it to stop.
    std::function<bool(double fraction, const std::string& stage)> Progress;
};

/// How the run ended.
struct TModFolderResult {
    bool Succeeded = false;
    bool Cancelled = false;
    std::string ErrorKey; // the language key of the failure
    std::string Detail;   // what failed, in English (a file, a reason)
    std::string TitleId;  // 16 upper-case hexadecimal digits, once known
};

} // namespace engine
