#include "core/InstallCXI.h"

// The CXI source is read in place and never changed; there is no NCCH stage.
void TInstallCXI::RunSourceStages() {
    ToolStage(
        "ExtractingExeFS", 10, TTool::Ctrtool,
        {QStringLiteral("-p"), QStringLiteral("--exefs=tools/temp/exefs.bin"), m_job.SourcePath},
        "ErrorExtractingExeFs");
    Progress(10);
    ToolStage(
        "ExtractingRomFS", 20, TTool::Ctrtool,
        {QStringLiteral("-p"), QStringLiteral("--romfs=tools/temp/romfs.bin"), m_job.SourcePath},
        "ErrorExtractingRomFS");
    Progress(20);
}

QString TInstallCXI::SourceCxiArgument() const {
    return m_job.SourcePath;
}

QString TInstallCXI::SourceCxiIntermediate() const {
    return QString();
}
