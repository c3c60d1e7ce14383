#pragma once
// The mod folder run without Qt, for the browser: the game's few files read out of the image
// (through its decompression or decryption), pack.dat's digests checked, the difference
// applied as the image is read, the patch's own files, the sound archive with the chosen
// voices, the plan and the marker, all streamed into a sink (an archive, or a folder). Only the
// sound archive's step has a work folder, in the temporary folder (in memory in the browser). The
// files and their bytes are those of the desktop's mod folder run for the same image and patch.

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

/// A folder on the disk: each file appears whole under its name (tests, tools, the desktop's
/// folder being written).
class TFolderSink : public TModSink {
public:
    /// Unless `forced`, the files are not forced to the disk: for a folder that is read back
    /// and moved into place, or removed, by its writer.
    explicit TFolderSink(std::filesystem::path root, bool forced = true);
    ~TFolderSink() override;
    void Begin(const std::string& path, std::optional<std::uint64_t> size) override;
    void Write(std::span<const std::uint8_t> bytes) override;
    void End() override;
    void Finish() override {}

private:
    struct TState;
    std::filesystem::path m_root;
    bool m_forced = true;
    std::unique_ptr<TState> m_state;
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

/// Runs the mod folder of `job` into `sink`; the sink is finished only on success. Throws
/// nothing: every end is in the result.
TModFolderResult RunModFolder(const TModFolderJob& job, TModSink& sink, const TModFolderHost& host);

} // namespace engine
