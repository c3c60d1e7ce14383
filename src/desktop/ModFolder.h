#pragma once
// The mod folder for the desktop's callers: the engine's marker, foreign files and removal
// (engine/ModFolderMarker.h), with the window's and the command line's QString, and the texts
// a removal is told in.

#include "desktop/OutputForms.h" // the mod folder kind
#include "engine/ModFolderMarker.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class TLanguageTable;

using engine::kModMarkerName;

/// One file of a written mod folder as its marker names it.
struct TModMarkerFile {
    QString Path; // '/'-separated, relative to the folder
    qint64 Size = 0;
    QString MD5; // 32 upper-case hexadecimal digits
    bool operator==(const TModMarkerFile&) const = default;
};

/// What the marker of a mod folder holds.
struct TModMarker {
    QString TitleId;
    QString Patch;        // the patch's title; empty for "None"
    QString PatchVersion; // as its description gives it; may be empty
    QString ProgramVersion;
    std::vector<TModMarkerFile> Files;
    bool operator==(const TModMarker&) const = default;
};

/// The marker as a UTF-8 JSON object (engine::ModMarkerText).
QByteArray ModMarkerText(const TModMarker& marker);
/// The marker read back; nothing for a text that is not a marker of this program.
std::optional<TModMarker> ParseModMarker(const QByteArray& text);
/// The marker of `folder` as its file holds it; nothing when there is none or it is unreadable.
std::optional<TModMarker> ReadModMarker(const QString& folder);

/// engine::ForeignModFiles for a folder held as text.
QStringList ForeignModFiles(const QString& folder);

/// What removing a mod folder found or did (engine::TModRemoval); paths '/'-separated.
struct TModRemoval {
    using TOutcome = engine::TModRemoval::TOutcome;
    TOutcome Outcome = TOutcome::NotFound;
    QString Folder;   // the game's folder
    QString Previous; // the earlier folder that comes back (or came back); empty when none
    std::optional<TModMarker> Marker;
    QStringList Files;      // the files the program did not write
    QStringList Candidates; // folder names, for Several
    QString Problem;
};

/// engine::CheckModRemoval and engine::RemoveModFolder for folders held as text.
TModRemoval CheckModRemoval(const QString& output, const QString& title_id);
TModRemoval RemoveModFolder(const QString& output, const QString& title_id);

/// The log or console text for a removal's outcome (the question's text for Ready); a list of
/// files is cut after `file_limit` of them (0: never), for a message box.
QString ModRemovalText(const TModRemoval& removal, const TLanguageTable& texts, int file_limit = 0);

/// `files` in native form, one a line; after `limit` of them (0: no limit) a line saying how
/// many more there are.
QString FileListText(const QStringList& files, int limit, const TLanguageTable& texts);
