#include "core/InstallCIA.h"

#include "core/InstallHost.h"

// ctrtool writes each content of the CIA as tools/temp/c.<index>.<id>; content 0 is the
// game's CXI.
void TInstallCIA::RunSourceStages() {
    if (m_game_content_decrypted) {
        // The decryption of an encrypted source wrote content 0 already.
        m_host->AppendLog(Text("ExtractingNCCH"));
        m_host->AppendLog(Text("Done"));
    } else {
        ToolStage("ExtractingNCCH", 5, TTool::Ctrtool,
                  {QStringLiteral("--contents=tools/temp/c"), m_job.SourcePath},
                  "ErrorExtractingNCCH");
    }
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
