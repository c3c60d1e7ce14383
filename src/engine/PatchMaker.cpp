#include "engine/PatchMaker.h"

#include "ctr/Platform.h"
#include "ctr/SourceImage.h"
#include "engine/Folders.h"
#include "engine/TrackList.h"
#include "sound_archive/N3DSbcsar.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

namespace engine {

namespace fs = std::filesystem;

namespace {

// The voice folders of a patch, in the order of the voice choice.
const char* const kVoiceFolders[] = {"ENG", "JAP MOD", "JAP ORIG"};
// The ExeFS files a mod folder carries: its folder and name there, the image's ExeFS entry,
// the patch's name.
struct TExeFsFile {
    const char* ModFolder;
    const char* ModName;
    const char* Entry;
    const char* PatchName;
};
constexpr TExeFsFile kExeFsFiles[] = {{"exefs", "banner.bnr", "banner", "exefs/banner.bnr"},
                                      {"exefs", "icon.bin", "icon", "exefs/icon.icn"}};
constexpr std::size_t kCompareChunk = std::size_t(1) << 20;

[[noreturn]] void Refuse(const std::string& reason) {
    throw TMakeRefusal(reason);
}

// A path in a message, with '/' between its names on every system.
std::string Shown(const fs::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

std::string SystemReason() {
    return std::generic_category().message(errno);
}

fs::path PathOf(std::u16string_view text) {
    return ctr::PathFromUtf8(ToUtf8(text));
}

void CheckReadable(const fs::path& path) {
    std::FILE* file = ctr::OpenFile(path, "rb");
    if (file == nullptr)
        Refuse("Cannot read " + Shown(path) + ": " + SystemReason());
    std::fclose(file);
}

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
    std::FILE* file = ctr::OpenFile(path, "rb");
    if (file == nullptr)
        Refuse("Cannot read " + Shown(path) + ": " + SystemReason());
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closing(file, std::fclose);
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> block(kCompareChunk);
    for (;;) {
        const std::size_t got = std::fread(block.data(), 1, block.size(), file);
        bytes.insert(bytes.end(), block.begin(), block.begin() + std::ptrdiff_t(got));
        if (got < block.size())
            break;
    }
    if (std::ferror(file))
        Refuse("Cannot read " + Shown(path) + ": " + SystemReason());
    return bytes;
}

// Copies a file to a place in the folder being made, where nothing may be yet.
void CopyInto(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::create_directories(to.parent_path(), error);
    if (fs::exists(fs::symlink_status(to, error)) || !ctr::CopyFileReplacing(from, to, error))
        Refuse("Cannot write " + Shown(to));
}

// MD5 of `size` bytes of `image` at `offset`, copied on the way to `copy` when given.
std::string RangeDigest(ctr::TInFile& image, std::uint64_t offset, std::uint64_t size,
                        ctr::TOutFile* copy) {
    ctr::TDigestRegion region{offset, size, {}};
    if (copy != nullptr)
        region.Copy = [copy](std::span<const std::uint8_t> bytes) { copy->Write(bytes); };
    try {
        return ctr::TakeDigests(image, {region})[0];
    } catch (const ctr::TCtrError& error) {
        Refuse(error.what());
    }
}

std::string FileDigest(const fs::path& path) {
    try {
        ctr::TInFile file(path);
        return ctr::TakeDigests(file, {{0, file.Size(), {}}})[0];
    } catch (const ctr::TCtrError& error) {
        Refuse("Cannot read " + Shown(path) + ": " + error.what());
    }
}

// xdelta3 on Windows takes its file names in the system's code page, which cannot spell
// every other name.
bool PlainAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

bool WriteDescription(const fs::path& path, const TDescriptionFields& fields) {
    const std::string bytes = "\xEF\xBB\xBF" + ToUtf8(DescriptionFileText(fields));
    try {
        ctr::WriteWholeFile(
            path, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        return true;
    } catch (const ctr::TCtrError&) {
        return false;
    }
}

std::string Joined(const std::vector<std::string>& parts, const std::string& between) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : between) + part;
    return text;
}

fs::path Absolute(const fs::path& path) {
    std::error_code error;
    fs::path absolute = fs::absolute(path, error).lexically_normal();
    if (!absolute.has_filename() && absolute.has_relative_path())
        absolute = absolute.parent_path();
    return absolute;
}

} // namespace

