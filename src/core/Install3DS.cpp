#include "core/Install3DS.h"

#include "core/InstallHost.h"

// 3dstool saves the card image's header (read again for a 3DS output) and its partition 0,
// the game's CXI.
void TInstall3DS::RunSourceStages() {
    if (m_game_content_decrypted) {
        // The decryption of an encrypted source wrote the header and partition 0 already.
        m_host->AppendLog(Text("ExtractingNCCH"));
        m_host->AppendLog(Text("Done"));
    } else {
        ToolStage("ExtractingNCCH", 5, TTool::Tool3ds,
                  {QStringLiteral("-xtf"), QStringLiteral("3ds"), m_job.SourcePath,
                   QStringLiteral("--header"),
                   QStringLiteral("tools/temp/headers/mainncchheader.bin"), QStringLiteral("-0"),
                   QStringLiteral("tools/temp/Partition0.bin")},
                  "ErrorExtractingNCCH");
    }
    Progress(5);
    ToolStage("ExtractingExeFS", 10, TTool::Tool3ds,
              {QStringLiteral("-xtf"), QStringLiteral("cxi"),
               QStringLiteral("tools/temp/Partition0.bin"), QStringLiteral("--exefs"),
               QStringLiteral("tools/temp/exefs.bin")},
              "ErrorExtractingExeFs");
    Progress(10);
    ToolStage("ExtractingRomFS", 20, TTool::Tool3ds,
              {QStringLiteral("-xtf"), QStringLiteral("cxi"),
               QStringLiteral("tools/temp/Partition0.bin"), QStringLiteral("--romfs"),
               QStringLiteral("tools/temp/romfs.bin")},
              "ErrorExtractingRomFS");
    Progress(20);
}

QString TInstall3DS::SourceCxiArgument() const {
    return QStringLiteral("tools/temp/Partition0.bin");
}

QString TInstall3DS::SourceCxiIntermediate() const {
    return QStringLiteral("tools/temp/Partition0.bin");
}
