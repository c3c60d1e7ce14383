#include "engine/CardImageRun.h"

#include "ctr/ExeFs.h"
#include "ctr/Ncsd.h"
#include "ctr/RomFs.h"
#include "engine/ModFolderSteps.h"

#include <algorithm>
#include <stdexcept>

namespace engine {

namespace {

// The largest file of the patch's ExeFS folder taken in.
constexpr std::uint64_t kMaxExeFsFile = 256u << 20;

// The steps write nothing to a sink here: the patched pack.dat goes to the job's scratch file.
class TNoSink : public TModSink {
public:
    void Begin(const std::string& path, std::optional<std::uint64_t>) override {
        throw std::logic_error("the card image run writes no file " + path);
    }
    void Write(std::span<const std::uint8_t>) override {}
    void End() override {}
    void Finish() override {}
};

class TCardRun {
public:
    TCardRun(const TCardImageJob& job, const TModFolderHost& host)
        : m_job(job), m_steps(job, m_no_sink, host) {}

    std::uint64_t Run(const ctr::TWriteAt& write_at);
    steps::TRun& Steps() { return m_steps; }

private:
    std::vector<std::uint8_t> RebuildExeFs(const std::vector<std::uint8_t>& exefs);

    const TCardImageJob& m_job;
    TNoSink m_no_sink;
    steps::TRun m_steps;
};

// The ExeFS as the desktop rebuilds it: each entry from the game's, the code decompressed,
// unless the patch's exefs folder has a file of the entry's name; the code compressed again.
std::vector<std::uint8_t> TCardRun::RebuildExeFs(const std::vector<std::uint8_t>& exefs) {
    const auto patch_exefs = m_steps.PatchFilesIn("exefs");
    return ctr::BuildExeFs(
        std::span(exefs).first(ctr::ExeFsHeaderSize),
        [&](int index, const std::string& name) {
            const std::u16string key = SpellingKey(ctr::ExeFsFolderName(index, name));
            for (const auto& [path, file] : patch_exefs) {
                if (SpellingKey(path) == key)
                    return ctr::ReadSmallFile(file->Where, kMaxExeFsFile, "the patch's ExeFS file");
            }
            return ctr::ExeFsFile(exefs, index, true);
        },
        true);
}

// Read as the mod folder run reads (progress to 80), then the ExeFS (85), the RomFS, the CXI
// and the card image as they are written (to 100).
std::uint64_t TCardRun::Run(const ctr::TWriteAt& write_at) {
    if (m_job.Kind != ctr::TImageKind::Cci)
        m_steps.Fail("ErrorExtractingNCCH", "the image is not a card image");
    if (m_job.PackDatScratch == nullptr)
        m_steps.Fail("ErrorApplyingXdelta", "no place for the patched pack.dat");
    m_steps.SendPackDatTo(m_job.PackDatScratch);
    m_steps.ReadDescription();
    m_steps.ReadGame();
    ctr::TCardParts parts;
    try {
        m_steps.Log("ExtractingNCCH");
        parts = ctr::ReadCardParts(m_steps.Image());
    } catch (const std::exception& error) {
        m_steps.Fail("ErrorExtractingNCCH", error.what());
    }
    m_steps.Progress(45, "ExtractingModFiles");
    m_steps.NotePatchPackDat();
    m_steps.PatchPackDat();
    m_steps.CollectRomFs(true);
    m_steps.ApplySound();

    m_steps.Log("RebuildingExeFS");
    if (!parts.Cxi.ExeFs.empty()) {
        try {
            parts.Cxi.ExeFs = RebuildExeFs(parts.Cxi.ExeFs);
        } catch (const ctr::TCtrError& error) {
            m_steps.Fail("ErrorRebuildingExeFS", error.what());
        }
    }
    m_steps.Progress(85, "RebuildingExeFS");

    ctr::TInFile& image = m_steps.Image();
    std::vector<ctr::TRomFsEntry> entries;
    std::uint64_t total = parts.Cxi.ExeFs.size();
    for (const auto& [path, source] : m_steps.RomFs()) {
        if (source.Patch != nullptr) {
            // Opened by path, as the browser serves the patch's files and the scratch file.
            const std::filesystem::path where = source.Patch->Where;
            std::uint64_t size = 0;
            try {
                size = ctr::TInFile(where).Size();
            } catch (const ctr::TCtrError& error) {
                m_steps.Fail("ErrorRebuildingRomFS", source.Patch->Path + ": " + error.what());
            }
            entries.push_back(
                {path, size, [where] { return std::make_unique<ctr::TInFile>(where); }});
        } else {
            const ctr::TImageFileLocation location = source.Game->Location;
            entries.push_back({path, location.Size, [&image, location] {
                                   return ctr::OpenRange(image, location.Offset, location.Size);
                               }});
        }
        total += entries.back().Size;
    }

    // The bytes written tell how far the build is; the host may stop it at any write.
    std::uint64_t done = 0;
    const ctr::TWriteAt metered = [&](std::uint64_t offset, std::span<const std::uint8_t> bytes) {
        write_at(offset, bytes);
        done += bytes.size();
        const double part = total == 0 ? 1 : std::min(1.0, double(done) / double(total));
        m_steps.Progress(85 + 14 * part, "Rebuilding3DS");
    };
    parts.Cxi.RomFs = [&](const ctr::TWriteAt& at) {
        m_steps.Log("RebuildingRomFS");
        try {
            return ctr::BuildRomFs(entries, at);
        } catch (const ctr::TCtrError& error) {
            m_steps.Fail("ErrorRebuildingRomFS", error.what());
        }
    };
    std::uint64_t size = 0;
    try {
        size = ctr::BuildNcsd(
            parts.HeaderArea,
            [&](const ctr::TWriteAt& at) {
                try {
                    const std::uint64_t written = ctr::BuildCxi(parts.Cxi, at);
                    m_steps.Log("RebuildingCXI");
                    m_steps.Log("Rebuilding3DS");
                    return written;
                } catch (const ctr::TCtrError& error) {
                    m_steps.Fail("ErrorRebuildingCXI", error.what());
                }
            },
            metered, true);
    } catch (const ctr::TCtrError& error) {
        m_steps.Fail("ErrorRebuilding3DS", error.what());
    }
    // Frames of a compressed image read in part are checked to their ends only now.
    try {
        image.ConfirmReads();
    } catch (const ctr::TCtrError& error) {
        m_steps.Fail("ErrorExtractingRomFS", error.what());
    }
    m_steps.Progress(100, "PatchingSuccessful");
    return size;
}

} // namespace

TCardImageResult RunCardImage(const TCardImageJob& job, const ctr::TWriteAt& write_at,
                              const TModFolderHost& host) {
    TCardRun run(job, host);
    TCardImageResult result;
    try {
        result.Size = run.Run(write_at);
        result.Succeeded = true;
    } catch (const steps::TRunEnd& end) {
        result.Cancelled = end.Cancelled;
        result.ErrorKey = end.Key;
        result.Detail = end.Detail;
    } catch (const std::exception& error) {
        // A read or a write that failed outside a stage's own checks.
        result.ErrorKey = "ErrorRebuilding3DS";
        result.Detail = error.what();
    }
    if (job.PackDatScratch != nullptr)
        job.PackDatScratch->Remove();
    result.TitleId = run.Steps().TitleId();
    return result;
}

} // namespace engine