void CheckMakeFolders(const TMakeRequest& request) {
    const fs::path output = Absolute(request.OutputFolder);
    std::error_code error;
    if (fs::exists(fs::symlink_status(output, error)))
        Refuse(Shown(output) + " exists: a patch is made into a new folder, never over or into "
                               "an existing one");
    if (!fs::is_directory(request.ChangedFolder, error))
        Refuse("Cannot read the changed folder " + Shown(request.ChangedFolder));
}

TPatchMaker::TPatchMaker(const TMakeRequest& request, const TMakeSource& source, TMadePatch& made)
    : m_request(request), m_source(source), m_made(made), m_output(Absolute(request.OutputFolder)) {
    ReadGame();
    PrepareFolders();
}

TPatchMaker::~TPatchMaker() {
    std::error_code error;
    if (!m_work.empty())
        fs::remove_all(m_work, error);
    if (m_kept)
        return;
    if (!m_staging.empty())
        fs::remove_all(m_staging, error);
    if (!m_made_parent.empty())
        fs::remove_all(m_made_parent, error);
}

const ctr::TImageRomFsFile& TPatchMaker::GameFile(std::u16string_view path) const {
    return m_game_files[m_game_index.at(CaseKey(path))];
}

void TPatchMaker::ReadGame() {
    try {
        m_game_files = ctr::ListRomFsFiles(*m_source.Image, m_source.Kind);
    } catch (const std::exception& error) {
        Refuse(std::string("Cannot read the image: ") + error.what());
    }
    for (std::size_t i = 0; i < m_game_files.size(); ++i)
        m_game_index.insert_or_assign(CaseKey(FromUtf8(m_game_files[i].Path)), i);
    for (const char* needed : {"pack.dat", "sound/qk123.bcsar"}) {
        if (!m_game_index.contains(CaseKey(FromUtf8(needed))))
            Refuse(std::string("The installer would refuse this image: ") + needed +
                   " is not in its RomFS");
    }
    TDescriptionFields& description = m_made.Description;
    description.Region = m_request.Region.empty() ? FromUtf8(m_source.Region) : m_request.Region;
    if (description.Region != FromUtf8(m_source.Region)) {
        const std::string region = ToUtf8(description.Region);
        m_made.Warnings.push_back("The patch is for region " + region + ", the image is " +
                                  m_source.Region + ": the installer offers it only for " + region +
                                  " images.");
    }
    // A folder holding the game's mod folder (named by its title ID) is taken for that folder.
    m_changed = Absolute(m_request.ChangedFolder);
    const fs::path titled = FindEntryNoCase(m_changed, ctr::PathFromUtf8(m_source.TitleId));
    std::error_code error;
    if (!fs::is_directory(FindEntryNoCase(m_changed, "romfs"), error) &&
        fs::is_directory(titled, error))
        m_changed = titled;
}

void TPatchMaker::PrepareFolders() {
    const fs::path parent = m_output.parent_path();
    std::error_code error;
    for (fs::path folder = parent; !fs::exists(folder, error) && folder.has_relative_path();
         folder = folder.parent_path())
        m_made_parent = folder;
    fs::create_directories(parent, error);
    if (!fs::is_directory(parent, error))
        Refuse("Cannot create " + Shown(parent));
    // Beside the output: the final rename stays on one volume, and the big scratch files
    // (the game's pack.dat, the check's mod folder) go where the group has room for the patch.
    fs::path name = ".";
    name += m_output.filename();
    m_staging = MakeScratchFolder(parent, fs::path(name) += ".part-");
    m_work = MakeScratchFolder(parent, fs::path(name) += ".work-");
    if (m_staging.empty() || m_work.empty())
        Refuse("Cannot create a folder in " + Shown(parent));
}

void TPatchMaker::MakeFolder(const TMakeStage& stage, const TEncodeDifference& encode) {
    if (stage)
        stage("Comparing the changed files with the image...");
    CompareRomFs();
    ComparePackDat(m_changed_pack_dat, stage, encode);
    CompareExeFs();
    if (m_made.Expected.empty())
        Refuse("Nothing to make a patch of: every file in " + Shown(m_changed) +
               " is the game's own");
    if (!m_request.VoicesFolder.empty())
        CopyVoices();
    if (!m_request.TrackListFile.empty())
        CopyTrackList();
    WriteDescriptions();
}

