#pragma once
// The user's key files: where they are looked for, in which order, and which of them opens an
// encrypted image. The keys stay in memory; what is said about them names files, keys by name
// and titles, never a key itself.

#include "ctr/Decrypt.h"
#include "ctr/Keys.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace engine {

/// Where keys are looked for. Files the user named (`KeyFile`, `SeedDb`; empty: none) win over
/// every folder; `Folders` are searched in order.
struct TKeyPlaces {
    std::filesystem::path KeyFile;
    std::filesystem::path SeedDb;
    std::vector<std::filesystem::path> Folders;
};

/// The folders searched after the named files, in order: the keys folder of `program_folder`
/// (none when it is empty), then `sysdata`, where the emulators keep the files users give them.
std::vector<std::filesystem::path> KeyFolders(const std::filesystem::path& program_folder,
                                              const std::vector<std::filesystem::path>& sysdata);

/// `places` with the file the user chose: a seed database (".bin", any letter case) or else a
/// key file. The other of the two is taken from beside it when it is there and none is named.
TKeyPlaces WithChosenKeyFile(TKeyPlaces places, const std::filesystem::path& chosen);

/// The key files and seed databases found: a named file alone, else every folder's
/// aes_keys.txt and keys.txt (the emulators' own key file), and every folder's seeddb.bin, in
/// folder order.
struct TKeyFiles {
    std::vector<std::filesystem::path> KeyFiles;
    std::vector<std::filesystem::path> SeedDbs;
};
TKeyFiles FindKeyFiles(const TKeyPlaces& places);

/// What an image needs to be read decrypted, and what the key files found gave it.
struct TKeyTrial {
    bool Encrypted = false;
    bool KeysMissing = false;  // a key or seed it needs is in no file found (or no file at all)
    bool ImageProblem = false; // the image itself cannot be taken apart, whatever the keys
    std::string Problem;       // UTF-8 English, lines separated by CR LF; empty when it opens
    bool KeyFileFound = false; // some key file was found (and tried)
    std::vector<std::filesystem::path> FilesRead; // key files, then seed databases
    std::filesystem::path KeyFile; // whose keys opened it; empty when none was needed
    ctr::TCryptoKeys Keys;         // the keys that opened it
    std::unique_ptr<ctr::TDecryptingReader> Reader; // open on the image when the keys fit
};

/// Tries each key file of `files` in turn, with the seeds of every seed database, on the image
/// at `image` of `kind` until one opens it (without any key file, an image under a fixed key
/// still opens). Each failure is one line of Problem, led by its file when several were tried.
TKeyTrial TryKeyFiles(const std::filesystem::path& image, ctr::TImageKind kind,
                      const TKeyFiles& files);

/// Whether the image is encrypted and, when it is, TryKeyFiles on it.
TKeyTrial InspectImageKeys(const std::filesystem::path& image, ctr::TImageKind kind,
                           const TKeyFiles& files);

} // namespace engine
