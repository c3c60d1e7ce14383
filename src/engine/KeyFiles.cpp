#include "engine/KeyFiles.h"

#include "ctr/FileIo.h"
#include "ctr/Platform.h"
#include "engine/Folders.h"

#include <system_error>
#include <vector>

namespace engine {

namespace fs = std::filesystem;

namespace {

bool IsFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// The files called `names` in `folders`, folder by folder, or the named file alone.
std::vector<fs::path> FilesFound(const fs::path& named, const std::vector<fs::path>& folders,
                                 std::initializer_list<const char*> names) {
    if (!named.empty())
        return {named};
    std::vector<fs::path> found;
    for (const fs::path& folder : folders)
        for (const char* name : names) {
            fs::path candidate = folder / name;
            if (IsFile(candidate))
                found.push_back(std::move(candidate));
        }
    return found;
}

bool IsSeedDbName(const fs::path& path) {
    const std::string extension = ctr::PathToUtf8(path.extension());
    return extension.size() == 4 && extension[0] == '.' && (extension[1] | 0x20) == 'b' &&
           (extension[2] | 0x20) == 'i' && (extension[3] | 0x20) == 'n';
}

} // namespace

std::vector<fs::path> KeyFolders(const fs::path& program_folder,
                                 const std::vector<fs::path>& sysdata) {
    std::vector<fs::path> folders;
    if (!program_folder.empty())
        folders.push_back(program_folder / "keys");
    folders.insert(folders.end(), sysdata.begin(), sysdata.end());
    return folders;
}

TKeyPlaces WithChosenKeyFile(TKeyPlaces places, const fs::path& chosen) {
    const bool seed_db = IsSeedDbName(chosen);
    (seed_db ? places.SeedDb : places.KeyFile) = chosen;
    fs::path& other = seed_db ? places.KeyFile : places.SeedDb;
    const std::vector<const char*> partners =
        seed_db ? std::vector<const char*>{"aes_keys.txt", "keys.txt"}
                : std::vector<const char*>{"seeddb.bin"};
    for (const char* name : partners) {
        const fs::path beside = chosen.parent_path() / name;
        if (other.empty() && IsFile(beside))
            other = beside;
    }
    return places;
}

TKeyFiles FindKeyFiles(const TKeyPlaces& places) {
    TKeyFiles files;
    files.KeyFiles = FilesFound(places.KeyFile, places.Folders, {"aes_keys.txt", "keys.txt"});
    files.SeedDbs = FilesFound(places.SeedDb, places.Folders, {"seeddb.bin"});
    return files;
}

TKeyTrial TryKeyFiles(const fs::path& image, ctr::TImageKind kind, const TKeyFiles& files) {
    TKeyTrial trial;
    trial.Encrypted = true;
    std::vector<std::string> problems;
    ctr::TSeedDb seeds;
    for (const fs::path& file : files.SeedDbs) {
        try {
            seeds.Add(ctr::ReadSeedDb(file));
        } catch (const ctr::TCtrError& error) {
            problems.push_back(NativePathText(file) + ": " + error.what());
        }
    }
    // The key files first, then the seed databases, as the user thinks of them.
    trial.FilesRead = files.KeyFiles;
    trial.FilesRead.insert(trial.FilesRead.end(), files.SeedDbs.begin(), files.SeedDbs.end());
    trial.KeyFileFound = !files.KeyFiles.empty();
    // Without any key file, an image under a fixed key still opens.
    const std::vector<fs::path> key_files =
        files.KeyFiles.empty() ? std::vector<fs::path>{fs::path()} : files.KeyFiles;
    bool all_missing = true;
    for (const fs::path& file : key_files) {
        // One file's reason needs no name: the list of files read follows it.
        const std::string where =
            key_files.size() > 1 ? NativePathText(file) + ": " : std::string();
        ctr::TCryptoKeys keys;
        keys.Seeds = seeds;
        if (!file.empty()) {
            try {
                keys.Keys = ctr::ReadKeyFile(file);
            } catch (const ctr::TCtrError& error) {
                all_missing = false;
                problems.push_back(where + error.what());
                continue;
            }
        }
        try {
            trial.Reader = std::make_unique<ctr::TDecryptingReader>(image, kind, keys);
            trial.KeyFile = file;
            trial.Keys = std::move(keys);
            return trial;
        } catch (const ctr::TMissingKeyError& error) {
            problems.push_back(where + error.what());
        } catch (const ctr::TKeysDoNotFitError& error) {
            all_missing = false;
            problems.push_back(where + error.what());
        } catch (const std::exception& error) {
            // Not the keys: the image cannot be taken apart, whichever keys are tried.
            trial.ImageProblem = true;
            trial.Problem = error.what();
            return trial;
        }
    }
    trial.KeysMissing = all_missing;
    for (std::size_t i = 0; i < problems.size(); ++i)
        trial.Problem += (i == 0 ? "" : "\r\n") + problems[i];
    return trial;
}

TKeyTrial InspectImageKeys(const fs::path& image, ctr::TImageKind kind, const TKeyFiles& files) {
    try {
        if (!ctr::ImageIsEncrypted(image, kind))
            return {};
    } catch (const std::exception& error) {
        // Taken apart without keys, the image fails before any key is asked for.
        TKeyTrial trial;
        trial.ImageProblem = true;
        trial.Problem = error.what();
        return trial;
    }
    return TryKeyFiles(image, kind, files);
}

} // namespace engine
