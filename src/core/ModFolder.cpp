#include "core/ModFolder.h"

#include "core/Decryption.h"
#include "core/FileTools.h"
#include "core/InstallHost.h"
#include "core/InstallJob.h"
#include "core/Language.h"
#include "core/PatchCatalogue.h"
#include "core/RunContext.h"
#include "ctr/Decrypt.h"
#include "ctr/FileIo.h"
#include "ctr/Verify.h"
#include "ctr/Z3ds.h"
#include "engine/ModFolderRun.h"
#include "engine/ModFolderSteps.h"
#include "engine/PackDatStage.h"
#include "engine/PatchStages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

using engine::steps::kPackDat;
using engine::steps::kPackInc;
using engine::steps::kSoundArchive;

constexpr const char* kMarkerWriter = engine::kModMarkerWriter;
constexpr int kMarkerFormat = engine::kModMarkerFormat;

// What the stages of one mod folder run share.
struct TModFolderRun {
    TRunContext& Run;
    QString SourceKind;
    ctr::TImageKind ImageKind = ctr::TImageKind::Cia;
    // The source is read in place, through its decryption when it is encrypted.
    std::unique_ptr<ctr::TDecryptingReader> Decrypting; // until the game is opened
    bool Encrypted = false;
    engine::steps::TGame Game;
    QString TitleId;
    QString PatchFolder;   // empty without a patch's own files
    QString SourceCode;    // the image's code, decompressed, when the patch brings its own
    QString PackDatDigest; // of the game's pack.dat: remembered, or taken as it was copied out
    const ctr::TImageRomFsFile* PackDat = nullptr; // the game's pack.dat in the image
    bool XdeltaBesideDigest = false; // the difference is applied while pack.dat's digest is taken
    std::unique_ptr<engine::TBackgroundDigest> Background; // pack.dat's digest, on its own thread
    QString Staging; // the folder being written; removed unless moved into place
    bool StagingKept = false;
    QString PatchedPack; // the new pack.dat already in the staging folder, relative to it
    qint64 PatchedPackSize = -1;
    QString PatchedPackDigest;                 // of the new pack.dat, taken as it was written
    std::unique_ptr<engine::TFolderSink> Sink; // the folder being written, once planned
    std::unique_ptr<engine::steps::TModWriter> Writer;

    explicit TModFolderRun(TRunContext& run) : Run(run) {}
    // A failure, a cancel or a tool ended leave nothing behind in the destination.
    ~TModFolderRun() {
        Background.reset();
        // A file left open would keep its folder (on Windows) from going.
        Writer.reset();
        Sink.reset();
        if (!StagingKept && !Staging.isEmpty()) {
            try {
                DeleteFolder(Staging);
            } catch (...) {
            }
        }
    }

    // The game's file at `path` in any letter case; null when the game has none.
    const ctr::TImageRomFsFile* GameFile(const QString& path) const {
        return Game.File(path.toStdString());
    }
};

QString PatchSubfolder(const TModFolderRun& mod, const char* name) {
    return mod.PatchFolder.isEmpty() ? QString()
                                     : FindEntryNoCase(mod.PatchFolder, QString::fromLatin1(name));
}

// How a thread of its own opens the source's decryption; nothing for a source that is not
// encrypted.
engine::TBackgroundDigest::TOpenDecryption OpenDecryption(const TModFolderRun& mod) {
    if (!mod.Encrypted)
        return {};
    return
        [path = mod.Run.Job.SourcePath, kind = mod.SourceKind, search = mod.Run.KeySearchForRun()] {
            return OpenDecryptingSource(path, kind, search);
        };
}

// Copies the game's pack.dat out of the image into tools/temp/old_pack.dat, its digest
// taken from the same read unless it is taken beside xdelta3.
void CopyOutPackDat(TModFolderRun& mod, const ctr::TImageRomFsFile& pack_dat) {
    TRunContext& run = mod.Run;
    const std::uint64_t offset = pack_dat.Location.Offset;
    const std::uint64_t size = pack_dat.Location.Size;
    // A digest taken when the image was chosen spares the copy its digest.
    mod.PackDatDigest = QString::fromStdString(engine::RememberedDigest(run.Engine(), true));
    const bool digest_known = !mod.PackDatDigest.isEmpty();
    const bool expected = !run.Job.OriginalPackDatMD5.isEmpty();
    if (mod.XdeltaBesideDigest && expected && !digest_known) {
        // The digest is read straight from the image on a thread of its own while the copy
        // goes on here and xdelta3 runs after it; both reads meet in the system's cache.
        mod.Background = std::make_unique<engine::TBackgroundDigest>(
            ToPath(run.Job.SourcePath), OpenDecryption(mod), offset, size);
    }
    ctr::TOutFile out(ToPath(run.Paths.OldPackDat));
    out.MarkScratch();
    if (!expected || mod.XdeltaBesideDigest || digest_known) {
        ctr::CopyRange(mod.Game.Image(), offset, size, out);
    } else {
        const TToolRun::TReport report = run.StageReport(20);
        ctr::TProgress progress{[&](std::uint64_t done, std::uint64_t total) {
                                    report(total == 0 ? 1.0 : double(done) / double(total));
                                    return !run.StopRequested();
                                },
                                0, 0};
        TMd5 md5;
        ctr::CopyRangeObserved(
            mod.Game.Image(), offset, size, out,
            [&md5](std::span<const std::uint8_t> chunk) { md5.Update(chunk.data(), chunk.size()); },
            &progress);
        mod.PackDatDigest = md5.Hex();
    }
    out.Commit();
}

