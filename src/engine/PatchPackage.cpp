#include "engine/PatchPackage.h"

#include "ctr/Platform.h"
#include "engine/PatchCatalogue.h"

#include <algorithm>

namespace engine {

namespace fs = std::filesystem;

namespace {

constexpr char16_t kPackageExtension[] = u".qvtpatch";
constexpr std::size_t kMaxFolderNameLength = 80;
constexpr std::size_t kMaxEntryNameLength = 1024;
constexpr std::size_t kMaxNamePartLength = 255;

// The white space Qt's trimming and simplifying take away, so that names stay as they were.
bool IsSpace(char16_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool ReservedDeviceName(std::u16string_view name) {
    // Windows takes these as devices whatever extension follows.
    TText base(TrimmedText(name.substr(0, name.find(u'.'))));
    for (char16_t& c : base)
        c = c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c;
    if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL")
        return true;
    return base.size() == 4 && (base.starts_with(u"COM") || base.starts_with(u"LPT")) &&
           base[3] >= u'1' && base[3] <= u'9';
}

bool RefusedCharacter(char16_t c) {
    return c < 0x20 || c == 0x7F || std::u16string_view(u"<>:\"|?*\\").find(c) != TText::npos ||
           c == 0xFFFD;
}

bool EndsWithNoCase(std::u16string_view text, std::u16string_view end) {
    return text.size() >= end.size() && EqualNoCase(text.substr(text.size() - end.size()), end);
}

} // namespace

std::u16string_view TrimmedText(std::u16string_view text) {
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

TText TPackageProblem::Text(const TLanguageTable& texts) const {
    TText text = texts.Lookup(FromUtf8(Key));
    if (text.find(u"%1") == TText::npos)
        return Detail.empty() ? text : text + u'\n' + Detail;
    for (std::size_t at = text.find(u"%1"); at != TText::npos;
         at = text.find(u"%1", at + Detail.size()))
        text.replace(at, 2, Detail);
    return text;
}

fs::path PatchPackageFileName(const fs::path& patch_folder) {
    fs::path name = patch_folder.filename();
    name += ".qvtpatch";
    return name;
}

bool IsPatchPackageName(std::u16string_view path) {
    return EndsWithNoCase(path, kPackageExtension);
}

bool SafeEntryName(std::u16string_view name) {
    if (name.empty() || name.size() > kMaxEntryNameLength || name.front() == u'/')
        return false;
    for (std::size_t start = 0; start <= name.size();) {
        const std::size_t slash = std::min(name.find(u'/', start), name.size());
        const std::u16string_view part = name.substr(start, slash - start);
        if (part.empty() || part == u"." || part == u".." || part.size() > kMaxNamePartLength ||
            part.back() == u'.' || part.back() == u' ' || ReservedDeviceName(part))
            return false;
        if (std::any_of(part.begin(), part.end(), RefusedCharacter))
            return false;
        start = slash + 1;
    }
    return true;
}

TText PatchFolderName(std::u16string_view title) {
    // The title simplified: trimmed, each run of white space one blank.
    TText name;
    bool space = false;
    for (const char16_t c : TrimmedText(title)) {
        if (IsSpace(c)) {
            space = true;
            continue;
        }
        if (space)
            name += u' ';
        space = false;
        name += RefusedCharacter(c) || c == u'/' ? u'_' : c;
    }
    if (name.size() > kMaxFolderNameLength)
        name.resize(kMaxFolderNameLength);
    // A leading dot hides the folder from the patch list; a trailing dot or space Windows drops.
    const std::size_t first = name.find_first_not_of(u". ");
    name.erase(0, first == TText::npos ? name.size() : first);
    while (!name.empty() && (name.back() == u'.' || name.back() == u' '))
        name.pop_back();
    if (name.empty())
        return u"patch";
    return ReservedDeviceName(name) ? u'_' + name : name;
}

std::optional<TInstalledPatch> FindInstalledPatch(const fs::path& patch_root,
                                                  const TDescriptionFields& patch,
                                                  std::u16string_view language,
                                                  bool russian_locale) {
    const std::u16string_view dsc = u".dsc";
    for (const fs::path& name : ListPatchEntries(patch_root, true, dsc)) {
        const fs::path folder = patch_root / name;
        const std::optional<fs::path> chosen =
            ChooseDescriptionFile(ListPatchEntries(folder, false, dsc), language, dsc);
        if (!chosen)
            continue;
        const auto installed = ReadDescriptionFile(folder / *chosen, russian_locale);
        if (installed && EqualNoCase(TrimmedText(installed->Title), TrimmedText(patch.Title)) &&
            installed->Region == patch.Region)
            return TInstalledPatch{folder, installed->Version};
    }
    return std::nullopt;
}

} // namespace engine
