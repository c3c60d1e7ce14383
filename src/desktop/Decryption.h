#pragma once
// Encrypted source images: where the user's key files are found and whether they open an
// image. The run's decryption stage is the engine's (engine/InstallRun.h).

#include "ctr/Keys.h"
#include "ctr/Verify.h"
#include "engine/KeyFiles.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace ctr {
class TDecryptingReader;
class TInFile;
} // namespace ctr

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
/// The places set for this process, in `program_folder` when they name no program folder (a
/// run's or make-patch's own).
TKeySearch KeySearchFor(const QString& program_folder);

/// The places of `search` as the engine takes them: the named files, then the keys folder of
/// its program folder (the running program's when it names none) and the emulators' sysdata.
engine::TKeyPlaces KeyPlacesOf(const TKeySearch& search);

/// The filter of the window's dialog that chooses a key file or a seed database.
QString KeyFileFilter();

/// `search` with the file the user chose: a seed database (".bin") or else a key file. The
/// other of the two is taken from beside it when it is there and none is named yet.
TKeySearch WithChosenKeyFile(TKeySearch search, const QString& path);

/// Copies the files `search` names into the keys folder of `program_folder` (made when
/// missing), replacing the files there only once each copy is whole; false with the file and
/// the reason in `problem`.
bool CopyKeyFilesTo(const TKeySearch& search, const QString& program_folder, QString& problem);

/// The folders searched after the named files, in order: the program folder's keys, then the
/// emulators' sysdata folders.
QStringList KeyFolders(const QString& program_folder);

/// The key files and seed databases found: a named file alone, else every folder's
/// aes_keys.txt and keys.txt (the emulators' own key file), and every folder's seeddb.bin,
/// in folder order. `KeyFile` and `SeedDb` are the first of each (empty when none).
struct TKeyFiles {
    QString KeyFile;
    QString SeedDb;
    QStringList KeyFiles;
    QStringList SeedDbs;
};
TKeyFiles FindKeyFiles(const TKeySearch& search);

/// What an image needs to be read decrypted.
struct TSourceCrypto {
    bool Encrypted = false;
    bool KeysMissing = false;  // a key or seed it needs is in no file found (or no file at all)
    bool ImageProblem = false; // the image itself cannot be taken apart, whatever the keys
    QString Problem;           // English: what is missing or wrong; empty when it opens
    bool KeyFileFound = false; // some key file was found (and tried)
    QStringList FilesRead;     // the key files and seed databases read, in order
    QString KeyFile;           // the key file whose keys opened it; empty when none was needed
    bool Ready() const { return Problem.isEmpty(); }
};

/// Tries the keys found for `search` on the image at `path` of `kind` (".cia", ".cxi", ".3ds"),
/// each key file found in turn (with the seeds of every seed database found) until one opens
/// it. `reader` (when given) receives the open decrypting reader of an encrypted image.
TSourceCrypto InspectSourceCrypto(const QString& path, const QString& kind,
                                  const TKeySearch& search,
                                  std::unique_ptr<ctr::TDecryptingReader>* reader = nullptr);

/// A source image read as its decrypted form: straight from the file when it is not encrypted,
/// through the keys KeySearch() finds when it is (only the blocks read are decrypted). A
/// compressed image is read through its frames.
class TSourceImageReader {
public:
    TSourceImageReader();
    ~TSourceImageReader();
    TSourceImageReader(const TSourceImageReader&) = delete;
    TSourceImageReader& operator=(const TSourceImageReader&) = delete;

    /// Opens the image at `path` of `kind` (".cia", ".cxi", ".3ds"). False when the file cannot
    /// be read, or it is encrypted and the keys found do not open it (Crypto() says why).
    bool Open(const QString& path, const QString& kind);
    const TSourceCrypto& Crypto() const { return m_crypto; }
    std::int64_t Size() const;
    /// `length` bytes at `position`; fewer past the end, empty when reading fails.
    QByteArray Read(std::int64_t position, qint64 length);

private:
    std::unique_ptr<ctr::TInFile> m_file;
    TSourceCrypto m_crypto;
    std::unique_ptr<ctr::TDecryptingReader> m_decrypting;
};

/// Opens the image at `path` to be read decrypted with the keys found for `search`, the keys
/// checked against the image's hashes. Throws ctr::TCtrError saying why when no key file found
/// opens it.
std::unique_ptr<ctr::TDecryptingReader>
OpenDecryptingSource(const QString& path, const QString& kind, const TKeySearch& search);

/// The image kind of the library for ".cia", ".cxi" or ".3ds".
ctr::TImageKind LibraryImageKind(const QString& kind);