// A compressed or encrypted image's pack.dat stays in the image: the difference reads it in
// place, through the image's decompression or decryption (which no program can be given), so
// no copy of the largest file is made. Its digest, unless remembered from the source's check,
// is read on a thread of its own meanwhile.
void PreparePackDatSource(TModFolderRun& mod, const ctr::TImageRomFsFile& pack_dat) {
    TRunContext& run = mod.Run;
    mod.PackDat = &pack_dat;
    mod.PackDatDigest = QString::fromStdString(engine::RememberedDigest(run.Engine(), true));
    if (!run.Job.OriginalPackDatMD5.isEmpty() && mod.PackDatDigest.isEmpty())
        mod.Background = std::make_unique<engine::TBackgroundDigest>(
            ToPath(run.Job.SourcePath), OpenDecryption(mod), pack_dat.Location.Offset,
            pack_dat.Location.Size);
}

// Read: only the files the run works on come out of the image; no tool unpacks it. An
// encrypted image is read through its decryption. Progress 5, 20 and 45.
void ReadModFiles(TModFolderRun& mod) {
    TRunContext& run = mod.Run;
    run.LogKey("ExtractingModFiles");
    try {
        // A compressed image is read by frames.
        mod.Game.Open(ToPath(run.Job.SourcePath), mod.ImageKind, std::move(mod.Decrypting));
        mod.TitleId = QString::fromStdString(mod.Game.TitleId());
    } catch (const ctr::TCtrError& error) {
        run.Fail("ErrorExtractingRomFS", QString::fromStdString(error.what()));
    }
    run.Progress(5);

    mod.PatchFolder = run.Job.NoPatch ? QString() : run.PatchFolder();

    QStringList wanted = {QLatin1String(kPackInc), QLatin1String(kSoundArchive)};
    const QString patch_romfs = PatchSubfolder(mod, "romfs");
    if (!patch_romfs.isEmpty() && QFileInfo(patch_romfs).isDir())
        wanted << FilesBelow(patch_romfs);
    if (const char* missing = mod.Game.MissingFile())
        run.Fail("ErrorExtractingRomFS",
                 QLatin1String(missing) + QStringLiteral(" is not in the RomFS"));
    // pack.dat is the one large file: it comes out only as the source of the difference, and
    // a patch's own pack.dat replaces it whole.
    const ctr::TImageRomFsFile* pack_dat = mod.GameFile(QLatin1String(kPackDat));
    try {
        for (const QString& path : wanted) {
            const ctr::TImageRomFsFile* file = mod.GameFile(path);
            if (file == nullptr || file == pack_dat)
                continue; // a new file of the patch, or the data archive
            const QString target =
                run.Paths.RomFs + QLatin1Char('/') + QString::fromStdString(file->Path);
            if (QFileInfo::exists(target))
                continue;
            QDir().mkpath(QFileInfo(target).absolutePath());
            ctr::TOutFile out(ToPath(target));
            out.MarkScratch();
            ctr::CopyRange(mod.Game.Image(), file->Location.Offset, file->Location.Size, out);
            out.Commit();
            run.Checkpoint();
        }
        if (!run.Job.NoXdelta && mod.Game.Image().Direct())
            CopyOutPackDat(mod, *pack_dat);
        else if (!run.Job.NoXdelta)
            PreparePackDatSource(mod, *pack_dat);
    } catch (const ctr::TCtrError& error) {
        run.Checkpoint(); // a cancel during the copy ends the run here
        run.Fail("ErrorExtractingRomFS", QString::fromStdString(error.what()));
    }
    run.Progress(20);

    // The code, decompressed, only when the patch brings its own.
    const QString patch_exefs = PatchSubfolder(mod, "exefs");
    const bool patch_has_code =
        !patch_exefs.isEmpty() &&
        QFileInfo(FindEntryNoCase(patch_exefs, QStringLiteral("code.bin"))).isFile();
    if (patch_has_code) {
        mod.SourceCode = run.Paths.Temp + QStringLiteral("/source_code.bin");
        run.LogKey("ExtractingExeFS");
        try {
            const std::vector<std::uint8_t> code =
                ctr::ReadImageCode(mod.Game.Image(), mod.ImageKind);
            QFile out(mod.SourceCode);
            if (!out.open(QIODevice::WriteOnly) ||
                out.write(reinterpret_cast<const char*>(code.data()), qint64(code.size())) !=
                    qint64(code.size()) ||
                !out.flush())
                run.Fail("ErrorExtractingExeFs", out.errorString());
        } catch (const ctr::TCtrError& error) {
            run.Fail("ErrorExtractingExeFs", QString::fromStdString(error.what()));
        }
        run.LogKey("Done");
    }
    run.Progress(45);
}

