#include "engine/Language.h"

#include "ctr/Platform.h"
#include "engine/Folders.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <system_error>

namespace engine {

namespace fs = std::filesystem;

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const fs::path& path) {
    std::error_code error;
    if (fs::is_directory(path, error))
        return std::nullopt;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(ctr::OpenFile(path, "rb"),
                                                               &std::fclose);
    if (!file)
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::uint8_t block[64 * 1024];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, file.get())) > 0;)
        bytes.insert(bytes.end(), block, block + got);
    if (std::ferror(file.get()))
        return std::nullopt;
    return bytes;
}

std::optional<TTokens> ReadTokenFile(const fs::path& path, char16_t separator,
                                     bool russian_locale) {
    const std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(path);
    if (!bytes)
        return std::nullopt;
    return Tokenize(NormaliseLineEnds(DecodeTextFile(*bytes, russian_locale)), separator);
}

TText TLanguageTable::Lookup(std::u16string_view key) const {
    for (std::size_t i = 0; i < m_tokens.size(); ++i) {
        if (EqualNoCase(m_tokens[i], key))
            return i + 1 < m_tokens.size() ? m_tokens[i + 1] : TText();
    }
    const std::u16string_view builtin = BuiltInText(key);
    if (!builtin.empty())
        return TText(builtin);
    return m_tokens.empty() ? TText() : m_tokens.front();
}

std::string TLanguageTable::LookupUtf8(std::string_view key) const {
    return ToUtf8(Lookup(FromUtf8(key)));
}

bool TLanguageTable::LoadFile(const fs::path& path, bool russian_locale) {
    m_tokens.clear();
    std::optional<TTokens> tokens = ReadTokenFile(path, u'=', russian_locale);
    if (!tokens)
        return false;
    m_tokens = std::move(*tokens);
    return true;
}

fs::path LanguageFilePath(const fs::path& program_folder, std::u16string_view name) {
    // A language name names a file in the lang folder and nothing else: no folder steps.
    if (name.empty() || name.find_first_of(std::u16string_view(u"/\0", 2)) != name.npos ||
        name == u"." || name == u"..")
        return {};
    const fs::path lang = FindEntryNoCase(program_folder, "lang");
    return FindEntryNoCase(lang, fs::path(TText(name) + u".lng"));
}

std::vector<TText> FindLanguageNames(const fs::path& program_folder) {
    const fs::path lang = FindEntryNoCase(program_folder, "lang");
    std::vector<TText> files;
    std::error_code error;
    for (fs::directory_iterator it(lang, error), end; !error && it != end; it.increment(error)) {
        std::error_code type_error;
        if (ctr::IsHiddenEntry(it->path()) || !it->is_regular_file(type_error))
            continue;
        TText name = NameText(it->path());
        if (name.size() >= 4 &&
            EqualNoCase(std::u16string_view(name).substr(name.size() - 4), u".lng"))
            files.push_back(std::move(name));
    }
    std::sort(files.begin(), files.end());
    for (TText& name : files) {
        // The first ".lng" goes, wherever it stands.
        for (std::size_t at = 0; at + 4 <= name.size(); ++at) {
            if (EqualNoCase(std::u16string_view(name).substr(at, 4), u".lng")) {
                name.erase(at, 4);
                break;
            }
        }
    }
    return files;
}

} // namespace engine
