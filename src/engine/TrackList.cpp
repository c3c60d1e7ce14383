#include "engine/TrackList.h"

#include "ctr/Platform.h"
#include "engine/Folders.h"
#include "engine/Language.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <system_error>

namespace engine {

namespace {

// Track list files cut their entries at ':' (language files use '=').
constexpr char16_t kTrackListSeparator = u':';
// "INFO", the magic at the start of the sound archive's INFO partition.
constexpr std::uint8_t kInfoMagic[4] = {'I', 'N', 'F', 'O'};
constexpr std::size_t kInfoMagicLength = 4;

struct TParsedTrack {
    TText Id;
    TText Title;
    int Group = 0;
};

/// A decimal whole number: an optional sign and at least one digit, nothing else, in range.
std::optional<int> ParseWholeNumber(std::u16string_view text) {
    std::size_t p = 0;
    bool negative = false;
    if (p < text.size() && (text[p] == u'-' || text[p] == u'+')) {
        negative = text[p] == u'-';
        ++p;
    }
    if (p >= text.size())
        return std::nullopt;
    std::int64_t value = 0;
    for (; p < text.size(); ++p) {
        const char16_t c = text[p];
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
bool ParseTrackTokens(const TTokens& tokens, std::vector<TParsedTrack>& tracks) {
    tracks.clear();
    const std::optional<int> count = ParseWholeNumber(LookupToken(tokens, u"TrackCount"));
    if (!count || *count < 0 || *count > kMaxTracks)
        return false;
    for (int i = 0; i < *count; ++i) {
        const std::size_t t = 2 + 3 * static_cast<std::size_t>(i);
        if (t + 2 >= tokens.size())
            return false; // the file ends before the count is reached
        const std::optional<int> group = ParseWholeNumber(tokens[t + 2]);
        if (!group)
            return false;
        tracks.push_back({tokens[t], tokens[t + 1], *group});
    }
    return true;
}

std::int64_t LastSlotEnd() {
    return *std::max_element(kMusicSlotOffsets.begin(), kMusicSlotOffsets.end()) + kTrackIdLength;
}

// Latin-1 keeps every byte as one character, so a raw id shows what the image holds.
TText Latin1(std::span<const std::uint8_t> bytes) {
    return TText(bytes.begin(), bytes.end());
}

struct TFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

TText DefaultTrackListText() {
    TText text = DecodeTextFile(DefaultTrackListBytes(), false);
    if (!text.empty() && text.front() == u'\xFEFF')
        text.erase(0, 1);
    return text;
}

TTokens TrackListTokens(std::u16string_view text) {
    if (!text.empty() && text.front() == u'\xFEFF')
        text.remove_prefix(1);
    return Tokenize(NormaliseLineEnds(text), kTrackListSeparator);
}

std::optional<TTokens> PatchTrackListTokens(const std::filesystem::path& patch_folder,
                                            std::u16string_view default_text, bool russian_locale) {
    if (!patch_folder.empty()) {
        const std::filesystem::path file = FindEntryNoCase(patch_folder, "Tracklist.tls");
        std::error_code error;
        if (std::filesystem::is_regular_file(file, error))
            return ReadTokenFile(file, kTrackListSeparator, russian_locale);
    }
    return TrackListTokens(default_text);
}

TTrackList::TTrackList(const std::optional<TTokens>& tokens,
                       const std::filesystem::path& source_path, std::int64_t info_position,
                       const TImageReader& read) {
    std::vector<TParsedTrack> parsed;
    const bool parsed_whole = tokens && ParseTrackTokens(*tokens, parsed);
    for (TParsedTrack& track : parsed)
        m_tracks.push_back({std::move(track.Id), std::move(track.Title), track.Group});
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

    const std::vector<std::uint8_t> magic =
        info_position < 0 ? std::vector<std::uint8_t>() : read(info_position, kInfoMagicLength);
    if (!std::equal(magic.begin(), magic.end(), std::begin(kInfoMagic), std::end(kInfoMagic))) {
        m_status = TTrackListStatus::ErrorReadingTracks;
        return;
    }
    std::array<TText, kMusicSlotCount> read_slots;
    for (int s = 0; s < kMusicSlotCount; ++s) {
        const std::vector<std::uint8_t> bytes =
            read(info_position + kMusicSlotOffsets[s], kTrackIdLength);
        if (bytes.size() != kTrackIdLength) {
            m_status = TTrackListStatus::ErrorReadingTracks;
            return;
        }
        const TText id = Latin1(bytes);
        const int k = IndexOfTrackId(id);
        read_slots[s] = k < 0 ? id : m_tracks[k].Title;
    }
    m_slots = read_slots;
    m_changed = false;
    m_status = TTrackListStatus::Ok;
}

int TTrackList::IndexOfTrackId(std::u16string_view id) const {
    for (std::size_t i = 0; i < m_tracks.size(); ++i) {
        if (m_tracks[i].Id == id)
            return static_cast<int>(i);
    }
    return -1;
}

int TTrackList::IndexOfTrackTitle(std::u16string_view title) const {
    for (std::size_t i = 0; i < m_tracks.size(); ++i) {
        if (m_tracks[i].Title == title)
            return static_cast<int>(i);
    }
    return -1;
}

std::string TrackIdBytes(std::u16string_view id) {
    std::string bytes;
    bytes.reserve(id.size());
    for (const char16_t c : id) {
        if (c > 0xFF)
            return {};
        bytes.push_back(static_cast<char>(c));
    }
    return bytes;
}

TSlotPlan PlanSlotWrites(const TTrackList& list) {
    TSlotPlan plan;
    for (int s = 0; s < kMusicSlotCount; ++s) {
        if (s == kSkippedMusicSlot)
            continue; // shares its place with slot 10
        const TText& text = list.GetSlotTrack(s);
        const int k = list.IndexOfTrackTitle(text);
        const std::string id = k < 0 ? std::string() : TrackIdBytes(list.GetTrackId(k));
        // An id of another length would overwrite its neighbours in the INFO partition.
        if (id.size() != kTrackIdLength)
            plan.UnknownTexts.push_back(text);
        else
            plan.Writes.push_back({kMusicSlotOffsets[s], id});
    }
    return plan;
}

std::vector<TText> TrackGroupNames(std::u16string_view track_list_text) {
    std::vector<TParsedTrack> tracks;
    ParseTrackTokens(TrackListTokens(track_list_text), tracks);
    std::vector<TText> names;
    for (int g = 1; g <= 11; ++g) {
        TText name;
        const auto first = std::find_if(tracks.begin(), tracks.end(),
                                        [g](const TParsedTrack& t) { return t.Group == g; });
        if (first != tracks.end()) {
            name = first->Title;
            const std::size_t blank = name.rfind(u' ');
            if (blank != TText::npos)
                name.resize(blank);
        }
        names.push_back(std::move(name));
    }
    return names;
}

TDirectApplyResult WriteSlotsToImageFile(const TTrackList& list) {
    TDirectApplyResult result;
    auto fail = [&result](TDirectApplyStatus status) {
        result.Status = status;
        result.Reason = std::strerror(errno != 0 ? errno : EIO);
        return result;
    };
    // "r+b" opens an existing file only: a vanished image must not come back as a new, nearly
    // empty file.
    errno = 0;
    const std::unique_ptr<std::FILE, TFileCloser> image(ctr::OpenFile(list.GetSourcePath(), "r+b"));
    if (!image)
        return fail(TDirectApplyStatus::CannotOpen);
    // The image may have been replaced since the list read it: write only where the INFO
    // partition still stands and every slot lies inside the file.
    const std::int64_t info = list.GetInfoPosition();
    const std::int64_t size = ctr::SeekFileEnd(image.get());
    std::uint8_t magic[kInfoMagicLength] = {};
    if (info < 0 || size < 0 || size - info < LastSlotEnd() ||
        !ctr::SeekFile(image.get(), static_cast<std::uint64_t>(info)) ||
        std::fread(magic, 1, kInfoMagicLength, image.get()) != kInfoMagicLength ||
        !std::equal(std::begin(magic), std::end(magic), std::begin(kInfoMagic))) {
        result.Status = TDirectApplyStatus::ErrorReadingTracks;
        return result;
    }
    TSlotPlan plan = PlanSlotWrites(list);
    result.UnknownTexts = std::move(plan.UnknownTexts);
    for (const TSlotWrite& write : plan.Writes) {
        errno = 0;
        if (!ctr::SeekFile(image.get(), static_cast<std::uint64_t>(info + write.Offset)) ||
            std::fwrite(write.Id.data(), 1, write.Id.size(), image.get()) != write.Id.size())
            return fail(TDirectApplyStatus::CannotWrite);
    }
    errno = 0;
    if (std::fflush(image.get()) != 0)
        return fail(TDirectApplyStatus::CannotWrite);
    return result;
}

} // namespace engine
