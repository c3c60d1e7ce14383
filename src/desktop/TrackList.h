#pragma once
// The track list for the window and the command line: assignable tracks, the 34 music slots
// of the source image and the changed flag of the user's assignment. engine/TrackList.h does
// the work without Qt; here the patch's file, the source image's reader and QString.

#include "engine/TrackList.h"
#include "sound_archive/MusicSlots.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

using engine::kMaxTracks;
using TTrackListStatus = engine::TTrackListStatus;
using TDirectApplyStatus = engine::TDirectApplyStatus;

/// The embedded default track list as text, byte-order mark removed.
QString DefaultTrackListData();

class TTrackList {
public:
    /// Reads `Tracklist.tls` from `patch_folder` (name matched ignoring case) when the folder
    /// is not empty and holds one, else `default_data` (the embedded list's text); then reads
    /// the 34 slots from the source image at `info_position`.
    TTrackList(const QString& source_path, const QString& patch_folder, std::int64_t info_position,
               const QString& default_data);

    TTrackListStatus Status() const { return m_list.Status(); }

    QString GetTrackId(int index) const;
    QString GetTrackTitle(int index) const;
    int GetTrackGroup(int index) const { return m_list.GetTrackGroup(index); }
    int GetTrackCount() const { return m_list.GetTrackCount(); }
    QString GetSlotTrack(int slot) const;
    void SetSlotTrack(int slot, const QString& text);
    bool GetChanged() const { return m_list.GetChanged(); }
    void SetChanged(bool changed) { m_list.SetChanged(changed); }
    std::int64_t GetInfoPosition() const { return m_list.GetInfoPosition(); }
    QString GetSourcePath() const { return m_source_path; }
    int IndexOfTrackId(const QString& id) const;
    int IndexOfTrackTitle(const QString& title) const;

    /// The list as the engine holds it.
    const engine::TTrackList& Engine() const { return m_list; }

private:
    engine::TTrackList m_list;
    QString m_source_path;
};

/// One write of a track id into a music slot, at `Offset` from the INFO partition start.
struct TSlotWrite {
    std::int64_t Offset;
    QByteArray Id;
};

/// What applying the assignment writes (engine::PlanSlotWrites).
struct TSlotPlan {
    std::vector<TSlotWrite> Writes;
    QStringList UnknownTexts;
};
TSlotPlan PlanSlotWrites(const TTrackList& list);

/// The bytes written for a track id: its characters as 8-bit bytes. Empty when a character
/// has no 8-bit form, so that such an id never counts as a 6-byte id.
QByteArray TrackIdBytes(const QString& id);

/// The row captions of the music window (engine::TrackGroupNames).
QStringList TrackGroupNames(const QString& track_list_text);

struct TDirectApplyResult {
    TDirectApplyStatus Status = TDirectApplyStatus::Ok;
    QString Reason;           // the system's reason for CannotOpen and CannotWrite
    QStringList UnknownTexts; // slot texts reported with "WarningUnknownTrack", not written
};

/// Writes the planned slot ids into the source image in place (the file is opened read-write,
/// never truncated or extended), after checking that the INFO partition is still where the
/// list read it. A compressed or encrypted image is refused untouched.
TDirectApplyResult ApplySlotsToSourceImage(const TTrackList& list);
