#include "core/InstallJob.h"

#include "core/FileTools.h"
#include "core/Identify.h"
#include "core/Language.h"
#include "core/OutputForms.h"
#include "core/PatchCatalogue.h"
#include "core/TrackList.h"
#include "ctr/Verify.h"
#include "engine/ImageChecks.h"

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

QString RealOutputCheck(const QString& image, const QString& kind, const TLanguageTable& texts,
                        const std::atomic<bool>* stop, const std::function<void(double)>& report) {
    const auto image_kind = ctr::ImageKindFromText(PlainOutputKind(kind).toStdString());
    if (!image_kind)
        return QStringLiteral("unknown output kind ") + kind;
    const std::string container = engine::ContainerProblem(
        ToPath(image), *image_kind, IsCompressedOutputKind(kind), kind.toStdString());
    if (!container.empty())
        return QString::fromStdString(container);
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
    return QString::fromStdString(engine::SoundArchiveProblem(ToPath(image), *image_kind));
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
    return engine::SourceImageSize(ToPath(source_path));
}

std::int64_t SourceContentSize(const QString& source_path, const QString& source_kind) {
    return engine::SourceContentSize(ToPath(source_path), source_kind.toStdString());
}

std::int64_t PackDatSize(const QString& source_path, const QString& source_kind) {
    return engine::PackDatSize(ToPath(source_path), source_kind.toStdString());
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
