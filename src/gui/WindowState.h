#pragma once
// The main window's state for the whole run of the program.

#include "desktop/Language.h"
#include "desktop/TrackList.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

struct TWindowState {
    QString ProgramFolder;         // folder of the program file, with a trailing separator
    QString SourcePath;            // chosen source image
    QString SourceKind;            // ".cia", ".3ds" or ".cxi"
    QString SourceRegion;          // "JAP", "USA" or "EUR"
    QString SourceTitleId;         // 16 hexadecimal digits; empty when unknown
    std::int64_t InfoPosition = 0; // absolute position of the sound archive's INFO partition
    QString OutputPath;            // as the save dialog returned it
    QString OutputKind;            // ".cia", ".cxi" or ".3ds"
    QString SaveFilter;            // filter of the last save dialog
    QString OriginalPackDatMD5;    // expected digests from the chosen patch
    QString OriginalPackIncMD5;
    bool NoVoiceChoice = false;
    bool NoXdelta = false;
    bool NoPatch = false;
    QStringList PatchList; // description file of each patch entry; entry 0 empty
    TLanguageTable LanguageTable;
    QStringList LanguageList;
    std::unique_ptr<TTrackList> TrackList;
};
