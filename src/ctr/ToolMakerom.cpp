// The work of makerom: builds a CIA around a decrypted CXI.

#include "ctr/Cia.h"
#include "ctr/ToolMain.h"
#include "ctr/ToolPrograms.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using ctr::TUsageError;

const char* const ctr::MakeromUsage =
    "usage: makerom -f cia -content FILE:INDEX:ID -o OUTPUT [-ignoresign]\n";

namespace {

struct TOptions {
    std::string Format;
    fs::path Content;
    std::uint16_t Index = 0;
    std::uint32_t Id = 0;
    fs::path Output;
};

std::optional<std::uint64_t> ParseNumber(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || text[0] == '-')
        return std::nullopt;
    return value;
}

TOptions Parse(const std::vector<std::string>& args, const fs::path& folder) {
    TOptions options;
    if (args.empty())
        throw TUsageError("no arguments");
    for (std::size_t next = 0; next < args.size();) {
        const std::string arg = args[next++];
        auto value_of = [&]() -> std::string {
            if (next >= args.size() || args[next].empty())
                throw TUsageError("option " + arg + " needs a value");
            return args[next++];
        };
        if (arg == "-f") {
            options.Format = value_of();
        } else if (arg == "-content") {
            if (!options.Content.empty())
                throw TUsageError("only one content is supported");
            // FILE:INDEX:ID, split from the right so colons inside the path are kept.
            const std::string value = value_of();
            const auto last = value.rfind(':');
            const auto middle = last == std::string::npos || last == 0 ? std::string::npos
                                                                       : value.rfind(':', last - 1);
            if (middle == std::string::npos)
                throw TUsageError("-content needs FILE:INDEX:ID");
            const auto index = ParseNumber(value.substr(middle + 1, last - middle - 1));
            const auto id = ParseNumber(value.substr(last + 1));
            if (!index || !id || *index > 0xFFFF || *id > 0xFFFFFFFF)
                throw TUsageError("-content needs FILE:INDEX:ID with numeric index and ID");
            options.Content = ctr::ToolArgumentPath(folder, value.substr(0, middle));
            options.Index = static_cast<std::uint16_t>(*index);
            options.Id = static_cast<std::uint32_t>(*id);
            if (options.Content.empty())
                throw TUsageError("-content names no file");
        } else if (arg == "-o") {
            options.Output = ctr::ToolArgumentPath(folder, value_of());
        } else if (arg == "-ignoresign" || arg == "-v") {
        } else {
            throw TUsageError("unknown option " + arg);
        }
    }
    std::string format = options.Format;
    std::transform(format.begin(), format.end(), format.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (format != "cia")
        throw TUsageError(options.Format.empty()
                              ? "the output format (-f) is required"
                              : "unsupported output format '" + options.Format + "'");
    if (options.Content.empty())
        throw TUsageError("a content (-content) is required");
    if (options.Output.empty())
        throw TUsageError("the output (-o) is required");
    if (options.Index != 0)
        throw TUsageError("content 0 must be given first");
    return options;
}

} // namespace

void ctr::RunMakerom(const std::vector<std::string>& arguments, const fs::path& folder) {
    const TOptions options = Parse(arguments, folder);
    std::error_code error;
    if (const std::uintmax_t size = fs::file_size(options.Content, error); !error)
        ctr::ExpectOutputBytes(size);
    ctr::BuildCia(options.Content, options.Output, options.Index, options.Id);
}
