// The engine's entry for the browser: compiled to WebAssembly and run in a Web Worker
// (web/worker.js). The user's file is never read whole: the worker registers it here with its
// size, and every read of the engine goes to the worker's ReadSlice (an import acting like
// pread), which serves it from File.slice reads through FileReaderSync, larger ones while the
// engine's reads follow on. Answers go back as JSON text.

#include "ctr/Decrypt.h"
#include "ctr/FileIo.h"
#include "ctr/Keys.h"
#include "ctr/SourceImage.h"
#include "ctr/Z3ds.h"
#include "ctr/Z3dsWrite.h"
#include "engine/CardImageRun.h"
#include "engine/Identify.h"
#include "engine/ModFolderRun.h"
#include "engine/OutputForms.h"
#include "engine/PatchFit.h"
#include "engine/TrackList.h"
#include "engine/ZipWriter.h"

#include <emscripten.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Where the chosen file is served: a path no file system holds.
const std::filesystem::path SourcePath = "/chosen/source";

std::string g_answer;
// The user's keys for an encrypted image, kept only in this worker's memory until the page
// ends it or sets others; never written anywhere or shown.
std::optional<ctr::TCryptoKeys> g_keys;

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + '"';
}

const char* Answer(std::string text) {
    g_answer = std::move(text);
    return g_answer.c_str();
}

const char* KindText(ctr::TImageKind kind) {
    switch (kind) {
    case ctr::TImageKind::Cia:
        return "cia";
    case ctr::TImageKind::Cci:
        return "3ds";
    case ctr::TImageKind::Cxi:
        break;
    }
    return "cxi";
}

} // namespace

// The worker's reader: copies `length` bytes of the chosen file from `offset` (a double, as
// JavaScript numbers reach 2^53 exactly) to `out`; returns false when the browser refuses.
EM_JS(bool, ReadSlice, (double offset, double length, std::uint8_t* out),
      { return self.qvtReadSlice(offset, length, out); });

// Progress of a long step, and whether the user has asked to stop it.
EM_JS(bool, ReportProgress, (double done, double total), { return self.qvtProgress(done, total); });

