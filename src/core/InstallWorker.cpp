#include "core/InstallWorker.h"

#include "core/Decryption.h"
#include "core/FileTools.h"
#include "core/FitCheck.h"
#include "core/InstallHost.h"
#include "core/Language.h"
#include "core/ModFolder.h"
#include "core/OutputForms.h"
#include "core/PatchCatalogue.h"
#include "core/Startup.h"
#include "ctr/Decrypt.h"
#include "ctr/FileIo.h"
#include "ctr/Verify.h"
#include "ctr/Z3ds.h"
#include "ctr/Z3dsWrite.h"
#include "engine/ImageStages.h"
#include "engine/PackDatStage.h"
#include "engine/PatchStages.h"
#include "sound_archive/FileBasics.h"
#include "sound_archive/N3DSbcsar.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <thread>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// Sizes in the warning are written as the free space of the start-up log is.
QString GigaBytes(std::int64_t bytes) {
    return FormatGibibytes(bytes, QLocale::system().decimalPoint());
}

TInstallJob WithFolderSeparator(TInstallJob job) {
    job.ProgramFolder = WithTrailingSeparator(job.ProgramFolder);
    return job;
}

} // namespace

TInstallWorker::TInstallWorker(const TInstallJob& job, TInstallHost* host, TTools* tools,
                               QObject* parent)
    : QThread(parent), m_job(WithFolderSeparator(job)), m_host(host),
      m_run(m_job, *job.LanguageTable,
            TRunCallbacks{[this](const QString& entry) { m_host->AppendLog(entry); },
                          [this](int value) { m_host->SetProgress(value); },
                          [this](const QString& text) { m_host->ShowErrorMessage(text); },
                          [this] { m_host->RequestFinish(this); },
                          [this] { return isInterruptionRequested(); },
                          [this](const QString& folder, const QStringList& files) {
                              return m_host->ReplaceForeignModFiles(folder, files);
                          }},
            tools) {}

TInstallWorker::~TInstallWorker() {
    // The window joins the thread before releasing the worker; this only guards a worker
    // released some other way.
    KillRunningTool();
    requestInterruption();
    wait();
}

void TInstallWorker::run() {
    Execute();
}

QString TInstallWorker::OutputFile() const {
    if (IsModFolderKind(m_job.OutputKind))
        return m_job.OutputPath;
    return OutputBase(m_job.OutputPath, StripsThreeDsSuffix()) + m_job.OutputKind;
}

void TInstallWorker::Execute() {
    // Message boxes of the sound archive code appear on the window's thread, and the run
    // waits for their OK.
    m_run.SetOutputFile(OutputFile());
    SetBcsarMessageHandler([this](const std::string& text) { m_run.Engine().Message(text); });
    engine::RunStages(m_run.Engine(), [this] { RunPipeline(); });
    SetBcsarMessageHandler({});
}

void TInstallWorker::RunPipeline() {
    // Start: the progress bar and the language box.
    m_host->SetProgressDoubleBuffered();
    ShowProgress(0);
    m_host->DisableLanguageChoice();

    const std::string source_kind = SourceKind().toStdString();
    engine::ClearTempFolder(m_run.Engine());
    CheckDiskSpace();
    engine::MakeTempFolder(m_run.Engine());
    // The rest of the run takes a decompressed copy apart as it would an uncompressed source.
    const std::filesystem::path decompressed =
        engine::DecompressSource(m_run.Engine(), source_kind);
    if (!decompressed.empty())
        m_run.ReplaceSource(FromPath(decompressed));
    DecryptSource();
    if (IsModFolderKind(m_job.OutputKind)) {
        RunModFolderPipeline(m_run, SourceKind(), std::move(m_decrypting));
    }
    // The image taken apart into exefs.bin and romfs.bin, then into the game's files.
    engine::TakeSourceApart(m_run.Engine(), source_kind, m_game_content_decrypted);
    engine::UnpackGame(m_run.Engine(), source_kind);

    if (!m_job.NoXdelta)
        engine::PatchPackDatInTemp(m_run.Engine()); // digests, then the difference for pack.dat
    if (!m_job.NoPatch)
        engine::CopyReplacementFolders(m_run.Engine()); // the patch's exefs and romfs files
    engine::ApplySoundArchive(m_run.Engine());          // voices and music
    Progress(80);
    FinishImage();
}

