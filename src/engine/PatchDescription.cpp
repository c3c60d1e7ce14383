#include "engine/PatchDescription.h"

namespace engine {

namespace {

// How each field is written: always, when known, or when known and quoted.
enum class TForm { Plain, Quoted, Optional, OptionalQuoted };

struct TField {
    std::u16string_view Key;
    TText TDescriptionFields::*Value;
    TForm Form;
};

// In the order the file gives them.
constexpr TField kFields[] = {
    {u"Region", &TDescriptionFields::Region, TForm::Plain},
    {u"Title", &TDescriptionFields::Title, TForm::Quoted},
    {u"Description", &TDescriptionFields::Description, TForm::Quoted},
    {u"OriginalPackDatMD5", &TDescriptionFields::OriginalPackDatMD5, TForm::Plain},
    {u"OriginalPackIncMD5", &TDescriptionFields::OriginalPackIncMD5, TForm::Plain},
    {u"PatchedPackDatMD5", &TDescriptionFields::PatchedPackDatMD5, TForm::Optional},
    {u"PatchedPackIncMD5", &TDescriptionFields::PatchedPackIncMD5, TForm::Optional},
    // A homepage may hold "=" and an author's name spaces: the release's texts are quoted.
    {u"Version", &TDescriptionFields::Version, TForm::OptionalQuoted},
    {u"Authors", &TDescriptionFields::Authors, TForm::OptionalQuoted},
    {u"Homepage", &TDescriptionFields::Homepage, TForm::OptionalQuoted},
    {u"ReleaseDate", &TDescriptionFields::ReleaseDate, TForm::OptionalQuoted},
    {u"MinimumProgramVersion", &TDescriptionFields::MinimumProgramVersion, TForm::OptionalQuoted},
};

TText Quoted(const TText& value) {
    TText text = NormaliseLineEnds(value);
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, u"\r\n") == 0)
        text.resize(text.size() - 2); // the value's own last line end: the closing quote ends it
    TText quoted = u"\"";
    for (const char16_t c : text) {
        quoted.push_back(c);
        if (c == u'"')
            quoted.push_back(c);
    }
    quoted.push_back(u'"');
    return quoted;
}

} // namespace

TDescriptionFields DescriptionFromTokens(const TTokens& tokens) {
    TDescriptionFields fields;
    for (const TField& field : kFields)
        fields.*field.Value = ValueOfKey(tokens, field.Key);
    return fields;
}

TText DescriptionFileText(const TDescriptionFields& fields) {
    TText text;
    for (const TField& field : kFields) {
        const TText& value = fields.*field.Value;
        // An empty value would read as the key after it: an unknown value is left out.
        const bool optional = field.Form == TForm::Optional || field.Form == TForm::OptionalQuoted;
        if (optional && value.empty())
            continue;
        const bool quoted = field.Form == TForm::Quoted || field.Form == TForm::OptionalQuoted;
        text.append(field.Key);
        text.append(u" = ");
        text.append(quoted ? Quoted(value) : value);
        text.append(u"\r\n");
    }
    return text;
}

} // namespace engine
