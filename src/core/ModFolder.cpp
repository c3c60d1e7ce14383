#include "core/ModFolder.h"

#include "core/Decryption.h"
#include "core/DigestStage.h"
#include "core/FileTools.h"
#include "core/InstallHost.h"
#include "core/InstallJob.h"
#include "core/InstallWorker.h"
#include "core/Language.h"
#include "core/PackDatStage.h"
#include "ctr/Decrypt.h"
#include "ctr/FileIo.h"
#include "ctr/Verify.h"
#include "ctr/Z3ds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <cstring>
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
    const auto fail = [this](const char* key, const QString& detail) {
        LogSeparated(Text(key) + kCrLf + detail);
        EndRun();
    };
    // The folder being written is removed unless the run got as far as moving it into place:
    // a failure, a cancel or a tool ended leave nothing behind in the destination.
    struct TStagingCleanup {
        const QString& Path;
        const bool& Kept;
        ~TStagingCleanup() {
            if (!Kept && !Path.isEmpty()) {
                try {
                    DeleteFolder(Path);
                } catch (...) {
                }
            }
        }
    } cleanup{m_staging, m_staging_kept};
    struct TDigestStop {
        std::unique_ptr<TBackgroundDigest>& Digest;
        ~TDigestStop() { Digest.reset(); }
    } digest_stop{m_background_digest};

    // A destination on the volume of tools/temp takes the new pack.dat by a rename: xdelta3
    // can then run while pack.dat's digest is taken (see PatchDataArchiveInto).
    m_xdelta_beside_digest =
        !m_job.NoXdelta &&
        FileSystemRootOf(temp) == FileSystemRootOf(QFileInfo(m_job.OutputPath).absoluteFilePath());

    // Only the files the run works on come out of the image; no tool unpacks it. An
    // encrypted image is read through its decryption.
    m_host->AppendLog(Text("ExtractingModFiles"));
    QString title_id;
    std::vector<ctr::TImageRomFsFile> game_files;
    try {
        m_image = ctr::OpenImageFile(ToPath(m_job.SourcePath)); // a compressed one by frames
        if (m_decrypting)
            m_decrypting->Serve(*m_image);
        game_files = ctr::ListRomFsFiles(*m_image, *image_kind);
        title_id = QStringLiteral("%1")
                       .arg(qulonglong(ctr::ImageProgramId(*m_image, *image_kind)), 16, 16,
                            QLatin1Char('0'))
                       .toUpper();
    } catch (const ctr::TCtrError& error) {
        fail("ErrorExtractingRomFS", QString::fromStdString(error.what()));
    }
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
    QStringList wanted = {QLatin1String(kPackInc), QLatin1String(kSoundArchive)};
    const QString patch_romfs =
        patch_folder.isEmpty() ? QString() : FindEntryNoCase(patch_folder, QStringLiteral("romfs"));
    if (!patch_romfs.isEmpty() && QFileInfo(patch_romfs).isDir())
        wanted << FilesBelow(patch_romfs);
    for (const char* needed : {kPackDat, kSoundArchive}) {
        if (game_file(QLatin1String(needed)) == nullptr)
            fail("ErrorExtractingRomFS",
                 QLatin1String(needed) + QStringLiteral(" is not in the RomFS"));
    }
    // pack.dat is the one large file: it comes out only as the source of the difference, and
    // a patch's own pack.dat replaces it whole.
    const ctr::TImageRomFsFile* pack_dat = game_file(QLatin1String(kPackDat));
    try {
        for (const QString& path : wanted) {
            const ctr::TImageRomFsFile* file = game_file(path);
            if (file == nullptr || file == pack_dat)
                continue; // a new file of the patch, or the data archive
            const QString target = romfs + QLatin1Char('/') + QString::fromStdString(file->Path);
            if (QFileInfo::exists(target))
                continue;
            QDir().mkpath(QFileInfo(target).absolutePath());
            ctr::TOutFile out(ToPath(target));
            out.MarkScratch();
            ctr::CopyRange(*m_image, file->Location.Offset, file->Location.Size, out);
            out.Commit();
            Checkpoint();
        }
        if (!m_job.NoXdelta)
            CopyOutPackDat(pack_dat->Location.Offset, pack_dat->Location.Size);
    } catch (const ctr::TCtrError& error) {
        Checkpoint(); // a cancel during the copy ends the run here
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
            const std::vector<std::uint8_t> code = ctr::ReadImageCode(*m_image, *image_kind);
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

    // The same stages as for an image, but the new pack.dat goes straight into the folder.
    if (!m_job.NoXdelta)
        PatchDataArchiveInto(title_id, QString::fromStdString(pack_dat->Path));
    if (!m_job.NoPatch)
        CopyReplacementFolders();
    ApplySoundArchive();
    Progress(80);

    WriteModFolder(title_id, game_files, patch_has_code ? source_code : QString());
}

