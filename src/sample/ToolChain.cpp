#include "sample/ToolChain.h"

#include "ctr/Platform.h"
#include "sample/SampleImage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <filesystem>
#include <functional>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace sample {

namespace {

#if defined(_WIN32)
/// User and system time used so far by this process. Windows keeps no total for finished
/// child processes, so the tools' own time is not in it there.
double CpuSeconds() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    const auto ticks = [](const FILETIME& time) {
        return static_cast<double>(static_cast<std::uint64_t>(time.dwHighDateTime) << 32 |
                                   time.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 1e7; // 100-nanosecond units
}
#else
/// User and system time used so far by this process and its waited-for children; on a
/// shared machine it varies far less than the wall-clock time.
double CpuSeconds() {
    double seconds = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        seconds += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return seconds;
}
#endif

/// Copies the folder `source` itself, with everything below it, into `destination`,
/// overwriting what is there.
bool CopyInto(const QString& source, const QString& destination) {
    const std::filesystem::path from = ctr::PathFromUtf8(QDir::cleanPath(source).toStdString());
    std::error_code ec;
    return ctr::CopyTreeReplacing(
        from, ctr::PathFromUtf8(destination.toStdString()) / from.filename(), ec);
}

class TChainRunner {
public:
    TChainRunner(const TChainJob& job, std::vector<TStageTime>* times)
        : m_job(job), m_folder(QDir(job.ProgramFolder).absolutePath()), m_times(times) {}

    void Stage(const QString& name, const std::function<void()>& body) {
        const double cpu_before = CpuSeconds();
        QElapsedTimer timer;
        timer.start();
        try {
            body();
        } catch (const TSampleError& error) {
            throw TSampleError(QStringLiteral("%1: %2").arg(name, QString::fromUtf8(error.what())));
        }
        if (m_times)
            m_times->push_back(
                {name, static_cast<double>(timer.nsecsElapsed()) / 1e9, CpuSeconds() - cpu_before});
    }
    void Tool(const QString& name, const QString& tool, const QStringList& arguments) {
        Stage(name, [&] {
            RunOrThrow(m_folder + QStringLiteral("/tools/") + tool, arguments, m_folder);
        });
    }
    QString Path(const QString& relative) const { return m_folder + QLatin1Char('/') + relative; }
    void Delete(const QString& relative) {
        if (!QFile::remove(Path(relative)))
            throw TSampleError(QStringLiteral("Cannot delete %1").arg(relative));
    }
    void CheckDigest(const QString& relative, const QString& expected) {
        if (expected.isEmpty())
            return;
        const QString digest = FileMd5Hex(Path(relative));
        if (digest != expected)
            throw TSampleError(
                QStringLiteral("%1 has MD5 %2, expected %3").arg(relative, digest, expected));
    }
    QString Run();

private:
    const TChainJob& m_job;
    QString m_folder;
    std::vector<TStageTime>* m_times;
};

QString TChainRunner::Run() {
    const QString kind = QFileInfo(m_job.SourcePath).suffix().prepend(QLatin1Char('.'));
    const QString source = QFileInfo(m_job.SourcePath).absoluteFilePath();
    if (m_job.OutputKind == QLatin1String(".3ds") && kind != QLatin1String(".3ds"))
        throw TSampleError(QStringLiteral("A 3DS output needs a 3DS source"));
    const QString temp = Path(QStringLiteral("tools/temp"));
    std::error_code error;
    std::filesystem::remove_all(ctr::PathFromUtf8(temp.toStdString()), error);
    if (!QDir().mkpath(temp + QStringLiteral("/headers")))
        throw TSampleError(QStringLiteral("Cannot create %1/headers").arg(temp));

    // Source stages: ExeFS and RomFS images and the CXI the headers come from.
    QString cxi;
    QString cxi_intermediate;
    if (kind == QLatin1String(".cia")) {
        cxi = cxi_intermediate = QStringLiteral("tools/temp/c.0000.00000000");
        Tool(QStringLiteral("ExtractingNCCH"), QStringLiteral("ctrtool"),
             {QStringLiteral("--contents=tools/temp/c"), source});
        Tool(QStringLiteral("ExtractingExeFS"), QStringLiteral("ctrtool"),
             {QStringLiteral("-p"), QStringLiteral("--exefs=tools/temp/exefs.bin"), cxi});
        Tool(QStringLiteral("ExtractingRomFS"), QStringLiteral("ctrtool"),
             {QStringLiteral("-p"), QStringLiteral("--romfs=tools/temp/romfs.bin"), cxi});
    } else if (kind == QLatin1String(".3ds")) {
        cxi = cxi_intermediate = QStringLiteral("tools/temp/Partition0.bin");
        Tool(QStringLiteral("ExtractingNCCH"), QStringLiteral("3dstool"),
             {QStringLiteral("-xtf"), QStringLiteral("3ds"), source, QStringLiteral("--header"),
              QStringLiteral("tools/temp/headers/mainncchheader.bin"), QStringLiteral("-0"), cxi});
        Tool(QStringLiteral("ExtractingExeFS"), QStringLiteral("3dstool"),
             {QStringLiteral("-xtf"), QStringLiteral("cxi"), cxi, QStringLiteral("--exefs"),
              QStringLiteral("tools/temp/exefs.bin")});
        Tool(QStringLiteral("ExtractingRomFS"), QStringLiteral("3dstool"),
             {QStringLiteral("-xtf"), QStringLiteral("cxi"), cxi, QStringLiteral("--romfs"),
              QStringLiteral("tools/temp/romfs.bin")});
    } else if (kind == QLatin1String(".cxi")) {
        cxi = source;
        Tool(QStringLiteral("ExtractingExeFS"), QStringLiteral("ctrtool"),
             {QStringLiteral("-p"), QStringLiteral("--exefs=tools/temp/exefs.bin"), source});
        Tool(QStringLiteral("ExtractingRomFS"), QStringLiteral("ctrtool"),
             {QStringLiteral("-p"), QStringLiteral("--romfs=tools/temp/romfs.bin"), source});
    } else {
        throw TSampleError(QStringLiteral("Unknown source kind %1").arg(kind));
    }

    Tool(QStringLiteral("UnpackingRomFS"), QStringLiteral("3dstool"),
         {QStringLiteral("-xtf"), QStringLiteral("romfs"), QStringLiteral("tools/temp/romfs.bin"),
          QStringLiteral("--romfs-dir"), QStringLiteral("tools/temp/romfs")});
    Tool(QStringLiteral("ExtractingCXIHeaders"), QStringLiteral("3dstool"),
         {QStringLiteral("-xvtf"), QStringLiteral("cxi"), cxi, QStringLiteral("--header"),
          QStringLiteral("tools/temp/headers/ncchheader.bin"), QStringLiteral("--exh"),
          QStringLiteral("tools/temp/headers/exheader.bin"), QStringLiteral("--logo"),
          QStringLiteral("tools/temp/headers/logo.bin")});
    Tool(QStringLiteral("ExtractingExeFSHeaders"), QStringLiteral("3dstool"),
         {QStringLiteral("-xutf"), QStringLiteral("exefs"), QStringLiteral("tools/temp/exefs.bin"),
          QStringLiteral("--exefs-dir"), QStringLiteral("tools/temp/exefs"),
          QStringLiteral("--header"), QStringLiteral("tools/temp/headers/exefsheader.bin")});
    Stage(QStringLiteral("DeleteIntermediates"), [&] {
        if (!cxi_intermediate.isEmpty())
            Delete(cxi_intermediate);
        Delete(QStringLiteral("tools/temp/exefs.bin"));
        Delete(QStringLiteral("tools/temp/romfs.bin"));
    });

    const QString patch = m_job.PatchFolder.isEmpty()
                              ? QString()
                              : QDir(m_job.PatchFolder).absolutePath() + QLatin1Char('/');
    if (!patch.isEmpty() && QFileInfo(patch + QStringLiteral("patch.xdelta")).isFile()) {
        Stage(QStringLiteral("CheckingMD5"), [&] {
            CheckDigest(QStringLiteral("tools/temp/romfs/pack.dat"), m_job.PackDatMD5);
            CheckDigest(QStringLiteral("tools/temp/romfs/pack.inc"), m_job.PackIncMD5);
            if (!QFile::rename(Path(QStringLiteral("tools/temp/romfs/pack.dat")),
                               Path(QStringLiteral("tools/temp/old_pack.dat"))))
                throw TSampleError(QStringLiteral("Cannot move pack.dat"));
        });
        Tool(QStringLiteral("ApplyingXdelta"), QStringLiteral("xdelta"),
             {QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("tools/temp/old_pack.dat"),
              patch + QStringLiteral("patch.xdelta"), QStringLiteral("tools/temp/romfs/pack.dat")});
        Stage(QStringLiteral("DeleteOldPackDat"),
              [&] { Delete(QStringLiteral("tools/temp/old_pack.dat")); });
    }
    if (!patch.isEmpty()) {
        Stage(QStringLiteral("CopyingReplacementFiles"), [&] {
            for (const QString& name : {QStringLiteral("exefs"), QStringLiteral("romfs")})
                if (QFileInfo(patch + name).isDir() && !CopyInto(patch + name, temp))
                    throw TSampleError(
                        QStringLiteral("Cannot copy the patch's %1 folder").arg(name));
        });
    }

    Tool(QStringLiteral("RebuildingExeFS"), QStringLiteral("3dstool"),
         {QStringLiteral("-cztf"), QStringLiteral("exefs"), QStringLiteral("tools/temp/exefs.bin"),
          QStringLiteral("--exefs-dir"), QStringLiteral("tools/temp/exefs"),
          QStringLiteral("--header"), QStringLiteral("tools/temp/headers/exefsheader.bin")});
    Tool(QStringLiteral("RebuildingRomFS"), QStringLiteral("3dstool"),
         {QStringLiteral("-ctf"), QStringLiteral("romfs"), QStringLiteral("tools/temp/romfs.bin"),
          QStringLiteral("--romfs-dir"), QStringLiteral("tools/temp/romfs")});
    const QString output = QFileInfo(m_job.OutputBase).absoluteFilePath() + m_job.OutputKind;
    const QString built_cxi = m_job.OutputKind == QLatin1String(".cxi")
                                  ? output
                                  : QStringLiteral("tools/temp/Partition0.cxi");
    Tool(QStringLiteral("RebuildingCXI"), QStringLiteral("3dstool"),
         {QStringLiteral("-cvtf"), QStringLiteral("cxi"), built_cxi, QStringLiteral("--header"),
          QStringLiteral("tools/temp/headers/ncchheader.bin"), QStringLiteral("--exh"),
          QStringLiteral("tools/temp/headers/exheader.bin"), QStringLiteral("--exefs"),
          QStringLiteral("tools/temp/exefs.bin"), QStringLiteral("--romfs"),
          QStringLiteral("tools/temp/romfs.bin"), QStringLiteral("--logo"),
          QStringLiteral("tools/temp/headers/logo.bin")});
    if (m_job.OutputKind == QLatin1String(".cia")) {
        Tool(QStringLiteral("RebuildingCIA"), QStringLiteral("makerom"),
             {QStringLiteral("-f"), QStringLiteral("Cia"), QStringLiteral("-content"),
              QStringLiteral("tools/temp/Partition0.cxi:0:0x00"), QStringLiteral("-o"), output});
    } else if (m_job.OutputKind == QLatin1String(".3ds")) {
        Tool(QStringLiteral("Rebuilding3DS"), QStringLiteral("3dstool"),
             {QStringLiteral("-ctf"), QStringLiteral("3ds"), output, QStringLiteral("--header"),
              QStringLiteral("tools/temp/headers/mainncchheader.bin"), QStringLiteral("-0"),
              QStringLiteral("tools/temp/Partition0.cxi")});
    }
    if (!m_job.KeepTemp)
        std::filesystem::remove_all(ctr::PathFromUtf8(temp.toStdString()), error);
    return output;
}

} // namespace

QString RunToolChain(const TChainJob& job, std::vector<TStageTime>* times) {
    return TChainRunner(job, times).Run();
}

} // namespace sample