void TInstallWorker::DecryptSource() {
    bool encrypted = false;
    try {
        encrypted = ctr::ImageIsEncrypted(std::filesystem::path(m_job.SourcePath.toStdU16String()),
                                          LibraryImageKind(SourceKind()));
    } catch (const std::exception&) {
        return; // a damaged image: the stages that take it apart say what is wrong
    }
    if (!encrypted)
        return;
    m_host->AppendLog(Text("DecryptingSource"));
    TKeySearch search = KeySearch();
    if (search.ProgramFolder.isEmpty())
        search.ProgramFolder = m_job.ProgramFolder;
    if (IsModFolderKind(m_job.OutputKind)) {
        // A mod folder takes only a few files out of the image: they are decrypted block by
        // block as they are read, and no decrypted copy of the image is written.
        try {
            m_decrypting = OpenDecryptingSource(m_job.SourcePath, SourceKind(), search);
        } catch (const std::exception& error) {
            Checkpoint();
            LogSeparated(Text("ErrorDecryptingSource") + kCrLf +
                         QString::fromStdString(error.what()));
            EndRun();
        }
        m_host->AppendLog(Text("Done"));
        return;
    }
    // Only what the source stages would take out of the image is written decrypted, where
    // they would put it: a CIA's game content, a card image's header area and partition 0.
    // The image itself is not written again.
    const QString temp = m_job.ProgramFolder + QStringLiteral("tools/temp/");
    const TToolRun::TReport report = StageReport(5);
    const auto progress = [&](double fraction) {
        report(fraction);
        return !isInterruptionRequested();
    };
    const QString kind = SourceKind();
    const bool parts = kind == QLatin1String(".cia") || kind == QLatin1String(".3ds");
    const QString output = temp + QStringLiteral("source") + kind;
    try {
        if (kind == QLatin1String(".cia"))
            DecryptSourceGameContent(m_job.SourcePath, temp + QStringLiteral("c.0000.00000000"),
                                     search, progress);
        else if (kind == QLatin1String(".3ds"))
            DecryptSourceCardParts(m_job.SourcePath,
                                   temp + QStringLiteral("headers/mainncchheader.bin"),
                                   temp + QStringLiteral("Partition0.bin"), search, progress);
        else
            DecryptSourceImage(m_job.SourcePath, kind, output, search, progress);
    } catch (const std::exception& error) {
        Checkpoint(); // a cancel ends the run here, like at any other checkpoint
        LogSeparated(Text("ErrorDecryptingSource") + kCrLf + QString::fromStdString(error.what()));
        EndRun();
    }
    m_host->AppendLog(Text("Done"));
    if (parts) {
        m_game_content_decrypted = true;
        return;
    }
    // The rest of the run takes the decrypted copy apart, as it would a decrypted source.
    m_run.ReplaceSource(output);
}

void TInstallWorker::CheckDiskSpace() {
    bool encrypted = false;
    try {
        encrypted = ctr::ImageIsEncrypted(ToPath(m_job.SourcePath), LibraryImageKind(SourceKind()));
    } catch (const std::exception&) {
    }
    TSpaceNeed need = EstimateSpaceNeed(SourceKind(), m_job.OutputKind,
                                        SourceContentSize(m_job.SourcePath, SourceKind()),
                                        PackDatSize(m_job.SourcePath, SourceKind()), encrypted);
    // A compressed source is first written out whole beside the rest, unless it is encrypted:
    // that is decrypted straight from its frames. A mod folder reads a compressed or encrypted
    // image's pack.dat in place: only the new one is written, on the destination's volume or
    // straight into it.
    const bool compressed = ctr::IsZ3dsFile(ToPath(m_job.SourcePath));
    if (IsModFolderKind(m_job.OutputKind) && (compressed || encrypted))
        need.TempBytes = 0;
    else if (!IsModFolderKind(m_job.OutputKind) && !encrypted && compressed)
        need.TempBytes += SourceImageSize(m_job.SourcePath);
    const QString temp_place = m_job.ProgramFolder + QStringLiteral("tools/temp");
    const QString output_place = QFileInfo(OutputFile()).absolutePath();
    std::int64_t needed = 0;
    std::int64_t free = 0;
    bool short_of_space = false;
    if (FileSystemRootOf(temp_place) == FileSystemRootOf(output_place)) {
        needed = need.TempBytes + need.OutputBytes;
        free = FreeBytesAt(temp_place);
        short_of_space = free >= 0 && free < needed;
    } else {
        const std::int64_t temp_free = FreeBytesAt(temp_place);
        const std::int64_t output_free = FreeBytesAt(output_place);
        if (temp_free >= 0 && temp_free < need.TempBytes) {
            short_of_space = true;
            needed = need.TempBytes;
            free = temp_free;
        } else if (output_free >= 0 && output_free < need.OutputBytes) {
            short_of_space = true;
            needed = need.OutputBytes;
            free = output_free;
        }
    }
    if (short_of_space) {
        // A warning only: the estimate is rough, and the tools report a full disk themselves.
        m_host->AppendLog(kCrLf + Text("WarningDiskSpace") + kCrLf + GigaBytes(needed) +
                          QStringLiteral(" GB / ") + GigaBytes(free) + QStringLiteral(" GB") +
                          kCrLf);
    }
}

void TInstallWorker::FinishImage() {
    engine::RebuildImage(m_run.Engine()); // ExeFS, RomFS, CXI, then the CIA or 3DS image
    VerifyOutput();
    ShowProgress(100);
    m_host->AppendLog(kCrLf + Text("PatchingSuccessful") + kCrLf + QLatin1Char('[') +
                      QDir::toNativeSeparators(OutputFile()) + QLatin1Char(']'));
    m_run.Succeed();
    EndRun();
}

void TInstallWorker::VerifyOutput() {
    // The tools may exit 0 (or with an unknown code) and still leave a broken image: read it
    // back before calling the run a success. The output file stays in either case.
    m_host->AppendLog(Text("VerifyingOutput"));
    const QString problem = CheckOutputImage(OutputFile(), m_job.OutputKind, *m_job.LanguageTable,
                                             &m_run.KillTool, StageReport(100));
    if (!problem.isEmpty()) {
        LogSeparated(Text("ErrorVerifyingOutput") + kCrLf + problem);
        EndRun();
    }
    m_host->AppendLog(Text("Done"));
}
