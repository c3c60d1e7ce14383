#include "desktop/MakePatch.h"

#include "ctr/Decrypt.h"
#include "ctr/FileIo.h"
#include "desktop/Decryption.h"
#include "desktop/FileTools.h"
#include "desktop/FitCheck.h"
#include "desktop/Identify.h"
#include "desktop/InstallHost.h"
#include "desktop/InstallRun.h"
#include "desktop/InstallWorker.h"
#include "desktop/Language.h"
#include "desktop/ModFolder.h"
#include "engine/PatchMaker.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <map>
#include <memory>

namespace {

// A refusal: the reason travels to MakePatch, and the scratch folders go with the stack.
struct TRefused {
    QString Reason;
};

[[noreturn]] void Refuse(const QString& reason) {
    throw TRefused{reason};
}

QStringList ToStringList(const std::vector<std::string>& texts) {
    QStringList list;
    for (const std::string& text : texts)
        list.append(QString::fromStdString(text));
    return list;
}

// The self-check's install host: no window; the log is kept for a failure's reason.
class TCheckHost : public TInstallHost {
public:
    void AppendLog(const QString& entry) override { Log.append(entry.trimmed()); }
    void SetProgress(int) override {}
    void SetProgressDoubleBuffered() override {}
    void DisableLanguageChoice() override {}
    void ShowErrorMessage(const QString& text) override { Log.append(text); }
    void RequestFinish(TInstallWorker*) override {}
    QStringList Log;
};

// A folder of the engine's maker, named as the self-check reads it.
class TMakerFolder {
public:
    explicit TMakerFolder(const std::filesystem::path& path) : m_path(FromPath(path)) {}
    QString path() const { return m_path; }
    QString filePath(const QString& name) const { return m_path + QLatin1Char('/') + name; }

private:
    QString m_path;
};

// The engine makes the folder; here the image is identified and opened as the installer
// opens it, xdelta3 encodes, and the folder is checked by installing it.
class TPatchMaker {
public:
    TPatchMaker(const TMakePatchInput& input, TMakePatchReport& report,
                const std::function<void(const QString&)>& stage)
        : m_in(input), m_report(report), m_stage(stage) {}

    void Run();

private:
    void Stage(const QString& text) {
        if (m_stage)
            m_stage(text);
    }
    void Identify();
    void Encode(const std::filesystem::path& work, const std::string& source,
                const std::string& changed, const std::string& output);
    // The engine's findings as the report and the self-check read them.
    void TakeMade();
    void CheckByInstalling();

