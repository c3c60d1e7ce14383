#pragma once
// The mod folder output: only the files a patch changes, laid out as the console firmware's
// game patching and the emulator's mods folder load them in place of the game's own.

#include <QString>

/// The output kind of a mod folder run (the image kinds are ".cia", ".cxi" and ".3ds").
inline constexpr char kModFolderKind[] = "mods";

/// True for the mod folder output kind.
bool IsModFolderKind(const QString& output_kind);

/// `parent`/`name` when nothing lies there yet, else `parent`/`name` 2, 3, ... with the first
/// free number (a space before the number).
QString UnusedFolderPath(const QString& parent, const QString& name);
