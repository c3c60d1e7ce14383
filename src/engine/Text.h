#pragma once
// Language, description and track list files without Qt: decoding by byte-order mark (UTF-16
// LE and BE, UTF-8, else Windows-1251 or Windows-1252), line ends, tokens and the key lookup.
// Text is UTF-16 as the files and the window hold it, so that every position and every cut
// falls where the Qt front end puts it.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

using TText = std::u16string;
using TTokens = std::vector<TText>;

/// Decodes a text file's bytes by its byte-order mark (UTF-16 LE, UTF-16 BE, UTF-8).
/// Without a mark, valid UTF-8 is taken as UTF-8, anything else as Windows-1251 when
/// `russian_locale` is set and as Windows-1252 otherwise.
TText DecodeTextFile(std::span<const std::uint8_t> bytes, bool russian_locale);

/// Cuts the text at its first NUL, splits it at CR LF, CR, LF and U+2028 and joins the
/// lines again with CR LF behind each of them.
TText NormaliseLineEnds(std::u16string_view text);

/// Cuts normalised text into tokens: characters 1 to 32 separate, `separator` separates
/// once, a double quote starts a quoted token in which two quotes stand for one.
TTokens Tokenize(std::u16string_view text, char16_t separator);

/// True when `a` and `b` are equal but for letter case (Latin, Latin-1 and Cyrillic letters).
bool EqualNoCase(std::u16string_view a, std::u16string_view b);
/// Orders `a` and `b` as EqualNoCase compares them: negative, zero or positive.
int CompareNoCase(std::u16string_view a, std::u16string_view b);

/// `text` with the Latin, Latin-1 and Cyrillic capitals made small: two texts EqualNoCase
/// holds equal give the same key.
TText CaseKey(std::u16string_view text);

/// The token after the first token equal to `key` (letter case ignored); the first token
/// when none is equal; an empty text when nothing follows.
TText LookupToken(const TTokens& tokens, std::u16string_view key);

/// As LookupToken, but a missing key gives an empty text (description files).
TText ValueOfKey(const TTokens& tokens, std::u16string_view key);

/// The text of a key added to the program later than the first language files, so that an
/// older file without it still reads well; empty for any other key.
std::u16string_view BuiltInText(std::u16string_view key);

/// UTF-16 from UTF-8 (invalid bytes each become U+FFFD) and back.
TText FromUtf8(std::string_view utf8);
std::string ToUtf8(std::u16string_view text);

/// A number in the general format with 4 significant digits: trailing zeros and a trailing
/// decimal separator dropped; scientific form (at least three exponent digits) only when the
/// whole part has more than 4 digits or the value is below 0.00001. `decimal_point` (UTF-8)
/// stands for the point.
std::string FormatGeneral4(double value, std::string_view decimal_point);

/// Bytes as gibibytes in single precision, written by FormatGeneral4.
std::string FormatGibibytes(std::int64_t bytes, std::string_view decimal_point);

} // namespace engine
