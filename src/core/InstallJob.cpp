#include "core/InstallJob.h"

#include "core/FileTools.h"
#include "core/Identify.h"
#include "core/Language.h"
#include "core/OutputForms.h"
#include "core/PatchCatalogue.h"
#include "core/TrackList.h"
#include "ctr/FileIo.h"
#include "ctr/Ncsd.h"
#include "ctr/Verify.h"
#include "ctr/Z3ds.h"
#include "sound_archive/FileBasics.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <filesystem>
#include <memory>

namespace {

TOutputCheck& OutputCheck() {
    static TOutputCheck check;
    return check;
}

// The game's sound archive inside the RomFS, and the fields of its header read here.
constexpr char kSoundArchivePath[] = "sound/QK123.bcsar";
constexpr qint64 kCsarInfoOffsetField = 36; // u32: INFO partition offset from the archive start

QString CheckSoundArchive(const QString& image, ctr::TImageKind kind) {
    std::string error;
    const auto place = ctr::FindRomFsFile(ToPath(image), kind, kSoundArchivePath, &error);
    if (!place)
        return error.empty() ? QStringLiteral("sound/QK123.bcsar is not in the RomFS")
                             : QString::fromStdString(error);
    // The place is one in the image: a compressed file is read through its decompression.
    std::unique_ptr<ctr::TInFile> file;
    try {
        file = ctr::OpenImageFile(ToPath(image));
    } catch (const std::exception& failure) {
        return QString::fromUtf8(failure.what());
    }
    const auto read_at = [&](std::uint64_t offset, std::uint64_t length) {
        QByteArray bytes;
        if (offset > place->Size || length > place->Size - offset || place->Offset > file->Size() ||
            offset > file->Size() - place->Offset ||
            !file->Contains(place->Offset + offset, length))
            return bytes;
        bytes.resize(static_cast<qsizetype>(length));
        try {
            file->ReadAt(place->Offset + offset,
                         {reinterpret_cast<std::uint8_t*>(bytes.data()), std::size_t(length)});
        } catch (const std::exception&) {
            bytes.clear();
        }
        return bytes;
    };
    if (read_at(0, 4) != "CSAR")
        return QStringLiteral("sound/QK123.bcsar does not start with CSAR");
    const QByteArray field = read_at(kCsarInfoOffsetField, 4);
    if (field.size() != 4)
        return QStringLiteral("sound/QK123.bcsar is cut short");
    const std::uint32_t info = static_cast<std::uint8_t>(field[0]) |
                               static_cast<std::uint8_t>(field[1]) << 8 |
                               static_cast<std::uint8_t>(field[2]) << 16 |
                               std::uint32_t(static_cast<std::uint8_t>(field[3])) << 24;
    if (read_at(info, 4) != "INFO")
        return QStringLiteral("sound/QK123.bcsar has no INFO partition at its INFO offset");
    return QString();
}

// The container kind by content, a compressed output read through its decompression; an
// empty text when it is `kind` and compressed exactly when `compressed`.
QString CheckContainer(const QString& image, ctr::TImageKind kind, bool compressed,
                       const QString& output_kind) {
    try {
        const std::unique_ptr<ctr::TInFile> file = ctr::OpenImageFile(ToPath(image));
        if (file->Direct() == compressed)
            return compressed ? QStringLiteral("the image is not compressed")
                              : QStringLiteral("the image is compressed");
        const auto found = ctr::DetectImageKind(*file);
        if (!found || *found != kind)
            return QStringLiteral("the image is not a usable ") + output_kind;
    } catch (const std::exception& failure) {
        return QString::fromUtf8(failure.what());
    }
    return QString();
}

QString RealOutputCheck(const QString& image, const QString& kind, const TLanguageTable& texts,
                        const std::atomic<bool>* stop, const std::function<void(double)>& report) {
    const auto image_kind = ctr::ImageKindFromText(PlainOutputKind(kind).toStdString());
    if (!image_kind)
        return QStringLiteral("unknown output kind ") + kind;
    const QString container =
        CheckContainer(image, *image_kind, IsCompressedOutputKind(kind), kind);
    if (!container.isEmpty())
        return container;
    const TIdentifyResult identity = IdentifySourceImage(image, texts);
    if (!identity.Opened)
        return texts.Lookup(QStringLiteral("ErrorLoadingROM"));
    const auto identity_kind = ctr::ImageKindFromText(identity.Kind.toStdString());
    if (identity_kind != image_kind || identity.Compressed != IsCompressedOutputKind(kind) ||
        !identity.Usable()) {
        return identity.ErrorKey.isEmpty() ? QStringLiteral("the image is not a usable ") + kind
                                           : texts.Lookup(identity.ErrorKey);
    }
    // Reading back a big image takes a while; a closing window must not wait for it.
    std::function<bool(std::uint64_t, std::uint64_t)> go_on;
    if (stop != nullptr || report)
        go_on = [stop, &report](std::uint64_t done, std::uint64_t total) {
            if (report && total > 0)
                report(static_cast<double>(done) / static_cast<double>(total));
            return stop == nullptr || !stop->load();
        };
    const std::string problem = ctr::VerifyImage(ToPath(image), *image_kind, go_on);
    if (!problem.empty())
        return QString::fromStdString(problem);
    return CheckSoundArchive(image, *image_kind);
}

TFreeSpaceQuery& FreeSpaceQuery() {
    static TFreeSpaceQuery query;
    return query;
}

// The path itself when it exists, else its nearest existing parent.
QString ExistingAncestor(const QString& path) {
    QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    while (!info.exists()) {
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath())
            break;
        info = QFileInfo(parent);
    }
    return info.absoluteFilePath();
}

} // namespace

