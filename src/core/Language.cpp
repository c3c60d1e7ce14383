#include "core/Language.h"

#include "core/FileTools.h"
#include "engine/Text.h"

#include <QDir>
#include <QFileInfo>
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
    // A language name names a file in the lang folder and nothing else: no folder steps.
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QChar(0)) ||
        name == QLatin1String(".") || name == QLatin1String(".."))
        return QString();
    const QString lang = FindEntryNoCase(program_folder, QStringLiteral("lang"));
    return FindEntryNoCase(lang, name + QStringLiteral(".lng"));
}

QStringList FindLanguageNames(const QString& program_folder) {
    const QDir dir(FindEntryNoCase(program_folder, QStringLiteral("lang")));
    QStringList names;
    const auto entries = dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        QString name = entry.fileName();
        if (!name.endsWith(QStringLiteral(".lng"), Qt::CaseInsensitive))
            continue;
        name.remove(name.indexOf(QStringLiteral(".lng"), 0, Qt::CaseInsensitive), 4);
        names.append(name);
    }
    return names;
}

QString DefaultLanguageName() {
    const QLocale locale = QLocale::system();
    if (locale.language() == QLocale::Russian && locale.territory() == QLocale::Russia)
        return QStringLiteral("Русский");
    return QStringLiteral("English");
}