extern "C" {

/// Serves the chosen file of `size` bytes to the engine.
EMSCRIPTEN_KEEPALIVE void QvtOpenSource(double size) {
    ctr::ServeFile(SourcePath, static_cast<std::uint64_t>(size),
                   [](std::uint64_t offset, std::span<std::uint8_t> out) {
                       if (!ReadSlice(static_cast<double>(offset), static_cast<double>(out.size()),
                                      out.data()))
                           throw ctr::TCtrError("the browser could not read the chosen file");
                   });
}

EMSCRIPTEN_KEEPALIVE void QvtCloseSource() {
    ctr::StopServingFile(SourcePath);
}

/// Takes the user's key file and seed database (either may be empty) for the next checks;
/// answers {} or {"problem": ...} when they cannot be read (the reason names no key value).
EMSCRIPTEN_KEEPALIVE const char* QvtSetKeys(const std::uint8_t* key_file, double key_size,
                                            const std::uint8_t* seed_db, double seed_size) {
    g_keys.reset();
    try {
        ctr::TCryptoKeys keys;
        keys.Keys =
            ctr::ParseKeyFile(std::string(key_file, key_file + static_cast<std::size_t>(key_size)));
        if (seed_size > 0)
            keys.Seeds = ctr::ParseSeedDb(std::span(seed_db, static_cast<std::size_t>(seed_size)));
        g_keys = std::move(keys);
        return Answer("{}");
    } catch (const std::exception& error) {
        return Answer("{\"problem\":" + Quoted(error.what()) + "}");
    }
}

/// Identifies the chosen file, named `name` as the user sees it; an encrypted one through the
/// keys given, if any.
EMSCRIPTEN_KEEPALIVE const char* QvtIdentify(const char* name) {
    // Why the user's keys do not open an encrypted image (a key by name, never its value).
    std::string key_problem;
    engine::TOpenDecryption open_decryption;
    if (g_keys)
        open_decryption = [&](ctr::TImageKind kind) -> std::unique_ptr<ctr::TDecryptingReader> {
            try {
                return std::make_unique<ctr::TDecryptingReader>(SourcePath, kind, *g_keys);
            } catch (const std::exception& error) {
                key_problem = error.what();
                return nullptr;
            }
        };
    const engine::TIdentity identity = engine::IdentifyImage(SourcePath, name, open_decryption);
    // Still encrypted: refused; opened: read through the keys.
    const bool encrypted = identity.Encrypted && !identity.KeysFound;
    if (encrypted && g_keys && key_problem.empty())
        key_problem = ctr::KeysDoNotFitText;
    std::string json = "{";
    if (identity.Kind) {
        json += "\"kind\":" + Quoted(KindText(*identity.Kind)) + ",";
        json +=
            "\"form\":" + Quoted(engine::SourceFormName(*identity.Kind, identity.Compressed)) + ",";
    }
    json += "\"compressed\":" + std::string(identity.Compressed ? "true" : "false");
    json += ",\"kindByContent\":" + std::string(identity.KindByContent ? "true" : "false");
    json += ",\"encrypted\":" + std::string(encrypted ? "true" : "false");
    json += ",\"decrypted\":" + std::string(identity.KeysFound ? "true" : "false");
    json += ",\"keyProblem\":" + Quoted(key_problem);
    if (identity.TitleId) {
        char id[17];
        std::snprintf(id, sizeof id, "%016llX", static_cast<unsigned long long>(*identity.TitleId));
        json += ",\"titleId\":" + Quoted(id);
    }
    json += ",\"productCode\":" +
            Quoted(identity.ProductCode.substr(0, identity.ProductCode.find('\0')));
    json += ",\"region\":" + Quoted(identity.Region);
    if (identity.InfoPosition)
        json += ",\"infoPosition\":" + std::to_string(*identity.InfoPosition);
    json += ",\"errorKey\":" + Quoted(identity.ErrorKey);
    json += ",\"problem\":" + Quoted(identity.Problem);
    json += ",\"usable\":" + std::string(identity.Usable() ? "true" : "false");
    return Answer(json + "}");
}

/// The MD5 digests of pack.dat and pack.inc of the chosen image of `kind` ("cia", "cxi",
/// "3ds"), read through the keys given when `decrypt` is set, with progress; {"problem": ...} when
/// they cannot be taken or the user cancelled.
EMSCRIPTEN_KEEPALIVE const char* QvtPackDigests(const char* kind, int decrypt) {
    try {
        const std::optional<ctr::TImageKind> image_kind = ctr::ImageKindFromText(kind);
        if (!image_kind)
            throw ctr::TCtrError("unknown image kind");
        ctr::TProgress progress;
        progress.Callback = [](std::uint64_t done, std::uint64_t total) {
            return ReportProgress(static_cast<double>(done), static_cast<double>(total));
        };
        const ctr::TPackDigestText digests = ctr::TakePackDigestText(
            SourcePath, *image_kind, &progress, decrypt && g_keys ? &*g_keys : nullptr);
        return Answer("{\"packDat\":" + Quoted(digests.PackDat) +
                      ",\"packInc\":" + Quoted(digests.PackInc) + "}");
    } catch (const std::exception& error) {
        return Answer("{\"problem\":" + Quoted(error.what()) + "}");
    }
}

/// The engine's verdict on a patch for the image whose digests the check took: the patch's
/// region and the digests its description names for the untouched game and for the game it
/// leaves behind, the image's digests and region (all UTF-8). Answers {"fit": "fits",
/// "differs" or "installed", "mark": the mark's language key, "explanation": the key of what
/// to tell the user ("" when it fits), "region": its %1, "lines": [{"file", "found",
/// "wanted"}], each a PatchDigestLine's %1 to %3 after the text}.
EMSCRIPTEN_KEEPALIVE const char* QvtJudgeFit(const char* patch_region, const char* pack_dat,
                                             const char* pack_inc, const char* patched_pack_dat,
                                             const char* patched_pack_inc,
                                             const char* image_pack_dat, const char* image_pack_inc,
                                             const char* image_region) {
    engine::TDescriptionFields patch;
    patch.Region = engine::FromUtf8(patch_region);
    patch.OriginalPackDatMD5 = engine::FromUtf8(pack_dat);
    patch.OriginalPackIncMD5 = engine::FromUtf8(pack_inc);
    patch.PatchedPackDatMD5 = engine::FromUtf8(patched_pack_dat);
    patch.PatchedPackIncMD5 = engine::FromUtf8(patched_pack_inc);
    const engine::TImageDigests image{engine::FromUtf8(image_pack_dat),
                                      engine::FromUtf8(image_pack_inc)};
    const engine::TPatchFit fit = engine::JudgePatchFit(patch, image);
    const engine::TFitExplanation explanation =
        engine::ExplainPatchFit(fit, patch, image, engine::FromUtf8(image_region));
    std::string json = "{\"fit\":" + Quoted(std::string(engine::FitName(fit)));
    json += ",\"mark\":" + Quoted(std::string(engine::FitMarkKey(fit)));
    json += ",\"explanation\":" + Quoted(engine::ToUtf8(explanation.Key));
    json += ",\"region\":" + Quoted(engine::ToUtf8(explanation.Region));
    json += ",\"lines\":[";
    for (const engine::TFitExplanation::TDigestLine& line : explanation.Lines) {
        if (json.back() == '}')
            json += ',';
        json += "{\"file\":" + Quoted(engine::ToUtf8(line.File)) +
                ",\"found\":" + Quoted(engine::ToUtf8(line.Found)) +
                ",\"wanted\":" + Quoted(engine::ToUtf8(line.Wanted)) + "}";
    }
    return Answer(json + "]}");
}

} // extern "C"

