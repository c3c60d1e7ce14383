#include "engine/OutputForms.h"

#include "engine/Language.h"
#include "engine/Text.h"

#include <algorithm>
#include <array>

namespace engine {

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

bool IsModFolderKind(std::string_view output_kind) {
    return output_kind == kModFolderKind;
}

std::span<const TOutputForm> OutputForms() {
    return kForms;
}

std::vector<const TOutputForm*> OutputFormsFor(std::string_view source_kind) {
    const bool cartridge = IsCartridgeKind(source_kind);
    std::vector<const TOutputForm*> forms;
    for (const TOutputForm& form : kForms) {
        if (cartridge || !form.CartridgeOnly)
            forms.push_back(&form);
    }
    return forms;
}

const TOutputForm* FindOutputFormByName(std::string_view name) {
    for (const TOutputForm& form : kForms) {
        if (name == form.Name)
            return &form;
    }
    return nullptr;
}

const TOutputForm* FindOutputForm(std::string_view output_kind) {
    for (const TOutputForm& form : kForms) {
        if (output_kind == form.Kind)
            return &form;
    }
    return nullptr;
}

bool IsCartridgeKind(std::string_view kind) {
    return PlainOutputKind(kind) == ".3ds";
}

std::string_view PlainOutputKind(std::string_view output_kind) {
    const TOutputForm* form = FindOutputForm(output_kind);
    return form != nullptr ? std::string_view(form->Plain) : output_kind;
}

bool IsCompressedOutputKind(std::string_view output_kind) {
    const TOutputForm* form = FindOutputForm(output_kind);
    return form != nullptr && form->Compressed;
}

std::string FilterPattern(const TOutputForm& form) {
    if (IsModFolderKind(form.Kind))
        return "*"; // a folder: any name
    return std::string("*") + form.Kind;
}

std::string FilterEntry(const TOutputForm& form, bool cartridge_source,
                        const TLanguageTable& texts) {
    const char* tail =
        cartridge_source && form.CartridgeTail != nullptr ? form.CartridgeTail : form.Tail;
    return texts.LookupUtf8(form.TextKey) + tail + '|' + FilterPattern(form);
}

std::string OutputFilter(std::string_view source_kind, const TLanguageTable& texts) {
    // A card image source's filter ends in a bar, the others do not: both as they always were.
    const bool cartridge = IsCartridgeKind(source_kind);
    std::string filter;
    for (const TOutputForm* form : OutputFormsFor(source_kind)) {
        if (!filter.empty())
            filter += '|';
        filter += FilterEntry(*form, cartridge, texts);
    }
    return cartridge ? filter + '|' : filter;
}

std::string_view OutputKindOfFilter(std::string_view filter, int index) {
    // By the pattern of the entry at that place: its description is a language text.
    if (index < 1)
        return {};
    std::size_t start = 0;
    for (int part = 0; part < 2 * (index - 1) + 1; ++part) {
        const std::size_t bar = filter.find('|', start);
        if (bar == std::string_view::npos)
            return {};
        start = bar + 1;
    }
    std::string_view pattern = filter.substr(start, filter.find('|', start) - start);
    const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!pattern.empty() && blank(pattern.front()))
        pattern.remove_prefix(1);
    while (!pattern.empty() && blank(pattern.back()))
        pattern.remove_suffix(1);
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (const TOutputForm& form : OutputForms()) {
        const std::string form_pattern = FilterPattern(form);
        if (std::equal(pattern.begin(), pattern.end(), form_pattern.begin(), form_pattern.end(),
                       [&](char a, char b) { return lower(a) == lower(b); }))
            return form.Kind;
    }
    return {};
}

std::u16string OutputDisplayText(std::u16string_view output_path, std::u16string_view output_kind) {
    if (output_path.empty())
        return {};
    const std::u16string path(output_path);
    if (IsModFolderKind(ToUtf8(output_kind)))
        return path; // a folder: it gets no extension
    std::u16string_view name = output_path;
#if defined(_WIN32)
    const std::size_t slash = output_path.find_last_of(u"/\\");
    if (slash == std::u16string_view::npos && name.size() >= 2 && name[1] == u':')
        name.remove_prefix(2); // "C:out.cia": relative to the drive's current folder
#else
    const std::size_t slash = output_path.rfind(u'/');
#endif
    if (slash != std::u16string_view::npos)
        name.remove_prefix(slash + 1);
    const std::size_t dot = name.rfind(u'.');
    const std::string extension = dot == std::u16string_view::npos ? "" : ToUtf8(name.substr(dot));
    if (FindOutputForm(extension) != nullptr && !IsModFolderKind(extension))
        return path;
    return path + std::u16string(output_kind);
}

TSpaceNeed EstimateSpaceNeed(std::string_view source_kind, std::string_view output_kind,
                             std::int64_t source_size, std::int64_t pack_dat_size, bool encrypted) {
    if (IsModFolderKind(output_kind)) {
        // The old and the new pack.dat lie side by side under tools/temp while the difference
        // is applied; the mod folder then holds the new one. The other files are small. An
        // encrypted image is read through its keys, with no decrypted copy.
        return {2 * pack_dat_size, pack_dat_size};
    }
    // At the fullest point a CIA or 3DS source has its CXI, the image's RomFS and its unpacked
    // tree under tools/temp (about three times the image). A CXI source is read in place, so
    // only the RomFS image and its tree are there while it is taken apart; but a CIA or 3DS
    // output then needs the rebuilt CXI beside the rebuilt RomFS and the tree, three times
    // the image again. Only a CXI made from a CXI is written straight to the output.
    // A compressed output is first built whole under tools/temp; a compressed CIA or card
    // image lies there beside the rebuilt CXI. The compressed output itself is counted at the
    // image's size: how far it shrinks depends on the content.
    TSpaceNeed need;
    const std::string_view plain = PlainOutputKind(output_kind);
    const bool compressed = IsCompressedOutputKind(output_kind);
    const bool cxi_to_cxi = source_kind == ".cxi" && output_kind == ".cxi";
    need.TempBytes = cxi_to_cxi ? 2 * source_size : 3 * source_size;
    // The decryption writes a CIA's game content and a card image's partition 0 where their
    // first stage would; an encrypted CXI is copied whole, and the run reads the copy.
    if (encrypted && source_kind == ".cxi")
        need.TempBytes += source_size;
    if (compressed && plain != ".cxi")
        need.TempBytes += source_size;
    need.OutputBytes = source_size;
    return need;
}

} // namespace engine
