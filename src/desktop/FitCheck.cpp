#include "desktop/FitCheck.h"

#include "ctr/Decrypt.h"
#include "ctr/FileIo.h"
#include "ctr/SourceImage.h"
#include "ctr/Verify.h"
#include "ctr/Z3ds.h"
#include "desktop/Decryption.h"
#include "desktop/FileTools.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>

#include <condition_variable>
#include <filesystem>
#include <mutex>

namespace {

std::filesystem::path FsPath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

// What tells a file changed since its digests were taken: its size and modification time.
struct TFileStamp {
    qint64 Size = -1;
    qint64 Modified = 0; // ms since the epoch
    bool operator==(const TFileStamp&) const = default;
};

std::optional<TFileStamp> StampOf(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    return TFileStamp{info.size(), info.lastModified().toMSecsSinceEpoch()};
}

// The digests taken in this run of the program, by the image's absolute path. The window's
// check and the install worker run on different threads.
struct TRemembered {
    TFileStamp Stamp;
    TPackDigests Digests;
};
std::mutex g_remembered_mutex;
std::condition_variable g_check_ended;
QHash<QString, TRemembered> g_remembered;
QHash<QString, int> g_running; // checks under way, by the same key

QString RememberKey(const QString& path) {
    return QFileInfo(path).absoluteFilePath();
}

// Counts a check as under way from its start to its end, so that AwaitPackDigests can wait
// for it instead of reading the same bytes beside it.
class TRunningCheck {
public:
    explicit TRunningCheck(const QString& key) : m_key(key) {
        const std::lock_guard lock(g_remembered_mutex);
        ++g_running[m_key];
    }
    ~TRunningCheck() {
        {
            const std::lock_guard lock(g_remembered_mutex);
            if (--g_running[m_key] == 0)
                g_running.remove(m_key);
        }
        g_check_ended.notify_all();
    }
    TRunningCheck(const TRunningCheck&) = delete;
    TRunningCheck& operator=(const TRunningCheck&) = delete;

private:
    QString m_key;
};

// The remembered digests of `key` while the file still has `stamp`; the lock is held.
std::optional<TPackDigests> RememberedLocked(const QString& key, const TFileStamp& stamp) {
    const auto found = g_remembered.constFind(key);
    if (found == g_remembered.constEnd() || !(found->Stamp == stamp))
        return std::nullopt;
    return found->Digests;
}

engine::TImageDigests EngineDigests(const TPackDigests& image) {
    return {image.PackDatMD5.toStdU16String(), image.PackIncMD5.toStdU16String()};
}

} // namespace

TSourceView::TSourceView() = default;
TSourceView::TSourceView(TSourceView&&) noexcept = default;
TSourceView& TSourceView::operator=(TSourceView&&) noexcept = default;
TSourceView::~TSourceView() = default;

TSourceView OpenSourceForReading(const QString& path, const QString& kind) {
    return OpenSourceForReading(path, kind, KeySearch());
}

TSourceView OpenSourceForReading(const QString& path, const QString& kind,
                                 const TKeySearch& search) {
    TSourceView view;
    // A compressed image is read as the image it holds.
    view.File = ctr::OpenImageFile(FsPath(path));
    if (ctr::ImageIsEncrypted(FsPath(path), LibraryImageKind(kind))) {
        view.Decrypting = OpenDecryptingSource(path, kind, search);
        view.Decrypting->Serve(*view.File);
    }
    return view;
}

TPackDigestResult
TakePackDigests(const QString& path, const QString& kind, const std::atomic<bool>& cancel,
                const std::function<void(std::uint64_t, std::uint64_t)>& progress) {
    TPackDigestResult result;
    const TRunningCheck running(RememberKey(path));
    const std::optional<TFileStamp> before = StampOf(path);
    try {
        TSourceView view = OpenSourceForReading(path, kind);
        ctr::TProgress reading{[&](std::uint64_t done, std::uint64_t total) {
                                   if (progress)
                                       progress(done, total);
                                   return !cancel.load();
                               },
                               0, 0};
        const ctr::TPackDigestText digests =
            ctr::TakePackDigestText(*view.File, LibraryImageKind(kind), &reading);
        result.Digests.PackDatMD5 = QString::fromStdString(digests.PackDat);
        result.Digests.PackIncMD5 = QString::fromStdString(digests.PackInc);
    } catch (const std::exception& error) {
        result.Outcome = cancel.load() ? TPackDigestResult::TOutcome::Cancelled
                                       : TPackDigestResult::TOutcome::Failed;
        result.Problem = QString::fromStdString(error.what());
        return result;
    }
    result.Outcome = TPackDigestResult::TOutcome::Done;
    // Digests of a file that changed while it was read are kept for nothing.
    if (before && StampOf(path) == before) {
        const std::lock_guard lock(g_remembered_mutex);
        g_remembered.insert(RememberKey(path), {*before, result.Digests});
    }
    return result;
}

std::optional<TPackDigests> RememberedPackDigests(const QString& path) {
    const std::optional<TFileStamp> now = StampOf(path);
    if (!now)
        return std::nullopt;
    const std::lock_guard lock(g_remembered_mutex);
    return RememberedLocked(RememberKey(path), *now);
}

std::optional<TPackDigests> AwaitPackDigests(const QString& path) {
    const QString key = RememberKey(path);
    std::unique_lock lock(g_remembered_mutex);
    g_check_ended.wait(lock, [&] { return !g_running.contains(key); });
    lock.unlock();
    return RememberedPackDigests(path);
}

void ForgetPackDigests() {
    const std::lock_guard lock(g_remembered_mutex);
    g_remembered.clear();
}

TPatchFit JudgePatchFit(const TPatchDescription& patch, const TPackDigests& image) {
    return engine::JudgePatchFit(EngineDescription(patch), EngineDigests(image));
}

QString PatchFitName(TPatchFit fit) {
    return QString::fromLatin1(engine::FitName(fit));
}

QString PatchFitMark(TPatchFit fit, const TLanguageTable& texts) {
    return texts.Lookup(QString::fromLatin1(engine::FitMarkKey(fit)));
}

QString PatchFitExplanation(TPatchFit fit, const TPatchDescription& patch,
                            const TPackDigests& image, const QString& image_region,
                            const TLanguageTable& texts) {
    const engine::TFitExplanation explanation = engine::ExplainPatchFit(
        fit, EngineDescription(patch), EngineDigests(image), image_region.toStdU16String());
    if (explanation.Key.empty())
        return QString();
    QString text = texts.Lookup(QString::fromStdU16String(std::u16string(explanation.Key)));
    if (explanation.Key != u"PatchDoesNotFit")
        return text;
    text = text.arg(QString::fromStdU16String(explanation.Region));
    const QString line = texts.Lookup(QStringLiteral("PatchDigestLine"));
    for (const engine::TFitExplanation::TDigestLine& digest : explanation.Lines)
        text += QStringLiteral("\r\n") +
                line.arg(QString::fromStdU16String(std::u16string(digest.File)),
                         QString::fromStdU16String(digest.Found),
                         QString::fromStdU16String(digest.Wanted).toUpper());
    return text;
}
