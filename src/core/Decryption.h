#pragma once
// Encrypted source images: where the user's key files are found, whether they open an image,
// and the run's first stage that writes the decrypted image into tools/temp.

#include "ctr/Keys.h"
#include "ctr/Verify.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace ctr {
class TDecryptingReader;
}

/// The places keys are looked for. `ProgramFolder` holds keys/aes_keys.txt and
/// keys/seeddb.bin (empty: the folder of the running program); `KeyFile` and `SeedDb` are files the
/// user named (`--keys`, `--seeddb`, the window's chooser) and win over every folder.
struct TKeySearch {
    QString ProgramFolder;
    QString KeyFile;
    QString SeedDb;
};
/// Sets the places for this process (the window at start and after a choice, qvtpatch from its
/// options); identification and runs read them.
void SetKeySearch(const TKeySearch& search);
TKeySearch KeySearch();

/// The folders searched after the named files, in order: the program folder's keys, then the
/// emulators' sysdata folders.
QStringList KeyFolders(const QString& program_folder);

/// The key file and seed database found (empty when none), each by the first place holding it.
struct TKeyFiles {
    QString KeyFile;
    QString SeedDb;
};
TKeyFiles FindKeyFiles(const TKeySearch& search);

/// What an image needs to be read decrypted.
struct TSourceCrypto {
    bool Encrypted = false;
    bool KeysMissing = false; // a key or seed it needs is in no file found (or no file at all)
    QString Problem;          // English: what is missing or wrong; empty when it opens
    bool Ready() const { return Problem.isEmpty(); }
};

/// Tries the keys found for `search` on the image at `path` of `kind` (".cia", ".cxi", ".3ds").
/// `reader` (when given) receives the open decrypting reader of an encrypted image.
TSourceCrypto InspectSourceCrypto(const QString& path, const QString& kind,
                                  const TKeySearch& search,
                                  std::unique_ptr<ctr::TDecryptingReader>* reader = nullptr);

/// Writes the decrypted image of `path` to `output` with the keys found for `search`;
/// `progress` hears the fraction done and returns false to cancel. Throws ctr::TCtrError
/// (cancelled: "the check was cancelled").
void DecryptSourceImage(const QString& path, const QString& kind, const QString& output,
                        const TKeySearch& search, const std::function<bool(double)>& progress);

/// Writes the decrypted first content (the game's CXI) of the CIA at `path` to `output`, as
/// DecryptSourceImage writes a whole image.
void DecryptSourceGameContent(const QString& path, const QString& output, const TKeySearch& search,
                              const std::function<bool(double)>& progress);

/// Opens the image at `path` to be read decrypted with the keys found for `search`, the keys
/// checked against the image's hashes. Throws what DecryptSourceImage throws before it writes.
std::unique_ptr<ctr::TDecryptingReader>
OpenDecryptingSource(const QString& path, const QString& kind, const TKeySearch& search);

/// The image kind of the library for ".cia", ".cxi" or ".3ds".
ctr::TImageKind LibraryImageKind(const QString& kind);