// Creates the folder the mod folder is written into (once), beside the final folder.
void OpenStagingFolder(TModFolderRun& mod) {
    if (!mod.Staging.isEmpty())
        return;
    TRunContext& run = mod.Run;
    const QString output = QDir::cleanPath(QFileInfo(run.Job.OutputPath).absoluteFilePath());
    if (!QDir().mkpath(output))
        run.Fail("ErrorWritingModFolder", QDir::toNativeSeparators(output));
    // Written under a name of its own beside the final folder, moved into place when whole.
    const QString staging = UnusedFolderPath(output, mod.TitleId + QStringLiteral(".part"));
    if (!QDir().mkpath(staging))
        run.Fail("ErrorWritingModFolder", QDir::toNativeSeparators(staging));
    mod.Staging = staging;
}

// The pack.dat stage of a mod folder: the new pack.dat goes straight into the folder being
// written, as the game names it below its romfs. Nothing reaches the destination before the
// digests matched. From a compressed or encrypted image the difference is applied in the
// process, reading the game's pack.dat in place, and the new file's digest is taken as it is
// written; otherwise xdelta3 reads tools/temp/old_pack.dat. Beside the digest it writes into
// tools/temp (the volume of the destination: a rename moves the file in); otherwise it starts
// once they matched and writes straight into the folder being written, under a name of its
// own until it is whole.
void PatchPackDatInto(TModFolderRun& mod) {
    TRunContext& run = mod.Run;
    const QString relative = QStringLiteral("romfs/") +
                             QString::fromStdString(mod.GameFile(QLatin1String(kPackDat))->Path);
    const engine::TXdeltaOutput in_temp = {
        "tools/temp/new_pack.dat",
        ToPath(run.Job.ProgramFolder + QStringLiteral("tools/temp/new_pack.dat"))};
    QString target;
    engine::TPackDatPlan plan;
    const bool in_place = mod.PackDat != nullptr; // read through the image, in the process
    if (mod.Background)
        plan.PackDatDigest = engine::TDigestSource::Pending(*mod.Background);
    else if (mod.XdeltaBesideDigest && !in_place)
        plan.PackDatDigest = engine::TDigestSource::File("tools/temp/old_pack.dat");
    else
        // Taken as it came out.
        plan.PackDatDigest = engine::TDigestSource::Known(mod.PackDatDigest.toStdString());
    if (mod.XdeltaBesideDigest)
        plan.Early = in_temp;
    plan.AfterMark = [&] {
        OpenStagingFolder(mod);
        target = mod.Staging + QLatin1Char('/') + relative;
        if (!QDir().mkpath(QFileInfo(target).absolutePath()))
            run.Fail("ErrorWritingModFolder", QDir::toNativeSeparators(target));
    };
    plan.Abandon = [](bool, const engine::TXdeltaOutput& output) {
        if (!output.File.empty())
            QFile::remove(FromPath(output.File));
    };
    if (!mod.XdeltaBesideDigest) {
        // A folder xdelta3 cannot be given by name (see the difference's argument) gets the
        // archive from tools/temp.
        plan.Late = [&, in_place] {
            const QString written = target + QStringLiteral(".part");
            return in_place || PlainAsciiText(written)
                       ? engine::TXdeltaOutput{ToPath(written), ToPath(written)}
                       : in_temp;
        };
    }
    TMd5 written_digest;
    if (in_place)
        plan.Start = [&](const engine::TXdeltaOutput& output, const TTools::TReport& report) {
            std::unique_ptr<ctr::TInFile> source;
            try {
                source = ctr::OpenRange(mod.Game.Image(), mod.PackDat->Location.Offset,
                                        mod.PackDat->Location.Size);
            } catch (const ctr::TCtrError& error) {
                throw TSystemError(0, QString::fromStdString(error.what()));
            }
            return engine::StartDifferenceInProcess(
                std::move(source),
                ToPath(FindEntryNoCase(run.PatchFolder(), QStringLiteral("patch.xdelta"))),
                output.File, report, [&written_digest](std::span<const std::uint8_t> bytes) {
                    written_digest.Update(bytes.data(), bytes.size());
                });
        };
    plan.Place = [&](const engine::TXdeltaOutput& output) {
        const QString file = FromPath(output.File);
        if (!QFileInfo::exists(file))
            return;
        mod.PatchedPackSize = QFileInfo(file).size();
        if (in_place)
            mod.PatchedPackDigest = written_digest.Hex();
        if (!QFile::rename(file, target))
            run.Fail("ErrorWritingModFolder", QDir::toNativeSeparators(target));
        mod.PatchedPack = relative;
    };
    engine::PatchPackDat(run.Engine(), plan);
}