void TPatchMaker::AddReplaced(const std::string& patch_path, const fs::path& from,
                              const std::string& mod_path) {
    CopyInto(from, m_staging / ctr::PathFromUtf8(patch_path));
    m_made.Replaced.push_back(patch_path);
    m_made.Expected[mod_path] = from;
}

void TPatchMaker::CompareRomFs() {
    const fs::path romfs = FindEntryNoCase(m_changed, "romfs");
    ctr::TInFile& image = *m_source.Image;
    std::map<TText, fs::path> claimed; // game path's CaseKey to the changed file naming it
    fs::path changed_pack_inc;
    std::error_code error;
    const std::vector<TText> files =
        fs::is_directory(romfs, error) ? FilesBelow(romfs) : std::vector<TText>();
    for (const TText& path : files) {
        const fs::path from = romfs / PathOf(path);
        CheckReadable(from);
        const TText key = CaseKey(path);
        if (const auto other = claimed.find(key); other != claimed.end())
            Refuse(Shown(other->second) + " and " + Shown(from) +
                   " name the same file: names are matched without regard to letter case");
        claimed.emplace(key, from);
        const auto found = m_game_index.find(key);
        if (key == u"pack.inc")
            changed_pack_inc = from; // its digest is the patched game's, unless it is the same
        if (found == m_game_index.end()) {
            m_made.NewFiles.push_back(ToUtf8(path));
            AddReplaced("romfs/" + ToUtf8(path), from, "romfs/" + ToUtf8(path));
            continue;
        }
        const ctr::TImageRomFsFile& game = m_game_files[found->second];
        if (key == u"pack.dat")
            m_changed_pack_dat = from; // goes in as a difference
        else if (!SameBytes(image, game.Location.Offset, game.Location.Size, from))
            AddReplaced("romfs/" + game.Path, from, "romfs/" + game.Path);
    }
    if (!m_made.NewFiles.empty())
        m_made.Warnings.push_back("New files the game does not have (the console loads only "
                                  "files that replace the game's own):\n  " +
                                  Joined(m_made.NewFiles, "\n  "));

    // The digests the description files carry; pack.inc may be missing from a game.
    TDescriptionFields& description = m_made.Description;
    if (const auto pack_inc = m_game_index.find(u"pack.inc"); pack_inc != m_game_index.end()) {
        const ctr::TImageFileLocation& place = m_game_files[pack_inc->second].Location;
        description.OriginalPackIncMD5 =
            FromUtf8(RangeDigest(image, place.Offset, place.Size, nullptr));
    }
    // The digests of the game the patch leaves, by which an image that already carries it is
    // told from the untouched game.
    description.PatchedPackIncMD5 = description.OriginalPackIncMD5;
    if (!changed_pack_inc.empty())
        description.PatchedPackIncMD5 = FromUtf8(FileDigest(changed_pack_inc));
}

void TPatchMaker::ComparePackDat(const fs::path& changed, const TMakeStage& stage,
                                 const TEncodeDifference& encode) {
    const ctr::TImageRomFsFile& game = GameFile(u"pack.dat");
    m_made.PackDatBytes = std::int64_t(game.Location.Size);
    ctr::TInFile& image = *m_source.Image;
    const bool differs =
        !changed.empty() && !SameBytes(image, game.Location.Offset, game.Location.Size, changed);
    // The game's pack.dat is read once: digested, and copied out when the encoder needs it.
    const fs::path original = m_work / "pack.dat";
    std::unique_ptr<ctr::TOutFile> copy;
    try {
        if (differs) {
            copy = std::make_unique<ctr::TOutFile>(original);
            copy->MarkScratch();
        }
        TDescriptionFields& description = m_made.Description;
        description.OriginalPackDatMD5 =
            FromUtf8(RangeDigest(image, game.Location.Offset, game.Location.Size, copy.get()));
        description.PatchedPackDatMD5 =
            differs ? FromUtf8(FileDigest(changed)) : description.OriginalPackDatMD5;
        if (!differs)
            return;
        copy->Commit();
    } catch (const ctr::TCtrError& error) {
        Refuse("Cannot write " + Shown(original) + ": " + error.what());
    }

    if (stage)
        stage("Making patch.xdelta, the difference of pack.dat...");
    const fs::path delta = m_staging / "patch.xdelta";
    // The encoder runs in the work folder and is given names relative to it, each plain
    // ASCII. A changed pack.dat in a folder of other letters is read from a copy.
    std::string changed_argument = Shown(changed);
    std::error_code error;
    if (!PlainAscii(changed_argument)) {
        changed_argument = "changed_pack.dat";
        if (!ctr::CopyFileReplacing(changed, m_work / changed_argument, error))
            Refuse("Cannot copy " + Shown(changed) + " to " + Shown(m_work));
    }
    encode(m_work, "pack.dat", changed_argument, "patch.xdelta");
    fs::rename(m_work / "patch.xdelta", delta, error);
    if (error)
        Refuse("Cannot write " + Shown(delta));
    fs::remove(original, error);
    fs::remove(m_work / "changed_pack.dat", error);
    m_made.DifferenceBytes = std::int64_t(fs::file_size(delta, error));
    m_made.Expected["romfs/" + game.Path] = changed;
}

