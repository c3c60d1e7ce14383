#pragma once
// The three containers a game image comes in.

namespace ctr {

/// A CIA (the console's installable form), a CXI (one NCCH partition, the emulator's form) or a
/// CCI (NCSD, the card's form, also named .3ds).
enum class TImageKind { Cia, Cxi, Cci };

} // namespace ctr
