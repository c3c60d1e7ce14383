#pragma once
// The install run over a source image: one entry point that every front end's run calls, a
// short list of stage calls from the chosen source to the output read back. The stages before
// the image is taken apart (the disk-space warning, the source's decryption) and after it is
// built again (the read-back and the success entry) live here; the tool stages in
// ImageStages.h, the pack.dat and patch stages in PackDatStage.h and PatchStages.h.

#include "engine/Tools.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace ctr {
class TDecryptingReader;
} // namespace ctr

namespace engine {

class TLanguageTable;
class TRunContext;
struct TKeyPlaces;

/// Reads back a written image of the output kind `kind` (".cia", ".cxi", ".3ds", ".cci" or a
/// compressed form, read through its decompression): its container by content, the
/// container, decryption and region tests of identification (keys from `keys`), every SHA-256
/// of its structures, and the game's sound archive found by name in its RomFS with "CSAR" at
/// its start and "INFO" at its INFO offset. An empty text when all hold, else what failed
/// (UTF-8). Gives up when `stop` becomes true; `report` hears how far it has come, 0 to 1.
std::string CheckOutputImage(const std::filesystem::path& image, std::string_view kind,
                             const TLanguageTable& texts, const TKeyPlaces& keys,
                             const std::atomic<bool>* stop = nullptr,
                             const TTools::TReport& report = {});

/// The output check a run calls, with CheckOutputImage's meaning.
using TOutputCheck =
    std::function<std::string(const std::filesystem::path& image, std::string_view kind,
                              const std::atomic<bool>* stop, const TTools::TReport& report)>;

/// What an install run asks of the system it runs on. Every member may stay empty.
struct TRunPlatform {
    /// Free bytes on the volume holding a path (or its nearest existing parent); -1 when
    /// unknown. Empty: no disk-space warning.
    std::function<std::int64_t(const std::filesystem::path& path)> FreeBytes;
    /// Whether two paths (or their nearest existing parents) lie on one volume. Empty: they do.
    std::function<bool(const std::filesystem::path& a, const std::filesystem::path& b)> SameVolume;
    /// The decimal point of the sizes in the disk-space warning (UTF-8).
    std::string DecimalPoint = ".";
    /// The output read back. Empty: CheckOutputImage with the job's key places.
    TOutputCheck CheckOutput;
    /// A patch's description without a byte order mark is Windows-1251 (else Windows-1252).
    bool RussianLocale = false;
};

/// Warns in the log (and goes on) when the volumes of tools/temp and the output seem to have
/// less room than a run of `source_kind` needs. The estimate is rough: the tools report a full
/// disk themselves.
void WarnOfDiskSpace(TRunContext& run, std::string_view source_kind, const TRunPlatform& platform);

/// What the source's decryption gives the stages after it.
struct TOpenedSource {
    /// A CIA's game content or a card image's header area and partition 0 are written
    /// decrypted where the first source stage would put them.
    bool GameContentDecrypted = false;
    /// A mod folder run's reader through an encrypted source's decryption; null otherwise.
    std::unique_ptr<ctr::TDecryptingReader> Decrypting;

    TOpenedSource();
    TOpenedSource(TOpenedSource&&) noexcept;
    TOpenedSource& operator=(TOpenedSource&&) noexcept;
    ~TOpenedSource();
};

/// An encrypted source of `source_kind` decrypted with the keys the job's key places give
/// (progress up to 5). An image run has only what the source stages take out of the image
/// written decrypted (a CXI whole, as tools/temp/source.cxi, which then stands in for the
/// source); a mod folder run reads the source through its decryption instead. A plain source
/// is left as it is.
TOpenedSource DecryptSource(TRunContext& run, std::string_view source_kind);

/// The written image read back (progress up to 100), then the success entry with the output's
/// path and the end of the run.
[[noreturn]] void FinishImage(TRunContext& run, const TRunPlatform& platform);

/// The whole install run of a source of `source_kind` (".cia", ".3ds" or ".cxi") into the
/// job's output: the image stages, or the mod folder stages for a mod folder output. Sets the
/// run's output file. Throws nothing; the run ends with exactly one finish request (RunStages).
void RunInstall(TRunContext& run, std::string_view source_kind, const TRunPlatform& platform);

} // namespace engine
