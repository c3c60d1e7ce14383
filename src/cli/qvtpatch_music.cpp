// qvtpatch's music: the assignment of an image as text, and that text read back for a run.
//
// One slot a line: SLOT ROW COLUMN ID [TITLE]. ROW and COLUMN are the slot's cell in the music
// window (rows 1 to 11, columns 1 to 3; the menu's slot 33 is row 0, column 0). Lines that are
// empty or start with '#' are skipped; slots a file leaves out keep the image's track.

#include "cli/ConsoleText.h"
#include "cli/qvtpatch_modes.h"

#include "desktop/PatchCatalogue.h"
#include "desktop/TrackList.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <array>

namespace {

constexpr int kGridColumns = 3;
constexpr int kMenuSlot = 33;

int SlotRow(int slot) {
    return slot == kMenuSlot ? 0 : slot / kGridColumns + 1;
}
int SlotColumn(int slot) {
    return slot == kMenuSlot ? 0 : slot % kGridColumns + 1;
}

} // namespace

std::unique_ptr<TTrackList> ReadImageTracks(const QString& image, const QString& patch_folder,
                                            const TIdentifyResult& identity,
                                            const TLanguageTable& texts, QString& problem) {
    auto list = std::make_unique<TTrackList>(QFileInfo(image).absoluteFilePath(), patch_folder,
                                             identity.InfoPosition, DefaultTrackListData());
    if (list->Status() == TTrackListStatus::ErrorTrackListFormat)
        problem = texts.Lookup(QStringLiteral("ErrorTrackListFormat"));
    else if (list->Status() == TTrackListStatus::ErrorReadingTracks)
        problem = texts.Lookup(QStringLiteral("ErrorReadingTracks"));
    else
        return list;
    return nullptr;
}

int ShowMusic(const QString& image, const QString& patch, const QString& language, bool json) {
    TLanguageTable texts;
    if (!LoadTexts(language, texts))
        return kExitUsage;
    const TIdentifyResult identity = IdentifySourceImage(image, texts);
    if (!identity.Usable()) {
        WriteLines(stderr, UnusableReason(identity, texts));
        return kExitFailed;
    }
    QString folder;
    if (!patch.isEmpty()) {
        QString problem;
        const QString description = ResolvePatch(patch, language, identity.Region, problem);
        if (description.isEmpty())
            return Refuse(problem);
        folder = PatchFolderOf(description);
    }
    QString problem;
    const std::unique_ptr<TTrackList> list =
        ReadImageTracks(image, folder, identity, texts, problem);
    if (!list) {
        WriteLines(stderr, problem);
        return kExitFailed;
    }

    QJsonArray array;
    if (!json)
        WriteLines(stdout, QStringLiteral("# SLOT ROW COLUMN ID TITLE (slot 11 shares slot 10's "
                                          "place and is never written; 33 is the menu)"));
    for (int slot = 0; slot < kMusicSlotCount; ++slot) {
        // A slot holds a listed track's title, or the raw id the image holds.
        const QString text = list->GetSlotTrack(slot);
        const int k = list->IndexOfTrackTitle(text);
        const QString id = k < 0 ? text : list->GetTrackId(k);
        const QString title = k < 0 ? QString() : list->GetTrackTitle(k);
        if (json) {
            array.append(QJsonObject{{QStringLiteral("slot"), slot},
                                     {QStringLiteral("row"), SlotRow(slot)},
                                     {QStringLiteral("column"), SlotColumn(slot)},
                                     {QStringLiteral("id"), id},
                                     {QStringLiteral("title"), title}});
        } else {
            WriteLines(stdout, QStringLiteral("%1 %2 %3 %4 %5")
                                   .arg(slot)
                                   .arg(SlotRow(slot))
                                   .arg(SlotColumn(slot))
                                   .arg(id, title)
                                   .trimmed());
        }
    }
    if (json)
        WriteLines(stdout, QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)));
    return 0;
}

bool ReadMusicFile(const QString& path, TTrackList& list, QString& problem) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("--music: cannot read ") + path + QStringLiteral(": ") +
                  file.errorString();
        return false;
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    std::array<bool, kMusicSlotCount> seen{};
    // Checked whole before the list changes, so that a refused file changes nothing.
    std::array<QString, kMusicSlotCount> texts;
    static const QRegularExpression kSpaces(QStringLiteral("\\s+"));
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = lines.at(n).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString where = QStringLiteral("%1 line %2: ").arg(path).arg(n + 1);
        const QStringList fields = line.split(kSpaces);
        bool slot_ok = false;
        bool row_ok = false;
        bool column_ok = false;
        const int slot = fields.value(0).toInt(&slot_ok);
        const int row = fields.value(1).toInt(&row_ok);
        const int column = fields.value(2).toInt(&column_ok);
        if (fields.size() < 4 || !slot_ok || !row_ok || !column_ok) {
            problem = where + QStringLiteral("expected SLOT ROW COLUMN ID [TITLE], got '") + line +
                      QLatin1Char('\'');
            return false;
        }
        if (slot < 0 || slot >= kMusicSlotCount) {
            problem = where + QStringLiteral("unknown slot number ") + fields.at(0);
            return false;
        }
        if (row != SlotRow(slot) || column != SlotColumn(slot)) {
            problem = where + QStringLiteral("slot %1 is row %2, column %3, not row %4, column %5")
                                  .arg(slot)
                                  .arg(SlotRow(slot))
                                  .arg(SlotColumn(slot))
                                  .arg(row)
                                  .arg(column);
            return false;
        }
        if (seen[slot]) {
            problem = where + QStringLiteral("slot %1 is given twice").arg(slot);
            return false;
        }
        seen[slot] = true;
        const QString id = fields.at(3);
        if (id.size() != kTrackIdLength) {
            problem = where + QStringLiteral("track id '") + id +
                      QStringLiteral("' is not %1 characters").arg(kTrackIdLength);
            return false;
        }
        // As the music window saves it: the listed title, or the id itself when it is not
        // listed (then reported, not written, when the run applies the assignment).
        const int k = list.IndexOfTrackId(id);
        texts[slot] = k < 0 ? id : list.GetTrackTitle(k);
    }
    for (int slot = 0; slot < kMusicSlotCount; ++slot) {
        if (seen[slot])
            list.SetSlotTrack(slot, texts[slot]);
    }
    list.SetChanged(true);
    return true;
}
