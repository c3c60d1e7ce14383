#include "core/TrackList.h"

#include "core/Decryption.h"
#include "core/FileTools.h"
#include "core/Identify.h"
#include "core/Language.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <limits>
#include <optional>

// Outside any namespace: the resource initialiser is a global function of the core library.
static void InitTrackListResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {

// Track list files cut their entries at ':' (language files use '=').
constexpr QChar kTrackListSeparator = u':';
// "INFO", the magic at the start of the sound archive's INFO partition.
constexpr char kInfoMagic[4] = {'I', 'N', 'F', 'O'};
constexpr std::int64_t kInfoMagicLength = 4;

struct TParsedTrack {
    QString Id;
    QString Title;
    int Group = 0;
};

/// A decimal whole number: an optional sign and at least one digit, nothing else, in range.
std::optional<int> ParseWholeNumber(const QString& text) {
    qsizetype p = 0;
    bool negative = false;
    if (p < text.size() && (text.at(p) == u'-' || text.at(p) == u'+')) {
        negative = text.at(p) == u'-';
        ++p;
    }
    if (p >= text.size())
        return std::nullopt;
    std::int64_t value = 0;
    for (; p < text.size(); ++p) {
        const char16_t c = text.at(p).unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > std::numeric_limits<int>::max())
            return std::nullopt;
    }
    return static_cast<int>(negative ? -value : value);
}

/// Reads the tracks from the tokens: the count is the token after "TrackCount" (case
/// ignored), the tracks are the triples id, title, group from token 2 on. Fills `tracks`
/// with every complete track before the first fault; false on any fault.
bool ParseTrackTokens(const QStringList& tokens, std::vector<TParsedTrack>& tracks) {
    tracks.clear();
    const std::optional<int> count =
        ParseWholeNumber(LookupToken(tokens, QStringLiteral("TrackCount")));
    if (!count || *count < 0 || *count > kMaxTracks)
        return false;
    for (int i = 0; i < *count; ++i) {
        const qsizetype t = 2 + 3 * static_cast<qsizetype>(i);
        if (t + 2 >= tokens.size())
            return false; // the file ends before the count is reached
        const std::optional<int> group = ParseWholeNumber(tokens.at(t + 2));
        if (!group)
            return false;
        tracks.push_back({tokens.at(t), tokens.at(t + 1), *group});
    }
    return true;
}

QStringList TokenizeTrackListText(QString text) {
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return Tokenize(NormaliseLineEnds(text), kTrackListSeparator);
}

std::int64_t LastSlotEnd() {
    return *std::max_element(kMusicSlotOffsets.begin(), kMusicSlotOffsets.end()) + kTrackIdLength;
}

} // namespace

TTrackList::TTrackList(const QString& source_path, const QString& patch_folder,
                       std::int64_t info_position, const QString& default_data) {
    QStringList tokens;
    bool read = true;
    QString patch_list_path;
    if (!patch_folder.isEmpty()) {
        patch_list_path = FindEntryNoCase(patch_folder, QStringLiteral("Tracklist.tls"));
        if (!QFileInfo(patch_list_path).isFile())
            patch_list_path.clear();
    }
    if (!patch_list_path.isEmpty())
        read = ReadTokenFile(patch_list_path, kTrackListSeparator, tokens);
    else
        tokens = TokenizeTrackListText(default_data);

    std::vector<TParsedTrack> parsed;
    const bool parsed_whole = read && ParseTrackTokens(tokens, parsed);
    for (const TParsedTrack& track : parsed)
        m_tracks.push_back({track.Id, track.Title, track.Group});
    // Until the image is read, each slot shows the title of the track with its number.
    for (int i = 0; i < kMusicSlotCount && i < static_cast<int>(m_tracks.size()); ++i)
        m_slots[i] = m_tracks[i].Title;
    if (!parsed_whole) {
        // The list keeps what was read, but without a source it is never applied.
        m_status = TTrackListStatus::ErrorTrackListFormat;
        return;
    }

    m_info_position = info_position;
    m_source_path = source_path;

    // An encrypted image is read through its keys: the positions are those of its decrypted form.
    TSourceImageReader image;
    if (info_position < 0 || !image.Open(source_path, SourceFormOfFile(source_path).Kind) ||
        image.Read(info_position, kInfoMagicLength) != QByteArray(kInfoMagic, kInfoMagicLength)) {
        m_status = TTrackListStatus::ErrorReadingTracks;
        return;
    }
    std::array<QString, kMusicSlotCount> read_slots;
    for (int s = 0; s < kMusicSlotCount; ++s) {
        const QByteArray bytes = image.Read(info_position + kMusicSlotOffsets[s], kTrackIdLength);
        if (bytes.size() != kTrackIdLength) {
            m_status = TTrackListStatus::ErrorReadingTracks;
            return;
        }
        // Latin-1 keeps every byte as one character, so a raw id shows what the image holds.
        const QString id = QString::fromLatin1(bytes);
        const int k = IndexOfTrackId(id);
        read_slots[s] = k < 0 ? id : m_tracks[k].Title;
    }
    m_slots = read_slots;
    m_changed = false;
    m_status = TTrackListStatus::Ok;
}