// The facts the plan is made from; each RomFS file compared with the game's bytes, with a
// checkpoint before each.
engine::TModPlanInput PlanInput(TModFolderRun& mod) {
    TRunContext& run = mod.Run;
    const auto text = [](const QString& value) { return value.toStdString(); };
    engine::TModPlanInput input;
    input.RomFs = text(run.Paths.RomFs);
    for (const ctr::TImageRomFsFile& file : mod.Game.Files())
        input.GameFiles.push_back(file.Path);
    for (const QString& path : FilesBelow(run.Paths.RomFs)) {
        input.RomFsFiles.push_back(text(path));
        run.Checkpoint();
        const ctr::TImageRomFsFile* game = mod.GameFile(path);
        if (game != nullptr &&
            SameBytes(mod.Game.Image(), game->Location.Offset, game->Location.Size,
                      run.Paths.RomFs + QLatin1Char('/') + path))
            input.Unchanged.insert(text(path));
    }
    if (!mod.SourceCode.isEmpty()) {
        const QString code = FindEntryNoCase(run.Paths.ExeFs, QStringLiteral("code.bin"));
        if (!SameFiles(code, mod.SourceCode))
            input.ChangedCode = text(code);
    }
    const QString patch_exefs = PatchSubfolder(mod, "exefs");
    for (const engine::steps::TModExeFsName& name : engine::steps::kModExeFsNames) {
        // Only what the patch brings: the game's own banner and icon change nothing.
        if (patch_exefs.isEmpty() ||
            !QFileInfo(FindEntryNoCase(patch_exefs, QLatin1String(name.Ours))).isFile())
            continue;
        input.ExeFsFiles.push_back(
            {text(FindEntryNoCase(run.Paths.ExeFs, QLatin1String(name.Ours))), name.Theirs});
    }
    return input;
}

// Write: the planned files into the folder being written. Progress 90.
void WriteModFolder(TModFolderRun& mod, const engine::TModPlan& plan) {
    TRunContext& run = mod.Run;
    OpenStagingFolder(mod);
    // Read back before it is moved into place: not forced to the disk file by file.
    mod.Sink = std::make_unique<engine::TFolderSink>(ToPath(mod.Staging), false);
    mod.Writer = std::make_unique<engine::steps::TModWriter>(*mod.Sink);
    for (const engine::TModFile& file : plan.Files) {
        run.Checkpoint();
        const QString to = QString::fromStdString(file.To);
        const QString target = mod.Staging + QLatin1Char('/') + to;
        // A pack.dat of the patch's own replaces the one the difference made.
        if (to == mod.PatchedPack) {
            if (!QFile::remove(target))
                run.Fail("ErrorWritingModFolder", QDir::toNativeSeparators(target));
            mod.PatchedPack.clear();
        }
        // Each name once: a second file under it (in another letter case, where the file
        // system ignores it) would overwrite the first.
        if (QFileInfo::exists(target))
            run.Fail("ErrorWritingModFolder", QDir::toNativeSeparators(target));
        try {
            ctr::TInFile in(ToPath(QString::fromStdString(file.From)));
            mod.Writer->WriteFile({}, file.To, in, 0, in.Size());
        } catch (const std::exception&) {
            run.Fail("ErrorWritingModFolder", QDir::toNativeSeparators(target));
        }
    }
    run.Progress(90);
}

