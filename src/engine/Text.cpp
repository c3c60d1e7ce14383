#include "engine/Text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace engine {

namespace {

// Upper halves (0x80..0xFF) of the two Windows code pages; 0xFFFD marks an unused byte.
constexpr std::array<char16_t, 128> kWindows1251 = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0..0xFF: А..я
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B,
    0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433,
    0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B,
    0x044C, 0x044D, 0x044E, 0x044F};

// Windows-1252 differs from Latin-1 only in 0x80..0x9F.
constexpr std::array<char16_t, 32> kWindows1252Low = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

constexpr char16_t kReplacement = 0xFFFD;

TText DecodeCodePage(std::span<const std::uint8_t> bytes, bool russian) {
    TText text;
    text.reserve(bytes.size());
    for (const std::uint8_t b : bytes) {
        if (b < 0x80)
            text.push_back(char16_t(b));
        else if (russian)
            text.push_back(kWindows1251[b - 0x80]);
        else if (b < 0xA0)
            text.push_back(kWindows1252Low[b - 0x80]);
        else
            text.push_back(char16_t(b));
    }
    return text;
}

TText DecodeUtf16(std::span<const std::uint8_t> bytes, bool big_endian) {
    TText text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const std::uint8_t lo = bytes[big_endian ? i + 1 : i];
        const std::uint8_t hi = bytes[big_endian ? i : i + 1];
        text.push_back(static_cast<char16_t>(hi << 8 | lo));
    }
    return text;
}

// One UTF-8 sequence at `bytes[at]`: its code point and length, or none when the bytes there
// are no well-formed sequence (overlong forms, surrogates and values past U+10FFFF are not).
struct TSequence {
    char32_t Code = 0;
    std::size_t Length = 0;
};
std::optional<TSequence> ReadSequence(std::span<const std::uint8_t> bytes, std::size_t at) {
    const std::uint8_t lead = bytes[at];
    if (lead < 0x80)
        return TSequence{lead, 1};
    std::size_t length = 0;
    char32_t code = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        code = lead & 0x1F;
        least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        code = lead & 0x0F;
        least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        code = lead & 0x07;
        least = 0x10000;
    } else {
        return std::nullopt;
    }
    if (length > bytes.size() - at)
        return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        const std::uint8_t next = bytes[at + i];
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        code = code << 6 | (next & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return std::nullopt;
    return TSequence{code, length};
}

void Append(TText& text, char32_t code) {
    if (code < 0x10000) {
        text.push_back(char16_t(code));
        return;
    }
    code -= 0x10000;
    text.push_back(char16_t(0xD800 + (code >> 10)));
    text.push_back(char16_t(0xDC00 + (code & 0x3FF)));
}

// UTF-8 to UTF-16; with `strict` none at the first ill-formed byte, else each such byte is
// U+FFFD.
std::optional<TText> DecodeUtf8(std::span<const std::uint8_t> bytes, bool strict) {
    TText text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const std::optional<TSequence> sequence = ReadSequence(bytes, at);
        if (!sequence) {
            if (strict)
                return std::nullopt;
            text.push_back(kReplacement);
            ++at;
            continue;
        }
        Append(text, sequence->Code);
        at += sequence->Length;
    }
    return text;
}

bool StartsWith(std::span<const std::uint8_t> bytes, std::initializer_list<std::uint8_t> mark) {
    return bytes.size() >= mark.size() && std::equal(mark.begin(), mark.end(), bytes.begin());
}

bool IsSpace(char16_t c) {
    return c >= 1 && c <= 32;
}

// The lower-case letter of `c` for the Latin, Latin-1 and Cyrillic capitals; `c` otherwise.
char16_t Lower(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return char16_t(c + 0x20);
    if (c >= 0x0410 && c <= 0x042F) // А..Я
        return char16_t(c + 0x20);
    if (c >= 0x0400 && c <= 0x040F) // Ѐ..Џ
        return char16_t(c + 0x50);
    return c;
}

std::optional<std::size_t> FindKey(const TTokens& tokens, std::u16string_view key) {
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (EqualNoCase(tokens[i], key))
            return i;
    }
    return std::nullopt;
}

struct TBuiltInText {
    std::u16string_view Key;
    std::u16string_view Text;
};
constexpr TBuiltInText kBuiltInTexts[] = {
    {u"ErrorOutputIsSource", u"The output file is the source image itself. Choose another output "
                             u"file: the source image must not be overwritten."},
    {u"VerifyingOutput", u"Verifying the output image..."},
    {u"ErrorVerifyingOutput", u"The output image failed verification:"},
    {u"WarningDiskSpace", u"Warning: the free disk space may not be enough for this run."},
};

} // namespace

TText DecodeTextFile(std::span<const std::uint8_t> bytes, bool russian_locale) {
    if (StartsWith(bytes, {0xFF, 0xFE}))
        return DecodeUtf16(bytes.subspan(2), false);
    if (StartsWith(bytes, {0xFE, 0xFF}))
        return DecodeUtf16(bytes.subspan(2), true);
    if (StartsWith(bytes, {0xEF, 0xBB, 0xBF}))
        return *DecodeUtf8(bytes.subspan(3), false);
    if (std::optional<TText> text = DecodeUtf8(bytes, true))
        return std::move(*text);
    return DecodeCodePage(bytes, russian_locale);
}

