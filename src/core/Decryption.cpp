#include "core/Decryption.h"

#include "core/Places.h"
#include "ctr/Decrypt.h"
#include "ctr/Z3ds.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

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

QString FirstFile(const QString& named, const QStringList& folders, const QString& name) {
    if (!named.isEmpty())
        return named;
    for (const QString& folder : folders) {
        const QString candidate = folder + QLatin1Char('/') + name;
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return QString();
}

// The keys of the files found; a file that cannot be read throws ctr::TCtrError.
ctr::TCryptoKeys LoadKeys(const TKeyFiles& files) {
    ctr::TCryptoKeys keys;
    if (!files.KeyFile.isEmpty())
        keys.Keys = ctr::ReadKeyFile(FsPath(files.KeyFile));
    if (!files.SeedDb.isEmpty())
        keys.Seeds = ctr::ReadSeedDb(FsPath(files.SeedDb));
    return keys;
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
    return QStringLiteral("Key files (aes_keys.txt seeddb.bin)|aes_keys.txt;seeddb.bin|"
                          "All files (*)|*");
}

TKeySearch WithChosenKeyFile(TKeySearch search, const QString& path) {
    const QFileInfo chosen(path);
    const bool seed_db = chosen.suffix().compare(QLatin1String("bin"), Qt::CaseInsensitive) == 0;
    (seed_db ? search.SeedDb : search.KeyFile) = chosen.absoluteFilePath();
    QString& other = seed_db ? search.KeyFile : search.SeedDb;
    const QString beside = chosen.dir().filePath(seed_db ? QStringLiteral("aes_keys.txt")
                                                         : QStringLiteral("seeddb.bin"));
    if (other.isEmpty() && QFileInfo(beside).isFile())
        other = beside;
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
        QFile::remove(to);
        QFile source(from);
        if (!source.copy(to)) {
            problem = QDir::toNativeSeparators(to) + QStringLiteral(": ") + source.errorString();
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
    return {FirstFile(search.KeyFile, folders, QStringLiteral("aes_keys.txt")),
            FirstFile(search.SeedDb, folders, QStringLiteral("seeddb.bin"))};
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
        if (!result.Encrypted)
            return result;
        const TKeyFiles files = FindKeyFiles(search);
        const ctr::TCryptoKeys keys = LoadKeys(files);
        auto opened = std::make_unique<ctr::TDecryptingReader>(FsPath(path), image_kind, keys);
        if (reader)
            *reader = std::move(opened);
    } catch (const ctr::TMissingKeyError& error) {
        result.KeysMissing = true;
        result.Problem = QString::fromStdString(error.what());
    } catch (const std::exception& error) {
        result.Problem = QString::fromStdString(error.what());
    }
    return result;
}

void DecryptSourceImage(const QString& path, const QString& kind, const QString& output,
                        const TKeySearch& search, const std::function<bool(double)>& progress) {
    const ctr::TCryptoKeys keys = LoadKeys(FindKeyFiles(search));
    ctr::TProgress state{[&](std::uint64_t done, std::uint64_t total) {
                             return !progress || progress(total == 0 ? 1.0 : double(done) / total);
                         },
                         0, 0};
    // The decrypted copy is a scratch file of the run, deleted with tools/temp.
    ctr::DecryptImage(FsPath(path), LibraryImageKind(kind), FsPath(output), keys, &state, true);
}

void DecryptSourceGameContent(const QString& path, const QString& output, const TKeySearch& search,
                              const std::function<bool(double)>& progress) {
    const ctr::TCryptoKeys keys = LoadKeys(FindKeyFiles(search));
    ctr::TProgress state{[&](std::uint64_t done, std::uint64_t total) {
                             return !progress || progress(total == 0 ? 1.0 : double(done) / total);
                         },
                         0, 0};
    ctr::DecryptCiaGameContent(FsPath(path), FsPath(output), keys, &state, true);
}

std::unique_ptr<ctr::TDecryptingReader>
OpenDecryptingSource(const QString& path, const QString& kind, const TKeySearch& search) {
    return std::make_unique<ctr::TDecryptingReader>(FsPath(path), LibraryImageKind(kind),
                                                    LoadKeys(FindKeyFiles(search)));
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