// Verify: read back exactly the planned files, each with the bytes meant for it, and the new
// pack.dat with the size xdelta3 gave it. Progress 95.
void VerifyModFolder(TModFolderRun& mod, const engine::TModPlan& plan) {
    TRunContext& run = mod.Run;
    run.LogKey("VerifyingModFolder");
    QSet<QString> planned;
    for (const engine::TModFile& file : plan.Files) {
        const QString to = QString::fromStdString(file.To);
        planned.insert(to);
        run.Checkpoint();
        if (!SameFiles(QString::fromStdString(file.From), mod.Staging + QLatin1Char('/') + to))
            run.Fail("ErrorVerifyingModFolder", QDir::toNativeSeparators(to));
    }
    if (!mod.PatchedPack.isEmpty()) {
        planned.insert(mod.PatchedPack);
        const QFileInfo written(mod.Staging + QLatin1Char('/') + mod.PatchedPack);
        if (!written.isFile() || written.size() != mod.PatchedPackSize)
            run.Fail("ErrorVerifyingModFolder", QDir::toNativeSeparators(mod.PatchedPack));
    }
    // The files taken from a compressed image are right only once every frame read in part
    // has been checked to its end.
    try {
        mod.Game.Image().ConfirmReads();
    } catch (const ctr::TCtrError& error) {
        run.Fail("ErrorExtractingRomFS", QString::fromStdString(error.what()));
    }
    const std::set<std::string> announced(plan.NewFiles.begin(), plan.NewFiles.end());
    for (const QString& path : FilesBelow(mod.Staging)) {
        const bool romfs_file = path.startsWith(QLatin1String("romfs/"));
        const std::string inside = path.mid(6).toStdString();
        if (!planned.contains(path) ||
            (romfs_file && !mod.Game.Spells(inside) && !announced.contains(inside)))
            run.Fail("ErrorVerifyingModFolder", QDir::toNativeSeparators(path));
    }
    run.LogKey("Done");
    run.Progress(95);
}

// The game's folder in the destination.
QString GameFolderPath(const TRunContext& run, const QString& title_id) {
    return QDir::cleanPath(QFileInfo(run.Job.OutputPath).absoluteFilePath()) + QLatin1Char('/') +
           title_id;
}

// Before anything is written: a game folder in the destination holding files the program did
// not write is moved aside only with the host's agreement (the window asks, the command line
// answers with --replace); without it the run ends and the folder stays as it is.
void CheckForeignFiles(TModFolderRun& mod) {
    TRunContext& run = mod.Run;
    const QString folder = GameFolderPath(run, mod.TitleId);
    const QFileInfo info(folder);
    QStringList foreign;
    if (info.isSymLink() || (info.exists() && !info.isDir()))
        foreign << info.fileName(); // not a folder of ours in any case
    else if (info.isDir())
        foreign = ForeignModFiles(folder);
    if (foreign.isEmpty())
        return;
    const QString native = QDir::toNativeSeparators(folder);
    if (run.ReplaceForeignModFiles(native, foreign)) {
        run.Checkpoint();
        return;
    }
    run.Fail("ModForeignFiles", QLatin1Char('[') + native + QLatin1Char(']') + kCrLf +
                                    FileListText(foreign, 0, run.Texts) + kCrLf +
                                    run.Text("ModForeignFilesRefused").arg(mod.TitleId));
}

// The description of the run's patch, when one was chosen.
std::optional<TPatchDescription> RunPatchDescription(TRunContext& run) {
    if (run.PatchFolder().isEmpty() || run.Job.PatchDescription.isEmpty())
        return std::nullopt;
    return ReadPatchDescription(run.Job.PatchDescription);
}

// The marker beside romfs/: the patch and the files written, each with its size and digest.
void WriteModMarker(TModFolderRun& mod) {
    TRunContext& run = mod.Run;
    engine::TModMarker marker;
    marker.TitleId = mod.TitleId.toStdString();
    marker.ProgramVersion = ProgramVersion().toStdString();
    if (const auto description = RunPatchDescription(run)) {
        marker.Patch = description->Title.toStdString();
        marker.PatchVersion = description->Version.toStdString();
    }
    // The planned files' digests were taken as they were written; the new pack.dat's too when
    // the difference was applied in the process.
    std::set<std::string> written;
    for (const engine::TModMarkerFile& file : mod.Writer->Written())
        written.insert(file.Path);
    for (const QString& path : FilesBelow(mod.Staging)) {
        run.Checkpoint();
        if (written.contains(path.toStdString()))
            continue;
        const QString file = mod.Staging + QLatin1Char('/') + path;
        const QString digest = path == mod.PatchedPack && !mod.PatchedPackDigest.isEmpty()
                                   ? mod.PatchedPackDigest
                                   : FileMD5Hex(file);
        mod.Writer->Note({path.toStdString(), QFileInfo(file).size(), digest.toStdString()});
    }
    try {
        mod.Writer->WriteMarker({}, std::move(marker));
    } catch (const std::exception&) {
        run.Fail("ErrorWritingModFolder", QDir::toNativeSeparators(mod.Staging + QLatin1Char('/') +
                                                                   QLatin1String(kModMarkerName)));
    }
}

