#include "core/OutputForms.h"

#include "core/Language.h"

#include <array>

namespace {

// The first four entries are the filter entries users have always had, in their places; new
// forms come after them, so an entry's index keeps its meaning.
constexpr std::array kForms = {
    TOutputForm{"cia", ".cia", ".cia", false, false, "Console", " (*.cia)", " (CFW) (*.cia)"},
    TOutputForm{"cxi", ".cxi", ".cxi", false, false, "Emulator", " (*.cxi)", nullptr},
    TOutputForm{"3ds", ".3ds", ".3ds", false, true, "Console", " (Sky3DS) (*.3ds)", nullptr},
    TOutputForm{kModFolderKind, kModFolderKind, kModFolderKind, false, false, "ModFolder", " (*)",
                nullptr},
    TOutputForm{"cci", ".cci", ".3ds", false, true, "CardImage", " (*.cci)", nullptr},
    TOutputForm{"zcia", ".zcia", ".cia", true, false, "EmulatorCompressed", " (*.zcia)", nullptr},
    TOutputForm{"zcxi", ".zcxi", ".cxi", true, false, "EmulatorCompressed", " (*.zcxi)", nullptr},
    TOutputForm{"zcci", ".zcci", ".3ds", true, true, "EmulatorCompressed", " (*.zcci)", nullptr},
};

} // namespace

bool IsModFolderKind(const QString& output_kind) {
    return output_kind == QLatin1String(kModFolderKind);
}

std::span<const TOutputForm> OutputForms() {
    return kForms;
}

std::vector<const TOutputForm*> OutputFormsFor(const QString& source_kind) {
    const bool cartridge = IsCartridgeKind(source_kind);
    std::vector<const TOutputForm*> forms;
    for (const TOutputForm& form : kForms) {
        if (cartridge || !form.CartridgeOnly)
            forms.push_back(&form);
    }
    return forms;
}

const TOutputForm* FindOutputFormByName(const QString& name) {
    for (const TOutputForm& form : kForms) {
        if (name == QLatin1String(form.Name))
            return &form;
    }
    return nullptr;
}

const TOutputForm* FindOutputForm(const QString& output_kind) {
    for (const TOutputForm& form : kForms) {
        if (output_kind == QLatin1String(form.Kind))
            return &form;
    }
    return nullptr;
}

bool IsCartridgeKind(const QString& kind) {
    return PlainOutputKind(kind) == QLatin1String(".3ds");
}

QString PlainOutputKind(const QString& output_kind) {
    const TOutputForm* form = FindOutputForm(output_kind);
    return form != nullptr ? QLatin1String(form->Plain) : output_kind;
}

bool IsCompressedOutputKind(const QString& output_kind) {
    const TOutputForm* form = FindOutputForm(output_kind);
    return form != nullptr && form->Compressed;
}

QString OutputFormPattern(const TOutputForm& form) {
    if (IsModFolderKind(QLatin1String(form.Kind)))
        return QStringLiteral("*"); // a folder: any name
    return QLatin1Char('*') + QLatin1String(form.Kind);
}

QString OutputFilterEntry(const TOutputForm& form, bool cartridge_source,
                          const TLanguageTable& texts) {
    const char* tail =
        cartridge_source && form.CartridgeTail != nullptr ? form.CartridgeTail : form.Tail;
    return texts.Lookup(QLatin1String(form.TextKey)) + QLatin1String(tail) + QLatin1Char('|') +
           OutputFormPattern(form);
}
