#include "desktop/Decryption.h"

#include "ctr/Decrypt.h"
#include "ctr/Z3ds.h"
#include "desktop/Places.h"
#include "engine/KeyFiles.h"

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

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString FromFsPath(const std::filesystem::path& path) {
    return QString::fromStdU16String(path.generic_u16string());
}

QStringList FromFsPaths(const std::vector<std::filesystem::path>& paths) {
    QStringList list;
    for (const std::filesystem::path& path : paths)
        list << FromFsPath(path);
    return list;
}

std::vector<std::filesystem::path> SysdataPaths() {
    std::vector<std::filesystem::path> folders;
    for (const QString& folder : EmulatorSysdataFolders())
        folders.push_back(FsPath(folder));
    return folders;
}

engine::TKeyFiles EngineKeyFiles(const TKeySearch& search) {
    return engine::FindKeyFiles(KeyPlacesOf(search));
}

// What the window and the runs are told of a trial of the key files.
TSourceCrypto CryptoOf(const engine::TKeyTrial& trial) {
    TSourceCrypto crypto;
    crypto.Encrypted = trial.Encrypted;
    crypto.KeysMissing = trial.KeysMissing;
    crypto.ImageProblem = trial.ImageProblem;
    crypto.Problem = QString::fromStdString(trial.Problem);
    crypto.KeyFileFound = trial.KeyFileFound;
    crypto.FilesRead = FromFsPaths(trial.FilesRead);
    crypto.KeyFile = trial.KeyFile.empty() ? QString() : FromFsPath(trial.KeyFile);
    return crypto;
}

} // namespace

engine::TKeyPlaces KeyPlacesOf(const TKeySearch& search) {
    // Without a program folder of its own, the process's folder holds the keys folder.
    const QString program = search.ProgramFolder.isEmpty() ? QCoreApplication::applicationDirPath()
                                                           : search.ProgramFolder;
    return {FsPath(search.KeyFile), FsPath(search.SeedDb),
            engine::KeyFolders(FsPath(program), SysdataPaths())};
}

void SetKeySearch(const TKeySearch& search) {
    QMutexLocker lock(&g_search_mutex);
    g_search = search;
}

TKeySearch KeySearch() {
    QMutexLocker lock(&g_search_mutex);
    return g_search;
}

TKeySearch KeySearchFor(const QString& program_folder) {
    TKeySearch search = KeySearch();
    if (search.ProgramFolder.isEmpty())
        search.ProgramFolder = program_folder;
    return search;
}

QString KeyFileFilter() {
    return QStringLiteral("Key files (aes_keys.txt keys.txt seeddb.bin)|"
                          "aes_keys.txt;keys.txt;seeddb.bin|All files (*)|*");
}

TKeySearch WithChosenKeyFile(TKeySearch search, const QString& path) {
    const engine::TKeyPlaces places =
        engine::WithChosenKeyFile({FsPath(search.KeyFile), FsPath(search.SeedDb), {}},
                                  FsPath(QFileInfo(path).absoluteFilePath()));
    // Only what the choice changed is written back: the rest stays as the user gave it.
    if (places.KeyFile != FsPath(search.KeyFile))
        search.KeyFile = FromFsPath(places.KeyFile);
    if (places.SeedDb != FsPath(search.SeedDb))
        search.SeedDb = FromFsPath(places.SeedDb);
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
    return FromFsPaths(engine::KeyFolders(FsPath(program_folder), SysdataPaths()));
}

TKeyFiles FindKeyFiles(const TKeySearch& search) {
    const engine::TKeyFiles found = EngineKeyFiles(search);
    TKeyFiles files;
    files.KeyFiles = FromFsPaths(found.KeyFiles);
    files.SeedDbs = FromFsPaths(found.SeedDbs);
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
    engine::TKeyTrial trial =
        engine::InspectImageKeys(FsPath(path), LibraryImageKind(kind), EngineKeyFiles(search));
    if (reader && trial.Reader)
        *reader = std::move(trial.Reader);
    return CryptoOf(trial);
}

namespace {

// The keys found for `search` that open the image and the reader they opened; throws
// ctr::TCtrError saying why when none does.
engine::TKeyTrial FittingKeys(const QString& path, ctr::TImageKind kind, const TKeySearch& search) {
    engine::TKeyTrial trial = engine::TryKeyFiles(FsPath(path), kind, EngineKeyFiles(search));
    if (!trial.Reader)
        throw ctr::TCtrError(trial.Problem);
    return trial;
}

} // namespace

std::unique_ptr<ctr::TDecryptingReader>
OpenDecryptingSource(const QString& path, const QString& kind, const TKeySearch& search) {
    return std::move(FittingKeys(path, LibraryImageKind(kind), search).Reader);
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
