#pragma once
// The steps of the engine's runs, shared by the mod folder run and the card image run: the
// game read out of the image, the patch's description, digests and difference, and the RomFS
// the patch's folders make of the game's. The game's reading, the code's comparison, the
// writer with its marker and the marker's facts serve the desktop's mod folder run
// (ModFolderStages.h) too.

#include "ctr/Decrypt.h"
#include "ctr/FileIo.h"
#include "ctr/Hash.h"
#include "engine/ModFolderJob.h"
#include "engine/ModFolderPlan.h"
#include "engine/PatchDescription.h"
#include "engine/ScratchFile.h"

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace engine::steps {

// Files every run reads from the RomFS: the data archive, its index and the sound archive.
constexpr char kPackDat[] = "pack.dat";
constexpr char kPackInc[] = "pack.inc";
constexpr char kSoundArchive[] = "sound/QK123.bcsar";
// The block in which files are copied and compared.
constexpr std::size_t kChunk = 1u << 20;

// The digest of everything `md5` took, as 32 upper-case hexadecimal digits.
std::string Md5Hex(ctr::TMd5& md5);

// The end of a run before its success: the failure's key, or a cancel.
struct TRunEnd {
    std::string Key;
    std::string Detail;
    bool Cancelled = false;
};

// The game as a mod folder run reads it: the image (a compressed one by frames, an encrypted
// one through its decryption), the list of its RomFS files and its title.
class TGame {
public:
    // Opens `source`, decrypted with `keys` when they are given. Throws what the reading throws.
    void Open(const std::filesystem::path& source, ctr::TImageKind kind,
              const ctr::TCryptoKeys* keys);
    // Opens `source`, read through `decrypting` (made for the same image) when it is given.
    void Open(const std::filesystem::path& source, ctr::TImageKind kind,
              std::unique_ptr<ctr::TDecryptingReader> decrypting);

    ctr::TInFile& Image() { return *m_image; }
    const std::vector<ctr::TImageRomFsFile>& Files() const { return m_files; }
    // 16 upper-case hexadecimal digits.
    const std::string& TitleId() const { return m_title_id; }
    // The game's file at `path` in any letter case; null when the game has none.
    const ctr::TImageRomFsFile* File(const std::string& path) const {
        const auto spelling = m_spellings.find(SpellingKey(path));
        return spelling == m_spellings.end() ? nullptr : &m_files[m_by_path.at(spelling->second)];
    }
    // Whether the game spells a file exactly `path`.
    bool Spells(const std::string& path) const { return m_by_path.count(path) != 0; }
    // The first of the files every run reads that the game lacks; null when it has them all.
    const char* MissingFile() const;

private:
    void List(ctr::TImageKind kind);

    std::unique_ptr<ctr::TDecryptingReader> m_decrypting;
    std::unique_ptr<ctr::TInFile> m_image;
    std::vector<ctr::TImageRomFsFile> m_files;
    TSpellings m_spellings;
    std::map<std::string, std::size_t> m_by_path;
    std::string m_title_id;
};

// The ExeFS files a patch may bring besides its code, under the names the emulator's mods
// folder takes them by.
struct TModExeFsName {
    const char* Ours;   // in the patch's exefs folder
    const char* Theirs; // in the mod folder
};
inline constexpr TModExeFsName kModExeFsNames[] = {{"banner.bnr", "exefs/banner.bnr"},
                                                   {"icon.icn", "exefs/icon.bin"}};

// The files of a mod folder as they go into a sink, below the game's folder, each noted with
// its size and digest for the marker that goes in last.
class TModWriter {
public:
    explicit TModWriter(TModSink& sink) : m_sink(sink) {}
    // `size` bytes of `in` from `offset` as `folder`/`to` (`to` for an empty folder: the sink
    // is the game's folder), its digest taken as it is written.
    void WriteFile(const std::string& folder, const std::string& to, ctr::TInFile& in,
                   std::uint64_t offset, std::uint64_t size);
    // A file the folder got otherwise, for the marker.
    void Note(TModMarkerFile file) { m_written.push_back(std::move(file)); }
    const std::vector<TModMarkerFile>& Written() const { return m_written; }
    // `marker` naming every file written or noted, in the folder's name order, as
    // `folder`/kModMarkerName.
    void WriteMarker(const std::string& folder, TModMarker marker);

private:
    TModSink& m_sink;
    std::vector<TModMarkerFile> m_written;
};

// Whether the patch's code at `patch_code` differs from the game's own, decompressed, in
// `image` of `kind`. Throws what reading either throws.
bool CodeChanged(ctr::TInFile& image, ctr::TImageKind kind,
                 const std::filesystem::path& patch_code);

// What a mod folder's marker says of its run: the game, the program, and the patch's title and
// version from its description (none for "None"); the files are the writer's to add.
TModMarker MarkerOf(const std::string& title_id, const std::string& program_version,
                    const TDescriptionFields* patch);

// Where a file of the run's RomFS takes its bytes from: the game or the patch.
struct TRomFsSource {
    const ctr::TImageRomFsFile* Game = nullptr;
    const TPatchFile* Patch = nullptr;
};

class TRun {
public:
    TRun(const TModFolderJob& job, TModSink& sink, const TModFolderHost& host)
        : m_job(job), m_sink(sink), m_host(host), m_writer(sink) {}
    ~TRun() {
        std::error_code error;
        if (!m_sound_work.empty())
            std::filesystem::remove_all(m_sound_work, error);
    }

    void Run();
    const std::string& TitleId() const { return m_game.TitleId(); }

    // The steps, in the order a run takes them.
    void Log(const std::string& key, const std::string& detail = {}) {
        if (m_host.Log)
            m_host.Log(key, detail);
    }
    [[noreturn]] void Fail(const std::string& key, const std::string& detail = {}) {
        throw TRunEnd{key, detail, false};
    }
    // Progress in percent, as the desktop's bar takes it; the host may stop the run here.
    void Progress(double percent, const char* stage) {
        if (m_host.Progress && !m_host.Progress(percent / 100, stage))
            throw TRunEnd{{}, {}, true};
    }
    // A progress meter for a long read or the difference, from `from` to `to` percent.
    ctr::TProgress Meter(double from, double to, const char* stage) {
        return ctr::TProgress{[this, from, to, stage](std::uint64_t done, std::uint64_t total) {
                                  const double part = total == 0 ? 1 : double(done) / double(total);
                                  return !m_host.Progress ||
                                         m_host.Progress((from + (to - from) * part) / 100, stage);
                              },
                              0, 0};
    }

    const ctr::TImageRomFsFile* GameFile(const std::string& path) const {
        return m_game.File(path);
    }
    // The patch's file at `path` in any letter case; null when it has none.
    const TPatchFile* PatchFile(const std::string& path) const {
        const std::u16string key = SpellingKey(path);
        for (const TPatchFile& file : m_job.Patch) {
            if (SpellingKey(file.Path) == key)
                return &file;
        }
        return nullptr;
    }
    // The patch's files below its folder `name` ("romfs"), by their paths inside it.
    std::vector<std::pair<std::string, const TPatchFile*>> PatchFilesIn(const char* name) const {
        std::vector<std::pair<std::string, const TPatchFile*>> files;
        const std::u16string key = SpellingKey(std::string(name) + '/');
        for (const TPatchFile& file : m_job.Patch) {
            if (file.Path.size() > key.size() &&
                SpellingKey(file.Path.substr(0, key.size())) == key)
                files.emplace_back(file.Path.substr(key.size()), &file);
        }
        return files;
    }

    // The patched pack.dat goes into `scratch` (written whole, then the caller's to remove)
    // instead of the sink: a card image's RomFS needs it before its layout.
    void SendPackDatTo(TScratchFile* scratch) { m_pack_dat_to = scratch; }
    void ReadDescription();
    void ReadGame();
    void CheckDigest(const std::string& expected, const ctr::TImageRomFsFile& file,
                     const std::string& known, bool pack_dat);
    // Whether the patch's own pack.dat replaces the difference's.
    void NotePatchPackDat();
    void PatchPackDat();
    // With `whole_game`, every file of the game enters, the game's pack.dat as patched.
    void CollectRomFs(bool whole_game = false);
    // The voice and music step (voices only) on the collected RomFS's sound archive, in a work
    // folder of the run's own that goes with it.
    void ApplySound();
    std::string DigestOf(ctr::TInFile& in, std::uint64_t offset, std::uint64_t size, double from,
                         double to);
    bool SameBytes(const ctr::TImageRomFsFile& game, const TPatchFile& patch);
    void WriteFile(const std::string& to, const TRomFsSource& source);
    void WriteMarker();

    // The image as the run reads it (through its decompression or decryption), once read.
    ctr::TInFile& Image() { return m_game.Image(); }
    // The run's RomFS by path, once collected.
    const std::map<std::string, TRomFsSource>& RomFs() const { return m_romfs; }
    // True once the patched pack.dat lies whole at SendPackDatTo's place.
    bool PackDatSent() const { return !m_patched_pack_dat.Where.empty(); }

private:
    const TModFolderJob& m_job;
    TModSink& m_sink;
    const TModFolderHost& m_host;
    TDescriptionFields m_description;
    TGame m_game;
    // The run's RomFS as the desktop's work folder holds it before the plan, by path.
    std::map<std::string, TRomFsSource> m_romfs;
    TModWriter m_writer;
    bool m_patch_brings_pack_dat = false; // its own pack.dat replaces the difference's
    TScratchFile* m_pack_dat_to = nullptr;
    TPatchFile m_patched_pack_dat; // set once written there
    // The sound step's folder, removed with the run, and its rewritten archive there.
    std::filesystem::path m_sound_work;
    TPatchFile m_sound_archive;
};

} // namespace engine::steps
