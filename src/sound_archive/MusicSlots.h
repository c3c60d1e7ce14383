#pragma once
// Where the sound archive's INFO partition names the track each scene plays.

#include <array>
#include <cstdint>

/// Offsets of the 34 music slots from the start of the sound archive's INFO partition.
/// Slots 10 and 11 share one offset; slot 11 is read but never written.
inline constexpr std::array<std::int64_t, 34> kMusicSlotOffsets = {
    0xCF53, 0xD73B, 0xDCBB, 0xD003, 0xD5DB, 0xDCE7, 0xCF7F, 0xD65F, 0xDD13, 0xCECF, 0xD633, 0xD633,
    0xCEA3, 0xD607, 0xDD6B, 0xCFAB, 0xD68B, 0xDD3F, 0xCE4B, 0xD6B7, 0xDDC3, 0xD163, 0xD767, 0xDD97,
    0xCE77, 0xD6E3, 0xDDEF, 0xD18F, 0xD557, 0xDE47, 0xCFD7, 0xD89B, 0xDFFF, 0xE20F};
inline constexpr int kMusicSlotCount = 34;
inline constexpr int kSkippedMusicSlot = 11;
inline constexpr int kTrackIdLength = 6;
