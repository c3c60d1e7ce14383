#pragma once
// Applying a VCDIFF difference inside the process, with xdelta3's own decoder (built from the
// distribution's xdelta3 source): the same result as `xdelta3 -d -s SOURCE DELTA OUTPUT`.

#include "ctr/FileIo.h"

#include <cstdint>
#include <functional>
#include <span>

namespace ctr {

/// Applies the difference `delta` (as xdelta3 writes it, any secondary compression) to
/// `source` and writes the result to `output`, which the caller commits. Every window's
/// Adler-32 is checked, so a difference made for another source fails rather than writing
/// wrong bytes. Memory stays bounded: the source is read in blocks, a few of them cached.
/// Throws TCtrError naming what is wrong; `progress` counts the difference's bytes and may
/// cancel: it is asked after each chunk of the difference, window written and source block.
/// `observe`, when given, sees every byte written, in order (a digest taken as it is written).
void ApplyDelta(TInFile& source, TInFile& delta, TOutFile& output, TProgress* progress = nullptr,
                const std::function<void(std::span<const std::uint8_t>)>& observe = {});
/// The same, handing the result to `write` in order instead of a file (an archive's entry).
void ApplyDelta(TInFile& source, TInFile& delta,
                const std::function<void(std::span<const std::uint8_t>)>& write,
                TProgress* progress = nullptr);

} // namespace ctr