TText NormaliseLineEnds(std::u16string_view text) {
    const std::u16string_view body = text.substr(0, text.find(char16_t(0)));
    TText joined;
    joined.reserve(body.size() + body.size() / 16 + 2);
    std::size_t line_start = 0;
    const std::size_t n = body.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = body[i];
        if (c == u'\r' || c == u'\n' || c == 0x2028) {
            joined.append(body.substr(line_start, i - line_start));
            joined.append(u"\r\n");
            if (c == u'\r' && i + 1 < n && body[i + 1] == u'\n')
                ++i;
            line_start = i + 1;
        }
    }
    if (line_start < n) {
        joined.append(body.substr(line_start));
        joined.append(u"\r\n");
    }
    return joined;
}

TTokens Tokenize(std::u16string_view text, char16_t separator) {
    TTokens tokens;
    const char16_t quote = u'"';
    // A NUL ends the text (normalised text has none; raw text may).
    const std::size_t n = std::min(text.find(char16_t(0)), text.size());
    std::size_t p = 0;
    while (p < n && IsSpace(text[p]))
        ++p;
    while (p < n) {
        TText token;
        if (text[p] == quote) {
            // Quoted: runs to the next quote not followed by a second one.
            ++p;
            bool closed = false;
            while (p < n) {
                if (text[p] == quote) {
                    if (p + 1 < n && text[p + 1] == quote) {
                        token.push_back(quote);
                        p += 2;
                        continue;
                    }
                    ++p;
                    closed = true;
                    break;
                }
                token.push_back(text[p]);
                ++p;
            }
            if (!closed && !token.empty())
                token.pop_back(); // an unclosed quote loses the text's final character
        } else {
            const std::size_t start = p;
            while (p < n && !IsSpace(text[p]) && text[p] != separator)
                ++p;
            token = TText(text.substr(start, p - start));
        }
        tokens.push_back(std::move(token));
        while (p < n && IsSpace(text[p]))
            ++p;
        if (p < n && text[p] == separator) {
            if (p + 1 >= n)
                tokens.emplace_back();
            ++p;
            while (p < n && IsSpace(text[p]))
                ++p;
        }
    }
    return tokens;
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return x == y || Lower(x) == Lower(y); });
}

TText CaseKey(std::u16string_view text) {
    TText key(text);
    for (char16_t& c : key)
        c = Lower(c);
    return key;
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const char16_t x = Lower(a[i]);
        const char16_t y = Lower(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

TText LookupToken(const TTokens& tokens, std::u16string_view key) {
    if (const std::optional<std::size_t> at = FindKey(tokens, key))
        return *at + 1 < tokens.size() ? tokens[*at + 1] : TText();
    return tokens.empty() ? TText() : tokens.front();
}

TText ValueOfKey(const TTokens& tokens, std::u16string_view key) {
    if (const std::optional<std::size_t> at = FindKey(tokens, key))
        return *at + 1 < tokens.size() ? tokens[*at + 1] : TText();
    return TText();
}

std::u16string_view BuiltInText(std::u16string_view key) {
    for (const TBuiltInText& builtin : kBuiltInTexts) {
        if (EqualNoCase(key, builtin.Key))
            return builtin.Text;
    }
    return {};
}

TText FromUtf8(std::string_view utf8) {
    return *DecodeUtf8(std::span(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()),
                       false);
}

std::string ToUtf8(std::u16string_view text) {
    std::string utf8;
    utf8.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = kReplacement; // a lone surrogate
        }
        if (code < 0x80) {
            utf8.push_back(char(code));
        } else if (code < 0x800) {
            utf8.push_back(char(0xC0 | code >> 6));
            utf8.push_back(char(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            utf8.push_back(char(0xE0 | code >> 12));
            utf8.push_back(char(0x80 | (code >> 6 & 0x3F)));
            utf8.push_back(char(0x80 | (code & 0x3F)));
        } else {
            utf8.push_back(char(0xF0 | code >> 18));
            utf8.push_back(char(0x80 | (code >> 12 & 0x3F)));
            utf8.push_back(char(0x80 | (code >> 6 & 0x3F)));
            utf8.push_back(char(0x80 | (code & 0x3F)));
        }
    }
    return utf8;
}

namespace {

std::string DropTrailingZeros(std::string digits) {
    if (digits.find('.') != std::string::npos) {
        while (!digits.empty() && digits.back() == '0')
            digits.pop_back();
        if (!digits.empty() && digits.back() == '.')
            digits.pop_back();
    }
    return digits;
}

} // namespace

std::string FormatGeneral4(double value, std::string_view decimal_point) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    if (value == 0)
        return "0";
    constexpr int kPrecision = 4;
    // "%.3e" rounds to four significant digits and tells the decimal exponent after rounding.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*e", kPrecision - 1, value);
    const std::string scientific = buffer;
    const std::size_t e = scientific.find('e');
    const int exponent = std::atoi(scientific.c_str() + e + 1);
    std::string text;
    if (exponent >= kPrecision || std::fabs(value) < 0.00001) {
        const std::string mantissa = DropTrailingZeros(scientific.substr(0, e));
        std::snprintf(buffer, sizeof buffer, "E%c%03d", exponent < 0 ? '-' : '+',
                      std::abs(exponent));
        text = mantissa + buffer;
    } else {
        const int decimals = std::max(0, kPrecision - 1 - exponent);
        std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
        text = DropTrailingZeros(buffer);
    }
    std::string result;
    for (const char c : text) {
        if (c == '.')
            result += decimal_point;
        else
            result += c;
    }
    return result;
}

std::string FormatGibibytes(std::int64_t bytes, std::string_view decimal_point) {
    // The value is taken in single precision, as the report always did.
    const float gibibytes = static_cast<float>(bytes) / 1024.0f / 1024.0f / 1024.0f;
    return FormatGeneral4(gibibytes, decimal_point);
}

} // namespace engine
