#include "desktop/OutputForms.h"

#include "desktop/Language.h"

#include <string>

namespace {

// Output kinds are ASCII; a kind with any other character is in no form of the table.
std::string KindText(const QString& kind) {
    return kind.toStdString();
}

} // namespace

bool IsModFolderKind(const QString& output_kind) {
    return engine::IsModFolderKind(KindText(output_kind));
}

std::vector<const TOutputForm*> OutputFormsFor(const QString& source_kind) {
    return engine::OutputFormsFor(KindText(source_kind));
}

const TOutputForm* FindOutputFormByName(const QString& name) {
    return engine::FindOutputFormByName(KindText(name));
}

const TOutputForm* FindOutputForm(const QString& output_kind) {
    return engine::FindOutputForm(KindText(output_kind));
}

bool IsCartridgeKind(const QString& kind) {
    return engine::IsCartridgeKind(KindText(kind));
}

QString PlainOutputKind(const QString& output_kind) {
    const TOutputForm* form = FindOutputForm(output_kind);
    return form != nullptr ? QLatin1String(form->Plain) : output_kind;
}

bool IsCompressedOutputKind(const QString& output_kind) {
    return engine::IsCompressedOutputKind(KindText(output_kind));
}

QString OutputFormPattern(const TOutputForm& form) {
    return QString::fromStdString(engine::FilterPattern(form));
}

QString OutputFilterEntry(const TOutputForm& form, bool cartridge_source,
                          const TLanguageTable& texts) {
    return QString::fromStdString(engine::FilterEntry(form, cartridge_source, texts.Engine()));
}