// Move: the folder into place. An earlier folder of the same game is kept under a new name,
// never merged into. Ends the run with its success entry.
[[noreturn]] void MoveModFolder(TModFolderRun& mod) {
    TRunContext& run = mod.Run;
    run.Checkpoint();
    const QString output = QDir::cleanPath(QFileInfo(run.Job.OutputPath).absoluteFilePath());
    const QString final_path = GameFolderPath(run, mod.TitleId);
    QString previous;
    if (QFileInfo::exists(final_path) || QFileInfo(final_path).isSymLink()) {
        previous = UnusedFolderPath(output, mod.TitleId + QStringLiteral(" (previous)"));
        if (!QDir().rename(final_path, previous))
            run.Fail("ErrorWritingModFolder", QDir::toNativeSeparators(final_path));
        run.Log(run.Text("ModPreviousRenamed") + kCrLf + QLatin1Char('[') +
                QDir::toNativeSeparators(previous) + QLatin1Char(']'));
    }
    if (!QDir().rename(mod.Staging, final_path)) {
        if (!previous.isEmpty() && QDir().rename(previous, final_path))
            previous.clear();
        run.Fail("ErrorWritingModFolder", QDir::toNativeSeparators(final_path));
    }
    mod.StagingKept = true;
    run.ShowProgress(100);
    run.LogSeparated(run.Text("ModFolderSuccessful") + kCrLf + QLatin1Char('[') +
                     QDir::toNativeSeparators(final_path) + QLatin1Char(']'));
    run.Succeed();
    run.EndRun();
}

} // namespace

QString UnusedFolderPath(const QString& parent, const QString& name) {
    const QString first = parent + QLatin1Char('/') + name;
    QString path = first;
    for (int number = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++number)
        path = first + QLatin1Char(' ') + QString::number(number);
    return path;
}

QByteArray ModMarkerText(const TModMarker& marker) {
    const auto text = [](const QString& value) { return value.toStdString(); };
    engine::TModMarker plain{text(marker.TitleId),
                             text(marker.Patch),
                             text(marker.PatchVersion),
                             text(marker.ProgramVersion),
                             {}};
    for (const TModMarkerFile& file : marker.Files)
        plain.Files.push_back({text(file.Path), file.Size, text(file.MD5)});
    return QByteArray::fromStdString(engine::ModMarkerText(plain));
}

std::optional<TModMarker> ParseModMarker(const QByteArray& text) {
    constexpr double kLargestExactSize = 9007199254740992.0; // 2^53
    const QJsonDocument document = QJsonDocument::fromJson(text);
    const QJsonObject object = document.object();
    if (!document.isObject() ||
        object.value(QStringLiteral("writtenBy")).toString() != QLatin1String(kMarkerWriter) ||
        object.value(QStringLiteral("format")).toInt(0) != kMarkerFormat ||
        !object.value(QStringLiteral("files")).isArray())
        return std::nullopt;
    TModMarker marker;
    marker.ProgramVersion = object.value(QStringLiteral("programVersion")).toString();
    marker.TitleId = object.value(QStringLiteral("titleId")).toString();
    marker.Patch = object.value(QStringLiteral("patch")).toString();
    marker.PatchVersion = object.value(QStringLiteral("patchVersion")).toString();
    static const QRegularExpression md5(QStringLiteral("^[0-9A-F]{32}$"));
    for (const QJsonValue& value : object.value(QStringLiteral("files")).toArray()) {
        const QJsonObject entry = value.toObject();
        const QString path = entry.value(QStringLiteral("path")).toString();
        const double size = entry.value(QStringLiteral("size")).toDouble(-1);
        const QString digest = entry.value(QStringLiteral("md5")).toString();
        // A path leading out of the folder names nothing the program wrote; a size is a whole
        // number a double holds exactly (below 2^53), tested so before the cast.
        if (path.isEmpty() || QDir::isAbsolutePath(path) || path.contains(QLatin1Char('\\')) ||
            path.split(QLatin1Char('/')).contains(QStringLiteral("..")) || !(size >= 0) ||
            size > kLargestExactSize || size != double(qint64(size)) ||
            !md5.match(digest).hasMatch())
            return std::nullopt;
        marker.Files.push_back({path, qint64(size), digest});
    }
    return marker;
}

std::optional<TModMarker> ReadModMarker(const QString& folder) {
    QFile file(folder + QLatin1Char('/') + QLatin1String(kModMarkerName));
    // A marker is a few kilobytes; anything far larger is not one.
    constexpr qint64 kMarkerLimit = 16 * 1024 * 1024;
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMarkerLimit)
        return std::nullopt;
    return ParseModMarker(file.readAll());
}

