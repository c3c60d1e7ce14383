#pragma once
// Identification of a source image for the desktop: engine/Identify.h does the work; here the
// key search, QString and the log entries in the language's texts.

#include "desktop/Language.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

/// What identifying a source image found. Fields are set only as far as identification got:
/// `Kind` once the container test passed, `InfoPosition` once the product code was read,
/// `Region` once the region was recognised.
struct TIdentifyResult {
    bool Opened = false;     // the file could be opened (it is a readable file)
    QString Kind;            // ".cia", ".3ds" or ".cxi"; empty before the container test
    bool Compressed = false; // the emulator's compressed form of that kind (read frame by frame)
    bool Encrypted = false;  // the two program IDs differ in the file
    bool KeysFound = false;  // encrypted, and the keys found open it: a run decrypts it first
    bool NeedsKeys = false;  // encrypted for real, and no key file found opens it
    QByteArray ProductCode;  // 10 bytes of 8-bit text
    QString TitleId; // the NCCH program ID as 16 upper-case hexadecimal digits; empty before it was
                     // read
    bool HasInfoPosition = false; // InfoPosition was computed
    std::int64_t InfoPosition = 0;
    QString Region;             // "JAP", "USA" or "EUR"; empty when not recognised
    QStringList LogEntries;     // log entries, in order, each one text of the log
    QString ErrorKey;           // language key of the error dialog; empty when none
    std::int64_t BytesRead = 0; // bytes read from the image, all fields together

    /// True when the image unlocks the output step.
    bool Usable() const {
        return ErrorKey.isEmpty() && (!Encrypted || KeysFound) && !Region.isEmpty();
    }
};

/// The source kind for a path by its extension, letter case ignored (".CIA" counts as
/// ".cia", ".cci" as ".3ds", ".zcia" as ".cia"); empty when the extension names no image.
/// `compressed` (when given) tells whether the extension is one of the compressed forms.
QString SourceKindOfPath(const QString& path, bool* compressed = nullptr);

/// What a file is by its content: the container kind (".cia", ".3ds", ".cxi"; empty when it is
/// none), whether it is the emulator's compressed form, and why it could not be read.
struct TSourceForm {
    bool Opened = false;
    QString Kind;
    bool Compressed = false;
    QString Problem; // English; set when a compressed file is damaged
};
TSourceForm SourceFormOfFile(const QString& path);

/// Words for a kind in log entries: "CIA", "3DS/CCI" or "CXI", with ", compressed".
QString SourceFormName(const QString& kind, bool compressed);

/// Identifies the image at `path` by its content, reading each field by seeking to it; a field
/// beyond the end of the file reads as zero. Log entries take their texts from `texts`. A
/// compressed image is read through its frames; an encrypted image through the keys
/// KeySearch() finds, decrypting only the blocks read.
TIdentifyResult IdentifySourceImage(const QString& path, const TLanguageTable& texts);

/// The fixed filter of the source image's open dialog.
QString SourceImageFilter();
