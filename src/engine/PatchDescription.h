#pragma once
// Description files of the patch folders without Qt: their fields read from the file's tokens
// and written back in the form the patch folders use.

#include "engine/Text.h"

namespace engine {

/// The values of a description file; a missing key gives "".
struct TDescriptionFields {
    TText Region;
    TText Title;
    TText Description;
    TText OriginalPackDatMD5;
    TText OriginalPackIncMD5;
    // The digests of the game the patch leaves behind; optional, written only when known.
    TText PatchedPackDatMD5;
    TText PatchedPackIncMD5;
    // What a group says of its release; all optional.
    TText Version;
    TText Authors;
    TText Homepage;
    TText ReleaseDate;
    TText MinimumProgramVersion;
};

/// The fields of a description file from its tokens (Tokenize with '='), keys matched without
/// regard to letter case.
TDescriptionFields DescriptionFromTokens(const TTokens& tokens);

/// The text of a description file: one "Key = value" line per field, Title and Description
/// quoted (a quote inside doubled), CR LF line ends, also between the lines of a multi-line
/// Description; the optional fields only when not empty, the release's texts quoted.
/// DescriptionFromTokens gives the fields back.
TText DescriptionFileText(const TDescriptionFields& fields);

} // namespace engine
