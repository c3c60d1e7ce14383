#include "engine/ModFolderRun.h"
#include "engine/ModFolderSteps.h"

#include "ctr/Decrypt.h"
#include "ctr/Delta.h"
#include "ctr/FileIo.h"
#include "ctr/Hash.h"
#include "ctr/Platform.h"
#include "ctr/SourceImage.h"
#include "ctr/Z3ds.h"
#include "engine/DigestStage.h"
#include "engine/Folders.h"
#include "engine/ModFolderMarker.h"
#include "engine/ModFolderPlan.h"
#include "engine/PatchDescription.h"
#include "engine/Text.h"
#include "engine/VoiceAndMusic.h"
#include "sound_archive/FileBasics.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

namespace engine {

struct TFolderSink::TState {
    std::unique_ptr<ctr::TOutFile> File;
};

TFolderSink::TFolderSink(std::filesystem::path root, bool forced)
    : m_root(std::move(root)), m_forced(forced), m_state(std::make_unique<TState>()) {}

TFolderSink::~TFolderSink() = default;

void TFolderSink::Begin(const std::string& path, std::optional<std::uint64_t>) {
    const std::filesystem::path target = m_root / ctr::PathFromUtf8(path);
    std::filesystem::create_directories(target.parent_path());
    m_state->File = std::make_unique<ctr::TOutFile>(target);
    if (!m_forced)
        m_state->File->MarkScratch();
}

void TFolderSink::Write(std::span<const std::uint8_t> bytes) {
    m_state->File->Write(bytes);
}

void TFolderSink::End() {
    m_state->File->Commit();
    m_state->File.reset();
}

std::vector<TPatchFile> PatchFilesBelow(const std::filesystem::path& folder) {
    std::vector<TPatchFile> files;
    for (std::string& path : ModFilesBelow(folder)) {
        std::filesystem::path where = folder / ctr::PathFromUtf8(path);
        files.push_back({std::move(path), std::move(where)});
    }
    return files;
}

namespace steps {

std::string Md5Hex(ctr::TMd5& md5) {
    const ctr::TMd5Digest digest = md5.Final();
    return ctr::HexUpper(digest);
}

void TRun::ReadDescription() {
    if (m_job.Description.empty())
        return;
    const TPatchFile* file = PatchFile(m_job.Description);
    if (file == nullptr)
        Fail("WebPatchUnreadable", m_job.Description);
    try {
        const std::vector<std::uint8_t> bytes =
            ctr::ReadSmallFile(file->Where, 16u << 20, "the patch's description");
        m_description = DescriptionFromTokens(
            Tokenize(NormaliseLineEnds(DecodeTextFile(bytes, m_job.RussianLocale)), u'='));
    } catch (const ctr::TCtrError& error) {
        Fail("WebPatchUnreadable", error.what());
    }
}

void TGame::Open(const std::filesystem::path& source, ctr::TImageKind kind,
                 const ctr::TCryptoKeys* keys) {
    m_image = ctr::OpenImageFile(source);
    if (keys != nullptr) {
        m_decrypting = std::make_unique<ctr::TDecryptingReader>(source, kind, *keys);
        m_decrypting->Serve(*m_image);
    }
    List(kind);
}

void TGame::Open(const std::filesystem::path& source, ctr::TImageKind kind,
                 std::unique_ptr<ctr::TDecryptingReader> decrypting) {
    m_image = ctr::OpenImageFile(source);
    m_decrypting = std::move(decrypting);
    if (m_decrypting)
        m_decrypting->Serve(*m_image);
    List(kind);
}

void TGame::List(ctr::TImageKind kind) {
    m_files = ctr::ListRomFsFiles(*m_image, kind);
    char id[17];
    std::snprintf(id, sizeof id, "%016llX",
                  static_cast<unsigned long long>(ctr::ImageProgramId(*m_image, kind)));
    m_title_id = id;
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        paths.push_back(m_files[i].Path);
        m_by_path[m_files[i].Path] = i;
    }
    m_spellings = GameSpellings(paths);
}

const char* TGame::MissingFile() const {
    for (const char* needed : {kPackDat, kSoundArchive}) {
        if (File(needed) == nullptr)
            return needed;
    }
    return nullptr;
}

// Read: the image's list of RomFS files and its title; the code only when the patch brings
// its own. Progress 5 and 45.
void TRun::ReadGame() {
    Log("ExtractingModFiles");
    try {
        m_game.Open(m_job.Source, m_job.Kind, m_job.Keys);
    } catch (const std::exception& error) {
        Fail("ErrorExtractingRomFS", error.what());
    }
    if (const char* missing = m_game.MissingFile())
        Fail("ErrorExtractingRomFS", std::string(missing) + " is not in the RomFS");
    Progress(5, "ExtractingModFiles");
    Progress(20, "ExtractingModFiles");
}

std::string TRun::DigestOf(ctr::TInFile& in, std::uint64_t offset, std::uint64_t size, double from,
                           double to) {
    ctr::TProgress meter = Meter(from, to, "CheckingMD5PackDat");
    return ctr::TakeDigests(in, {{offset, size, {}}}, &meter)[0];
}

void TRun::CheckDigest(const std::string& expected, const ctr::TImageRomFsFile& file,
                       const std::string& known, bool pack_dat) {
    Log(pack_dat ? "CheckingMD5PackDat" : "CheckingMD5PackInc");
    std::string digest = known;
    if (digest.empty()) {
        try {
            digest = DigestOf(m_game.Image(), file.Location.Offset, file.Location.Size, 20, 45);
        } catch (const ctr::TCtrError&) {
            if (!m_host.Progress || m_host.Progress(0.45, "CheckingMD5PackDat"))
                Fail(pack_dat ? "ErrorCheckingMD5PackDat" : "ErrorCheckingMD5PackInc");
            throw TRunEnd{{}, {}, true};
        }
    }
    Log({}, "Orig MD5: " + expected);
    Log({}, "This MD5: " + digest);
    if (!SameDigest(expected, digest))
        Fail("MD5NotMatched");
    Log("MD5Matched");
}

// The digests, then the difference applied to the game's pack.dat as the image is read, the
// new pack.dat going straight into the sink. Progress 50 and 65.
void TRun::PatchPackDat() {
    const TPatchFile* difference = PatchFile("patch.xdelta");
    if (difference == nullptr)
        return;
    const ctr::TImageRomFsFile& pack_dat = *GameFile(kPackDat);
    const std::string pack_dat_md5 = ToUtf8(m_description.OriginalPackDatMD5);
    const std::string pack_inc_md5 = ToUtf8(m_description.OriginalPackIncMD5);
    if (!pack_dat_md5.empty())
        CheckDigest(pack_dat_md5, pack_dat, m_job.KnownPackDatMD5, true);
    if (!pack_inc_md5.empty()) {
        const ctr::TImageRomFsFile* pack_inc = GameFile(kPackInc);
        if (pack_inc == nullptr) {
            Log("CheckingMD5PackInc");
            Fail("ErrorCheckingMD5PackInc");
        }
        CheckDigest(pack_inc_md5, *pack_inc, m_job.KnownPackIncMD5, false);
    }
    Progress(50, "ApplyingXdelta");

    Log("ApplyingXdelta");
    const std::string to = "romfs/" + pack_dat.Path;
    ctr::TProgress meter = Meter(50, 65, "ApplyingXdelta");
    ctr::TMd5 md5;
    std::uint64_t size = 0;
    const bool to_sink = !m_patch_brings_pack_dat && m_pack_dat_to == nullptr;
    const bool to_scratch = !m_patch_brings_pack_dat && m_pack_dat_to != nullptr;
    try {
        const std::unique_ptr<ctr::TInFile> source =
            ctr::OpenRange(m_game.Image(), pack_dat.Location.Offset, pack_dat.Location.Size);
        ctr::TInFile delta(difference->Where);
        if (to_sink)
            m_sink.Begin(m_game.TitleId() + '/' + to, std::nullopt);
        ctr::ApplyDelta(
            *source, delta,
            [&](std::span<const std::uint8_t> bytes) {
                if (m_patch_brings_pack_dat)
                    return; // applied for its checks only: the patch's own file goes in
                if (to_scratch) {
                    m_pack_dat_to->WriteAt(size, bytes);
                    size += bytes.size();
                    return;
                }
                m_sink.Write(bytes);
                md5.Update(bytes);
                size += bytes.size();
            },
            &meter);
        if (to_sink)
            m_sink.End();
        if (to_scratch)
            m_patched_pack_dat = {to, m_pack_dat_to->Close(size)};
    } catch (const ctr::TCtrError& error) {
        if (m_host.Progress && !m_host.Progress(0.65, "ApplyingXdelta"))
            throw TRunEnd{{}, {}, true};
        Fail("ErrorApplyingXdelta", error.what());
    }
    if (to_sink)
        m_writer.Note({to, std::int64_t(size), Md5Hex(md5)});
    Progress(65, "ApplyingXdelta");
}

// The RomFS files the desktop's work folder holds after the patch's folders were copied over
// it: the game's index and sound archive and the game's files the patch replaces, under the
// game's spelling, then the patch's files, each merged into a file or folder of the same name
// in any letter case (the first by name where several match).
void TRun::CollectRomFs(bool whole_game) {
    const auto patch_romfs = PatchFilesIn("romfs");
    std::vector<std::string> wanted = {kPackInc, kSoundArchive};
    for (const auto& [path, file] : patch_romfs)
        wanted.push_back(path);
    if (whole_game) {
        for (const ctr::TImageRomFsFile& file : m_game.Files())
            wanted.push_back(file.Path);
    }
    const ctr::TImageRomFsFile* pack_dat = GameFile(kPackDat);
    for (const std::string& path : wanted) {
        const ctr::TImageRomFsFile* game = GameFile(path);
        if (game != nullptr && game != pack_dat)
            m_romfs[game->Path].Game = game;
    }
    if (whole_game && PackDatSent())
        m_romfs[pack_dat->Path].Patch = &m_patched_pack_dat;
    else if (whole_game)
        m_romfs[pack_dat->Path].Game = pack_dat;
    // Each folder's entries by their key, for the merge.
    const auto entry_in = [this](const std::string& folder, const std::string& name) {
        std::string best;
        const std::u16string key = SpellingKey(name);
        for (const auto& [path, source] : m_romfs) {
            if (folder.empty() ? false : path.compare(0, folder.size() + 1, folder + '/') != 0)
                continue;
            const std::string rest = folder.empty() ? path : path.substr(folder.size() + 1);
            const std::string first = rest.substr(0, rest.find('/'));
            if (first == name)
                return name;
            if (SpellingKey(first) == key && (best.empty() || FromUtf8(first) < FromUtf8(best)))
                best = first;
        }
        return best.empty() ? name : best;
    };
    for (const auto& [path, file] : patch_romfs) {
        std::string placed;
        for (std::size_t start = 0; start <= path.size();) {
            const std::size_t end = std::min(path.find('/', start), path.size());
            const std::string name = entry_in(placed, path.substr(start, end - start));
            placed += (placed.empty() ? "" : "/") + name;
            start = end + 1;
        }
        m_romfs[placed] = {nullptr, file};
    }
    Progress(75, "WritingModFolder");
    Progress(80, "WritingModFolder");
}

// The desktop's voice and music step over a folder of its own: the sound
// archive the run's RomFS holds and the chosen voice's clips are copied there in the layout the
// step reads, and the archive it writes back takes the place of the run's. A failure of the
// step is a warning and leaves the archive as it was.
void TRun::ApplySound() {
    namespace fs = std::filesystem;
    TRomFsSource& archive = m_romfs.at(GameFile(kSoundArchive)->Path);
    const auto copy = [](const fs::path& to, ctr::TInFile& in, std::uint64_t offset,
                         std::uint64_t size) {
        fs::create_directories(to.parent_path());
        ctr::TOutFile out(to);
        std::vector<std::uint8_t> block(std::size_t(std::min<std::uint64_t>(size, kChunk)));
        for (std::uint64_t done = 0; done < size;) {
            const std::size_t part =
                std::size_t(std::min<std::uint64_t>(block.size(), size - done));
            in.ReadAt(offset + done, std::span(block.data(), part));
            out.Write(std::span(block.data(), part));
            done += part;
        }
        out.Commit();
    };
    const fs::path temp = fs::temp_directory_path();
    for (int i = 0; m_sound_work.empty(); ++i) {
        const fs::path candidate = temp / ("qvtpatch-sound-" + std::to_string(i));
        if (fs::create_directory(candidate))
            m_sound_work = candidate;
    }
    const fs::path archive_copy =
        m_sound_work / "tools/temp/romfs" / ctr::PathFromUtf8(kSoundArchive);
    if (archive.Patch != nullptr) {
        ctr::TInFile in(archive.Patch->Where);
        copy(archive_copy, in, 0, in.Size());
    } else {
        copy(archive_copy, m_game.Image(), archive.Game->Location.Offset,
             archive.Game->Location.Size);
    }

    // Only the chosen voice's clips: the others would take memory for nothing.
    bool voice_choice = false;
    const std::u16string chosen = SpellingKey(VoiceFolderName(m_job.Voice));
    const fs::path patch_folder = m_sound_work / "patch";
    for (const auto& [path, file] : PatchFilesIn("voice")) {
        voice_choice = true;
        const std::size_t slash = path.find('/');
        if (slash == std::string::npos || SpellingKey(path.substr(0, slash)) != chosen)
            continue;
        const fs::path relative = ctr::PathFromUtf8("voice/" + path).lexically_normal();
        if (relative.empty() || *relative.begin() != "voice")
            Fail("WebPatchUnreadable", file->Path);
        ctr::TInFile in(file->Where);
        copy(patch_folder / relative, in, 0, in.Size());
    }

    const TVoiceAndMusicChoice choice{m_job.Voice, !voice_choice, m_job.Tracks};
    // The step's entries are its language keys, a text of their own after a line break.
    const TLogEntry log = [this](const TText& entry) {
        const std::string text = ToUtf8(entry);
        const std::size_t end = text.find("\r\n");
        Log(text.substr(0, end), end == std::string::npos ? std::string() : text.substr(end + 2));
    };
    const TLookup key = [](std::u16string_view name) { return TText(name); };
    int result = 1;
    try {
        result = ApplyVoiceAndMusic(m_sound_work, choice, log, key,
                                    m_job.Patch.empty() ? fs::path() : patch_folder);
    } catch (const TSystemError& error) {
        Fail("ErrorWritingModFolder", error.Reason());
    }
    if (result == 1) {
        Log("WarningApplyingVoice");
        return;
    }
    m_sound_archive = {kSoundArchive, archive_copy};
    archive = {nullptr, &m_sound_archive};
}

bool TRun::SameBytes(const ctr::TImageRomFsFile& game, const TPatchFile& patch) {
    return SameBytesOrThrow(m_game.Image(), game.Location.Offset, game.Location.Size, patch.Where);
}

void TModWriter::WriteFile(const std::string& folder, const std::string& to, ctr::TInFile& in,
                           std::uint64_t offset, std::uint64_t size) {
    m_sink.Begin(folder.empty() ? to : folder + '/' + to, size);
    ctr::TMd5 md5;
    std::vector<std::uint8_t> block(std::size_t(std::min<std::uint64_t>(size, kChunk)));
    for (std::uint64_t done = 0; done < size;) {
        const std::size_t part = std::size_t(std::min<std::uint64_t>(block.size(), size - done));
        in.ReadAt(offset + done, std::span(block.data(), part));
        md5.Update(std::span(block.data(), part));
        m_sink.Write(std::span(block.data(), part));
        done += part;
    }
    m_sink.End();
    m_written.push_back({to, std::int64_t(size), Md5Hex(md5)});
}

void TModWriter::WriteMarker(const std::string& folder, TModMarker marker) {
    marker.Files = m_written;
    std::sort(marker.Files.begin(), marker.Files.end(),
              [](const TModMarkerFile& a, const TModMarkerFile& b) {
                  return ModFileOrderLess(a.Path, b.Path);
              });
    const std::string text = ModMarkerText(marker);
    m_sink.Begin(folder.empty() ? kModMarkerName : folder + '/' + kModMarkerName, text.size());
    m_sink.Write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    m_sink.End();
}

void TRun::WriteFile(const std::string& to, const TRomFsSource& source) {
    if (source.Patch != nullptr) {
        ctr::TInFile in(source.Patch->Where);
        m_writer.WriteFile(TitleId(), to, in, 0, in.Size());
    } else {
        m_writer.WriteFile(TitleId(), to, m_game.Image(), source.Game->Location.Offset,
                           source.Game->Location.Size);
    }
}

bool CodeChanged(ctr::TInFile& image, ctr::TImageKind kind,
                 const std::filesystem::path& patch_code) {
    const std::vector<std::uint8_t> game_code = ctr::ReadImageCode(image, kind);
    ctr::TInFile patch(patch_code);
    return patch.Size() != game_code.size() || patch.ReadVector(0, patch.Size()) != game_code;
}

TModMarker MarkerOf(const std::string& title_id, const std::string& program_version,
                    const TDescriptionFields* patch) {
    TModMarker marker;
    marker.TitleId = title_id;
    marker.ProgramVersion = program_version;
    if (patch != nullptr) {
        marker.Patch = ToUtf8(patch->Title);
        marker.PatchVersion = ToUtf8(patch->Version);
    }
    return marker;
}

void TRun::WriteMarker() {
    m_writer.WriteMarker(TitleId(), MarkerOf(TitleId(), m_job.ProgramVersion,
                                             m_job.Description.empty() ? nullptr : &m_description));
}

// A pack.dat of the patch's own replaces the difference's when its bytes are not the game's.
void TRun::NotePatchPackDat() {
    for (const auto& [path, file] : PatchFilesIn("romfs")) {
        if (SpellingKey(path) == SpellingKey(kPackDat))
            m_patch_brings_pack_dat = !SameBytes(*GameFile(kPackDat), *file);
    }
}

void TRun::Run() {
    ReadDescription();
    ReadGame();

    // The code, decompressed, only when the patch brings its own.
    const auto patch_exefs = PatchFilesIn("exefs");
    const auto exefs_file = [&](const char* name) -> const TPatchFile* {
        for (const auto& [path, file] : patch_exefs) {
            if (SpellingKey(path) == SpellingKey(name))
                return file;
        }
        return nullptr;
    };
    bool code_changed = false;
    if (const TPatchFile* code = exefs_file("code.bin")) {
        Log("ExtractingExeFS");
        try {
            code_changed = CodeChanged(m_game.Image(), m_job.Kind, code->Where);
        } catch (const std::exception& error) {
            Fail("ErrorExtractingExeFs", error.what());
        }
        Log("Done");
    }
    Progress(45, "ExtractingModFiles");

    NotePatchPackDat();
    PatchPackDat();
    CollectRomFs();
    ApplySound();

    // What goes in: each RomFS file whose bytes differ from the game's, files the game lacks,
    // the code when the patch changed it, and the banner and icon under the names the
    // emulator looks for.
    Log("WritingModFolder");
    TModPlanInput input;
    input.RomFs = "romfs";
    for (const auto& [path, source] : m_romfs)
        input.RomFsFiles.push_back(path);
    std::sort(input.RomFsFiles.begin(), input.RomFsFiles.end(), ModFileOrderLess);
    for (const ctr::TImageRomFsFile& file : m_game.Files())
        input.GameFiles.push_back(file.Path);
    for (const auto& [path, source] : m_romfs) {
        const ctr::TImageRomFsFile* game = GameFile(path);
        if (source.Patch == nullptr || (game != nullptr && SameBytes(*game, *source.Patch)))
            input.Unchanged.insert(path);
    }
    if (code_changed)
        input.ChangedCode = "exefs/code.bin";
    for (const TModExeFsName& name : kModExeFsNames) {
        if (exefs_file(name.Ours) != nullptr)
            input.ExeFsFiles.push_back({std::string("exefs/") + name.Ours, name.Theirs});
    }
    const TModPlan plan = PlanModFolder(input);
    for (const TModFile& file : plan.Files) {
        Progress(80, "WritingModFolder");
        if (file.From.starts_with("romfs/"))
            WriteFile(file.To, m_romfs.at(file.From.substr(6)));
        else
            WriteFile(file.To, {nullptr, exefs_file(file.From.substr(6).c_str())});
    }
    Progress(90, "WritingModFolder");
    WriteMarker();
    Progress(95, "WritingModFolder");
    if (!plan.NewFiles.empty()) {
        std::string list;
        for (const std::string& path : plan.NewFiles)
            list += (list.empty() ? "" : "\r\n") + path;
        Log("WarningModNewFiles", list);
    }
    if (plan.BannerOrIcon)
        Log("ModBannerIcon");
    // The files taken from a compressed image are right only once every frame read in part
    // has been checked to its end; the archive is finished only then.
    try {
        m_game.Image().ConfirmReads();
    } catch (const ctr::TCtrError& error) {
        Fail("ErrorExtractingRomFS", error.what());
    }
    m_sink.Finish();
    Progress(100, "ModFolderSuccessful");
}

} // namespace steps

TModFolderResult RunModFolder(const TModFolderJob& job, TModSink& sink,
                              const TModFolderHost& host) {
    steps::TRun run(job, sink, host);
    TModFolderResult result;
    try {
        run.Run();
        result.Succeeded = true;
    } catch (const steps::TRunEnd& end) {
        result.Cancelled = end.Cancelled;
        result.ErrorKey = end.Key;
        result.Detail = end.Detail;
    } catch (const std::exception& error) {
        // A read or a write that failed outside a stage's own checks.
        result.ErrorKey = "ErrorWritingModFolder";
        result.Detail = error.what();
    }
    result.TitleId = run.TitleId();
    return result;
}

} // namespace engine
