#include "core/ModFolder.h"

#include "core/FileTools.h"
#include "core/Identify.h"
#include "core/InstallHost.h"
#include "core/InstallWorker.h"
#include "core/Language.h"
#include "ctr/FileIo.h"
#include "ctr/Verify.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <optional>
#include <vector>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// Files every run reads from the RomFS: the data archive, its index and the sound archive.
constexpr const char* kPackDat = "pack.dat";
constexpr const char* kPackInc = "pack.inc";
constexpr const char* kSoundArchive = "sound/QK123.bcsar";

// One file of the mod folder: where its bytes are now and its path inside the folder.
struct TModFile {
    QString From;
    QString To;
};

// Removes the folder being written unless the run got as far as moving it into place.
struct TStagingGuard {
    QString Path;
    bool Kept = false;
    ~TStagingGuard() {
        if (!Kept && !Path.isEmpty()) {
            try {
                DeleteFolder(Path);
            } catch (...) {
            }
        }
    }
};

} // namespace

bool IsModFolderKind(const QString& output_kind) {
    return output_kind == QLatin1String(kModFolderKind);
}

QString UnusedFolderPath(const QString& parent, const QString& name) {
    const QString first = parent + QLatin1Char('/') + name;
    QString path = first;
    for (int number = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++number)
        path = first + QLatin1Char(' ') + QString::number(number);
    return path;
}

void TInstallWorker::RunModFolderPipeline() {
    const QString temp = m_job.ProgramFolder + QStringLiteral("tools/temp");
    const QString romfs = temp + QStringLiteral("/romfs");
    const auto image_kind = ctr::ImageKindFromText(SourceKind().toStdString());
    const std::filesystem::path image = ToPath(m_job.SourcePath);
    const auto fail = [this](const char* key, const QString& detail) {
        LogSeparated(Text(key) + kCrLf + detail);
        EndRun();
    };

    // Only the files the run works on come out of the image; no tool unpacks it.
    m_host->AppendLog(Text("ExtractingModFiles"));
    const QString title_id = IdentifySourceImage(m_job.SourcePath, *m_job.LanguageTable).TitleId;
    std::vector<ctr::TImageRomFsFile> game_files;
    try {
        game_files = ctr::ListRomFsFiles(image, *image_kind);
    } catch (const ctr::TCtrError& error) {
        fail("ErrorExtractingRomFS", QString::fromStdString(error.what()));
    }
    if (title_id.isEmpty())
        fail("ErrorExtractingRomFS", QStringLiteral("no program ID"));
    // The game's files by their path in upper case: names in patch folders match regardless
    // of letter case, and the mod folder takes the game's spelling.
    QHash<QString, qsizetype> game_index;
    for (qsizetype i = 0; i < qsizetype(game_files.size()); ++i)
        game_index.insert(QString::fromStdString(game_files[i].Path).toUpper(), i);
    const auto game_file = [&](const QString& path) -> const ctr::TImageRomFsFile* {
        const auto found = game_index.constFind(path.toUpper());
        return found == game_index.constEnd() ? nullptr : &game_files[std::size_t(*found)];
    };
    Progress(5);

    const QString patch_folder = m_job.NoPatch ? QString() : PatchFolder();
    QStringList wanted = {QLatin1String(kPackDat), QLatin1String(kPackInc),
                          QLatin1String(kSoundArchive)};
    const QString patch_romfs =
        patch_folder.isEmpty() ? QString() : FindEntryNoCase(patch_folder, QStringLiteral("romfs"));
    if (!patch_romfs.isEmpty() && QFileInfo(patch_romfs).isDir())
        wanted << FilesBelow(patch_romfs);
    for (const char* needed : {kPackDat, kSoundArchive}) {
        if (game_file(QLatin1String(needed)) == nullptr)
            fail("ErrorExtractingRomFS",
                 QLatin1String(needed) + QStringLiteral(" is not in the RomFS"));
    }
    try {
        ctr::TInFile in(image);
        for (const QString& path : wanted) {
            const ctr::TImageRomFsFile* file = game_file(path);
            if (file == nullptr)
                continue; // a new file of the patch
            const QString target = romfs + QLatin1Char('/') + QString::fromStdString(file->Path);
            if (QFileInfo::exists(target))
                continue;
            QDir().mkpath(QFileInfo(target).absolutePath());
            ctr::TOutFile out(ToPath(target));
            ctr::CopyRange(in, file->Location.Offset, file->Location.Size, out);
            out.Commit();
            Checkpoint();
        }
    } catch (const ctr::TCtrError& error) {
        fail("ErrorExtractingRomFS", QString::fromStdString(error.what()));
    }
    Progress(20);

    // The code, decompressed, only when the patch brings its own.
    const QString patch_exefs =
        patch_folder.isEmpty() ? QString() : FindEntryNoCase(patch_folder, QStringLiteral("exefs"));
    const bool patch_has_code =
        !patch_exefs.isEmpty() &&
        QFileInfo(FindEntryNoCase(patch_exefs, QStringLiteral("code.bin"))).isFile();
    const QString source_code = temp + QStringLiteral("/source_code.bin");
    if (patch_has_code) {
        m_host->AppendLog(Text("ExtractingExeFS"));
        try {
            const std::vector<std::uint8_t> code = ctr::ReadImageCode(image, *image_kind);
            QFile out(source_code);
            if (!out.open(QIODevice::WriteOnly) ||
                out.write(reinterpret_cast<const char*>(code.data()), qint64(code.size())) !=
                    qint64(code.size()) ||
                !out.flush())
                fail("ErrorExtractingExeFs", out.errorString());
        } catch (const ctr::TCtrError& error) {
            fail("ErrorExtractingExeFs", QString::fromStdString(error.what()));
        }
        m_host->AppendLog(Text("Done"));
    }
    Progress(45);

    // The same stages as for an image.
    if (!m_job.NoXdelta)
        PatchDataArchive();
    if (!m_job.NoPatch)
        CopyReplacementFolders();
    ApplySoundArchive();
    Progress(80);

    WriteModFolder(title_id, game_files, patch_has_code ? source_code : QString());
}

