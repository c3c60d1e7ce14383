#pragma once
// The desktop's tools: the programs in the program folder's tools, behind the engine's tool
// interface (engine/Tools.h), and the interface's calls with the paths held as text.

#include "engine/Tools.h"

#include <QString>
#include <QStringList>

#include <memory>

using engine::TTool;
using engine::TTools;
using engine::TToolTask;

/// The tool's program in `program_folder` (with a trailing separator)'s tools.
QString ToolProgramPath(const QString& program_folder, TTool tool);

/// A tool's command line as the engine takes it: UTF-8 texts.
std::vector<std::string> ToolArguments(const QStringList& arguments);

/// The programs in the tools folder of `program_folder`, started with their command lines,
/// their windows hidden on Windows, killed on a stop.
std::unique_ptr<TTools> MakeDesktopTools(const QString& program_folder);
/// engine::MakeInProcessTools for a program folder held as text.
std::unique_ptr<TTools> MakeInProcessTools(const QString& program_folder);
