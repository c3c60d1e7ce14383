#include "gui/Fonts.h"

#include <QFontInfo>
#include <QStringList>

namespace {

bool IsSymbolFace(const QFont& font) {
    const QString family = QFontInfo(font).family();
    return family.contains(QStringLiteral("Math"), Qt::CaseInsensitive) ||
           family.contains(QStringLiteral("Symbol"), Qt::CaseInsensitive);
}

} // namespace

QFont UsableSystemFont(QFontDatabase::SystemFont kind) {
    QFont font = QFontDatabase::systemFont(kind);
    if (!IsSymbolFace(font))
        return font;
    const bool fixed = kind == QFontDatabase::FixedFont;
    const QStringList preferred = fixed ? QStringList{"Consolas", "Courier New", "DejaVu Sans Mono",
                                                      "Liberation Mono", "Noto Sans Mono"}
                                        : QStringList{"Segoe UI",        "Tahoma",    "DejaVu Sans",
                                                      "Liberation Sans", "Noto Sans", "Arial"};
    for (const QString& family : preferred) {
        if (!QFontDatabase::hasFamily(family))
            continue;
        QFont candidate = font;
        candidate.setFamily(family);
        if (!IsSymbolFace(candidate))
            return candidate;
    }
    font.setStyleHint(fixed ? QFont::Monospace : QFont::SansSerif);
    return font;
}
