#include "core/InstallCIA.h"

// ctrtool writes each content of the CIA as tools/temp/c.<index>.<id>; content 0 is the
// game's CXI.
void TInstallCIA::RunSourceStages() {
    ToolStage("ExtractingNCCH", 5, TTool::Ctrtool,
              {QStringLiteral("--contents=tools/temp/c"), m_job.SourcePath}, "ErrorExtractingNCCH");
    Progress(5);
    ToolStage("ExtractingExeFS", 10, TTool::Ctrtool,
              {QStringLiteral("-p"), QStringLiteral("--exefs=tools/temp/exefs.bin"),
               QStringLiteral("tools/temp/c.0000.00000000")},
              "ErrorExtractingExeFs");
    Progress(10);
    ToolStage("ExtractingRomFS", 20, TTool::Ctrtool,
              {QStringLiteral("-p"), QStringLiteral("--romfs=tools/temp/romfs.bin"),
               QStringLiteral("tools/temp/c.0000.00000000")},
              "ErrorExtractingRomFS");
    Progress(20);
}

QString TInstallCIA::SourceCxiArgument() const {
    return QStringLiteral("tools/temp/c.0000.00000000");
}

QString TInstallCIA::SourceCxiIntermediate() const {
    return QStringLiteral("tools/temp/c.0000.00000000");
}
