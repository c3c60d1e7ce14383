#pragma once
// The forms an output can take, over the engine's one table (engine/OutputForms.h): the save
// dialog's filter, qvtpatch's --kind, the output's file name, the space estimate and the worker
// all read it. Here the kinds as QString and the filter entries with the window's texts.

#include "engine/OutputForms.h"

#include <QString>

#include <vector>

class TLanguageTable;

using engine::kModFolderKind;
using engine::OutputForms;
using engine::TOutputForm;

/// True for the mod folder output kind.
bool IsModFolderKind(const QString& output_kind);

/// The forms a source of `source_kind` can give, in filter order.
std::vector<const TOutputForm*> OutputFormsFor(const QString& source_kind);
/// The form of qvtpatch's --kind word; null for none.
const TOutputForm* FindOutputFormByName(const QString& name);
/// The form of an output kind (".zcci", "mods", ...), compared exactly; null for none.
const TOutputForm* FindOutputForm(const QString& output_kind);

/// True for the kinds of a card image: ".3ds" and ".cci", plain or compressed.
bool IsCartridgeKind(const QString& kind);
/// The kind the tools build for an output kind (".zcci" gives ".3ds", ".cci" too); a kind
/// that is not in the table is returned as it is.
QString PlainOutputKind(const QString& output_kind);
/// True when the output kind is written compressed.
bool IsCompressedOutputKind(const QString& output_kind);

/// The file name pattern of a form's filter entry: "*" for a mod folder, else "*" + kind.
QString OutputFormPattern(const TOutputForm& form);
/// A form's filter entry without its final bar: description, "|", pattern.
QString OutputFilterEntry(const TOutputForm& form, bool cartridge_source,
                          const TLanguageTable& texts);
