// The main window's fit check: when a source image is chosen, the digests of its pack.dat and
// pack.inc are taken on a thread of their own while the window goes on; the status line shows
// how far the check has come, each patch entry gets a mark, and a patch that does not fit is
// explained instead of installed.

#include "gui/Main.h"

#include "desktop/FitCheck.h"
#include "desktop/PatchCatalogue.h"
#include "gui/MessageBoxes.h"

#include "ui_Main.h"

#include <QElapsedTimer>
#include <QStyle>

namespace {

constexpr qint64 kProgressIntervalMs = 250; // between two updates of the status line

} // namespace

TForm1::TFitRun::~TFitRun() {
    Cancel.store(true);
    if (Thread.joinable())
        Thread.join();
}

void TForm1::StopFitCheck() {
    ++m_fit_generation; // what the stopped check still posts is dropped
    m_fit_run.reset();
    m_source_digests.reset();
    m_ui->LFitStatus->clear();
    m_ui->LFitStatus->setToolTip(QString());
    MarkPatchEntries();
}

void TForm1::StartFitCheck() {
    StopFitCheck();
    // The same image chosen again, unchanged since: its digests are known.
    if (const auto known = RememberedPackDigests(m_state.SourcePath)) {
        TPackDigestResult result;
        result.Outcome = TPackDigestResult::TOutcome::Done;
        result.Digests = *known;
        FitCheckEnded(result);
        return;
    }
    const std::uint64_t generation = m_fit_generation;
    auto run = std::make_unique<TFitRun>();
    const std::atomic<bool>& cancel = run->Cancel;
    const QString checking = m_state.LanguageTable.Lookup(QStringLiteral("FitChecking"));
    m_ui->LFitStatus->setText(checking.arg(0));
    run->Thread = std::thread([this, &cancel, generation, checking, path = m_state.SourcePath,
                               kind = m_state.SourceKind] {
        // A few updates a second: each one is a repaint the check's own threads wait on
        // when the machine has no core to spare.
        int shown = 0;
        QElapsedTimer since_shown;
        since_shown.start();
        const auto progress = [&](std::uint64_t done, std::uint64_t total) {
            const int percent = total == 0 ? 100 : int(done * 100 / total);
            if (percent == shown || since_shown.elapsed() < kProgressIntervalMs)
                return;
            shown = percent;
            since_shown.restart();
            // Queued with the window as context: dropped should the window be gone.
            QMetaObject::invokeMethod(
                this,
                [this, generation, text = checking.arg(percent)] {
                    if (generation == m_fit_generation)
                        m_ui->LFitStatus->setText(text);
                },
                Qt::QueuedConnection);
        };
        const TPackDigestResult result = TakePackDigests(path, kind, cancel, progress);
        QMetaObject::invokeMethod(
            this,
            [this, generation, result] {
                if (generation == m_fit_generation)
                    FitCheckEnded(result);
            },
            Qt::QueuedConnection);
    });
    m_fit_run = std::move(run);
}

void TForm1::FitCheckEnded(const TPackDigestResult& result) {
    m_fit_run.reset(); // the thread has posted its last word and ends
    const TLanguageTable& texts = m_state.LanguageTable;
    switch (result.Outcome) {
    case TPackDigestResult::TOutcome::Done:
        m_source_digests = result.Digests;
        m_ui->LFitStatus->setText(texts.Lookup(QStringLiteral("FitChecked")));
        m_ui->LFitStatus->setToolTip(
            QStringLiteral("pack.dat MD5 %1\npack.inc MD5 %2")
                .arg(result.Digests.PackDatMD5, result.Digests.PackIncMD5));
        break;
    case TPackDigestResult::TOutcome::Failed: {
        // A run would say the same when it comes to the digests; nothing is marked.
        const QString text =
            texts.Lookup(QStringLiteral("FitCheckFailed")) + QLatin1Char(' ') + result.Problem;
        m_ui->LFitStatus->setText(text);
        m_ui->LFitStatus->setToolTip(text);
        break;
    }
    case TPackDigestResult::TOutcome::Cancelled:
        m_ui->LFitStatus->clear();
        break;
    }
    MarkPatchEntries();
}

std::optional<TPatchFit> TForm1::PatchFitOf(int index) const {
    if (!m_source_digests || index <= 0 || index >= m_state.PatchList.size())
        return std::nullopt;
    const auto description = ReadPatchDescription(m_state.PatchList.at(index));
    if (!description)
        return std::nullopt;
    return JudgePatchFit(*description, *m_source_digests);
}

void TForm1::MarkPatchEntries() {
    QComboBox* box = m_ui->CBPatch;
    for (int i = 1; i < box->count(); ++i) {
        const std::optional<TPatchFit> fit = PatchFitOf(i);
        if (!fit) {
            box->setItemIcon(i, QIcon());
            box->setItemData(i, QVariant(), Qt::ToolTipRole);
            continue;
        }
        QStyle::StandardPixmap icon = QStyle::SP_DialogApplyButton;
        if (*fit == TPatchFit::Differs)
            icon = QStyle::SP_MessageBoxWarning;
        else if (*fit == TPatchFit::Installed)
            icon = QStyle::SP_MessageBoxInformation;
        box->setItemIcon(i, style()->standardIcon(icon));
        box->setItemData(i, PatchFitMark(*fit, m_state.LanguageTable), Qt::ToolTipRole);
    }
    ShowChosenPatchFit();
}

void TForm1::ShowChosenPatchFit() {
    if (!m_source_digests)
        return;
    const std::optional<TPatchFit> fit = PatchFitOf(m_ui->CBPatch->currentIndex());
    m_ui->LFitStatus->setText(fit ? PatchFitMark(*fit, m_state.LanguageTable)
                                  : m_state.LanguageTable.Lookup(QStringLiteral("FitChecked")));
}

bool TForm1::ChosenPatchFits() {
    const int index = m_ui->CBPatch->currentIndex();
    const std::optional<TPatchFit> fit = PatchFitOf(index);
    if (!fit || *fit == TPatchFit::Fits)
        return true; // not known yet: the run checks the digests itself
    const auto description = ReadPatchDescription(m_state.PatchList.at(index));
    if (!description)
        return true; // gone since it was marked: the run says what it finds
    ShowMessage(this, TMessageKind::Error,
                PatchFitExplanation(*fit, *description, *m_source_digests, m_state.SourceRegion,
                                    m_state.LanguageTable));
    return false;
}
