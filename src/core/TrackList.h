#pragma once
// The track list: assignable tracks, the 34 music slots of the source image and the
// changed flag of the user's assignment.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "sound_archive/MusicSlots.h"

#include <cstdint>
#include <vector>

inline constexpr int kMaxTracks = 101;

/// What construction found; the window shows the key's text and sets the music button.
enum class TTrackListStatus {
    Ok,                   // slots read: music button enabled
    ErrorTrackListFormat, // track list file malformed: music button disabled
    ErrorReadingTracks,   // no "INFO" at the INFO position, or image unreadable: disabled
};

/// The embedded default track list (resource ":/TrackListData") as text, byte-order mark removed.
QString DefaultTrackListData();

class TTrackList {
public:
    /// Reads `Tracklist.tls` from `patch_folder` (name matched ignoring case) when the folder
    /// is not empty and holds one, else `default_data` (the embedded list's text); then reads
    /// the 34 slots from the source image at `info_position`.
    TTrackList(const QString& source_path, const QString& patch_folder, std::int64_t info_position,
               const QString& default_data);

    TTrackListStatus Status() const { return m_status; }

    QString GetTrackId(int index) const;
    QString GetTrackTitle(int index) const;
    int GetTrackGroup(int index) const;
    int GetTrackCount() const;
    QString GetSlotTrack(int slot) const;
    void SetSlotTrack(int slot, const QString& text);
    bool GetChanged() const { return m_changed; }
    void SetChanged(bool changed) { m_changed = changed; }
    std::int64_t GetInfoPosition() const { return m_info_position; }
    QString GetSourcePath() const { return m_source_path; }
    int IndexOfTrackId(const QString& id) const;
    int IndexOfTrackTitle(const QString& title) const;

private:
    struct TTrack {
        QString Id;
        QString Title;
        int Group = 0;
    };
    std::vector<TTrack> m_tracks;
    std::array<QString, kMusicSlotCount> m_slots;
    std::int64_t m_info_position = 0;
    QString m_source_path;
    bool m_changed = false;
    TTrackListStatus m_status = TTrackListStatus::Ok;
};

/// One write of a track id into a music slot, at `Offset` from the INFO partition start.
struct TSlotWrite {
    std::int64_t Offset;
    QByteArray Id;
};

/// What applying the assignment writes: every slot but 11 whose text is a listed title
/// with a 6-byte id; the texts of the other slots, each to be reported with
/// "WarningUnknownTrack", in slot order.
struct TSlotPlan {
    std::vector<TSlotWrite> Writes;
    QStringList UnknownTexts;
};
TSlotPlan PlanSlotWrites(const TTrackList& list);

/// The bytes written for a track id: its characters as 8-bit bytes. Empty when a character
/// has no 8-bit form, so that such an id never counts as a 6-byte id.
QByteArray TrackIdBytes(const QString& id);

/// The row captions of the music window: for groups 1 to 11, the title of the group's first
/// track in the list text `track_list_text` without its final blank and year. An empty
/// caption for a group the list does not hold.
QStringList TrackGroupNames(const QString& track_list_text);

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
    QString Reason;           // the system's reason for CannotOpen and CannotWrite
    QStringList UnknownTexts; // slot texts reported with "WarningUnknownTrack", not written
};

/// Writes the planned slot ids into the source image in place (the file is opened read-write,
/// never truncated or extended), after checking that the INFO partition is still where the
/// list read it.
TDirectApplyResult ApplySlotsToSourceImage(const TTrackList& list);
