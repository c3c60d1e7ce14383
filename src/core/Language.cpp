#include "core/Language.h"

#include "core/FileTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>

#include <algorithm>
#include <array>

namespace {

// Upper halves (0x80..0xFF) of the two Windows code pages; 0xFFFD marks an unused byte.
constexpr std::array<char16_t, 128> kWindows1251 = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0..0xFF: А..я
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B,
    0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433,
    0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B,
    0x044C, 0x044D, 0x044E, 0x044F};

// Windows-1252 differs from Latin-1 only in 0x80..0x9F.
constexpr std::array<char16_t, 32> kWindows1252Low = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

QString DecodeCodePage(const QByteArray& bytes, bool russian) {
    QString text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80)
            text.append(QChar(b));
        else if (russian)
            text.append(QChar(kWindows1251[b - 0x80]));
        else if (b < 0xA0)
            text.append(QChar(kWindows1252Low[b - 0x80]));
        else
            text.append(QChar(b));
    }
    return text;
}

QString DecodeUtf16(const char* data, qsizetype size, bool big_endian) {
    QString text;
    text.reserve(size / 2);
    for (qsizetype i = 0; i + 1 < size; i += 2) {
        const auto lo = static_cast<unsigned char>(data[big_endian ? i + 1 : i]);
        const auto hi = static_cast<unsigned char>(data[big_endian ? i : i + 1]);
        text.append(QChar(static_cast<char16_t>(hi << 8 | lo)));
    }
    return text;
}

bool IsSpace(QChar c) {
    return c.unicode() >= 1 && c.unicode() <= 32;
}

} // namespace

bool LocaleIsRussian() {
    return QLocale::system().language() == QLocale::Russian;
}

QString DecodeTextFile(const QByteArray& bytes, bool russian_locale) {
    if (bytes.startsWith("\xFF\xFE"))
        return DecodeUtf16(bytes.constData() + 2, bytes.size() - 2, false);
    if (bytes.startsWith("\xFE\xFF"))
        return DecodeUtf16(bytes.constData() + 2, bytes.size() - 2, true);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return DecodeCodePage(bytes, russian_locale);
}

QString NormaliseLineEnds(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(0));
    const QString body = nul >= 0 ? text.left(nul) : text;
    QString joined;
    joined.reserve(body.size() + body.size() / 16 + 2);
    qsizetype line_start = 0;
    const qsizetype n = body.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = body.at(i).unicode();
        if (c == u'\r' || c == u'\n' || c == 0x2028) {
            joined.append(QStringView(body).mid(line_start, i - line_start));
            joined.append(u"\r\n");
            if (c == u'\r' && i + 1 < n && body.at(i + 1) == u'\n')
                ++i;
            line_start = i + 1;
        }
    }
    if (line_start < n) {
        joined.append(QStringView(body).mid(line_start));
        joined.append(u"\r\n");
    }
    return joined;
}

QStringList Tokenize(const QString& text, QChar separator) {
    QStringList tokens;
    const QChar quote(u'"');
    // A NUL ends the text (normalised text has none; raw text may).
    const qsizetype nul = text.indexOf(QChar(0));
    const qsizetype n = nul >= 0 ? nul : text.size();
    qsizetype p = 0;
    while (p < n && IsSpace(text.at(p)))
        ++p;
    while (p < n) {
        QString token;
        if (text.at(p) == quote) {
            // Quoted: runs to the next quote not followed by a second one.
            ++p;
            bool closed = false;
            while (p < n) {
                if (text.at(p) == quote) {
                    if (p + 1 < n && text.at(p + 1) == quote) {
                        token.append(quote);
                        p += 2;
                        continue;
                    }
                    ++p;
                    closed = true;
                    break;
                }
                token.append(text.at(p));
                ++p;
            }
            if (!closed)
                token.chop(1); // an unclosed quote loses the text's final character
        } else {
            const qsizetype start = p;
            while (p < n && !IsSpace(text.at(p)) && text.at(p) != separator)
                ++p;
            token = text.mid(start, p - start);
        }
        tokens.append(token);
        while (p < n && IsSpace(text.at(p)))
            ++p;
        if (p < n && text.at(p) == separator) {
            if (p + 1 >= n)
                tokens.append(QString());
            ++p;
            while (p < n && IsSpace(text.at(p)))
                ++p;
        }
    }
    return tokens;
}

bool ReadTokenFile(const QString& path, QChar separator, QStringList& tokens) {
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    tokens = Tokenize(NormaliseLineEnds(DecodeTextFile(bytes, LocaleIsRussian())), separator);
    return true;
}

QString LookupToken(const QStringList& tokens, const QString& key) {
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        if (tokens.at(i).compare(key, Qt::CaseInsensitive) == 0)
            return i + 1 < tokens.size() ? tokens.at(i + 1) : QString();
    }
    return tokens.isEmpty() ? QString() : tokens.first();
}

QString ValueOfKey(const QStringList& tokens, const QString& key) {
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        if (tokens.at(i).compare(key, Qt::CaseInsensitive) == 0)
            return i + 1 < tokens.size() ? tokens.at(i + 1) : QString();
    }
    return QString();
}

namespace {
// Keys added after the first language files: a file without them still reads well.
struct TBuiltInText {
    const char* Key;
    const char* Text;
};
constexpr TBuiltInText kBuiltInTexts[] = {
    {"ErrorOutputIsSource", "The output file is the source image itself. Choose another output "
                            "file: the source image must not be overwritten."},
    {"VerifyingOutput", "Verifying the output image..."},
    {"ErrorVerifyingOutput", "The output image failed verification:"},
    {"WarningDiskSpace", "Warning: the free disk space may not be enough for this run."},
};
} // namespace

QString TLanguageTable::Lookup(const QString& key) const {
    for (qsizetype i = 0; i < m_tokens.size(); ++i) {
        if (m_tokens.at(i).compare(key, Qt::CaseInsensitive) == 0)
            return i + 1 < m_tokens.size() ? m_tokens.at(i + 1) : QString();
    }
    for (const auto& builtin : kBuiltInTexts) {
        if (key.compare(QLatin1String(builtin.Key), Qt::CaseInsensitive) == 0)
            return QString::fromUtf8(builtin.Text);
    }
    return m_tokens.isEmpty() ? QString() : m_tokens.first();
}

bool TLanguageTable::LoadFile(const QString& path) {
    m_tokens.clear();
    QStringList tokens;
    if (!ReadTokenFile(path, u'=', tokens))
        return false;
    m_tokens = std::move(tokens);
    return true;
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
