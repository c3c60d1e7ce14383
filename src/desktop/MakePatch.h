#pragma once
// Making a patch folder for translation groups: from the game's image and the changed files in
// the mod folder layout a group already tests with, the folder users install.

#include "desktop/PatchCatalogue.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

class TLanguageTable;

/// What a patch is made from.
struct TMakePatchInput {
    QString ProgramFolder; // its tools/xdelta and tools/temp serve the self-check's install
    QString SourcePath;    // the decrypted game image
    QString ChangedFolder; // mod folder layout: romfs/..., code.bin, exefs/banner.bnr, icon.bin
    QString OutputFolder;  // the patch folder to create; must not exist
    QString Title;
    QString Version;                       // the patch's version; empty: none written
    QString Region;                        // "EUR", "USA" or "JAP"; empty: the image's
    QString DescriptionFile;               // text file for English.dsc; empty: no description
    QString RussianDescriptionFile;        // empty: no Русский.dsc
    QString VoicesFolder;                  // holds ENG, JAP MOD and JAP ORIG; empty: no voices
    QString TrackListFile;                 // empty: no Tracklist.tls
    const TLanguageTable* Texts = nullptr; // the installer's texts for the self-check's run
};

/// What MakePatch made, or why it made nothing.
struct TMakePatchReport {
    QString Problem; // empty when the folder was made; else nothing was left behind
    QStringList Warnings;
    QStringList Replaced; // files of the patch folder taking the place of the game's, in order
    QStringList NewFiles; // RomFS paths the game lacks (also in Replaced)
    std::int64_t DifferenceBytes = -1; // patch.xdelta's size; -1 when pack.dat is unchanged
    std::int64_t PackDatBytes = 0;     // the game's pack.dat
    TPatchDescription Description;     // as English.dsc holds it
    bool Voices = false;
    bool TrackList = false;
    /// One line for a release note: title, region, digests and what the patch holds.
    QString ReleaseNote;
};

/// Makes the patch folder: each file under romfs/ whose bytes differ from the image's file of
/// that path (letter case ignored, the game's case written) or that the game lacks; pack.dat
/// as patch.xdelta; code.bin, banner and icon when they differ; the description files with the
/// image's digests; the voices and track list, checked. The folder is written beside the
/// output under another name, installed through the mod folder pipeline into a scratch folder,
/// compared with the changed files, and only then given its name. `stage` hears a line at the
/// start of each step.
TMakePatchReport MakePatch(const TMakePatchInput& input,
                           const std::function<void(const QString&)>& stage = {});

/// The xdelta3 that encodes: the system's, else the program folder's tools/xdelta.
QString EncoderXdeltaPath(const QString& program_folder);

/// The encoder's options before "-s": secondary compression every xdelta3 3.0 build decodes.
QStringList XdeltaEncodeOptions();
