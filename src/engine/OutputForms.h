#pragma once
// The forms an output can take: the images the tools build (CIA, CXI, card image), the same
// images written compressed in the emulator's layout, and the mod folder. The save dialog's
// filter, qvtpatch's --kind, the output's file name, the space estimate and the runs all read
// this one table. Kinds are ASCII texts: ".cia", ".zcci", "mods", ...

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

class TLanguageTable;

/// The output kind of a mod folder run (the image kinds are ".cia", ".cxi" and ".3ds").
inline constexpr char kModFolderKind[] = "mods";

/// True for the mod folder output kind.
bool IsModFolderKind(std::string_view output_kind);

/// One output form; the table lists them in the order of the save dialog's filter.
struct TOutputForm {
    const char* Name;    // the word of qvtpatch's --kind
    const char* Kind;    // the output kind: the extension written, or the mod folder kind
    const char* Plain;   // the kind the tools build: ".cia", ".cxi" or ".3ds"; for a mod folder
                         // the mod folder kind
    bool Compressed;     // the plain image is built in tools/temp, then compressed into the output
    bool CartridgeOnly;  // only a card image source can give it
    const char* TextKey; // language key of the filter entry's description
    const char* Tail;    // what follows that text in the entry, pattern included
    const char* CartridgeTail; // the tail in a card image source's filter, when it differs
};

/// Every output form, in filter order.
std::span<const TOutputForm> OutputForms();
/// The forms a source of `source_kind` can give, in filter order.
std::vector<const TOutputForm*> OutputFormsFor(std::string_view source_kind);
/// The form of qvtpatch's --kind word; null for none.
const TOutputForm* FindOutputFormByName(std::string_view name);
/// The form of an output kind (".zcci", "mods", ...), compared exactly; null for none.
const TOutputForm* FindOutputForm(std::string_view output_kind);

/// True for the kinds of a card image: ".3ds" and ".cci", plain or compressed.
bool IsCartridgeKind(std::string_view kind);
/// The kind the tools build for an output kind (".zcci" gives ".3ds", ".cci" too); a kind
/// that is not in the table is returned as it is.
std::string_view PlainOutputKind(std::string_view output_kind);
/// True when the output kind is written compressed.
bool IsCompressedOutputKind(std::string_view output_kind);

/// The file name pattern of a form's filter entry: "*" for a mod folder, else "*" + kind.
std::string FilterPattern(const TOutputForm& form);
/// A form's filter entry without its final bar: description (UTF-8), "|", pattern.
std::string FilterEntry(const TOutputForm& form, bool cartridge_source,
                        const TLanguageTable& texts);

/// The output save dialog's filter for a source kind: one FilterEntry per form the source can
/// give, joined by bars; a card image source's filter ends in a bar, the others do not.
std::string OutputFilter(std::string_view source_kind, const TLanguageTable& texts);

/// The output kind of entry `index` (1-based) of such a filter, taken from its pattern (letter
/// case ignored): the kind of the output form with that pattern; empty for no entry.
std::string_view OutputKindOfFilter(std::string_view filter, int index);

/// The text shown for the output: the path itself when its file name's extension is that of an
/// image output form (".cxi", ".cia", ".3ds", ".zcci", ..., compared exactly) or the output is a
/// mod folder, else the path followed by the output kind; empty for an empty path.
std::u16string OutputDisplayText(std::u16string_view output_path, std::u16string_view output_kind);

/// Bytes a run needs on disk: the temporary files of the source kind plus the output.
struct TSpaceNeed {
    std::int64_t TempBytes = 0;   // under tools/temp
    std::int64_t OutputBytes = 0; // the output image
};
/// `source_size` counts the image's content (the image, a card image's partition 0 only, a
/// compressed file's image); a mod folder run needs room for about `pack_dat_size` twice under
/// tools/temp and once in the output. An `encrypted` source is decrypted into tools/temp first.
TSpaceNeed EstimateSpaceNeed(std::string_view source_kind, std::string_view output_kind,
                             std::int64_t source_size, std::int64_t pack_dat_size = 0,
                             bool encrypted = false);

} // namespace engine
