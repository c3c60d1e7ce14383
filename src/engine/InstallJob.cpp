#include "engine/InstallJob.h"

#include "engine/OutputForms.h"

#include <system_error>

namespace engine {

namespace fs = std::filesystem;

namespace {

// ASCII letters of both cases as one; the extensions compared here are ASCII.
bool EqualAsciiNoCase(fs::path::value_type a, char b) {
    const auto lower = [](auto c) {
        return c >= 'A' && c <= 'Z' ? static_cast<decltype(c)>(c - 'A' + 'a') : c;
    };
    return lower(a) == static_cast<fs::path::value_type>(lower(b));
}

// Removes `suffix` from the end of the file name part of `path`, letter case ignored. Works on
// the path's own characters, so that the rest of it stays exactly as given.
fs::path StripSuffix(const fs::path& path, std::string_view suffix) {
    const fs::path::string_type& text = path.native();
    if (path.filename().native().size() < suffix.size())
        return path;
    const std::size_t start = text.size() - suffix.size();
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (!EqualAsciiNoCase(text[start + i], suffix[i]))
            return path;
    }
    return fs::path(text.substr(0, start));
}

} // namespace

fs::path OutputBase(const fs::path& output_path, bool strip_3ds) {
    // A compressed form's extension first: "name.zcci" and "name.cia.zcci" both give "name".
    fs::path base = output_path;
    for (const TOutputForm& form : OutputForms()) {
        if (form.Compressed)
            base = StripSuffix(base, form.Kind);
    }
    base = StripSuffix(base, ".cxi");
    base = StripSuffix(base, ".cia");
    if (strip_3ds) {
        base = StripSuffix(base, ".cci");
        base = StripSuffix(base, ".3ds");
    }
    return base;
}

fs::path OutputFile(const TInstallJob& job, std::string_view source_kind) {
    fs::path file = OutputBase(job.OutputPath, source_kind == ".3ds");
    file += job.OutputKind;
    return file;
}

bool OutputIsSource(const fs::path& source_path, const fs::path& output_file) {
    // A file that does not exist yet cannot be the source; equivalent() follows links and
    // knows a hard link by its file's identity.
    std::error_code error;
    if (!fs::exists(source_path, error) || !fs::exists(output_file, error))
        return false;
    const bool same = fs::equivalent(source_path, output_file, error);
    return same && !error;
}

std::string_view JobRefusalKey(const TInstallJob& job, std::string_view source_kind) {
    // A mod folder is a folder of its own: never the source image's file.
    if (!IsModFolderKind(job.OutputKind) &&
        OutputIsSource(job.SourcePath, OutputFile(job, source_kind)))
        return "ErrorOutputIsSource";
    return {};
}

} // namespace engine