void TPatchMaker::CompareExeFs() {
    // The mod folder holds the code decompressed, as the patch's exefs/code.bin does.
    ctr::TInFile& image = *m_source.Image;
    std::error_code error;
    const fs::path code = FindEntryNoCase(m_changed, "code.bin");
    if (fs::is_regular_file(code, error) &&
        ReadAll(code) != ctr::ReadImageCode(image, m_source.Kind))
        AddReplaced("exefs/code.bin", code, "code.bin");
    for (const TExeFsFile& file : kExeFsFiles) {
        const fs::path from =
            FindEntryNoCase(FindEntryNoCase(m_changed, file.ModFolder), file.ModName);
        if (!fs::is_regular_file(from, error))
            continue;
        const auto game = ctr::ReadImageExeFsFile(image, m_source.Kind, file.Entry);
        if (!game || ReadAll(from) != *game)
            AddReplaced(file.PatchName, from,
                        std::string(file.ModFolder) + '/' + std::string(file.ModName));
    }
}

void TPatchMaker::CopyVoices() {
    // The clips a voice folder may replace are those of the sound archive the patch leaves.
    const ctr::TImageRomFsFile& game = GameFile(u"sound/qk123.bcsar");
    const auto replaced = m_made.Expected.find("romfs/" + game.Path);
    const std::vector<std::uint8_t> archive =
        replaced != m_made.Expected.end()
            ? ReadAll(replaced->second)
            : m_source.Image->ReadVector(game.Location.Offset, game.Location.Size, "sound archive");
    const fs::path unpacked = m_work / "sound";
    std::error_code error;
    fs::create_directories(unpacked, error);
    if (UnpackBcsar(archive, unpacked, 0, false) == -1)
        Refuse("The game's sound archive cannot be unpacked");
    int clip_count = 0;
    for (fs::directory_iterator it(unpacked / "4_CSAR_FILE" / "3_CWAR" / "3_BCWAV", error), end;
         !error && it != end; it.increment(error)) {
        std::error_code kind;
        if (it->is_regular_file(kind) && !ctr::IsHiddenEntry(it->path()))
            ++clip_count;
    }
    fs::remove_all(unpacked, error);

    const auto clip_number = [](const TText& name) -> std::optional<int> {
        // "NNN.bcwav", the extension in any letter case.
        if (name.size() != 9 || !EqualNoCase(name.substr(3), u".bcwav"))
            return std::nullopt;
        int number = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            if (name[i] < u'0' || name[i] > u'9')
                return std::nullopt;
            number = number * 10 + (name[i] - u'0');
        }
        return number;
    };
    for (const char* language : kVoiceFolders) {
        const fs::path folder = FindEntryNoCase(m_request.VoicesFolder, language);
        if (!fs::is_directory(folder, error))
            Refuse("--voices: " + Shown(m_request.VoicesFolder) + " has no folder \"" + language +
                   "\"");
        // Either the clips themselves or the 3_BCWAV folder of an earlier patch.
        fs::path clips = FindEntryNoCase(folder, "3_BCWAV");
        if (!fs::is_directory(clips, error))
            clips = folder;
        const std::vector<TText> names = FilesBelow(clips);
        if (names.empty())
            Refuse("--voices: " + Shown(clips) + " holds no clips");
        for (const TText& name : names) {
            const fs::path from = clips / PathOf(name);
            const std::optional<int> number = clip_number(name);
            if (!number || *number >= clip_count) {
                char last[16];
                std::snprintf(last, sizeof last, "%03d", clip_count - 1);
                Refuse("--voices: " + Shown(from) +
                       " is not a clip of the game's sound archive (000.bcwav to " + last +
                       ".bcwav)");
            }
            CheckReadable(from);
            CopyInto(from, m_staging / "voice" / language / "3_BCWAV" / PathOf(CaseKey(name)));
        }
    }
    m_made.Voices = true;
}

