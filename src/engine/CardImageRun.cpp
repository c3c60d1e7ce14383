#include "engine/CardImageRun.h"

#include "ctr/Cia.h"
#include "ctr/ExeFs.h"
#include "ctr/Ncsd.h"
#include "ctr/RomFs.h"
#include "ctr/Verify.h"
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

class TImageRun {
public:
    TImageRun(const TCardImageJob& job, const TModFolderHost& host)
        : m_job(job), m_steps(job, m_no_sink, host) {}

    std::uint64_t RunCard(const ctr::TWriteAt& write_at);
    std::uint64_t RunCia(const ctr::TWriteAt& write_at, const ctr::TInFile::TReadSource& read_back);
    steps::TRun& Steps() { return m_steps; }

private:
    void Prepare(ctr::TCardParts* card);
    std::vector<std::uint8_t> RebuildExeFs(const std::vector<std::uint8_t>& exefs);
    ctr::TWriteAt Metered(const ctr::TWriteAt& write_at, const char* stage);
    std::uint64_t WriteCxi(const ctr::TWriteAt& at, const char* next_stage);
    void ConfirmReads();

    const TCardImageJob& m_job;
    TNoSink m_no_sink;
    steps::TRun m_steps;
    ctr::TCxiParts m_cxi;
    std::vector<ctr::TRomFsEntry> m_entries;
    std::uint64_t m_total = 0; // the bytes the output is written from, for its progress
    std::uint64_t m_done = 0;
};

// The ExeFS as the desktop rebuilds it: each entry from the game's, the code decompressed,
// unless the patch's exefs folder has a file of the entry's name; the code compressed again.
std::vector<std::uint8_t> TImageRun::RebuildExeFs(const std::vector<std::uint8_t>& exefs) {
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

// Read as the mod folder run reads (progress to 80), then the ExeFS (85): the CXI's parts,
// its RomFS to be written from the game's files and the patch's. `card` gets a card image's
// parts (the CXI's are the run's); without it the image may be of any kind.
void TImageRun::Prepare(ctr::TCardParts* card) {
    if (m_job.PackDatScratch == nullptr)
        m_steps.Fail("ErrorApplyingXdelta", "no place for the patched pack.dat");
    m_steps.SendPackDatTo(m_job.PackDatScratch);
    m_steps.ReadDescription();
    m_steps.ReadGame();
    const bool cxi_source = m_job.Kind == ctr::TImageKind::Cxi;
    try {
        m_steps.Log(cxi_source ? "ExtractingCXIHeaders" : "ExtractingNCCH");
        if (card != nullptr) {
            *card = ctr::ReadCardParts(m_steps.Image());
            m_cxi = std::move(card->Cxi);
        } else {
            const ctr::TImageNcch where = ctr::LocateImageNcch(m_steps.Image(), m_job.Kind);
            ctr::TNcchHeader ncch;
            m_cxi = ctr::ReadCxiParts(m_steps.Image(), where.Offset, where.Size, ncch);
        }
    } catch (const std::exception& error) {
        m_steps.Fail(cxi_source ? "ErrorExtractingCXIHeaders" : "ErrorExtractingNCCH",
                     error.what());
    }
    m_steps.Progress(45, "ExtractingModFiles");
    m_steps.NotePatchPackDat();
    m_steps.PatchPackDat();
    m_steps.CollectRomFs(true);
    m_steps.ApplySound();

    m_steps.Log("RebuildingExeFS");
    if (!m_cxi.ExeFs.empty()) {
        try {
            m_cxi.ExeFs = RebuildExeFs(m_cxi.ExeFs);
        } catch (const ctr::TCtrError& error) {
            m_steps.Fail("ErrorRebuildingExeFS", error.what());
        }
    }
    m_steps.Progress(85, "RebuildingExeFS");

    ctr::TInFile& image = m_steps.Image();
    m_total = m_cxi.ExeFs.size();
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
            m_entries.push_back(
                {path, size, [where] { return std::make_unique<ctr::TInFile>(where); }});
        } else {
            const ctr::TImageFileLocation location = source.Game->Location;
            m_entries.push_back({path, location.Size, [&image, location] {
                                     return ctr::OpenRange(image, location.Offset, location.Size);
                                 }});
        }
        m_total += m_entries.back().Size;
    }
    m_cxi.RomFs = [this](const ctr::TWriteAt& at) {
        m_steps.Log("RebuildingRomFS");
        try {
            return ctr::BuildRomFs(m_entries, at);
        } catch (const ctr::TCtrError& error) {
            m_steps.Fail("ErrorRebuildingRomFS", error.what());
        }
    };
}

