#pragma once
// Making a patch folder for translation groups without Qt: the changed files of the mod folder
// layout a group tests with, compared with the game's image; pack.dat as a difference; the
// voices, the track list and the description files. The folder is written beside the output
// under another name, and gets its name only once the front end has checked it by installing it.

#include "ctr/FileIo.h"
#include "ctr/Verify.h"
#include "engine/Language.h"
#include "engine/PatchDescription.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace engine {

/// Why no patch was made: one English text (UTF-8), paths in it '/'-separated. Nothing was
/// left behind.
class TMakeRefusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// What a patch is made from, as the user named it.
struct TMakeRequest {
    std::filesystem::path ChangedFolder; // mod folder layout: romfs/..., code.bin, exefs/...
    std::filesystem::path OutputFolder;  // the patch folder to create; must not exist
    TText Title;
    TText Version;                                // empty: none written
    TText Region;                                 // "EUR", "USA" or "JAP"; empty: the image's
    std::filesystem::path DescriptionFile;        // text for English.dsc; empty: no description
    std::filesystem::path RussianDescriptionFile; // empty: no Русский.dsc
    std::filesystem::path VoicesFolder;           // holds ENG, JAP MOD, JAP ORIG; empty: none
    std::filesystem::path TrackListFile;          // empty: no Tracklist.tls
    bool RussianLocale = false;            // how a text file without a byte-order mark is decoded
    const TLanguageTable* Texts = nullptr; // the installer's texts, for what it would say
};

/// The game's image, identified and opened by the front end as its installer opens it.
struct TMakeSource {
    std::filesystem::path Path;
    ctr::TImageKind Kind = ctr::TImageKind::Cia;
    ctr::TInFile* Image = nullptr; // reads the image's own bytes (decompressed, decrypted)
    std::string TitleId;           // 16 upper-case hexadecimal digits
    std::string Region;            // "EUR", "USA" or "JAP"
    std::int64_t InfoPosition = 0; // of the sound archive's INFO partition
};

/// What the patch holds, as it is made.
struct TMadePatch {
    std::vector<std::string> Warnings;
    std::vector<std::string> Replaced; // patch folder files taking the place of the game's
    std::vector<std::string> NewFiles; // RomFS paths the game lacks (also in Replaced)
    std::int64_t DifferenceBytes = -1; // patch.xdelta's size; -1 when pack.dat is unchanged
    std::int64_t PackDatBytes = 0;     // the game's pack.dat
    TDescriptionFields Description;    // as English.dsc holds it
    bool Voices = false;
    bool TrackList = false;
    /// Mod folder path ("romfs/...", "code.bin", "exefs/...") to the changed file an install
    /// of the patch must give byte for byte.
    std::map<std::string, std::filesystem::path> Expected;
    std::string ReleaseNote; // set once the folder has its name
};

/// Encodes the difference of `changed` against `source` into `output`, in the folder `work`
/// where the names are read (each name plain ASCII, relative to `work` or absolute). Throws
/// to refuse.
using TEncodeDifference =
    std::function<void(const std::filesystem::path& work, const std::string& source,
                       const std::string& changed, const std::string& output)>;

/// Hears a line at the start of each step.
using TMakeStage = std::function<void(const std::string& text)>;

/// Refuses an output folder that exists (a patch is never made over or into one) and a changed
/// folder that is none, before the image is read.
void CheckMakeFolders(const TMakeRequest& request);

/// One patch in the making. Throws TMakeRefusal; whatever it made goes with it unless Finish()
/// gave the folder its name.
class TPatchMaker {
public:
    /// Reads the game's RomFS list from the image, refuses an image the installer would
    /// refuse, and makes the scratch folders beside the output.
    TPatchMaker(const TMakeRequest& request, const TMakeSource& source, TMadePatch& made);
    ~TPatchMaker();
    TPatchMaker(const TPatchMaker&) = delete;
    TPatchMaker& operator=(const TPatchMaker&) = delete;

    /// Writes the patch folder under its scratch name: each file under romfs/ whose bytes
    /// differ from the game's file of that path (letter case ignored, the game's case written)
    /// or that the game lacks, pack.dat as patch.xdelta, code.bin, banner and icon when they
    /// differ, the voices and the track list checked, and the description files with the
    /// image's digests.
    void MakeFolder(const TMakeStage& stage, const TEncodeDifference& encode);

    /// The folder made, under its scratch name.
    const std::filesystem::path& Folder() const { return m_staging; }
    /// A scratch folder beside it for the check's files; removed with the maker.
    const std::filesystem::path& WorkFolder() const { return m_work; }

    /// Once the folder was checked: confirms every read of the image and gives the folder its
    /// name; the release note is written.
    void Finish();

private:
    void ReadGame();
    void PrepareFolders();
    void CompareRomFs();
    void ComparePackDat(const std::filesystem::path& changed, const TMakeStage& stage,
                        const TEncodeDifference& encode);
    void CompareExeFs();
    void CopyVoices();
    void CopyTrackList();
    void WriteDescriptions();
    void AddReplaced(const std::string& patch_path, const std::filesystem::path& from,
                     const std::string& mod_path);
    const ctr::TImageRomFsFile& GameFile(std::u16string_view path) const;

    const TMakeRequest& m_request;
    const TMakeSource& m_source;
    TMadePatch& m_made;
    std::filesystem::path m_output;
    std::filesystem::path m_changed;          // the changed folder's mod root
    std::filesystem::path m_changed_pack_dat; // the changed folder's pack.dat, if it has one
    std::vector<ctr::TImageRomFsFile> m_game_files;
    std::map<TText, std::size_t> m_game_index; // CaseKey of the path to m_game_files
    std::filesystem::path m_made_parent;       // the outermost folder made for the output's parent
    std::filesystem::path m_staging;
    std::filesystem::path m_work;
    bool m_kept = false;
};

} // namespace engine