QString SelectedPatchFolder(const QStringList& patch_list, int index) {
    if (index <= 0 || index >= patch_list.size() || patch_list.at(index).isEmpty())
        return QString();
    return WithTrailingSeparator(PatchFolderOf(patch_list.at(index)));
}

QString OutputBase(const QString& output_path, bool strip_3ds) {
    // Only extensions come off the end, ASCII in both forms of the path: the rest stays the
    // caller's text, separators included.
    const std::filesystem::path path = ToPath(output_path);
    const std::size_t removed =
        path.native().size() - engine::OutputBase(path, strip_3ds).native().size();
    return output_path.left(output_path.size() - qsizetype(removed));
}

bool OutputIsSource(const QString& source_path, const QString& output_file) {
    return engine::OutputIsSource(ToPath(source_path), ToPath(output_file));
}

engine::TInstallJob EngineJob(const TInstallJob& job) {
    engine::TInstallJob result;
    result.ProgramFolder = ToPath(job.ProgramFolder);
    result.SourcePath = ToPath(job.SourcePath);
    result.OutputPath = ToPath(job.OutputPath);
    result.OutputKind = job.OutputKind.toStdString();
    result.OriginalPackDatMD5 = job.OriginalPackDatMD5.toStdString();
    result.OriginalPackIncMD5 = job.OriginalPackIncMD5.toStdString();
    if (job.LanguageTable != nullptr)
        result.LanguageTable = &job.LanguageTable->Engine();
    result.PatchFolder = ToPath(job.PatchFolder);
    result.PatchDescription = ToPath(job.PatchDescription);
    result.NoXdelta = job.NoXdelta;
    result.NoPatch = job.NoPatch;
    result.Voice = job.Voice;
    result.NoVoiceChoice = job.NoVoiceChoice;
    if (job.Tracks)
        result.Tracks =
            std::shared_ptr<const engine::TTrackList>(job.Tracks, &job.Tracks->Engine());
    return result;
}

QString JobRefusalKey(const TInstallJob& job, const QString& source_kind) {
    return QString::fromUtf8(engine::JobRefusalKey(EngineJob(job), source_kind.toStdString()));
}

TSpaceNeed EstimateSpaceNeed(const QString& source_kind, const QString& output_kind,
                             std::int64_t source_size, std::int64_t pack_dat_size, bool encrypted) {
    return engine::EstimateSpaceNeed(source_kind.toStdString(), output_kind.toStdString(),
                                     source_size, pack_dat_size, encrypted);
}

std::int64_t SourceImageSize(const QString& source_path) {
    try {
        return static_cast<std::int64_t>(ctr::OpenImageFile(ToPath(source_path))->Size());
    } catch (const ctr::TCtrError&) {
        return QFileInfo(source_path).size();
    }
}

std::int64_t SourceContentSize(const QString& source_path, const QString& source_kind) {
    const std::int64_t size = QFileInfo(source_path).size();
    try {
        // A compressed image counts with the size of the image it holds.
        const std::unique_ptr<ctr::TInFile> file = ctr::OpenImageFile(ToPath(source_path));
        if (source_kind != QLatin1String(".3ds"))
            return static_cast<std::int64_t>(file->Size());
        return static_cast<std::int64_t>(ctr::ReadNcsdPartition0(*file).Size);
    } catch (const ctr::TCtrError&) {
        return size;
    }
}

std::int64_t PackDatSize(const QString& source_path, const QString& source_kind) {
    const auto kind = ctr::ImageKindFromText(source_kind.toStdString());
    if (!kind)
        return 0;
    const auto place = ctr::FindRomFsFile(ToPath(source_path), *kind, "pack.dat");
    return place ? static_cast<std::int64_t>(place->Size) : 0;
}

std::int64_t FreeBytesAt(const QString& path) {
    if (FreeSpaceQuery())
        return FreeSpaceQuery()(path);
    const QStorageInfo storage(ExistingAncestor(path));
    if (!storage.isValid())
        return -1;
    return storage.bytesAvailable();
}

QString CheckOutputImage(const QString& image, const QString& kind, const TLanguageTable& texts,
                         const std::atomic<bool>* stop, const std::function<void(double)>& report) {
    if (OutputCheck())
        return OutputCheck()(image, kind, texts);
    return RealOutputCheck(image, kind, texts, stop, report);
}

void SetOutputCheck(TOutputCheck check) {
    OutputCheck() = std::move(check);
}

void SetFreeSpaceQuery(TFreeSpaceQuery query) {
    FreeSpaceQuery() = std::move(query);
}

QString FileSystemRootOf(const QString& path) {
    const QStorageInfo storage(ExistingAncestor(path));
    return QString::fromLocal8Bit(storage.device()) + QLatin1Char('|') + storage.rootPath();
}