// The bytes written (and read back) tell how far the build is, from 85 to 99; the host may
// stop it at any write.
ctr::TWriteAt TImageRun::Metered(const ctr::TWriteAt& write_at, const char* stage) {
    return [this, &write_at, stage](std::uint64_t offset, std::span<const std::uint8_t> bytes) {
        write_at(offset, bytes);
        m_done += bytes.size();
        const double part = m_total == 0 ? 1 : std::min(1.0, double(m_done) / double(m_total));
        m_steps.Progress(85 + 14 * part, stage);
    };
}

std::uint64_t TImageRun::WriteCxi(const ctr::TWriteAt& at, const char* next_stage) {
    try {
        const std::uint64_t written = ctr::BuildCxi(m_cxi, at);
        m_steps.Log("RebuildingCXI");
        m_steps.Log(next_stage);
        return written;
    } catch (const ctr::TCtrError& error) {
        m_steps.Fail("ErrorRebuildingCXI", error.what());
    }
}

// Frames of a compressed image read in part are checked to their ends only once the output
// is written.
void TImageRun::ConfirmReads() {
    try {
        m_steps.Image().ConfirmReads();
    } catch (const ctr::TCtrError& error) {
        m_steps.Fail("ErrorExtractingRomFS", error.what());
    }
    m_steps.Progress(100, "PatchingSuccessful");
}

// The card image: the RomFS, the CXI and the card image as they are written (to 100).
std::uint64_t TImageRun::RunCard(const ctr::TWriteAt& write_at) {
    if (m_job.Kind != ctr::TImageKind::Cci)
        m_steps.Fail("ErrorExtractingNCCH", "the image is not a card image");
    ctr::TCardParts parts;
    Prepare(&parts);
    const ctr::TWriteAt metered = Metered(write_at, "Rebuilding3DS");
    std::uint64_t size = 0;
    try {
        size = ctr::BuildNcsd(
            parts.HeaderArea,
            [&](const ctr::TWriteAt& at) { return WriteCxi(at, "Rebuilding3DS"); }, metered, true);
    } catch (const ctr::TCtrError& error) {
        m_steps.Fail("ErrorRebuilding3DS", error.what());
    }
    ConfirmReads();
    return size;
}

// The CIA: the RomFS and the CXI as they are written, then the CXI read back for its hash
// (to 100).
std::uint64_t TImageRun::RunCia(const ctr::TWriteAt& write_at,
                                const ctr::TInFile::TReadSource& read_back) {
    Prepare(nullptr);
    m_total *= 2;
    const ctr::TWriteAt metered = Metered(write_at, "RebuildingCIA");
    ctr::TCiaContentSource content;
    content.Write = [&](const ctr::TWriteAt& at) {
        return ctr::TCiaContentWritten{WriteCxi(at, "RebuildingCIA"), std::nullopt};
    };
    const std::uint64_t content_offset = ctr::BuiltCiaContentOffset();
    content.ReadBack = [&](std::uint64_t offset, std::span<std::uint8_t> bytes) {
        read_back(content_offset + offset, bytes);
        m_done += bytes.size();
        const double part = m_total == 0 ? 1 : std::min(1.0, double(m_done) / double(m_total));
        m_steps.Progress(85 + 14 * part, "RebuildingCIA");
    };
    std::uint64_t size = 0;
    try {
        size = ctr::BuildCia(content, metered);
    } catch (const ctr::TCtrError& error) {
        m_steps.Fail("ErrorRebuildingCIA", error.what());
    }
    ConfirmReads();
    return size;
}

} // namespace

namespace {

// Runs `body` on a run of `job`: every end in the result, the scratch file removed.
template <typename TBody>
TCardImageResult RunImage(const TCardImageJob& job, const TModFolderHost& host,
                          const char* failure_key, const TBody& body) {
    TImageRun run(job, host);
    TCardImageResult result;
    try {
        result.Size = body(run);
        result.Succeeded = true;
    } catch (const steps::TRunEnd& end) {
        result.Cancelled = end.Cancelled;
        result.ErrorKey = end.Key;
        result.Detail = end.Detail;
    } catch (const std::exception& error) {
        // A read or a write that failed outside a stage's own checks.
        result.ErrorKey = failure_key;
        result.Detail = error.what();
    }
    if (job.PackDatScratch != nullptr)
        job.PackDatScratch->Remove();
    result.TitleId = run.Steps().TitleId();
    return result;
}

} // namespace

TCardImageResult RunCardImage(const TCardImageJob& job, const ctr::TWriteAt& write_at,
                              const TModFolderHost& host) {
    return RunImage(job, host, "ErrorRebuilding3DS",
                    [&](TImageRun& run) { return run.RunCard(write_at); });
}

TCardImageResult RunCia(const TCardImageJob& job, const ctr::TWriteAt& write_at,
                        const ctr::TInFile::TReadSource& read_back, const TModFolderHost& host) {
    return RunImage(job, host, "ErrorRebuildingCIA",
                    [&](TImageRun& run) { return run.RunCia(write_at, read_back); });
}

} // namespace engine
