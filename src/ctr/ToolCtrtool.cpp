// The work of ctrtool: reads 3DS images and writes their parts (decrypted images only).

#include "ctr/ByteReader.h"
#include "ctr/Cia.h"
#include "ctr/Ncch.h"
#include "ctr/ToolMain.h"
#include "ctr/ToolPrograms.h"
#include "ctr/Verify.h"
#include "ctr/Z3ds.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using ctr::TCtrError;
using ctr::TUsageError;

const char* const ctr::CtrtoolUsage =
    "usage: ctrtool [options] FILE\n"
    "  -p, --plain           data is not encrypted\n"
    "  -y, --verify          check every hash (signatures are not checked)\n"
    "  -t, --intype=TYPE     cia, ncch (cxi) or cci (3ds); found from the file otherwise\n"
    "  --contents=PREFIX     CIA: write each content to PREFIX.IIII.CCCCCCCC\n"
    "  --exefs=FILE          NCCH: write the ExeFS region\n"
    "  --romfs=FILE          NCCH: write the RomFS region\n"
    "  --exheader=FILE       NCCH: write the extended header\n"
    "  --logo=FILE           NCCH: write the logo region\n";

namespace {

struct TOptions {
    fs::path Input;
    std::string Type;
    bool Verify = false;
    fs::path Contents, ExeFs, RomFs, Exheader, Logo;
};

TOptions Parse(std::vector<std::string> args, const fs::path& folder) {
    TOptions options;
    if (args.empty())
        throw TUsageError("no input file");
    // The last argument is the input.
    const std::string input = args.back();
    args.pop_back();
    if (input.empty() || input[0] == '-')
        throw TUsageError("no input file");
    options.Input = ctr::ToolArgumentPath(folder, input);
    for (std::size_t next = 0; next < args.size();) {
        const std::string arg = args[next++];
        std::string name = arg;
        std::optional<std::string> value;
        if (name.rfind("--", 0) == 0) {
            if (const auto equals = name.find('='); equals != std::string::npos) {
                value = name.substr(equals + 1);
                name.erase(equals);
            }
        }
        auto value_of = [&]() -> std::string {
            if (!value) {
                if (next >= args.size())
                    throw TUsageError("option " + name + " needs a value");
                value = args[next++];
            }
            if (value->empty())
                throw TUsageError("option " + name + " needs a value");
            return *value;
        };
        if (name == "-p" || name == "--plain" || name == "-v" || name == "--verbose" ||
            name == "-r" || name == "--raw")
            continue;
        if (name == "-y" || name == "--verify")
            options.Verify = true;
        else if (name == "-t" || name == "--intype")
            options.Type = value_of();
        else if (name == "--contents")
            options.Contents = ctr::ToolArgumentPath(folder, value_of());
        else if (name == "--exefs")
            options.ExeFs = ctr::ToolArgumentPath(folder, value_of());
        else if (name == "--romfs")
            options.RomFs = ctr::ToolArgumentPath(folder, value_of());
        else if (name == "--exheader")
            options.Exheader = ctr::ToolArgumentPath(folder, value_of());
        else if (name == "--logo")
            options.Logo = ctr::ToolArgumentPath(folder, value_of());
        else
            throw TUsageError("unknown option " + arg);
    }
    return options;
}

// The kind the user names, else the one the content shows (inside a compressed image too).
ctr::TImageKind DetectKind(ctr::TInFile& in, const std::string& type) {
    if (!type.empty()) {
        if (type == "ncch")
            return ctr::TImageKind::Cxi;
        if (auto kind = ctr::ImageKindFromText(type))
            return *kind;
        throw TUsageError("unknown input type '" + type + "'");
    }
    if (const auto kind = ctr::DetectImageKind(in))
        return *kind;
    throw TCtrError("unknown file type: " + ctr::PathText(in.Path()));
}

void Run(const TOptions& options) {
    const std::unique_ptr<ctr::TInFile> opened = ctr::OpenImageFile(options.Input);
    ctr::TInFile& in = *opened;
    const ctr::TImageKind kind = DetectKind(in, options.Type);
    ctr::ExpectOutputBytes(in.Size()); // the outputs are parts of the image
    const bool ncch_outputs = !options.ExeFs.empty() || !options.RomFs.empty() ||
                              !options.Exheader.empty() || !options.Logo.empty();
    if (!options.Contents.empty()) {
        if (kind != ctr::TImageKind::Cia)
            throw TCtrError("--contents needs a CIA");
        ctr::ExtractCiaContents(options.Input, options.Contents);
    }
    if (ncch_outputs) {
        if (kind != ctr::TImageKind::Cxi)
            throw TCtrError("--exefs, --romfs, --exheader and --logo need an NCCH image");
        ctr::TNcchParts parts;
        parts.ExeFs = options.ExeFs;
        parts.RomFs = options.RomFs;
        parts.Exheader = options.Exheader;
        parts.Logo = options.Logo;
        ctr::ExtractNcchParts(options.Input, parts, false);
    }
    if (options.Verify) {
        const std::string failure = ctr::VerifyImage(options.Input, kind);
        if (!failure.empty())
            throw TCtrError(failure);
        std::printf("All hashes GOOD (signatures not checked)\n");
    }
    if (options.Contents.empty() && !ncch_outputs && !options.Verify) {
        if (kind == ctr::TImageKind::Cia) {
            const ctr::TCiaLayout layout = ctr::ReadCia(in);
            std::printf("CIA: title ID %016llx, %zu content(s)\n",
                        static_cast<unsigned long long>(layout.TitleId), layout.Contents.size());
        } else if (kind == ctr::TImageKind::Cxi) {
            const ctr::TNcchHeader header = ctr::ReadNcchHeader(in, 0, in.Size());
            std::printf("NCCH: partition ID %016llx, %llu bytes, %s\n",
                        static_cast<unsigned long long>(header.PartitionId),
                        static_cast<unsigned long long>(header.ContentSize),
                        header.NoCrypto() ? "not encrypted" : "encrypted");
        } else {
            std::printf("NCSD card image, %llu bytes\n",
                        static_cast<unsigned long long>(in.Size()));
        }
    }
}

} // namespace

void ctr::RunCtrtool(const std::vector<std::string>& arguments, const fs::path& folder) {
    Run(Parse(arguments, folder));
}
