#include "desktop/TrackList.h"

#include "desktop/Decryption.h"
#include "desktop/FileTools.h"
#include "desktop/Identify.h"
#include "desktop/Language.h"

#include <QFileInfo>

#include <optional>

namespace {

// The engine's text is UTF-16 as QString's: views and copies cross without decoding.
std::u16string_view View(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size())};
}

QStringList ToStringList(const std::vector<engine::TText>& texts) {
    QStringList list;
    for (const engine::TText& text : texts)
        list.append(QString::fromStdU16String(text));
    return list;
}

} // namespace

TTrackList::TTrackList(const QString& source_path, const QString& patch_folder,
                       std::int64_t info_position, const QString& default_data) {
    const std::optional<engine::TTokens> tokens =
        engine::PatchTrackListTokens(ToPath(patch_folder), View(default_data), LocaleIsRussian());

    // An encrypted image is read through its keys: the positions are those of its decrypted
    // form. It is opened at the first read.
    TSourceImageReader image;
    std::optional<bool> opened;
    const auto read = [&](std::int64_t position, std::size_t length) {
        if (!opened)
            opened = image.Open(source_path, SourceFormOfFile(source_path).Kind);
        std::vector<std::uint8_t> bytes;
        if (*opened) {
            const QByteArray got = image.Read(position, static_cast<qint64>(length));
            bytes.assign(got.begin(), got.end());
        }
        return bytes;
    };
    m_list = engine::TTrackList(tokens, ToPath(source_path), info_position, read);
    if (m_list.Status() != TTrackListStatus::ErrorTrackListFormat)
        m_source_path = source_path;
}

QString TTrackList::GetTrackId(int index) const {
    return QString::fromStdU16String(m_list.GetTrackId(index));
}

QString TTrackList::GetTrackTitle(int index) const {
    return QString::fromStdU16String(m_list.GetTrackTitle(index));
}

QString TTrackList::GetSlotTrack(int slot) const {
    return QString::fromStdU16String(m_list.GetSlotTrack(slot));
}

void TTrackList::SetSlotTrack(int slot, const QString& text) {
    m_list.SetSlotTrack(slot, text.toStdU16String());
}

int TTrackList::IndexOfTrackId(const QString& id) const {
    return m_list.IndexOfTrackId(View(id));
}

int TTrackList::IndexOfTrackTitle(const QString& title) const {
    return m_list.IndexOfTrackTitle(View(title));
}

QByteArray TrackIdBytes(const QString& id) {
    return QByteArray::fromStdString(engine::TrackIdBytes(View(id)));
}

TSlotPlan PlanSlotWrites(const TTrackList& list) {
    const engine::TSlotPlan plan = engine::PlanSlotWrites(list.Engine());
    TSlotPlan result;
    for (const engine::TSlotWrite& write : plan.Writes)
        result.Writes.push_back({write.Offset, QByteArray::fromStdString(write.Id)});
    result.UnknownTexts = ToStringList(plan.UnknownTexts);
    return result;
}

QStringList TrackGroupNames(const QString& track_list_text) {
    return ToStringList(engine::TrackGroupNames(View(track_list_text)));
}

TDirectApplyResult ApplySlotsToSourceImage(const TTrackList& list) {
    TDirectApplyResult result;
    // The music is written as plain bytes at the image's positions: a compressed file holds
    // other bytes there, and into an encrypted image they would be garbage.
    const TSourceForm form = SourceFormOfFile(list.GetSourcePath());
    if (form.Compressed) {
        result.Status = TDirectApplyStatus::SourceCompressed;
        return result;
    }
    const QString kind = form.Kind;
    if (!kind.isEmpty() && InspectSourceCrypto(list.GetSourcePath(), kind, KeySearch()).Encrypted) {
        result.Status = TDirectApplyStatus::SourceEncrypted;
        return result;
    }
    const engine::TDirectApplyResult written = engine::WriteSlotsToImageFile(list.Engine());
    result.Status = written.Status;
    result.Reason = QString::fromLocal8Bit(written.Reason);
    result.UnknownTexts = ToStringList(written.UnknownTexts);
    return result;
}

QString DefaultTrackListData() {
    return QString::fromStdU16String(engine::DefaultTrackListText());
}