QString TTrackList::GetTrackId(int index) const {
    return m_tracks.at(index).Id;
}

QString TTrackList::GetTrackTitle(int index) const {
    return m_tracks.at(index).Title;
}

int TTrackList::GetTrackGroup(int index) const {
    return m_tracks.at(index).Group;
}

int TTrackList::GetTrackCount() const {
    return static_cast<int>(m_tracks.size());
}

QString TTrackList::GetSlotTrack(int slot) const {
    return m_slots.at(slot);
}

void TTrackList::SetSlotTrack(int slot, const QString& text) {
    m_slots.at(slot) = text;
}

int TTrackList::IndexOfTrackId(const QString& id) const {
    for (std::size_t i = 0; i < m_tracks.size(); ++i) {
        if (m_tracks[i].Id == id)
            return static_cast<int>(i);
    }
    return -1;
}

int TTrackList::IndexOfTrackTitle(const QString& title) const {
    for (std::size_t i = 0; i < m_tracks.size(); ++i) {
        if (m_tracks[i].Title == title)
            return static_cast<int>(i);
    }
    return -1;
}

QByteArray TrackIdBytes(const QString& id) {
    QByteArray bytes;
    bytes.reserve(id.size());
    for (QChar c : id) {
        if (c.unicode() > 0xFF)
            return {};
        bytes.append(static_cast<char>(c.unicode()));
    }
    return bytes;
}

TSlotPlan PlanSlotWrites(const TTrackList& list) {
    TSlotPlan plan;
    for (int s = 0; s < kMusicSlotCount; ++s) {
        if (s == kSkippedMusicSlot)
            continue; // shares its place with slot 10
        const QString text = list.GetSlotTrack(s);
        const int k = list.IndexOfTrackTitle(text);
        const QByteArray id = k < 0 ? QByteArray() : TrackIdBytes(list.GetTrackId(k));
        // An id of another length would overwrite its neighbours in the INFO partition.
        if (id.size() != kTrackIdLength)
            plan.UnknownTexts.append(text);
        else
            plan.Writes.push_back({kMusicSlotOffsets[s], id});
    }
    return plan;
}

QStringList TrackGroupNames(const QString& track_list_text) {
    std::vector<TParsedTrack> tracks;
    ParseTrackTokens(TokenizeTrackListText(track_list_text), tracks);
    QStringList names;
    for (int g = 1; g <= 11; ++g) {
        QString name;
        const auto first = std::find_if(tracks.begin(), tracks.end(),
                                        [g](const TParsedTrack& t) { return t.Group == g; });
        if (first != tracks.end()) {
            name = first->Title;
            const qsizetype blank = name.lastIndexOf(u' ');
            if (blank >= 0)
                name.truncate(blank);
        }
        names.append(name);
    }
    return names;
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
    // ExistingOnly: a vanished image must not come back as a new, nearly empty file.
    QFile image(list.GetSourcePath());
    if (!image.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
        result.Status = TDirectApplyStatus::CannotOpen;
        result.Reason = image.errorString();
        return result;
    }
    // The image may have been replaced since the list read it: write only where the INFO
    // partition still stands and every slot lies inside the file.
    const std::int64_t info = list.GetInfoPosition();
    if (info < 0 || image.size() < info + LastSlotEnd() || !image.seek(info) ||
        image.read(kInfoMagicLength) != QByteArray(kInfoMagic, kInfoMagicLength)) {
        result.Status = TDirectApplyStatus::ErrorReadingTracks;
        return result;
    }
    TSlotPlan plan = PlanSlotWrites(list);
    result.UnknownTexts = std::move(plan.UnknownTexts);
    for (const TSlotWrite& write : plan.Writes) {
        if (!image.seek(info + write.Offset) || image.write(write.Id) != write.Id.size()) {
            result.Status = TDirectApplyStatus::CannotWrite;
            result.Reason = image.errorString();
            return result;
        }
    }
    if (!image.flush()) {
        result.Status = TDirectApplyStatus::CannotWrite;
        result.Reason = image.errorString();
    }
    return result;
}

QString DefaultTrackListData() {
    static const bool registered = (InitTrackListResources(), true);
    Q_UNUSED(registered);
    QFile file(QStringLiteral(":/TrackListData"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return DecodeTextFile(file.readAll(), false);
}
