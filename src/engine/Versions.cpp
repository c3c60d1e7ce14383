#include "engine/Versions.h"

#include "engine/PatchPackage.h"
#include "engine/Text.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace engine {

namespace {

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// The letters of a patch version: the Latin, Greek, Cyrillic, Armenian, Hebrew and Arabic
// letters, the kana, the CJK ideographs, Hangul and the full-width Latin letters. Anything
// else, marks and punctuation of those scripts too, only separates.
bool IsLetter(char16_t c) {
    struct TRange {
        char16_t First;
        char16_t Last;
    };
    static constexpr TRange kLetters[] = {
        {u'A', u'Z'},     {u'a', u'z'},     {0x00AA, 0x00AA}, {0x00B5, 0x00B5}, {0x00BA, 0x00BA},
        {0x00C0, 0x00D6}, {0x00D8, 0x00F6}, {0x00F8, 0x02AF}, {0x0386, 0x0386}, {0x0388, 0x03F5},
        {0x03F7, 0x0481}, {0x048A, 0x052F}, {0x0531, 0x0556}, {0x0561, 0x0587}, {0x05D0, 0x05EA},
        {0x0620, 0x064A}, {0x1E00, 0x1FBC}, {0x3041, 0x3096}, {0x30A1, 0x30FA}, {0x3400, 0x4DBF},
        {0x4E00, 0x9FFF}, {0xAC00, 0xD7A3}, {0xFF21, 0xFF3A}, {0xFF41, 0xFF5A},
    };
    return std::any_of(std::begin(kLetters), std::end(kLetters),
                       [c](const TRange& range) { return c >= range.First && c <= range.Last; });
}

// A version cut into its runs of digits (leading zeros dropped) and runs of letters.
struct TVersionPart {
    bool Number;
    std::u16string_view Text;
};

std::vector<TVersionPart> VersionParts(std::u16string_view version) {
    std::vector<TVersionPart> parts;
    std::size_t at = 0;
    while (at < version.size()) {
        const bool digit = IsDigit(version[at]);
        if (!digit && !IsLetter(version[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < version.size() && (digit ? IsDigit(version[end]) : IsLetter(version[end])))
            ++end;
        std::u16string_view text = version.substr(at, end - at);
        if (digit) {
            while (text.size() > 1 && text.front() == u'0')
                text.remove_prefix(1);
        }
        parts.push_back({digit, text});
        at = end;
    }
    return parts;
}

// The numbers of a program version without its trailing zeros: "1.0" and "1" name the same.
std::vector<std::uint32_t> ProgramVersionNumbers(std::u16string_view version) {
    std::vector<std::uint32_t> numbers(1, 0);
    for (const char16_t c : version) {
        if (c == u'.')
            numbers.push_back(0);
        else
            numbers.back() = numbers.back() * 10 + std::uint32_t(c - u'0');
    }
    while (!numbers.empty() && numbers.back() == 0)
        numbers.pop_back();
    return numbers;
}

} // namespace

std::string_view ProgramVersion() {
    return QVT_VERSION;
}

bool IsProgramVersion(std::u16string_view text) {
    // Nine digits a part at most, so that every part is a number a 32-bit value holds.
    std::size_t digits = 0;
    for (const char16_t c : text) {
        if (c == u'.') {
            if (digits == 0)
                return false;
            digits = 0;
        } else if (!IsDigit(c) || ++digits > 9) {
            return false;
        }
    }
    return digits != 0;
}

int CompareVersions(std::u16string_view a, std::u16string_view b) {
    const std::vector<TVersionPart> left = VersionParts(a);
    const std::vector<TVersionPart> right = VersionParts(b);
    if (left.empty() || right.empty())
        return int(!left.empty()) - int(!right.empty());
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        const TVersionPart& l = left[i];
        const TVersionPart& r = right[i];
        if (l.Number != r.Number)
            return l.Number ? 1 : -1; // "1.0.1" is newer than "1.0.beta"
        // Numbers of any length without overflow: the longer is the greater, then by digits.
        const int order =
            l.Number ? (l.Text.size() != r.Text.size() ? (l.Text.size() < r.Text.size() ? -1 : 1)
                                                       : l.Text.compare(r.Text))
                     : CompareNoCase(l.Text, r.Text);
        if (order != 0)
            return order < 0 ? -1 : 1;
    }
    if (left.size() == right.size())
        return 0;
    // The longer one goes on: a number makes it newer, letters (a pre-release) older.
    const bool left_longer = left.size() > right.size();
    const bool goes_on_with_number = (left_longer ? left : right)[common].Number;
    return (left_longer == goes_on_with_number) ? 1 : -1;
}

std::string_view ProgramVersionProblemKey(std::u16string_view minimum, std::string_view program) {
    minimum = TrimmedText(minimum);
    if (minimum.empty())
        return {};
    if (!IsProgramVersion(minimum))
        return "PatchBadProgramVersion";
    const std::u16string have(program.begin(), program.end());
    return ProgramVersionNumbers(have) < ProgramVersionNumbers(minimum) ? "PatchNeedsNewerProgram"
                                                                        : std::string_view();
}

} // namespace engine
