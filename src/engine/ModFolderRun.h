#pragma once
// The mod folder run without Qt, for the browser: the game's few files read out of the image
// (through its decompression or decryption), pack.dat's digests checked, the difference
// applied as the image is read, the patch's own files, the sound archive with the chosen
// voices, the plan and the marker, all streamed into a sink (an archive, or a folder). Only the
// sound archive's step has a work folder, in the temporary folder (in memory in the browser). The
// files and their bytes are those of the desktop's mod folder run for the same image and patch.

#include "engine/ModFolderJob.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace engine {

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

/// Runs the mod folder of `job` into `sink`; the sink is finished only on success. Throws
/// nothing: every end is in the result.
TModFolderResult RunModFolder(const TModFolderJob& job, TModSink& sink, const TModFolderHost& host);

} // namespace engine