QStringList ForeignModFiles(const QString& folder) {
    const std::optional<TModMarker> marker = ReadModMarker(folder);
    QHash<QString, const TModMarkerFile*> named;
    if (marker) {
        for (const TModMarkerFile& file : marker->Files)
            named.insert(file.Path, &file);
    }
    QStringList foreign;
    for (const QString& path : FilesBelow(folder)) {
        if (marker && path == QLatin1String(kModMarkerName))
            continue;
        const TModMarkerFile* file = named.value(path);
        const QString full = folder + QLatin1Char('/') + path;
        bool same = false;
        if (file != nullptr && !QFileInfo(full).isSymLink() &&
            QFileInfo(full).size() == file->Size) {
            try {
                same = FileMD5Hex(full) == file->MD5;
            } catch (const TSystemError&) {
                same = false; // unreadable: the program cannot tell it is its own
            }
        }
        if (!same)
            foreign << path;
    }
    return foreign;
}

namespace {

const QRegularExpression& TitleIdPattern() {
    static const QRegularExpression pattern(QStringLiteral("^[0-9A-Fa-f]{16}$"));
    return pattern;
}

// The latest "<TitleID> (previous)" folder beside the game's: the one with the highest number
// (the first one has none), as the mod folder run names them.
QString LatestPreviousFolder(const QString& output, const QString& title_id) {
    const QString base = title_id + QStringLiteral(" (previous)");
    QString latest;
    int latest_number = 0;
    for (const QString& name : QDir(output).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        int number = 0;
        if (name == base) {
            number = 1;
        } else if (name.startsWith(base + QLatin1Char(' '))) {
            bool ok = false;
            number = name.mid(base.size() + 1).toInt(&ok);
            if (!ok || number < 2)
                continue;
        } else {
            continue;
        }
        if (number > latest_number && !QFileInfo(output + QLatin1Char('/') + name).isSymLink()) {
            latest_number = number;
            latest = output + QLatin1Char('/') + name;
        }
    }
    return latest;
}

} // namespace

TModRemoval CheckModRemoval(const QString& output, const QString& title_id) {
    TModRemoval removal;
    const QString root = QDir::cleanPath(QFileInfo(output).absoluteFilePath());
    QString name = title_id.toUpper();
    if (name.isEmpty()) {
        // The one game folder there; of several, the one the program wrote.
        QStringList games;
        QStringList ours;
        for (const QString& entry : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (!TitleIdPattern().match(entry).hasMatch())
                continue;
            games << entry;
            if (ReadModMarker(root + QLatin1Char('/') + entry))
                ours << entry;
        }
        if (games.size() == 1 || ours.size() == 1) {
            name = games.size() == 1 ? games.front() : ours.front();
        } else if (games.size() > 1) {
            removal.Outcome = TModRemoval::TOutcome::Several;
            removal.Folder = root;
            removal.Candidates = games;
            return removal;
        }
    }
    removal.Folder = name.isEmpty() ? root : root + QLatin1Char('/') + name;
    const QFileInfo folder(removal.Folder);
    if (name.isEmpty() || !TitleIdPattern().match(name).hasMatch() ||
        !(folder.exists() || folder.isSymLink())) {
        removal.Outcome = TModRemoval::TOutcome::NotFound;
        return removal;
    }
    if (folder.isSymLink() || !folder.isDir()) {
        removal.Outcome = TModRemoval::TOutcome::Foreign;
        removal.Files << folder.fileName();
        return removal;
    }
    removal.Marker = ReadModMarker(removal.Folder);
    removal.Files = ForeignModFiles(removal.Folder);
    if (!removal.Marker) {
        // Without a marker nothing in it is known to be the program's, an empty folder too.
        removal.Outcome = TModRemoval::TOutcome::Foreign;
        if (removal.Files.isEmpty())
            removal.Files << folder.fileName();
        return removal;
    }
    removal.Outcome =
        removal.Files.isEmpty() ? TModRemoval::TOutcome::Ready : TModRemoval::TOutcome::Foreign;
    removal.Previous = LatestPreviousFolder(root, folder.fileName());
    return removal;
}

TModRemoval RemoveModFolder(const QString& output, const QString& title_id) {
    TModRemoval removal = CheckModRemoval(output, title_id);
    if (removal.Outcome != TModRemoval::TOutcome::Ready)
        return removal;
    const QString root = QFileInfo(removal.Folder).absolutePath();
    const QString name = QFileInfo(removal.Folder).fileName();
    const auto failed = [&](const QString& where) {
        removal.Outcome = TModRemoval::TOutcome::Failed;
        removal.Problem = QDir::toNativeSeparators(where);
        return removal;
    };
    // First out of the game's place under a name of its own, so that a failure on the way
    // leaves either the folder or the earlier one under the game's name, never half of one.
    const QString leaving = UnusedFolderPath(root, name + QStringLiteral(".removing"));
    if (!QDir().rename(removal.Folder, leaving))
        return failed(removal.Folder);
    if (!removal.Previous.isEmpty() && !QDir().rename(removal.Previous, removal.Folder)) {
        QDir().rename(leaving, removal.Folder);
        return failed(removal.Previous);
    }
    if (!DeleteFolder(leaving) || QFileInfo::exists(leaving))
        return failed(leaving);
    removal.Outcome = TModRemoval::TOutcome::Removed;
    return removal;
}

