// The one table of output forms as the page, the window and the command line read it: each
// --kind word to its kind, the kind the tools build, the sources that can give it and its entry
// in the save dialog's filter.

#include "engine/OutputForms.h"
#include "engine/Language.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct TFormRow {
    const char* Name;
    const char* Plain;
    bool Compressed;
    bool FromCia;          // offered for a CIA source (every form is offered for a card image)
    const char* CiaFilter; // the filter entry for a CIA source, or for a card image one
};

void PrintTo(const TFormRow& row, std::ostream* os) {
    *os << row.Name;
}

class FormRows : public ::testing::TestWithParam<TFormRow> {};

TEST_P(FormRows, KindFilterAndSources) {
    const TFormRow& row = GetParam();
    const engine::TLanguageTable texts({u"Console", u"Konsole", u"Emulator", u"Emu", u"ModFolder",
                                        u"Mods", u"CardImage", u"Card", u"EmulatorCompressed",
                                        u"Emu\u00df"});
    const engine::TOutputForm* form = engine::FindOutputFormByName(row.Name);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(engine::FindOutputForm(form->Kind), form);
    EXPECT_EQ(engine::PlainOutputKind(form->Kind), row.Plain);
    EXPECT_EQ(engine::IsCompressedOutputKind(form->Kind), row.Compressed);
    EXPECT_EQ(engine::IsCartridgeKind(form->Kind), std::string_view(row.Plain) == ".3ds");
    const auto offered = [&](const char* source) {
        const std::vector<const engine::TOutputForm*> forms = engine::OutputFormsFor(source);
        return std::find(forms.begin(), forms.end(), form) != forms.end();
    };
    EXPECT_EQ(offered(".cia"), row.FromCia);
    EXPECT_TRUE(offered(".3ds"));
    EXPECT_EQ(engine::FilterEntry(*form, !row.FromCia, texts), row.CiaFilter);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FormRows,
    ::testing::Values(TFormRow{"cia", ".cia", false, true, "Konsole (*.cia)|*.cia"},
                      TFormRow{"cxi", ".cxi", false, true, "Emu (*.cxi)|*.cxi"},
                      TFormRow{"3ds", ".3ds", false, false, "Konsole (Sky3DS) (*.3ds)|*.3ds"},
                      TFormRow{"mods", "mods", false, true, "Mods (*)|*"},
                      TFormRow{"cci", ".3ds", false, false, "Card (*.cci)|*.cci"},
                      TFormRow{"zcia", ".cia", true, true, "Emu\xC3\x9F (*.zcia)|*.zcia"},
                      TFormRow{"zcxi", ".cxi", true, true, "Emu\xC3\x9F (*.zcxi)|*.zcxi"},
                      TFormRow{"zcci", ".3ds", true, false, "Emu\xC3\x9F (*.zcci)|*.zcci"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(OutputForms, UnknownKindsAndCardImageTail) {
    EXPECT_EQ(engine::FindOutputFormByName("ZCIA"), nullptr); // words compared exactly
    EXPECT_EQ(engine::FindOutputForm(".CIA"), nullptr);
    EXPECT_EQ(engine::PlainOutputKind(".zip"), ".zip");
    EXPECT_FALSE(engine::IsCompressedOutputKind(".zip"));
    const engine::TLanguageTable texts({u"Console", u"Konsole"});
    EXPECT_EQ(engine::FilterEntry(*engine::FindOutputFormByName("cia"), true, texts),
              "Konsole (CFW) (*.cia)|*.cia");
}

} // namespace
