#pragma once
// The track list without Qt: assignable tracks, the 34 music slots of the source image and
// the changed flag of the user's assignment, the slot writes an assignment makes, and the
// embedded default list.

#include "engine/Text.h"
#include "sound_archive/MusicSlots.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace engine {

inline constexpr int kMaxTracks = 101;

/// What construction found; the window shows the key's text and sets the music button.
enum class TTrackListStatus {
    Ok,                   // slots read: music button enabled
    ErrorTrackListFormat, // track list file malformed: music button disabled
    ErrorReadingTracks,   // no "INFO" at the INFO position, or image unreadable: disabled
};

/// The embedded default track list: the bytes of TrackListData.txt as stored (UTF-8 with a
/// byte-order mark, CR LF line ends).
std::span<const std::uint8_t> DefaultTrackListBytes();

/// The embedded default track list as text, byte-order mark removed.
TText DefaultTrackListText();

/// The tokens of a track list's text (entries cut at ':'); a leading byte-order mark is
/// dropped first.
TTokens TrackListTokens(std::u16string_view text);

/// The tokens of a patch's track list: its folder's Tracklist.tls (name matched without regard
/// to letter case) when `patch_folder` is not empty and holds one, read as ReadTokenFile reads
/// it (no value when it cannot be read); else those of `default_text` (TrackListTokens).
std::optional<TTokens> PatchTrackListTokens(const std::filesystem::path& patch_folder,
                                            std::u16string_view default_text, bool russian_locale);

/// Reads `length` bytes at `position` of the source image as the image holds them (an
/// encrypted image decrypted): fewer or none where it cannot be read.
using TImageReader =
    std::function<std::vector<std::uint8_t>(std::int64_t position, std::size_t length)>;

class TTrackList {
public:
    TTrackList() = default;
    /// The tracks from the tokens of a track list (TrackListTokens, or a patch's file read
    /// so; no value when that file could not be read); then the 34 slots read through `read`
    /// at `info_position` of the source image.
    TTrackList(const std::optional<TTokens>& tokens, const std::filesystem::path& source_path,
               std::int64_t info_position, const TImageReader& read);

    TTrackListStatus Status() const { return m_status; }

    const TText& GetTrackId(int index) const { return m_tracks.at(index).Id; }
    const TText& GetTrackTitle(int index) const { return m_tracks.at(index).Title; }
    int GetTrackGroup(int index) const { return m_tracks.at(index).Group; }
    int GetTrackCount() const { return static_cast<int>(m_tracks.size()); }
    const TText& GetSlotTrack(int slot) const { return m_slots.at(slot); }
    void SetSlotTrack(int slot, const TText& text) { m_slots.at(slot) = text; }
    bool GetChanged() const { return m_changed; }
    void SetChanged(bool changed) { m_changed = changed; }
    std::int64_t GetInfoPosition() const { return m_info_position; }
    /// The source image; empty when the list itself could not be read.
    const std::filesystem::path& GetSourcePath() const { return m_source_path; }
    int IndexOfTrackId(std::u16string_view id) const;
    int IndexOfTrackTitle(std::u16string_view title) const;

private:
    struct TTrack {
        TText Id;
        TText Title;
        int Group = 0;
    };
    std::vector<TTrack> m_tracks;
    std::array<TText, kMusicSlotCount> m_slots;
    std::int64_t m_info_position = 0;
    std::filesystem::path m_source_path;
    bool m_changed = false;
    TTrackListStatus m_status = TTrackListStatus::Ok;
};

/// One write of a track id into a music slot, at `Offset` from the INFO partition start.
struct TSlotWrite {
    std::int64_t Offset;
    std::string Id; // the id's bytes
};

/// What applying the assignment writes: every slot but 11 whose text is a listed title
/// with a 6-byte id; the texts of the other slots, each to be reported with
/// "WarningUnknownTrack", in slot order.
struct TSlotPlan {
    std::vector<TSlotWrite> Writes;
    std::vector<TText> UnknownTexts;
};
TSlotPlan PlanSlotWrites(const TTrackList& list);

/// The bytes written for a track id: its characters as 8-bit bytes. Empty when a character
/// has no 8-bit form, so that such an id never counts as a 6-byte id.
std::string TrackIdBytes(std::u16string_view id);

/// The row captions of the music window: for groups 1 to 11, the title of the group's first
/// track in the list text `track_list_text` without its final blank and year. An empty
/// caption for a group the list does not hold.
std::vector<TText> TrackGroupNames(std::u16string_view track_list_text);

/// How writing the assignment straight into the source image ended.
enum class TDirectApplyStatus {
    Ok,                 // every planned slot written
    ErrorReadingTracks, // "INFO" gone from the INFO position, or image too short: none written
    CannotOpen,         // the image cannot be opened for writing: nothing written
    CannotWrite,        // a write failed part way
    SourceEncrypted,    // the image is encrypted: plain ids are not written into it
    SourceCompressed,   // the image is compressed: its bytes are not the image's
};

struct TDirectApplyResult {
    TDirectApplyStatus Status = TDirectApplyStatus::Ok;
    std::string Reason;              // the system's reason for CannotOpen and CannotWrite
    std::vector<TText> UnknownTexts; // slot texts reported with "WarningUnknownTrack"
};

/// Writes the planned slot ids into the plain source image file in place (the file is opened
/// read-write, never created, truncated or extended), after checking that the INFO partition
/// is still where the list read it. The caller has made sure the file holds the image's own
/// bytes (neither compressed nor encrypted).
TDirectApplyResult WriteSlotsToImageFile(const TTrackList& list);

} // namespace engine