    const TMakePatchInput& m_in;
    TMakePatchReport& m_report;
    const std::function<void(const QString&)>& m_stage;
    QString m_source;
    TIdentifyResult m_identity;
    // The source read as the image it holds: through its frames when compressed, through its
    // decryption when encrypted (declared first: the view reads through it).
    std::unique_ptr<ctr::TDecryptingReader> m_decrypting;
    std::unique_ptr<ctr::TInFile> m_image;
    engine::TMakeRequest m_request;
    engine::TMakeSource m_made_from;
    engine::TMadePatch m_made;
    std::unique_ptr<engine::TPatchMaker> m_maker; // before the image goes: its folders go
    std::unique_ptr<TMakerFolder> m_staging;
    std::unique_ptr<TMakerFolder> m_work;
    std::map<QString, QString> m_expected; // mod folder path to the changed file it must equal
};

void TPatchMaker::Run() {
    m_source = QFileInfo(m_in.SourcePath).absoluteFilePath();
    m_request.ChangedFolder = ToPath(m_in.ChangedFolder);
    m_request.OutputFolder = ToPath(m_in.OutputFolder);
    m_request.Title = m_in.Title.toStdU16String();
    m_request.Version = m_in.Version.toStdU16String();
    m_request.Region = m_in.Region.toStdU16String();
    m_request.DescriptionFile = ToPath(m_in.DescriptionFile);
    m_request.RussianDescriptionFile = ToPath(m_in.RussianDescriptionFile);
    m_request.VoicesFolder = ToPath(m_in.VoicesFolder);
    m_request.TrackListFile = ToPath(m_in.TrackListFile);
    m_request.RussianLocale = LocaleIsRussian();
    m_request.Texts = &m_in.Texts->Engine();
    engine::CheckMakeFolders(m_request);
    Identify();
    m_maker = std::make_unique<engine::TPatchMaker>(m_request, m_made_from, m_made);
    m_staging = std::make_unique<TMakerFolder>(m_maker->Folder());
    m_work = std::make_unique<TMakerFolder>(m_maker->WorkFolder());
    m_maker->MakeFolder([this](const std::string& text) { Stage(QString::fromStdString(text)); },
                        [this](const std::filesystem::path& work, const std::string& source,
                               const std::string& changed, const std::string& output) {
                            Encode(work, source, changed, output);
                        });
    TakeMade();

    Stage(QStringLiteral("Checking the patch: installing it into a scratch mod folder..."));
    CheckByInstalling();

    m_maker->Finish();
    m_report.ReleaseNote = QString::fromStdString(m_made.ReleaseNote);
}

void TPatchMaker::Identify() {
    m_identity = IdentifySourceImage(m_source, *m_in.Texts);
    if (!m_identity.Opened)
        Refuse(QStringLiteral("Cannot read the image %1").arg(m_source));
    if (!m_identity.Usable())
        Refuse(QStringLiteral("The installer would refuse this image: ") +
               (m_identity.ErrorKey.isEmpty() ? QStringLiteral("it cannot be used")
                                              : m_in.Texts->Lookup(m_identity.ErrorKey)));
    try {
        // Opened as the installer opens it, so an image it accepts is accepted here.
        TSourceView view =
            OpenSourceForReading(m_source, m_identity.Kind, KeySearchFor(m_in.ProgramFolder));
        m_decrypting = std::move(view.Decrypting);
        m_image = std::move(view.File);
    } catch (const std::exception& error) {
        Refuse(QStringLiteral("Cannot read the image: ") + QString::fromUtf8(error.what()));
    }
    m_made_from.Path = ToPath(m_source);
    m_made_from.Kind = *ctr::ImageKindFromText(m_identity.Kind.toStdString());
    m_made_from.Image = m_image.get();
    m_made_from.TitleId = m_identity.TitleId.toStdString();
    m_made_from.Region = m_identity.Region.toStdString();
    m_made_from.InfoPosition = m_identity.InfoPosition;
}

void TPatchMaker::Encode(const std::filesystem::path& work, const std::string& source,
                         const std::string& changed, const std::string& output) {
    std::uint32_t code = 0;
    try {
        code = RunTool(EncoderXdeltaPath(m_in.ProgramFolder),
                       XdeltaEncodeOptions() + QStringList{QStringLiteral("-s"),
                                                           QString::fromStdString(source),
                                                           QString::fromStdString(changed),
                                                           QString::fromStdString(output)},
                       FromPath(work));
    } catch (const TSystemError& error) {
        Refuse(QStringLiteral("Cannot start xdelta3: ") + QString::fromStdString(error.Reason()));
    }
    if (code != 0)
        Refuse(QStringLiteral("xdelta3 could not encode the difference of pack.dat (exit code "
                              "%1)")
                   .arg(code));
}

void TPatchMaker::TakeMade() {
    m_report.Warnings = ToStringList(m_made.Warnings);
    m_report.Replaced = ToStringList(m_made.Replaced);
    m_report.NewFiles = ToStringList(m_made.NewFiles);
    m_report.DifferenceBytes = m_made.DifferenceBytes;
    m_report.PackDatBytes = m_made.PackDatBytes;
    m_report.Description = FromEngineDescription(m_made.Description);
    m_report.Voices = m_made.Voices;
    m_report.TrackList = m_made.TrackList;
    for (const auto& [path, from] : m_made.Expected)
        m_expected[QString::fromStdString(path)] = FromPath(from);
}

void TPatchMaker::CheckByInstalling() {
    const QString mods = m_work->filePath(QStringLiteral("mods"));
    QDir().mkpath(mods);
    TCheckHost host;
    TInstallJob job;
    job.ProgramFolder = m_in.ProgramFolder;
    job.SourcePath = m_source;
    job.OutputPath = mods;
    job.OutputKind = QLatin1String(kModFolderKind);
    job.OriginalPackDatMD5 = m_report.Description.OriginalPackDatMD5;
    job.OriginalPackIncMD5 = m_report.Description.OriginalPackIncMD5;
    job.LanguageTable = m_in.Texts;
    job.PatchFolder = WithTrailingSeparator(m_staging->path());
    job.NoXdelta = m_report.DifferenceBytes < 0;
    job.NoPatch = false;
    const std::unique_ptr<TInstallWorker> worker = MakeInstallWorker(m_identity.Kind, job, &host);
    if (!worker)
        Refuse(QStringLiteral("Cannot read the image: its kind is not known"));
    worker->Execute(); // on this thread: the host answers without a window
    DeleteFolder(WithTrailingSeparator(m_in.ProgramFolder) + QStringLiteral("tools/temp"));
    if (!worker->Succeeded())
        Refuse(QStringLiteral("The made patch does not install:\n") +
               host.Log.mid(std::max<qsizetype>(0, host.Log.size() - 4)).join(QLatin1Char('\n')));

    // The installed mod folder must hold exactly the changed files, byte for byte.
    const QString installed = mods + QLatin1Char('/') + m_identity.TitleId;
    QStringList files = FilesBelow(installed);
    // The marker the run leaves beside romfs/ is the program's own, not the patch's.
    files.removeOne(QLatin1String(kModMarkerName));
    for (const QString& path : files) {
        const auto expected = m_expected.find(path);
        if (expected == m_expected.end())
            Refuse(QStringLiteral("The made patch installs %1, which the changed folder does "
                                  "not change")
                       .arg(path));
        if (!SameFiles(installed + QLatin1Char('/') + path, expected->second))
            Refuse(QStringLiteral("The made patch installs %1 with other bytes than %2")
                       .arg(path, expected->second));
    }
    for (const auto& [path, from] : m_expected) {
        if (!files.contains(path))
            Refuse(QStringLiteral("The made patch does not install %1 (from %2)").arg(path, from));
    }
}

} // namespace

QString EncoderXdeltaPath(const QString& program_folder) {
    const QString system = QStandardPaths::findExecutable(QStringLiteral("xdelta3"));
    return system.isEmpty() ? WithTrailingSeparator(program_folder) + QStringLiteral("tools/xdelta")
                            : system;
}

QStringList XdeltaEncodeOptions() {
    return {QStringLiteral("-e"), QStringLiteral("-S"), QStringLiteral("djw")};
}

TMakePatchReport MakePatch(const TMakePatchInput& input,
                           const std::function<void(const QString&)>& stage) {
    TMakePatchReport report;
    try {
        TPatchMaker(input, report, stage).Run();
    } catch (const TRefused& refused) {
        report.Problem = refused.Reason;
    } catch (const engine::TMakeRefusal& refused) {
        report.Problem = QString::fromUtf8(refused.what());
    } catch (const TSystemError& error) {
        report.Problem = QString::fromStdString(error.Reason());
    } catch (const ctr::TCtrError& error) {
        report.Problem =
            QStringLiteral("Cannot read the image: ") + QString::fromUtf8(error.what());
    }
    if (!report.Problem.isEmpty()) {
        const QString problem = report.Problem;
        report = TMakePatchReport();
        report.Problem = problem;
    }
    return report;
}
