#pragma once
// Small synthetic source images for the track list and music window tests: "INFO" at the
// INFO position and a 6-byte id at each music slot, every other byte a known pattern.

#include "desktop/TrackList.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>
#include <array>

using TSlotIds = std::array<QByteArray, kMusicSlotCount>;

/// The ids that the embedded default list's layout puts in each slot: row g of the grid holds
/// the three game versions of group g; slots 10 and 11 share the group 4 track of games 2/3.
inline TSlotIds DefaultSlotIds() {
    const char* const ids[kMusicSlotCount] = {
        "BGM008", "BGM077", "BGM117", "BGM013", "BGM069", "BGM118", "BGM010", "BGM072", "BGM119",
        "BGM005", "BGM071", "BGM071", "BGM004", "BGM070", "BGM121", "BGM011", "BGM073", "BGM120",
        "BGM002", "BGM074", "BGM123", "BGM024", "BGM078", "BGM122", "BGM003", "BGM075", "BGM124",
        "BGM025", "BGM065", "BGM126", "BGM012", "BGM088", "BGM137", "BGM200"};
    TSlotIds result;
    for (int s = 0; s < kMusicSlotCount; ++s)
        result[s] = ids[s];
    return result;
}

/// Image bytes: a position-dependent pattern, "INFO" at `info_position`, the slot ids after it.
/// Slot 11 is not stored (it shares slot 10's place).
inline QByteArray MakeSourceImageBytes(std::int64_t info_position, const TSlotIds& ids) {
    const std::int64_t last =
        *std::max_element(kMusicSlotOffsets.begin(), kMusicSlotOffsets.end()) + kTrackIdLength;
    QByteArray bytes(info_position + last + 97, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) % 251);
    bytes.replace(info_position, 4, "INFO");
    for (int s = 0; s < kMusicSlotCount; ++s) {
        if (s != kSkippedMusicSlot)
            bytes.replace(info_position + kMusicSlotOffsets[s], kTrackIdLength, ids[s]);
    }
    return bytes;
}

inline bool WriteFileBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

inline QByteArray ReadFileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