void TInstallWorker::WriteModFolder(const QString& title_id,
                                    const std::vector<ctr::TImageRomFsFile>& game_files,
                                    const QString& source_code) {
    const QString temp = m_job.ProgramFolder + QStringLiteral("tools/temp");
    const QString romfs = temp + QStringLiteral("/romfs");
    const QString exefs = temp + QStringLiteral("/exefs");
    const auto fail = [this](const char* key, const QString& detail) {
        LogSeparated(Text(key) + kCrLf + detail);
        EndRun();
    };
    QHash<QString, QString> game_paths; // upper case to the game's spelling
    QHash<QString, ctr::TImageFileLocation> locations;
    for (const ctr::TImageRomFsFile& file : game_files) {
        const QString path = QString::fromStdString(file.Path);
        game_paths.insert(path.toUpper(), path);
        locations.insert(path, file.Location);
    }

    // What goes in: each RomFS file whose bytes differ from the game's, files the game lacks,
    // the code when the patch changed it, and the banner and icon under the names the
    // emulator looks for.
    m_host->AppendLog(Text("WritingModFolder"));
    std::vector<TModFile> plan;
    QStringList new_files;
    {
        QFile image(m_job.SourcePath);
        if (!image.open(QIODevice::ReadOnly))
            fail("ErrorWritingModFolder", QDir::toNativeSeparators(m_job.SourcePath) +
                                              QStringLiteral(": ") + image.errorString());
        for (const QString& path : FilesBelow(romfs)) {
            Checkpoint();
            const QString from = romfs + QLatin1Char('/') + path;
            const auto known = game_paths.constFind(path.toUpper());
            if (known == game_paths.constEnd()) {
                new_files << path;
                plan.push_back({from, QStringLiteral("romfs/") + path});
                continue;
            }
            const ctr::TImageFileLocation place = locations.value(*known);
            if (!SameBytes(image, place.Offset, place.Size, from))
                plan.push_back({from, QStringLiteral("romfs/") + *known});
        }
    }
    if (!source_code.isEmpty()) {
        const QString code = FindEntryNoCase(exefs, QStringLiteral("code.bin"));
        if (!SameFiles(code, source_code))
            plan.push_back({code, QStringLiteral("code.bin")});
    }
    bool banner_or_icon = false;
    const struct {
        const char* Ours;
        const char* Theirs;
    } exefs_names[] = {{"banner.bnr", "exefs/banner.bnr"}, {"icon.icn", "exefs/icon.bin"}};
    const QString patch_folder = m_job.NoPatch ? QString() : PatchFolder();
    const QString patch_exefs =
        patch_folder.isEmpty() ? QString() : FindEntryNoCase(patch_folder, QStringLiteral("exefs"));
    for (const auto& name : exefs_names) {
        // Only what the patch brings: the game's own banner and icon change nothing.
        if (patch_exefs.isEmpty() ||
            !QFileInfo(FindEntryNoCase(patch_exefs, QLatin1String(name.Ours))).isFile())
            continue;
        plan.push_back(
            {FindEntryNoCase(exefs, QLatin1String(name.Ours)), QLatin1String(name.Theirs)});
        banner_or_icon = true;
    }

    // Written under a name of its own beside the final folder, moved into place when whole.
    const QString output = QDir::cleanPath(QFileInfo(m_job.OutputPath).absoluteFilePath());
    if (!QDir().mkpath(output))
        fail("ErrorWritingModFolder", QDir::toNativeSeparators(output));
    TStagingGuard staging;
    staging.Path = UnusedFolderPath(output, title_id + QStringLiteral(".part"));
    if (!QDir().mkpath(staging.Path))
        fail("ErrorWritingModFolder", QDir::toNativeSeparators(staging.Path));
    for (const TModFile& file : plan) {
        Checkpoint();
        const QString target = staging.Path + QLatin1Char('/') + file.To;
        if (!QDir().mkpath(QFileInfo(target).absolutePath()) || !QFile::copy(file.From, target))
            fail("ErrorWritingModFolder", QDir::toNativeSeparators(target));
    }
    Progress(90);

    // Read back: exactly the planned files, each with the bytes meant for it.
    m_host->AppendLog(Text("VerifyingModFolder"));
    QSet<QString> planned;
    for (const TModFile& file : plan) {
        planned.insert(file.To);
        Checkpoint();
        if (!SameFiles(file.From, staging.Path + QLatin1Char('/') + file.To))
            fail("ErrorVerifyingModFolder", QDir::toNativeSeparators(file.To));
    }
    const QSet<QString> announced(new_files.begin(), new_files.end());
    for (const QString& path : FilesBelow(staging.Path)) {
        const bool romfs_file = path.startsWith(QLatin1String("romfs/"));
        const QString inside = path.mid(6);
        if (!planned.contains(path) ||
            (romfs_file && !locations.contains(inside) && !announced.contains(inside)))
            fail("ErrorVerifyingModFolder", QDir::toNativeSeparators(path));
    }
    m_host->AppendLog(Text("Done"));
    Progress(95);

    if (!new_files.isEmpty())
        m_host->AppendLog(kCrLf + Text("WarningModNewFiles") + kCrLf + new_files.join(kCrLf) +
                          kCrLf);
    if (banner_or_icon)
        m_host->AppendLog(Text("ModBannerIcon"));

    // An earlier folder of the same game is kept under a new name, never merged into.
    Checkpoint();
    const QString final_path = output + QLatin1Char('/') + title_id;
    QString previous;
    if (QFileInfo::exists(final_path) || QFileInfo(final_path).isSymLink()) {
        previous = UnusedFolderPath(output, title_id + QStringLiteral(" (previous)"));
        if (!QDir().rename(final_path, previous))
            fail("ErrorWritingModFolder", QDir::toNativeSeparators(final_path));
        m_host->AppendLog(Text("ModPreviousRenamed") + kCrLf + QLatin1Char('[') +
                          QDir::toNativeSeparators(previous) + QLatin1Char(']'));
    }
    if (!QDir().rename(staging.Path, final_path)) {
        if (!previous.isEmpty() && QDir().rename(previous, final_path))
            previous.clear();
        fail("ErrorWritingModFolder", QDir::toNativeSeparators(final_path));
    }
    staging.Kept = true;
    ShowProgress(100);
    m_host->AppendLog(kCrLf + Text("ModFolderSuccessful") + kCrLf + QLatin1Char('[') +
                      QDir::toNativeSeparators(final_path) + QLatin1Char(']'));
    m_succeeded.store(true);
    EndRun();
}
