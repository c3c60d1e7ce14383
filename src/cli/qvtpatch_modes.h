#pragma once
// The commands of the qvtpatch command-line program, after the arguments were read.

#include "desktop/Identify.h"
#include "desktop/Language.h"
#include "desktop/Places.h"

#include <QString>

#include <memory>
#include <optional>

class TTrackList;
struct TMakePatchInput;

inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

/// What `install` (and the form without a command) was given.
struct TInstallOptions {
    QString Source;
    QString Output;
    QString Kind;  // an output kind's name from the kind table
    QString Patch; // a patch folder or a patch title; empty for "None"
    int Voice = 0;
    QString Music; // a file as `music` prints it; empty for the image's own music
    QString Language = QStringLiteral("English");
    bool Quiet = false;
    QStringList Emulators; // emulators whose portable user/ folder counts as a place
    bool Replace = false;  // a mod folder holding files the program did not write goes aside
};

/// Writes `message` to standard error and returns the usage exit status.
int Refuse(const QString& message);

/// Loads the language file `language` of the program folder; false after saying so on
/// standard error.
bool LoadTexts(const QString& language, TLanguageTable& texts);

/// Why an identified image cannot be used, for standard error.
QString UnusableReason(const TIdentifyResult& identity, const TLanguageTable& texts);

/// The program folder with one trailing separator.
QString ProgramFolder();

/// The names of the output kinds, in table order ("cia", "cxi", "3ds").
QStringList OutputKindNames();

/// The description file of the patch `patch` (a folder, or a title of the patch list of
/// `region` in `language`), or the reason it was not found in `problem`.
QString ResolvePatch(const QString& patch, const QString& language, const QString& region,
                     QString& problem);

/// A command-line installation. Returns the exit status.
int RunInstall(const TInstallOptions& options);

/// The track list and the image's music slots for `image`, with the patch folder's track list
/// when it has one; null with the key's text in `problem` when they cannot be read.
std::unique_ptr<TTrackList> ReadImageTracks(const QString& image, const QString& patch_folder,
                                            const TIdentifyResult& identity,
                                            const TLanguageTable& texts, QString& problem);

/// `music`: prints the assignment of `image`. Returns the exit status.
int ShowMusic(const QString& image, const QString& patch, const QString& language, bool json);

/// Sets the slots a music file names in `list` and marks it changed, as saving the music window
/// does; false, with the line and the reason in `problem` and `list` unchanged, for a bad file.
bool ReadMusicFile(const QString& path, TTrackList& list, QString& problem);

/// `places`: lists where a mod folder can go. Returns the exit status.
int ListPlaces(const QStringList& emulators, bool json);

/// The destination of a mod folder run: `output` is a folder, or "emulator" (the first
/// emulator found) or "sdcard" (the one SD card found), which it becomes the folder of. Returns
/// the place the folder belongs to, if any; when no place fits a word, `problem` says why.
std::optional<TPlace> ResolveModOutput(QString& output, const QStringList& emulators,
                                       const TLanguageTable& texts, QString& problem);

/// `remove-mods`: removes the game's mod folder the program wrote in `output` (a folder, or
/// "emulator" or "sdcard") and brings back the earlier one; `title_id` names the game when
/// the destination holds several. Returns the exit status.
int RemoveMods(QString output, const QString& title_id, const QStringList& emulators,
               const QString& language);

/// `add-patch`: adds the package `package` to the patch folders; `replace` lets it take the
/// place of a patch of the same title at the same or a newer version. Returns the exit status.
int RunAddPatch(const QString& package, const QString& language, bool replace);

/// `make-patch`: makes, checks and sums up a patch folder (the program folder and texts are
/// filled in here), and with `package` writes it as FOLDER.qvtpatch beside it. Returns the exit
/// status.
int RunMakePatch(TMakePatchInput input, bool package);
