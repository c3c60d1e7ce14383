#include "desktop/Language.h"

#include "desktop/FileTools.h"
#include "engine/Text.h"

#include <QLocale>

#include <optional>
#include <span>

namespace {

// The engine's text is UTF-16 as QString's: views and copies cross without decoding.
std::u16string_view View(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size())};
}

QString FromText(const engine::TText& text) {
    return QString::fromStdU16String(text);
}

QStringList FromTokens(const engine::TTokens& tokens) {
    QStringList list;
    list.reserve(qsizetype(tokens.size()));
    for (const engine::TText& token : tokens)
        list.append(FromText(token));
    return list;
}

std::optional<qsizetype> FindKey(const QStringList& tokens, const QString& key) {
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        if (engine::EqualNoCase(View(tokens.at(i)), View(key)))
            return i;
    }
    return std::nullopt;
}

} // namespace

bool LocaleIsRussian() {
    return QLocale::system().language() == QLocale::Russian;
}

QString DecodeTextFile(const QByteArray& bytes, bool russian_locale) {
    return FromText(
        engine::DecodeTextFile(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                         std::size_t(bytes.size())),
                               russian_locale));
}

QString NormaliseLineEnds(const QString& text) {
    return FromText(engine::NormaliseLineEnds(View(text)));
}

QStringList Tokenize(const QString& text, QChar separator) {
    return FromTokens(engine::Tokenize(View(text), separator.unicode()));
}

bool ReadTokenFile(const QString& path, QChar separator, QStringList& tokens) {
    const std::optional<engine::TTokens> read =
        engine::ReadTokenFile(ToPath(path), separator.unicode(), LocaleIsRussian());
    if (!read)
        return false;
    tokens = FromTokens(*read);
    return true;
}

QString LookupToken(const QStringList& tokens, const QString& key) {
    if (const std::optional<qsizetype> at = FindKey(tokens, key))
        return *at + 1 < tokens.size() ? tokens.at(*at + 1) : QString();
    return tokens.isEmpty() ? QString() : tokens.first();
}

QString ValueOfKey(const QStringList& tokens, const QString& key) {
    if (const std::optional<qsizetype> at = FindKey(tokens, key))
        return *at + 1 < tokens.size() ? tokens.at(*at + 1) : QString();
    return QString();
}

QString TLanguageTable::Lookup(const QString& key) const {
    return FromText(m_table.Lookup(View(key)));
}

QStringList TLanguageTable::Tokens() const {
    return FromTokens(m_table.Tokens());
}

void TLanguageTable::SetTokens(const QStringList& tokens) {
    engine::TTokens texts;
    texts.reserve(std::size_t(tokens.size()));
    for (const QString& token : tokens)
        texts.push_back(token.toStdU16String());
    m_table.SetTokens(std::move(texts));
}

bool TLanguageTable::LoadFile(const QString& path) {
    return m_table.LoadFile(ToPath(path), LocaleIsRussian());
}

QString LanguageFilePath(const QString& program_folder, const QString& name) {
    const std::filesystem::path path = engine::LanguageFilePath(ToPath(program_folder), View(name));
    return path.empty() ? QString() : FromPath(path);
}

QStringList FindLanguageNames(const QString& program_folder) {
    return FromTokens(engine::FindLanguageNames(ToPath(program_folder)));
}

QString DefaultLanguageName() {
    const QLocale locale = QLocale::system();
    if (locale.language() == QLocale::Russian && locale.territory() == QLocale::Russia)
        return QStringLiteral("Русский");
    return QStringLiteral("English");
}
