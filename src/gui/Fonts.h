#pragma once
// The fonts the windows are drawn in.

#include <QFont>
#include <QFontDatabase>

/// The system's font of the given kind, unless the system hands out a mathematical or symbol
/// face for it: Wine without the Windows fonts maps the dialog font to the first face it has
/// (DejaVu Math TeX Gyre on Debian), in which line edits and editable boxes draw no text at
/// all. Such a face is replaced by the first common sans-serif (or monospace) face installed.
QFont UsableSystemFont(QFontDatabase::SystemFont kind);
