#include "core/Decryption.h"

#include "core/Places.h"
#include "ctr/Decrypt.h"
#include "ctr/Z3ds.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>

#include <algorithm>
#include <filesystem>
#include <utility>

namespace {

QMutex g_search_mutex;
TKeySearch g_search;

std::filesystem::path FsPath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

// The emulators keep the key files users give them in sysdata of their user folders.
QStringList EmulatorSysdataFolders() {
    QStringList folders;
    for (const QString& user : EmulatorUserFolders(SystemFolderInputs()))
        folders << user + QStringLiteral("/sysdata");
    return folders;
}

// The files called `names` in `folders`, folder by folder, or the named file alone.
QStringList FilesFound(const QString& named, const QStringList& folders, const QStringList& names) {
    if (!named.isEmpty())
        return {named};
    QStringList found;
    for (const QString& folder : folders)
        for (const QString& name : names) {
            const QString candidate = folder + QLatin1Char('/') + name;
            if (QFileInfo(candidate).isFile())
                found << candidate;
        }
    return found;
}

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Tries each key file found in turn, with the seeds of every seed database found, until one
// opens the image; `crypto` tells what was read, which file fitted or why none did. Returns
// the keys that opened it and the open reader in `reader`.
ctr::TCryptoKeys TryKeySets(const QString& path, ctr::TImageKind kind, const TKeySearch& search,
                            TSourceCrypto& crypto,
                            std::unique_ptr<ctr::TDecryptingReader>& reader) {
    const TKeyFiles files = FindKeyFiles(search);
    QStringList problems;
    ctr::TSeedDb seeds;
    for (const QString& file : files.SeedDbs) {
        try {
            seeds.Add(ctr::ReadSeedDb(FsPath(file)));
        } catch (const ctr::TCtrError& error) {
            problems << Native(file) + QStringLiteral(": ") + QString::fromStdString(error.what());
        }
    }
    // Without any key file, an image under a fixed key still opens.
    const QStringList key_files =
        files.KeyFiles.isEmpty() ? QStringList{QString()} : files.KeyFiles;
    // The key files first, then the seed databases, as the user thinks of them.
    crypto.FilesRead = files.KeyFiles + files.SeedDbs;
    crypto.KeyFileFound = !files.KeyFiles.isEmpty();
    bool all_missing = true;
    for (const QString& file : key_files) {
        // One file's reason needs no name: the list of files read follows it.
        const QString where =
            key_files.size() > 1 ? Native(file) + QStringLiteral(": ") : QString();
        ctr::TCryptoKeys keys;
        keys.Seeds = seeds;
        if (!file.isEmpty()) {
            try {
                keys.Keys = ctr::ReadKeyFile(FsPath(file));
            } catch (const ctr::TCtrError& error) {
                all_missing = false;
                problems << where + QString::fromStdString(error.what());
                continue;
            }
        }
        try {
            reader = std::make_unique<ctr::TDecryptingReader>(FsPath(path), kind, keys);
            crypto.KeyFile = file;
            return keys;
        } catch (const ctr::TMissingKeyError& error) {
            problems << where + QString::fromStdString(error.what());
        } catch (const ctr::TKeysDoNotFitError& error) {
            all_missing = false;
            problems << where + QString::fromStdString(error.what());
        } catch (const std::exception& error) {
            // Not the keys: the image cannot be taken apart, whichever keys are tried.
            crypto.ImageProblem = true;
            crypto.Problem = QString::fromStdString(error.what());
            return {};
        }
    }
    crypto.KeysMissing = all_missing;
    crypto.Problem = problems.join(QStringLiteral("\r\n"));
    return {};
}

} // namespace

void SetKeySearch(const TKeySearch& search) {
    QMutexLocker lock(&g_search_mutex);
    g_search = search;
}

TKeySearch KeySearch() {
    QMutexLocker lock(&g_search_mutex);
    return g_search;
}

QString KeyFileFilter() {
    return QStringLiteral("Key files (aes_keys.txt keys.txt seeddb.bin)|"
                          "aes_keys.txt;keys.txt;seeddb.bin|All files (*)|*");
}