void TInstallWorker::CopyOutPackDat(std::uint64_t offset, std::uint64_t size) {
    // A digest taken when the image was chosen spares the copy its digest.
    m_pack_dat_digest = RememberedDigest(m_run, true);
    const bool digest_known = !m_pack_dat_digest.isEmpty();
    if (m_xdelta_beside_digest && !m_job.OriginalPackDatMD5.isEmpty() && !digest_known) {
        // The digest is read straight from the image on a thread of its own while the copy
        // goes on here and xdelta3 runs after it; both reads meet in the system's cache.
        m_background_digest = std::make_unique<TBackgroundDigest>(
            m_job.SourcePath, SourceKind(), m_decrypting != nullptr, m_run.KeySearchForRun(),
            offset, size);
    }
    ctr::TOutFile out(ToPath(m_job.ProgramFolder + QStringLiteral("tools/temp/old_pack.dat")));
    out.MarkScratch();
    if (m_job.OriginalPackDatMD5.isEmpty() || m_xdelta_beside_digest || digest_known) {
        ctr::CopyRange(*m_image, offset, size, out);
    } else {
        const TToolRun::TReport report = StageReport(20);
        ctr::TProgress progress{[&](std::uint64_t done, std::uint64_t total) {
                                    report(total == 0 ? 1.0 : double(done) / double(total));
                                    return !isInterruptionRequested();
                                },
                                0, 0};
        TMd5 md5;
        ctr::CopyRangeObserved(
            *m_image, offset, size, out,
            [&md5](std::span<const std::uint8_t> chunk) { md5.Update(chunk.data(), chunk.size()); },
            &progress);
        m_pack_dat_digest = md5.Hex();
    }
    out.Commit();
}

void TInstallWorker::OpenStagingFolder(const QString& title_id) {
    if (!m_staging.isEmpty())
        return;
    const QString output = QDir::cleanPath(QFileInfo(m_job.OutputPath).absoluteFilePath());
    if (!QDir().mkpath(output)) {
        LogSeparated(Text("ErrorWritingModFolder") + kCrLf + QDir::toNativeSeparators(output));
        EndRun();
    }
    // Written under a name of its own beside the final folder, moved into place when whole.
    const QString staging = UnusedFolderPath(output, title_id + QStringLiteral(".part"));
    if (!QDir().mkpath(staging)) {
        LogSeparated(Text("ErrorWritingModFolder") + kCrLf + QDir::toNativeSeparators(staging));
        EndRun();
    }
    m_staging = staging;
}