// ---- The music ----
//
// The page's music grid: the track list (the patch's own file, which the page hands over, else
// the embedded one) and the music slots of the chosen image, as the desktop's music window
// shows them; then the assignment the user chose, kept here for the next install.

namespace {

std::optional<engine::TTrackList> g_music;

// The track list of `list` (the patch's file, when `has_list`) with the slots of the chosen
// image of `kind` read at `info_position`, through the user's keys when `decrypt` is set.
engine::TTrackList ReadTrackList(const char* kind, int decrypt, double info_position,
                                 const std::uint8_t* list, double list_size, int has_list,
                                 int russian) {
    std::optional<engine::TTokens> tokens;
    if (has_list) {
        const std::span bytes(list, static_cast<std::size_t>(list_size));
        tokens = engine::Tokenize(
            engine::NormaliseLineEnds(engine::DecodeTextFile(bytes, russian != 0)), u':');
    } else {
        tokens = engine::TrackListTokens(engine::DefaultTrackListText());
    }
    // Opened at the first read, as the desktop's list does; an image that cannot be opened
    // reads as nothing, which the list reports.
    std::unique_ptr<ctr::TInFile> image;
    std::unique_ptr<ctr::TDecryptingReader> decrypting;
    bool opened = false;
    const auto read = [&](std::int64_t position, std::size_t length) {
        std::vector<std::uint8_t> bytes;
        try {
            if (!opened) {
                opened = true;
                image = ctr::OpenImageFile(SourcePath);
                const std::optional<ctr::TImageKind> image_kind = ctr::ImageKindFromText(kind);
                if (decrypt && g_keys && image_kind)
                    decrypting =
                        std::make_unique<ctr::TDecryptingReader>(SourcePath, *image_kind, *g_keys);
            }
            if (!image || position < 0)
                return bytes;
            const std::uint64_t size = decrypting ? decrypting->Size() : image->Size();
            const std::uint64_t at = static_cast<std::uint64_t>(position);
            if (at >= size)
                return bytes;
            bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(length, size - at)));
            if (decrypting)
                decrypting->Read(at, bytes);
            else
                image->ReadAt(at, bytes);
        } catch (const std::exception&) {
            image.reset();
            bytes.clear();
        }
        return bytes;
    };
    // Not a position (none was found, or not a number): the slots cannot be read.
    const std::int64_t position = info_position >= 0 && info_position < 0x1p62
                                      ? static_cast<std::int64_t>(info_position)
                                      : -1;
    return engine::TTrackList(tokens, SourcePath, position, read);
}

} // namespace

