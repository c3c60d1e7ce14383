#pragma once
// Versions: the program's own, the rule that orders the free-text versions of patches, and
// whether this program may install a patch that names the oldest program it needs.

#include <string_view>

namespace engine {

/// The program's own version ("0.7.1").
std::string_view ProgramVersion();

/// True for a version as MinimumProgramVersion takes it: numbers of one to nine digits with
/// dots between, "1", "0.7.1".
bool IsProgramVersion(std::u16string_view text);

/// Orders two patch versions (free text): runs of digits compare as numbers, runs of letters
/// as CompareNoCase orders them, other characters only separate. Where one runs out, it is the
/// newer when the other goes on with letters ("1.0" is newer than "1.0 beta") and the older when
/// the other goes on with a number ("1.0.1" is newer). An empty version is older than any other.
/// Negative, zero or positive as `a` is older, the same or newer than `b`.
int CompareVersions(std::u16string_view a, std::u16string_view b);

/// Whether the program of version `program` may install a patch whose MinimumProgramVersion is
/// `minimum` (blanks around it ignored): empty when it may, else the language key of the
/// reason, "PatchNeedsNewerProgram" (a newer program is needed; "1.0" and "1.0.0" name the
/// same) or "PatchBadProgramVersion" (`minimum` is not a version).
std::string_view ProgramVersionProblemKey(std::u16string_view minimum,
                                          std::string_view program = ProgramVersion());

} // namespace engine
