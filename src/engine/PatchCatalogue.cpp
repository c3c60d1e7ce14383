#include "engine/PatchCatalogue.h"

#include "ctr/Platform.h"
#include "engine/Language.h"

#include <algorithm>
#include <system_error>

namespace engine {

namespace fs = std::filesystem;

namespace {

bool EndsWithNoCase(std::u16string_view text, std::u16string_view end) {
    return text.size() >= end.size() && EqualNoCase(text.substr(text.size() - end.size()), end);
}

} // namespace

std::optional<TDescriptionFields> ReadDescriptionFile(const fs::path& path, bool russian_locale) {
    const std::optional<TTokens> tokens = ReadTokenFile(path, u'=', russian_locale);
    if (!tokens)
        return std::nullopt;
    return DescriptionFromTokens(*tokens);
}

std::vector<fs::path> ListPatchEntries(const fs::path& folder, bool folders,
                                       std::u16string_view extension) {
    struct TName {
        fs::path Name;
        TText Text;
    };
    std::vector<TName> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        // Hidden entries and entries of other types (devices, pipes, broken links) are left
        // out; a link counts as what it leads to.
        if (ctr::IsHiddenEntry(it->path()))
            continue;
        std::error_code type_error;
        const bool wanted =
            folders ? it->is_directory(type_error) : it->is_regular_file(type_error);
        if (!wanted || type_error)
            continue;
        TText text = NameText(it->path());
        if (!folders && !EndsWithNoCase(text, extension))
            continue;
        names.push_back({it->path().filename(), std::move(text)});
    }
    if (error)
        return {};
    std::sort(names.begin(), names.end(), [](const TName& a, const TName& b) {
        const int order = CompareNoCase(a.Text, b.Text);
        return order != 0 ? order < 0 : a.Text < b.Text;
    });
    std::vector<fs::path> sorted;
    sorted.reserve(names.size());
    for (TName& name : names)
        sorted.push_back(std::move(name.Name));
    return sorted;
}

std::optional<fs::path> ChooseDescriptionFile(const std::vector<fs::path>& files,
                                              std::u16string_view language,
                                              std::u16string_view extension) {
    if (files.empty())
        return std::nullopt;
    const TText wanted = TText(language) + TText(extension);
    for (const fs::path& name : files) {
        if (EqualNoCase(NameText(name), wanted))
            return name;
    }
    return files.front();
}

std::vector<TPatchEntry> ScanPatchFolders(const fs::path& folder, bool recurse,
                                          std::u16string_view extension,
                                          std::u16string_view language, std::u16string_view region,
                                          bool russian_locale) {
    std::vector<TPatchEntry> entries;
    if (recurse) {
        for (const fs::path& name : ListPatchEntries(folder, true, extension)) {
            for (TPatchEntry& entry : ScanPatchFolders(folder / name, false, extension, language,
                                                       region, russian_locale)) {
                entry.Subfolder = name;
                entries.push_back(std::move(entry));
            }
        }
    }
    const std::optional<fs::path> chosen =
        ChooseDescriptionFile(ListPatchEntries(folder, false, extension), language, extension);
    if (!chosen)
        return entries;
    // A description that cannot be read cannot be offered: it adds no entry.
    const std::optional<TDescriptionFields> description =
        ReadDescriptionFile(folder / *chosen, russian_locale);
    if (description && (description->Region.empty() || description->Region == region))
        entries.push_back({description->Title, description->Version, fs::path(), *chosen});
    return entries;
}

bool PatchHasVoiceFolder(const fs::path& patch_folder) {
    std::error_code error;
    return fs::is_directory(FindEntryNoCase(patch_folder, "voice"), error);
}

bool PatchHasXdelta(const fs::path& patch_folder) {
    std::error_code error;
    return fs::is_regular_file(FindEntryNoCase(patch_folder, "patch.xdelta"), error);
}

TText PatchEntryText(std::u16string_view title, std::u16string_view version) {
    TText text(title);
    if (!version.empty()) {
        text += u" (";
        text += version;
        text += u')';
    }
    return text;
}

TText PatchPaneText(const TDescriptionFields& description, const TLanguageTable& texts) {
    const std::pair<std::u16string_view, const TText*> release[] = {
        {u"PaneVersion", &description.Version},
        {u"PaneAuthors", &description.Authors},
        {u"PaneHomepage", &description.Homepage},
        {u"PaneReleaseDate", &description.ReleaseDate},
    };
    TText lines;
    for (const auto& [key, value] : release) {
        if (value->empty())
            continue;
        lines += u'\n';
        lines += texts.Lookup(key);
        lines += u' ';
        lines += *value;
    }
    return lines.empty() ? description.Description : description.Description + u'\n' + lines;
}

} // namespace engine