void TPatchMaker::CopyTrackList() {
    CheckReadable(m_request.TrackListFile);
    const fs::path copy = m_staging / "Tracklist.tls";
    CopyInto(m_request.TrackListFile, copy);
    // Read as the installer reads it: from the patch folder, against the image's slots.
    ctr::TInFile& image = *m_source.Image;
    const auto read = [&image](std::int64_t position, std::size_t length) {
        std::vector<std::uint8_t> bytes;
        if (position < 0 || std::uint64_t(position) >= image.Size())
            return bytes;
        const std::uint64_t count =
            std::min<std::uint64_t>(length, image.Size() - std::uint64_t(position));
        try {
            bytes = image.ReadVector(std::uint64_t(position), count, "track list slots");
        } catch (const std::exception&) {
            bytes.clear();
        }
        return bytes;
    };
    const TTrackList list(ReadTokenFile(copy, u':', m_request.RussianLocale), m_source.Path,
                          m_source.InfoPosition, read);
    if (list.Status() != TTrackListStatus::Ok)
        Refuse("--tracklist: " + Shown(m_request.TrackListFile) +
               " is not a track list the installer reads: " +
               m_request.Texts->LookupUtf8(list.Status() == TTrackListStatus::ErrorTrackListFormat
                                               ? "ErrorTrackListFormat"
                                               : "ErrorReadingTracks"));
    m_made.TrackList = true;
}

void TPatchMaker::WriteDescriptions() {
    TDescriptionFields& description = m_made.Description;
    description.Title = m_request.Title;
    description.Version = m_request.Version;
    const auto text_of = [this](const fs::path& path) {
        return path.empty() ? TText() : DecodeTextFile(ReadAll(path), m_request.RussianLocale);
    };
    description.Description = text_of(m_request.DescriptionFile);
    if (!WriteDescription(m_staging / "English.dsc", description))
        Refuse("Cannot write English.dsc");
    if (m_request.RussianDescriptionFile.empty())
        return;
    TDescriptionFields russian = description;
    russian.Description = text_of(m_request.RussianDescriptionFile);
    if (!WriteDescription(m_staging / ctr::PathFromUtf8("Русский.dsc"), russian))
        Refuse("Cannot write Русский.dsc");
}

void TPatchMaker::Finish() {
    // The bytes compared and taken from a compressed image are right only once every frame
    // read in part has been checked to its end.
    try {
        m_source.Image->ConfirmReads();
    } catch (const std::exception& error) {
        Refuse(std::string("Cannot read the image: ") + error.what());
    }
    // Only a patch that passed its check gets its name.
    std::error_code error;
    fs::rename(m_staging, m_output, error);
    if (error)
        Refuse("Cannot create " + Shown(m_output));
    m_kept = true;
    const TDescriptionFields& description = m_made.Description;
    const std::string size =
        m_made.DifferenceBytes < 0
            ? "pack.dat unchanged"
            : "patch.xdelta " + std::to_string(m_made.DifferenceBytes) + " bytes";
    m_made.ReleaseNote = ToUtf8(description.Title) + " (" + ToUtf8(description.Region) +
                         "): " + std::to_string(m_made.Replaced.size()) + " file(s) replaced, " +
                         size + "; needs the untouched game (pack.dat MD5 " +
                         ToUtf8(description.OriginalPackDatMD5) + ", pack.inc MD5 " +
                         ToUtf8(description.OriginalPackIncMD5) + ").";
}

} // namespace engine
