// libFuzzer target for the language and description files: the bytes are decoded as both
// code pages, normalised, cut into tokens and looked up, and the description pane's HTML
// and link checks run over the text and its tokens.

#include "desktop/DescriptionText.h"
#include "desktop/Language.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const bool russian : {false, true}) {
        const QString text = NormaliseLineEnds(DecodeTextFile(bytes, russian));
        if (!text.isEmpty() && !text.endsWith(QLatin1String("\r\n")))
            std::abort();
        const QStringList tokens = Tokenize(text, u'=');
        (void)LookupToken(tokens, QStringLiteral("Caption"));
        (void)ValueOfKey(tokens, QStringLiteral("Description"));
        (void)DescriptionHtml(text);
        for (const QString& token : tokens)
            (void)OpenableLinkUrl(token);
    }
    return 0;
}