TKeySearch WithChosenKeyFile(TKeySearch search, const QString& path) {
    const QFileInfo chosen(path);
    const bool seed_db = chosen.suffix().compare(QLatin1String("bin"), Qt::CaseInsensitive) == 0;
    (seed_db ? search.SeedDb : search.KeyFile) = chosen.absoluteFilePath();
    QString& other = seed_db ? search.KeyFile : search.SeedDb;
    const QStringList partners =
        seed_db ? QStringList{QStringLiteral("aes_keys.txt"), QStringLiteral("keys.txt")}
                : QStringList{QStringLiteral("seeddb.bin")};
    for (const QString& name : partners) {
        const QString beside = chosen.dir().filePath(name);
        if (other.isEmpty() && QFileInfo(beside).isFile())
            other = beside;
    }
    return search;
}

bool CopyKeyFilesTo(const TKeySearch& search, const QString& program_folder, QString& problem) {
    const QDir keys(QDir(program_folder).filePath(QStringLiteral("keys")));
    if (!QDir().mkpath(keys.path())) {
        problem = QDir::toNativeSeparators(keys.path());
        return false;
    }
    const std::pair<QString, QString> files[] = {{search.KeyFile, QStringLiteral("aes_keys.txt")},
                                                 {search.SeedDb, QStringLiteral("seeddb.bin")}};
    for (const auto& [from, name] : files) {
        const QString to = keys.filePath(name);
        if (from.isEmpty() || QFileInfo(from) == QFileInfo(to))
            continue;
        // The old file stays until the new one is whole: a failed copy loses no keys.
        QFile source(from);
        QSaveFile target(to);
        if (!QFileInfo(from).isFile() || !source.open(QIODevice::ReadOnly)) {
            problem = Native(from) + QStringLiteral(": ") + source.errorString();
            return false;
        }
        bool written = target.open(QIODevice::WriteOnly);
        while (written && !source.atEnd()) {
            const QByteArray block = source.read(1 << 16);
            written = !block.isEmpty() && target.write(block) == block.size();
        }
        if (!written || !target.commit()) {
            problem = Native(to) + QStringLiteral(": ") + target.errorString();
            return false;
        }
    }
    return true;
}

QStringList KeyFolders(const QString& program_folder) {
    QStringList folders;
    if (!program_folder.isEmpty())
        folders << QDir(program_folder).filePath(QStringLiteral("keys"));
    return folders + EmulatorSysdataFolders();
}

TKeyFiles FindKeyFiles(const TKeySearch& search) {
    // Without a program folder of its own, the process's folder holds the keys folder.
    const QStringList folders =
        KeyFolders(search.ProgramFolder.isEmpty() ? QCoreApplication::applicationDirPath()
                                                  : search.ProgramFolder);
    TKeyFiles files;
    files.KeyFiles = FilesFound(search.KeyFile, folders,
                                {QStringLiteral("aes_keys.txt"), QStringLiteral("keys.txt")});
    files.SeedDbs = FilesFound(search.SeedDb, folders, {QStringLiteral("seeddb.bin")});
    files.KeyFile = files.KeyFiles.value(0);
    files.SeedDb = files.SeedDbs.value(0);
    return files;
}

ctr::TImageKind LibraryImageKind(const QString& kind) {
    return ctr::ImageKindFromText(kind.toStdString()).value_or(ctr::TImageKind::Cxi);
}

TSourceCrypto InspectSourceCrypto(const QString& path, const QString& kind,
                                  const TKeySearch& search,
                                  std::unique_ptr<ctr::TDecryptingReader>* reader) {
    TSourceCrypto result;
    const ctr::TImageKind image_kind = LibraryImageKind(kind);
    try {
        result.Encrypted = ctr::ImageIsEncrypted(FsPath(path), image_kind);
    } catch (const std::exception& error) {
        // Taken apart without keys, the image fails before any key is asked for.
        result.ImageProblem = true;
        result.Problem = QString::fromStdString(error.what());
        return result;
    }
    if (!result.Encrypted)
        return result;
    std::unique_ptr<ctr::TDecryptingReader> opened;
    TryKeySets(path, image_kind, search, result, opened);
    if (reader && opened)
        *reader = std::move(opened);
    return result;
}

