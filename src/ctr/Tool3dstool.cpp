// The work of 3dstool: takes 3DS images apart and builds them (decrypted images only).

#include "ctr/ExeFs.h"
#include "ctr/Ncch.h"
#include "ctr/Ncsd.h"
#include "ctr/RomFs.h"
#include "ctr/ToolMain.h"
#include "ctr/ToolPrograms.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using ctr::TCtrError;
using ctr::TUsageError;

const char* const ctr::Tool3dsUsage =
    "usage: 3dstool -x|-c [-v] [-u|-z] -t TYPE -f FILE [options]\n"
    "  TYPE: cxi, 3ds (cci), exefs, romfs\n"
    "  --header FILE  --exh FILE  --logo FILE  --plain FILE  --exefs FILE  --romfs FILE\n"
    "  --exefs-dir DIR  --romfs-dir DIR  -0 FILE (partition 0)  --not-encrypt  --not-pad\n";

namespace {

struct TOptions {
    char Action = 0; // 'x' or 'c'
    std::string Type;
    fs::path File;
    bool Uncompress = false, Compress = false, NotPad = false;
    std::map<std::string, fs::path> Paths; // by long option name
};

TOptions Parse(const std::vector<std::string>& args, const fs::path& folder) {
    TOptions options;
    const std::vector<std::string> path_options = {
        "header", "exh", "logo", "plain", "exefs", "romfs", "exefs-dir", "romfs-dir", "partition0"};
    std::size_t next = 0;
    auto take_value = [&](const std::string& option) -> std::string {
        if (next >= args.size())
            throw TUsageError("option " + option + " needs a value");
        return args[next++];
    };
    auto set_action = [&](char action) {
        if (options.Action && options.Action != action)
            throw TUsageError("-x and -c cannot be combined");
        options.Action = action;
    };
    auto set_path = [&](const std::string& name, const std::string& value) {
        if (value.empty())
            throw TUsageError("option --" + name + " needs a value");
        options.Paths[name] = ctr::ToolArgumentPath(folder, value);
    };
    while (next < args.size()) {
        const std::string arg = args[next++];
        if (arg.rfind("--", 0) == 0) {
            std::string name = arg.substr(2);
            std::optional<std::string> value;
            if (const auto equals = name.find('='); equals != std::string::npos) {
                value = name.substr(equals + 1);
                name.erase(equals);
            }
            auto value_of = [&] { return value ? *value : take_value(arg); };
            if (name == "extract")
                set_action('x');
            else if (name == "create")
                set_action('c');
            else if (name == "verbose") {
            } else if (name == "uncompress")
                options.Uncompress = true;
            else if (name == "compress")
                options.Compress = true;
            else if (name == "not-encrypt") {
            } else if (name == "not-pad")
                options.NotPad = true;
            else if (name == "type")
                options.Type = value_of();
            else if (name == "file")
                options.File = ctr::ToolArgumentPath(folder, value_of());
            else if (name == "extendedheader")
                set_path("exh", value_of());
            else if (std::find(path_options.begin(), path_options.end(), name) !=
                     path_options.end())
                set_path(name, value_of());
            else
                throw TUsageError("unknown option " + arg);
            continue;
        }
        if (arg.size() < 2 || arg[0] != '-')
            throw TUsageError("unexpected argument '" + arg + "'");
        for (std::size_t i = 1; i < arg.size(); ++i) {
            switch (arg[i]) {
            case 'x':
                set_action('x');
                break;
            case 'c':
                set_action('c');
                break;
            case 'v':
                break;
            case 'u':
                options.Uncompress = true;
                break;
            case 'z':
                options.Compress = true;
                break;
            case 't':
                options.Type = take_value("-t");
                break;
            case 'f':
                options.File = ctr::ToolArgumentPath(folder, take_value("-f"));
                break;
            case '0':
                set_path("partition0", take_value("-0"));
                break;
            default:
                throw TUsageError(std::string("unknown option -") + arg[i]);
            }
        }
    }
    if (!options.Action)
        throw TUsageError("one of -x and -c is required");
    if (options.Type.empty())
        throw TUsageError("the type (-t) is required");
    if (options.File.empty())
        throw TUsageError("the file (-f) is required");
    return options;
}

fs::path Need(const TOptions& options, const std::string& name) {
    const auto it = options.Paths.find(name);
    if (it == options.Paths.end())
        throw TUsageError(name == "partition0" ? "option -0 is required for this type"
                                               : "option --" + name + " is required for this type");
    return it->second;
}

fs::path Optional(const TOptions& options, const std::string& name) {
    const auto it = options.Paths.find(name);
    return it == options.Paths.end() ? fs::path() : it->second;
}

// Tells the progress meter about the bytes the outputs will take: about the size of the files
// read (all files below a folder).
void ExpectOutputOf(std::initializer_list<fs::path> inputs) {
    std::uint64_t total = 0;
    for (const fs::path& input : inputs) {
        std::error_code error;
        if (input.empty())
            continue;
        if (fs::is_directory(input, error)) {
            for (auto it = fs::recursive_directory_iterator(input, error);
                 !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
                if (it->is_regular_file(error))
                    total += it->file_size(error);
            }
        } else if (const std::uintmax_t size = fs::file_size(input, error); !error) {
            total += size;
        }
    }
    ctr::ExpectOutputBytes(total);
}

void Run(const TOptions& options) {
    const std::string& type = options.Type;
    const bool extract = options.Action == 'x';
    if (type == "cxi") {
        ctr::TNcchParts parts{Optional(options, "header"), Optional(options, "exh"),
                              Optional(options, "logo"),   Optional(options, "plain"),
                              Optional(options, "exefs"),  Optional(options, "romfs")};
        if (extract) {
            ExpectOutputOf({options.File});
            ctr::ExtractNcchParts(options.File, parts, true);
        } else {
            if (!parts.Plain.empty())
                throw TUsageError("a plain region cannot be built into a CXI");
            Need(options, "header");
            Need(options, "exh");
            ExpectOutputOf({parts.Header, parts.Exheader, parts.Logo, parts.ExeFs, parts.RomFs});
            ctr::BuildCxi(parts, options.File);
        }
    } else if (type == "3ds" || type == "cci") {
        if (extract) {
            const fs::path header = Optional(options, "header");
            const fs::path partition = Optional(options, "partition0");
            if (header.empty() && partition.empty())
                throw TUsageError("--header or -0 is required for this type");
            ExpectOutputOf({options.File});
            ctr::ExtractNcsd(options.File, header, partition);
        } else {
            ctr::BuildNcsd(Need(options, "header"), Need(options, "partition0"), options.File,
                           !options.NotPad);
        }
    } else if (type == "exefs") {
        if (extract)
            ctr::ExtractExeFs(options.File, Need(options, "exefs-dir"), Need(options, "header"),
                              options.Uncompress);
        else
            ctr::BuildExeFs(Need(options, "header"), Need(options, "exefs-dir"), options.File,
                            options.Compress);
    } else if (type == "romfs") {
        const fs::path folder = Need(options, "romfs-dir");
        if (extract) {
            ExpectOutputOf({options.File});
            ctr::TInFile in(options.File);
            ctr::TRomFsReader reader(in, 0, in.Size());
            reader.Extract(folder);
        } else {
            ExpectOutputOf({folder});
            ctr::BuildRomFsFile(folder, options.File);
        }
    } else {
        throw TUsageError("unknown type '" + type + "'");
    }
}

} // namespace

void ctr::Run3dstool(const std::vector<std::string>& arguments, const fs::path& folder) {
    if (arguments.empty())
        throw TUsageError("no arguments");
    Run(Parse(arguments, folder));
}