void TInstallWorker::PatchDataArchiveInto(const QString& title_id, const QString& game_name) {
    const QString relative = QStringLiteral("romfs/") + game_name;
    // Nothing reaches the destination before the digests matched. Beside the digest, xdelta3
    // writes into tools/temp (the volume of the destination: a rename moves the file in);
    // otherwise it starts once they matched and writes straight into the folder being
    // written, under a name of its own until it is whole.
    const TXdeltaOutput in_temp = {QStringLiteral("tools/temp/new_pack.dat"),
                                   m_job.ProgramFolder + QStringLiteral("tools/temp/new_pack.dat")};
    QString target;
    TPackDatPlan plan;
    if (m_background_digest)
        plan.PackDatDigest = TDigestSource::Pending(*m_background_digest);
    else if (m_xdelta_beside_digest)
        plan.PackDatDigest = TDigestSource::File(QStringLiteral("tools/temp/old_pack.dat"));
    else
        plan.PackDatDigest = TDigestSource::Known(m_pack_dat_digest); // taken as it came out
    if (m_xdelta_beside_digest)
        plan.Early = in_temp;
    plan.AfterMark = [&] {
        OpenStagingFolder(title_id);
        target = m_staging + QLatin1Char('/') + relative;
        if (!QDir().mkpath(QFileInfo(target).absolutePath()))
            m_run.Fail("ErrorWritingModFolder", QDir::toNativeSeparators(target));
    };
    plan.Abandon = [](bool, const TXdeltaOutput& output) {
        if (!output.File.isEmpty())
            QFile::remove(output.File);
    };
    if (!m_xdelta_beside_digest) {
        // A folder xdelta3 cannot be given by name (see the difference's argument) gets the
        // archive from tools/temp.
        plan.Late = [&] {
            const QString written = target + QStringLiteral(".part");
            return PlainAsciiText(written) ? TXdeltaOutput{written, written} : in_temp;
        };
    }
    plan.Place = [&](const TXdeltaOutput& output) {
        if (!QFileInfo::exists(output.File))
            return;
        m_patched_pack_size = QFileInfo(output.File).size();
        if (!QFile::rename(output.File, target))
            m_run.Fail("ErrorWritingModFolder", QDir::toNativeSeparators(target));
        m_patched_pack = relative;
    };
    PatchPackDat(m_run, plan);
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
    // emulator looks for. The new pack.dat is in the folder already: a difference that
    // changed nothing is not worth a patch.
    m_host->AppendLog(Text("WritingModFolder"));
    std::vector<TModFile> plan;
    QStringList new_files;
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
        if (!SameBytes(*m_image, place.Offset, place.Size, from))
            plan.push_back({from, QStringLiteral("romfs/") + *known});
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

    OpenStagingFolder(title_id);
    for (const TModFile& file : plan) {
        Checkpoint();
        const QString target = m_staging + QLatin1Char('/') + file.To;
        // A pack.dat of the patch's own replaces the one the difference made.
        if (file.To == m_patched_pack) {
            if (!QFile::remove(target))
                fail("ErrorWritingModFolder", QDir::toNativeSeparators(target));
            m_patched_pack.clear();
        }
        if (!QDir().mkpath(QFileInfo(target).absolutePath()) || !QFile::copy(file.From, target))
            fail("ErrorWritingModFolder", QDir::toNativeSeparators(target));
    }
    Progress(90);

    // Read back: exactly the planned files, each with the bytes meant for it; the new pack.dat
    // with the size xdelta3 gave it.
    m_host->AppendLog(Text("VerifyingModFolder"));
    QSet<QString> planned;
    for (const TModFile& file : plan) {
        planned.insert(file.To);
        Checkpoint();
        if (!SameFiles(file.From, m_staging + QLatin1Char('/') + file.To))
            fail("ErrorVerifyingModFolder", QDir::toNativeSeparators(file.To));
    }
    if (!m_patched_pack.isEmpty()) {
        planned.insert(m_patched_pack);
        const QFileInfo written(m_staging + QLatin1Char('/') + m_patched_pack);
        if (!written.isFile() || written.size() != m_patched_pack_size)
            fail("ErrorVerifyingModFolder", QDir::toNativeSeparators(m_patched_pack));
    }
    const QSet<QString> announced(new_files.begin(), new_files.end());
    for (const QString& path : FilesBelow(m_staging)) {
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
    const QString output = QDir::cleanPath(QFileInfo(m_job.OutputPath).absoluteFilePath());
    const QString final_path = output + QLatin1Char('/') + title_id;
    QString previous;
    if (QFileInfo::exists(final_path) || QFileInfo(final_path).isSymLink()) {
        previous = UnusedFolderPath(output, title_id + QStringLiteral(" (previous)"));
        if (!QDir().rename(final_path, previous))
            fail("ErrorWritingModFolder", QDir::toNativeSeparators(final_path));
        m_host->AppendLog(Text("ModPreviousRenamed") + kCrLf + QLatin1Char('[') +
                          QDir::toNativeSeparators(previous) + QLatin1Char(']'));
    }
    if (!QDir().rename(m_staging, final_path)) {
        if (!previous.isEmpty() && QDir().rename(previous, final_path))
            previous.clear();
        fail("ErrorWritingModFolder", QDir::toNativeSeparators(final_path));
    }
    m_staging_kept = true;
    ShowProgress(100);
    m_host->AppendLog(kCrLf + Text("ModFolderSuccessful") + kCrLf + QLatin1Char('[') +
                      QDir::toNativeSeparators(final_path) + QLatin1Char(']'));
    m_run.Succeed();
    EndRun();
}