namespace {

// The keys found for `search` that open the image; throws ctr::TCtrError saying why when none
// does.
ctr::TCryptoKeys FittingKeys(const QString& path, ctr::TImageKind kind, const TKeySearch& search) {
    TSourceCrypto crypto;
    std::unique_ptr<ctr::TDecryptingReader> reader;
    ctr::TCryptoKeys keys = TryKeySets(path, kind, search, crypto, reader);
    if (!reader)
        throw ctr::TCtrError(crypto.Problem.toStdString());
    return keys;
}

ctr::TProgress ProgressOf(const std::function<bool(double)>& progress) {
    return {[&progress](std::uint64_t done, std::uint64_t total) {
                return !progress || progress(total == 0 ? 1.0 : double(done) / total);
            },
            0, 0};
}

} // namespace

void DecryptSourceImage(const QString& path, const QString& kind, const QString& output,
                        const TKeySearch& search, const std::function<bool(double)>& progress) {
    const ctr::TImageKind image_kind = LibraryImageKind(kind);
    const ctr::TCryptoKeys keys = FittingKeys(path, image_kind, search);
    ctr::TProgress state = ProgressOf(progress);
    // The decrypted copy is a scratch file of the run, deleted with tools/temp.
    ctr::DecryptImage(FsPath(path), image_kind, FsPath(output), keys, &state, true);
}

void DecryptSourceGameContent(const QString& path, const QString& output, const TKeySearch& search,
                              const std::function<bool(double)>& progress) {
    const ctr::TCryptoKeys keys = FittingKeys(path, ctr::TImageKind::Cia, search);
    ctr::TProgress state = ProgressOf(progress);
    ctr::DecryptCiaGameContent(FsPath(path), FsPath(output), keys, &state, true);
}

void DecryptSourceCardParts(const QString& path, const QString& header_output,
                            const QString& partition_output, const TKeySearch& search,
                            const std::function<bool(double)>& progress) {
    const ctr::TCryptoKeys keys = FittingKeys(path, ctr::TImageKind::Cci, search);
    ctr::TProgress state = ProgressOf(progress);
    ctr::DecryptCardParts(FsPath(path), FsPath(header_output), FsPath(partition_output), keys,
                          &state, true);
}

std::unique_ptr<ctr::TDecryptingReader>
OpenDecryptingSource(const QString& path, const QString& kind, const TKeySearch& search) {
    TSourceCrypto crypto;
    std::unique_ptr<ctr::TDecryptingReader> reader;
    TryKeySets(path, LibraryImageKind(kind), search, crypto, reader);
    if (!reader)
        throw ctr::TCtrError(crypto.Problem.toStdString());
    return reader;
}

TSourceImageReader::TSourceImageReader() = default;
TSourceImageReader::~TSourceImageReader() = default;

bool TSourceImageReader::Open(const QString& path, const QString& kind) {
    m_decrypting.reset();
    m_file.reset();
    if (!QFileInfo(path).isFile())
        return false;
    try {
        m_file = ctr::OpenImageFile(FsPath(path));
    } catch (const std::exception&) {
        return false;
    }
    m_crypto = InspectSourceCrypto(path, kind, KeySearch(), &m_decrypting);
    // An image the library cannot take apart is read as it is, as a decrypted one would be.
    return !m_crypto.Encrypted || m_crypto.Ready();
}

std::int64_t TSourceImageReader::Size() const {
    if (m_decrypting)
        return static_cast<std::int64_t>(m_decrypting->Size());
    return m_file ? static_cast<std::int64_t>(m_file->Size()) : 0;
}

QByteArray TSourceImageReader::Read(std::int64_t position, qint64 length) {
    const std::int64_t size = Size();
    if (position < 0 || length < 0 || !m_file || position >= size)
        return {};
    QByteArray bytes(static_cast<qsizetype>(std::min<std::int64_t>(length, size - position)), '\0');
    const std::span out(reinterpret_cast<std::uint8_t*>(bytes.data()),
                        static_cast<std::size_t>(bytes.size()));
    try {
        if (m_decrypting)
            m_decrypting->Read(static_cast<std::uint64_t>(position), out);
        else
            m_file->ReadAt(static_cast<std::uint64_t>(position), out);
    } catch (const std::exception&) {
        return {};
    }
    return bytes;
}