extern "C" {

/// The music grid of the chosen image: {"status": "Ok" or the language key of why the music
/// cannot be changed, "tracks": [{"id", "title", "group"}], "slots": the 34 slots' texts (a
/// listed title, or the id the image holds), "groups": the 11 row captions}.
EMSCRIPTEN_KEEPALIVE const char* QvtMusic(const char* kind, int decrypt, double info_position,
                                          const std::uint8_t* list, double list_size, int has_list,
                                          int russian) {
    const engine::TTrackList tracks =
        ReadTrackList(kind, decrypt, info_position, list, list_size, has_list, russian);
    switch (tracks.Status()) {
    case engine::TTrackListStatus::Ok:
        break;
    case engine::TTrackListStatus::ErrorTrackListFormat:
        return Answer("{\"status\":\"ErrorTrackListFormat\"}");
    case engine::TTrackListStatus::ErrorReadingTracks:
        return Answer("{\"status\":\"ErrorReadingTracks\"}");
    }
    std::string json = "{\"status\":\"Ok\",\"tracks\":[";
    for (int i = 0; i < tracks.GetTrackCount(); ++i)
        json += std::string(i ? "," : "") +
                "{\"id\":" + Quoted(engine::ToUtf8(tracks.GetTrackId(i))) +
                ",\"title\":" + Quoted(engine::ToUtf8(tracks.GetTrackTitle(i))) +
                ",\"group\":" + std::to_string(tracks.GetTrackGroup(i)) + "}";
    json += "],\"slots\":[";
    for (int s = 0; s < kMusicSlotCount; ++s)
        json += std::string(s ? "," : "") + Quoted(engine::ToUtf8(tracks.GetSlotTrack(s)));
    json += "],\"groups\":[";
    const std::vector<engine::TText> groups =
        engine::TrackGroupNames(engine::DefaultTrackListText());
    for (std::size_t g = 0; g < groups.size(); ++g)
        json += std::string(g ? "," : "") + Quoted(engine::ToUtf8(groups[g]));
    return Answer(json + "]}");
}

/// Keeps the user's assignment for the next install: the list read as QvtMusic reads it, then
/// `choices`, one track index a slot separated by ',' (-1: the slot keeps what the image
/// holds). Answers {} or {"status": the key of why the list cannot be read}.
EMSCRIPTEN_KEEPALIVE const char* QvtSetMusic(const char* kind, int decrypt, double info_position,
                                             const std::uint8_t* list, double list_size,
                                             int has_list, int russian, const char* choices) {
    g_music.reset();
    engine::TTrackList tracks =
        ReadTrackList(kind, decrypt, info_position, list, list_size, has_list, russian);
    if (tracks.Status() != engine::TTrackListStatus::Ok)
        return Answer(tracks.Status() == engine::TTrackListStatus::ErrorTrackListFormat
                          ? "{\"status\":\"ErrorTrackListFormat\"}"
                          : "{\"status\":\"ErrorReadingTracks\"}");
    const std::string text = choices;
    std::size_t at = 0;
    for (int s = 0; s < kMusicSlotCount && at <= text.size(); ++s) {
        const std::size_t end = std::min(text.find(',', at), text.size());
        const int index = std::atoi(text.substr(at, end - at).c_str());
        if (index >= 0 && index < tracks.GetTrackCount())
            tracks.SetSlotTrack(s, tracks.GetTrackTitle(index));
        at = end + 1;
    }
    tracks.SetChanged(true);
    g_music = std::move(tracks);
    return Answer("{}");
}

EMSCRIPTEN_KEEPALIVE void QvtClearMusic() {
    g_music.reset();
}

} // extern "C"

// ---- Installing a mod folder ----
//
// The patch's files are served like the chosen file: the page fetched them as Blobs, and the
// worker reads each by slices (ReadPatchSlice) when the engine asks, so a large difference is
// never held whole in this module's memory. The archive goes out through WriteOutput, a
// positioned write into the worker's file in the origin private file system.

