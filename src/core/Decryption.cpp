#include "core/Decryption.h"

#include "ctr/Decrypt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <filesystem>

namespace {

QMutex g_search_mutex;
TKeySearch g_search;

std::filesystem::path FsPath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

// Where the emulators keep their user data: under %APPDATA% on Windows, under
// $XDG_DATA_HOME (by default ~/.local/share) elsewhere.
QStringList EmulatorSysdataFolders() {
#ifdef _WIN32
    const QString base = qEnvironmentVariable("APPDATA");
    if (base.isEmpty())
        return {};
    return {base + QStringLiteral("/Citra/sysdata"), base + QStringLiteral("/Lime3DS/sysdata")};
#else
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return {base + QStringLiteral("/citra-emu/sysdata"),
            base + QStringLiteral("/lime3ds-emu/sysdata")};
#endif
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
