#include "engine/StartupChecks.h"

#include "engine/Tools.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

namespace engine {

std::string_view FirstMissingToolKey(const std::filesystem::path& program_folder) {
    struct TTool {
        const char* Name;
        const char* Key;
    };
    static constexpr TTool kTools[] = {
        {"3dstool", "Missing3dstool"},
        {"ctrtool", "Missingctrtool"},
        {"makerom", "Missingmakerom"},
    };
    for (const TTool& tool : kTools) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(program_folder / "tools" / ToolFileName(tool.Name),
                                              error))
            return tool.Key;
    }
    return {};
}

namespace {

std::string DropTrailingZeros(std::string digits) {
    if (digits.find('.') != std::string::npos) {
        while (digits.ends_with('0'))
            digits.pop_back();
        if (digits.ends_with('.'))
            digits.pop_back();
    }
    return digits;
}

} // namespace

TText FormatGeneral4(double value, std::u16string_view decimal_point) {
    if (std::isnan(value))
        return u"nan";
    if (std::isinf(value))
        return value < 0 ? u"-inf" : u"inf";
    if (value == 0)
        return u"0";
    constexpr int kPrecision = 4;
    // "%.3e" rounds to four significant digits and tells the decimal exponent after rounding.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*e", kPrecision - 1, value);
    const std::string scientific = buffer;
    const std::size_t e = scientific.find('e');
    const int exponent = std::atoi(scientific.c_str() + e + 1);
    std::string text;
    if (exponent >= kPrecision || std::fabs(value) < 0.00001) {
        text = DropTrailingZeros(scientific.substr(0, e));
        std::snprintf(buffer, sizeof buffer, "E%c%03d", exponent < 0 ? '-' : '+',
                      std::abs(exponent));
        text += buffer;
    } else {
        const int decimals = std::max(0, kPrecision - 1 - exponent);
        std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
        text = DropTrailingZeros(buffer);
    }
    TText result;
    for (const char c : text) {
        if (c == '.')
            result += decimal_point;
        else
            result += char16_t(c);
    }
    return result;
}

TText FormatGibibytes(std::int64_t bytes, std::u16string_view decimal_point) {
    // The value is taken in single precision, as the report always did.
    const float gibibytes = static_cast<float>(bytes) / 1024.0f / 1024.0f / 1024.0f;
    return FormatGeneral4(gibibytes, decimal_point);
}

} // namespace engine