namespace {

std::vector<engine::TPatchFile> g_patch;

// The archive's entries as they are written: where each file's bytes lie in it (entries are
// stored, so a file is one run of bytes after its header), for the page to copy them out into
// a folder the user chose.
class TListedZip : public engine::TModSink {
public:
    struct TEntry {
        std::string Path;
        std::uint64_t Offset = 0;
        std::uint64_t Size = 0;
    };
    explicit TListedZip(engine::TZipWriter& zip) : m_zip(zip) {}
    void Begin(const std::string& path, std::optional<std::uint64_t> size) override {
        m_zip.Begin(path, size);
        m_entries.push_back({path, m_zip.Size(), 0});
    }
    void Write(std::span<const std::uint8_t> bytes) override {
        m_zip.Write(bytes);
        m_entries.back().Size += bytes.size();
    }
    void End() override { m_zip.End(); }
    void Finish() override { m_zip.Finish(); }
    /// [{"path", "offset", "size"}]
    std::string Json() const {
        std::string json = "[";
        for (const TEntry& entry : m_entries)
            json += std::string(json.size() > 1 ? "," : "") + "{\"path\":" + Quoted(entry.Path) +
                    ",\"offset\":" + std::to_string(entry.Offset) +
                    ",\"size\":" + std::to_string(entry.Size) + "}";
        return json + "]";
    }

private:
    engine::TZipWriter& m_zip;
    std::vector<TEntry> m_entries;
};

} // namespace

EM_JS(bool, ReadPatchSlice, (int index, double offset, double length, std::uint8_t* out),
      { return self.qvtReadPatchSlice(index, offset, length, out); });

EM_JS(bool, WriteOutput, (double offset, const std::uint8_t* bytes, double length),
      { return self.qvtWriteOutput(offset, bytes, length); });

EM_JS(void, PostLog, (const char* key, const char* detail),
      { self.qvtLog(UTF8ToString(key), UTF8ToString(detail)); });

EM_JS(void, PostStage, (double fraction, const char* stage),
      { self.qvtStage(fraction, UTF8ToString(stage)); });

extern "C" {

/// Adds the patch's file at `path` (inside its folder, '/'-separated) of `size` bytes, read
/// through the worker's Blob number `index`.
EMSCRIPTEN_KEEPALIVE void QvtAddPatchFile(const char* path, double size) {
    const int index = static_cast<int>(g_patch.size());
    const std::filesystem::path served = "/patch/" + std::to_string(index);
    ctr::ServeFile(served, static_cast<std::uint64_t>(size),
                   [index](std::uint64_t offset, std::span<std::uint8_t> out) {
                       if (!ReadPatchSlice(index, static_cast<double>(offset),
                                           static_cast<double>(out.size()), out.data()))
                           throw ctr::TCtrError("the browser could not read the patch's files");
                   });
    g_patch.push_back({path, served});
}

EMSCRIPTEN_KEEPALIVE void QvtClearPatch() {
    for (const engine::TPatchFile& file : g_patch)
        ctr::StopServingFile(file.Where);
    g_patch.clear();
}

} // extern "C"

namespace {

// The job both installs share: the chosen image of `kind` with the patch given and its
// `voice` (0 ENG, 1 JAP MOD, 2 JAP ORIG, when it offers voices); the digests the check took
// spare their reads. False for an unknown kind.
bool FillJob(engine::TModFolderJob& job, const char* kind, int decrypt, const char* description,
             int russian, const char* pack_dat_md5, const char* pack_inc_md5, int voice) {
    job.Source = SourcePath;
    const std::optional<ctr::TImageKind> image_kind = ctr::ImageKindFromText(kind);
    if (!image_kind)
        return false;
    job.Kind = *image_kind;
    job.Keys = decrypt && g_keys ? &*g_keys : nullptr;
    job.Patch = g_patch;
    job.Description = description;
    job.RussianLocale = russian != 0;
    job.KnownPackDatMD5 = pack_dat_md5;
    job.KnownPackIncMD5 = pack_inc_md5;
    job.ProgramVersion = QVT_VERSION;
    job.Voice = voice;
    job.Tracks = g_music ? &*g_music : nullptr;
    return true;
}

// Log entries and stages go to the worker as they come.
const engine::TModFolderHost WorkerHost{
    [](const std::string& key, const std::string& detail) { PostLog(key.c_str(), detail.c_str()); },
    [](double fraction, const std::string& stage) {
        PostStage(fraction, stage.c_str());
        return true; // the page stops a run by ending the worker
    }};

void WriteOutputAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (!WriteOutput(static_cast<double>(offset), bytes.data(), static_cast<double>(bytes.size())))
        throw ctr::TCtrError("the browser's storage took no more bytes");
}

