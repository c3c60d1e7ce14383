#pragma once
// Language, description and track list files: decoding, tokens and the key lookup, over
// engine/Text.h and engine/Language.h, which do the work without Qt; here the locale, the lang
// folder and QString.

#include "engine/Language.h"

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringList>

/// Decodes a text file's bytes by its byte-order mark (UTF-16 LE, UTF-16 BE, UTF-8).
/// Without a mark, valid UTF-8 is taken as UTF-8, anything else as Windows-1251 when
/// `russian_locale` is set and as Windows-1252 otherwise.
QString DecodeTextFile(const QByteArray& bytes, bool russian_locale);

/// True when the user's locale is Russian; decides the 8-bit code page of unmarked files.
bool LocaleIsRussian();

/// Cuts the text at its first NUL, splits it at CR LF, CR, LF and U+2028 and joins the
/// lines again with CR LF behind each of them.
QString NormaliseLineEnds(const QString& text);

/// Cuts normalised text into tokens: characters 1 to 32 separate, `separator` separates
/// once, a double quote starts a quoted token in which two quotes stand for one.
QStringList Tokenize(const QString& text, QChar separator);

/// Reads a file whole, decodes, normalises and tokenizes it. False when it cannot be read.
bool ReadTokenFile(const QString& path, QChar separator, QStringList& tokens);

/// The token after the first token equal to `key` (letter case ignored); the first token
/// when none is equal; an empty text when nothing follows.
QString LookupToken(const QStringList& tokens, const QString& key);

/// As LookupToken, but a missing key gives an empty text (description files).
QString ValueOfKey(const QStringList& tokens, const QString& key);

/// The ordered tokens of the loaded language file: engine::TLanguageTable with QString texts.
class TLanguageTable {
public:
    /// Text of `key` by the lookup rule; keys added to the program later than the
    /// language files get a built-in English text when the file lacks them.
    QString Lookup(const QString& key) const;
    void Clear() { m_table.Clear(); }
    bool IsEmpty() const { return m_table.IsEmpty(); }
    QStringList Tokens() const;
    void SetTokens(const QStringList& tokens);
    /// Empties the table and loads the file; false (table empty) when it cannot be read.
    bool LoadFile(const QString& path);
    /// The same table for the engine's runs.
    const engine::TLanguageTable& Engine() const { return m_table; }

private:
    engine::TLanguageTable m_table;
};

/// engine::LanguageFilePath for paths held as text.
QString LanguageFilePath(const QString& program_folder, const QString& name);

/// engine::FindLanguageNames for a program folder held as text.
QStringList FindLanguageNames(const QString& program_folder);

/// The default interface language: "Русский" for a Russian (Russia) locale, else "English".
QString DefaultLanguageName();
