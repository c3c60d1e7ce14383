#pragma once
// Identification of a source image: container kind, decryption, product code, region and the
// position of the sound archive's INFO partition.

#include "core/Language.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

/// What identifying a source image found. Fields are set only as far as identification got:
/// `Kind` once the container test passed, `InfoPosition` once the product code was read,
/// `Region` once the region was recognised.
struct TIdentifyResult {
    bool Opened = false;    // the file could be opened (it is a readable file)
    QString Kind;           // ".cia", ".3ds" or ".cxi"; empty before the container test
    bool Encrypted = false; // the two program IDs differ in the file
    bool KeysFound = false; // encrypted, and the keys found open it: a run decrypts it first
    bool NeedsKeys = false; // encrypted for real, and no key file found opens it
    QByteArray ProductCode; // 10 bytes of 8-bit text
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
/// ".cia"); empty when the extension is none of the three.
QString SourceKindOfPath(const QString& path);

/// Identifies the image at `path`, reading each field by seeking to it; a field beyond the
/// end of the file reads as zero. Log entries take their texts from `texts`. An encrypted
/// image is read through the keys KeySearch() finds, decrypting only the blocks read.
TIdentifyResult IdentifySourceImage(const QString& path, const TLanguageTable& texts);

/// The fixed filter of the source image's open dialog.
QString SourceImageFilter();