// The answer of an install; `files` (a JSON array) when the output lists its files.
std::string ResultJson(const engine::TModFolderResult& result, std::uint64_t size,
                       const std::string& files = {}) {
    return "{\"succeeded\":" + std::string(result.Succeeded ? "true" : "false") +
           ",\"cancelled\":" + std::string(result.Cancelled ? "true" : "false") +
           ",\"errorKey\":" + Quoted(result.ErrorKey) + ",\"detail\":" + Quoted(result.Detail) +
           ",\"titleId\":" + Quoted(result.TitleId) + ",\"size\":" + std::to_string(size) +
           (files.empty() ? "" : ",\"files\":" + files) + "}";
}

} // namespace

extern "C" {

/// Writes the mod folder of the job (FillJob) into a ZIP archive through WriteOutput. Answers
/// {"succeeded", "cancelled", "errorKey", "detail", "titleId", "size", "files": where each file
/// lies in the archive (TListedZip)}.
EMSCRIPTEN_KEEPALIVE const char* QvtInstallModFolder(const char* kind, int decrypt,
                                                     const char* description, int russian,
                                                     const char* pack_dat_md5,
                                                     const char* pack_inc_md5, int voice,
                                                     int dos_date, int dos_time) {
    engine::TModFolderJob job;
    if (!FillJob(job, kind, decrypt, description, russian, pack_dat_md5, pack_inc_md5, voice))
        return Answer("{\"succeeded\":false,\"errorKey\":\"ErrorWrongROM\"}");
    engine::TZipWriter zip(WriteOutputAt, static_cast<std::uint16_t>(dos_date),
                           static_cast<std::uint16_t>(dos_time));
    TListedZip listed(zip);
    const engine::TModFolderResult result = engine::RunModFolder(job, listed, WorkerHost);
    return Answer(ResultJson(result, zip.Size(), result.Succeeded ? listed.Json() : "[]"));
}

} // extern "C"

// ---- Installing a card image ----
//
// The image goes out through WriteOutput like the archive. The patched pack.dat, hundreds of
// MiB in a real game, is kept until the RomFS is written in another file of the private
// storage, one of the worker's scratch files (by number): written through WriteScratch, then
// served back to the engine by path like the chosen file, read through ReadScratch.

EM_JS(bool, WriteScratch, (int index, double offset, const std::uint8_t* bytes, double length),
      { return self.qvtWriteScratch(index, offset, bytes, length); });

EM_JS(bool, ReadScratch, (int index, double offset, double length, std::uint8_t* out),
      { return self.qvtReadScratch(index, offset, length, out); });

EM_JS(void, ClearScratch, (int index), { self.qvtClearScratch(index); });

namespace {

class TWorkerScratch final : public engine::TScratchFile {
public:
    explicit TWorkerScratch(int index)
        : m_index(index), m_path("/scratch/" + std::to_string(index)) {}
    ~TWorkerScratch() override { Remove(); }
    void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        if (!WriteScratch(m_index, static_cast<double>(offset), bytes.data(),
                          static_cast<double>(bytes.size())))
            throw ctr::TCtrError("the browser's storage took no more bytes");
    }
    std::filesystem::path Close(std::uint64_t size) override {
        const int index = m_index;
        ctr::ServeFile(m_path, size, [index](std::uint64_t offset, std::span<std::uint8_t> out) {
            if (!ReadScratch(index, static_cast<double>(offset), static_cast<double>(out.size()),
                             out.data()))
                throw ctr::TCtrError("the browser could not read back its own storage");
        });
        m_served = true;
        return m_path;
    }
    void Remove() override {
        if (m_served)
            ctr::StopServingFile(m_path);
        m_served = false;
        ClearScratch(m_index);
    }

private:
    int m_index;
    std::filesystem::path m_path;
    bool m_served = false;
};

} // namespace