QString FileListText(const QStringList& files, int limit, const TLanguageTable& texts) {
    QStringList lines;
    for (const QString& file : files) {
        if (limit > 0 && lines.size() == limit) {
            lines << texts.Lookup(QStringLiteral("ModForeignFilesMore"))
                         .arg(files.size() - qsizetype(limit));
            break;
        }
        lines << QDir::toNativeSeparators(file);
    }
    return lines.join(kCrLf);
}

QString ModRemovalText(const TModRemoval& removal, const TLanguageTable& texts, int file_limit) {
    const auto text = [&](const char* key) { return texts.Lookup(QLatin1String(key)); };
    const auto framed = [](const QString& path) {
        return QLatin1Char('[') + QDir::toNativeSeparators(path) + QLatin1Char(']');
    };
    const auto shown = [](const QString& value) {
        return value.isEmpty() ? QStringLiteral("-") : value;
    };
    QStringList lines;
    switch (removal.Outcome) {
    case TModRemoval::TOutcome::Ready:
        lines << text("ModRemoveQuestion")
                     .arg(shown(removal.Marker ? removal.Marker->Patch : QString()),
                          shown(removal.Marker ? removal.Marker->PatchVersion : QString()))
              << framed(removal.Folder);
        if (!removal.Previous.isEmpty())
            lines << text("ModRemoveBringsBack") << framed(removal.Previous);
        break;
    case TModRemoval::TOutcome::Removed:
        lines << text("ModRemoved") << framed(removal.Folder);
        if (!removal.Previous.isEmpty())
            lines << text("ModRemoveRestored")
                  << framed(removal.Previous) + QStringLiteral(" -> ") + framed(removal.Folder);
        break;
    case TModRemoval::TOutcome::NotFound:
        lines << text("ModRemoveNotFound") << framed(removal.Folder);
        break;
    case TModRemoval::TOutcome::Several:
        lines << text("ModRemoveSeveral") << framed(removal.Folder) << removal.Candidates;
        break;
    case TModRemoval::TOutcome::Foreign:
        lines << text("ModRemoveForeign") << framed(removal.Folder)
              << FileListText(removal.Files, file_limit, texts);
        break;
    case TModRemoval::TOutcome::Failed:
        lines << text("ModRemoveFailed") << framed(removal.Problem);
        break;
    }
    return lines.join(kCrLf);
}

void RunModFolderPipeline(TRunContext& run, const QString& source_kind,
                          std::unique_ptr<ctr::TDecryptingReader> decrypting) {
    TModFolderRun mod(run);
    mod.SourceKind = source_kind;
    mod.ImageKind = *ctr::ImageKindFromText(source_kind.toStdString());
    mod.Encrypted = decrypting != nullptr;
    mod.Decrypting = std::move(decrypting);
    // A destination on the volume of tools/temp takes the new pack.dat by a rename: the
    // difference can then be applied while pack.dat's digest is taken.
    mod.XdeltaBesideDigest =
        !run.Job.NoXdelta && FileSystemRootOf(run.Paths.Temp) ==
                                 FileSystemRootOf(QFileInfo(run.Job.OutputPath).absoluteFilePath());

    ReadModFiles(mod);
    CheckForeignFiles(mod);
    // The same stages as for an image, but the new pack.dat goes straight into the folder.
    if (!run.Job.NoXdelta)
        PatchPackDatInto(mod);
    if (!run.Job.NoPatch)
        engine::CopyReplacementFolders(run.Engine());
    engine::ApplySoundArchive(run.Engine());
    run.Progress(80);

    // What goes in: each RomFS file whose bytes differ from the game's, files the game lacks,
    // the code when the patch changed it, and the banner and icon under the names the
    // emulator looks for.
    run.LogKey("WritingModFolder");
    const engine::TModPlan plan = engine::PlanModFolder(PlanInput(mod));
    WriteModFolder(mod, plan);
    VerifyModFolder(mod, plan);
    WriteModMarker(mod);
    if (!plan.NewFiles.empty()) {
        QStringList new_files;
        for (const std::string& path : plan.NewFiles)
            new_files << QString::fromStdString(path);
        run.LogFramed(run.Text("WarningModNewFiles") + kCrLf + new_files.join(kCrLf));
    }
    if (plan.BannerOrIcon)
        run.LogKey("ModBannerIcon");
    MoveModFolder(mod);
}
