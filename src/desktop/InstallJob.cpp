#include "desktop/InstallJob.h"

#include "desktop/Decryption.h"
#include "desktop/FileTools.h"
#include "desktop/Language.h"
#include "desktop/PatchCatalogue.h"
#include "desktop/TrackList.h"
#include "engine/InstallRun.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <filesystem>
#include <memory>

namespace {

TOutputCheck& OutputCheck() {
    static TOutputCheck check;
    return check;
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
    return QString::fromStdString(engine::CheckOutputImage(
        ToPath(image), kind.toStdString(), texts.Engine(), KeyPlacesOf(KeySearch()), stop, report));
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