extern "C" {

/// Writes the card image of the job (FillJob; the image must be a card image) through
/// WriteOutput, with `compressed` as a Z3DS file made from the card image once it is whole (in a
/// second scratch file). Answers as QvtInstallModFolder, "size" the output's.
EMSCRIPTEN_KEEPALIVE const char*
QvtInstallCardImage(const char* kind, int decrypt, const char* description, int russian,
                    const char* pack_dat_md5, const char* pack_inc_md5, int voice, int compressed) {
    engine::TCardImageJob job;
    if (!FillJob(job, kind, decrypt, description, russian, pack_dat_md5, pack_inc_md5, voice))
        return Answer("{\"succeeded\":false,\"errorKey\":\"ErrorWrongROM\"}");
    TWorkerScratch scratch(0);
    job.PackDatScratch = &scratch;
    if (!compressed) {
        const engine::TCardImageResult result =
            engine::RunCardImage(job, WriteOutputAt, WorkerHost);
        return Answer(ResultJson(result, result.Size));
    }
    // The build takes the bar to 90, the compression the rest, as the desktop's run does.
    TWorkerScratch image(1);
    const engine::TModFolderHost host{WorkerHost.Log,
                                      [](double fraction, const std::string& stage) {
                                          PostStage(fraction * 0.9, stage.c_str());
                                          return true;
                                      }};
    engine::TCardImageResult result = engine::RunCardImage(
        job,
        [&image](std::uint64_t offset, std::span<const std::uint8_t> bytes) {
            image.WriteAt(offset, bytes);
        },
        host);
    if (!result.Succeeded)
        return Answer(ResultJson(result, 0));
    PostLog("CompressingOutput", "");
    std::uint64_t size = 0;
    try {
        ctr::TInFile in(image.Close(result.Size));
        ctr::TProgress progress;
        progress.Callback = [](std::uint64_t done, std::uint64_t total) {
            PostStage(0.9 + 0.1 * (total == 0 ? 1 : double(done) / double(total)),
                      "CompressingOutput");
            return true;
        };
        size = ctr::CompressImageTo(in, ctr::TImageKind::Cci, WriteOutputAt, &progress, 1);
        PostLog("Done", "");
    } catch (const std::exception& error) {
        result.Succeeded = false;
        result.ErrorKey = "ErrorCompressingOutput";
        result.Detail = error.what();
    }
    image.Remove();
    return Answer(ResultJson(result, size));
}

} // extern "C"

// ---- Installing a CIA ----
//
// Written through WriteOutput like the card image; its content is read back from there through
// ReadOutput for the hash the CIA's headers hold.

EM_JS(bool, ReadOutput, (double offset, double length, std::uint8_t* out),
      { return self.qvtReadOutput(offset, length, out); });

extern "C" {

/// Writes the CIA of the job (FillJob; any image kind) through WriteOutput. Answers as
/// QvtInstallModFolder, "size" the output's.
EMSCRIPTEN_KEEPALIVE const char* QvtInstallCia(const char* kind, int decrypt,
                                               const char* description, int russian,
                                               const char* pack_dat_md5, const char* pack_inc_md5,
                                               int voice) {
    engine::TCardImageJob job;
    if (!FillJob(job, kind, decrypt, description, russian, pack_dat_md5, pack_inc_md5, voice))
        return Answer("{\"succeeded\":false,\"errorKey\":\"ErrorWrongROM\"}");
    TWorkerScratch scratch(0);
    job.PackDatScratch = &scratch;
    const engine::TCardImageResult result = engine::RunCia(
        job, WriteOutputAt,
        [](std::uint64_t offset, std::span<std::uint8_t> out) {
            if (!ReadOutput(static_cast<double>(offset), static_cast<double>(out.size()),
                            out.data()))
                throw ctr::TCtrError("the browser could not read back its own storage");
        },
        WorkerHost);
    return Answer(ResultJson(result, result.Size));
}

/// 1 when an image of `source_kind` (".cia", ".3ds", ...) can give the output `output_kind`.
EMSCRIPTEN_KEEPALIVE int QvtOffersOutput(const char* source_kind, const char* output_kind) {
    for (const engine::TOutputForm* form : engine::OutputFormsFor(source_kind)) {
        if (std::string_view(form->Kind) == output_kind)
            return 1;
    }
    return 0;
}

} // extern "C"
