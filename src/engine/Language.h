#pragma once
// The language table without Qt: the tokens of a .lng file and the lookup of a text by its key,
// over the decoding and the tokens of engine/Text.h. The window and the command line read it
// through desktop/Language.h; another front end reads the same files with the same results.

#include "engine/Text.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

/// The whole file at `path`; nothing when it cannot be read (missing, a folder, a read error).
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path);

/// Reads a file whole, decodes it (DecodeTextFile, `russian_locale` choosing the code page of an
/// unmarked 8-bit file), normalises its line ends and cuts it into tokens at `separator`.
/// Nothing when the file cannot be read.
std::optional<TTokens> ReadTokenFile(const std::filesystem::path& path, char16_t separator,
                                     bool russian_locale);

/// Path of a language file: the program folder's "lang" folder, then name + ".lng", each name
/// matched without regard to letter case. Empty for a name that is no plain file name (empty,
/// ".", "..", or with a '/' or a NUL), so that no file outside lang is read.
std::filesystem::path LanguageFilePath(const std::filesystem::path& program_folder,
                                       std::u16string_view name);

/// Language names offered in the language box: the files of the program folder's lang folder
/// whose names end in ".lng" (any letter case), hidden ones skipped, in the order of their
/// names' letters, each without its (first) ".lng".
std::vector<TText> FindLanguageNames(const std::filesystem::path& program_folder);

/// The ordered tokens of a language file and the lookup of its texts.
class TLanguageTable {
public:
    TLanguageTable() = default;
    explicit TLanguageTable(TTokens tokens) : m_tokens(std::move(tokens)) {}

    /// The token after the first token equal to `key` (letter case ignored), empty when nothing
    /// follows it. A key the file lacks gives its built-in English text when the program has
    /// one for it (BuiltInText), else the file's first token, else an empty text.
    TText Lookup(std::u16string_view key) const;
    /// Lookup with the key and the text in UTF-8.
    std::string LookupUtf8(std::string_view key) const;

    void Clear() { m_tokens.clear(); }
    bool IsEmpty() const { return m_tokens.empty(); }
    const TTokens& Tokens() const { return m_tokens; }
    void SetTokens(TTokens tokens) { m_tokens = std::move(tokens); }
    /// Empties the table and loads the file (tokens at '='); false, the table left empty, when
    /// it cannot be read.
    bool LoadFile(const std::filesystem::path& path, bool russian_locale);

private:
    TTokens m_tokens;
};

} // namespace engine
