#include "core/MakePatch.h"

#include "core/Decryption.h"
#include "core/FileTools.h"
#include "core/FitCheck.h"
#include "core/Identify.h"
#include "core/InstallHost.h"
#include "core/InstallRun.h"
#include "core/InstallWorker.h"
#include "core/Language.h"
#include "core/ModFolder.h"
#include "core/TrackList.h"
#include "ctr/Decrypt.h"
#include "ctr/FileIo.h"
#include "ctr/SourceImage.h"
#include "ctr/Verify.h"
#include "ctr/Z3ds.h"
#include "sound_archive/N3DSbcsar.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <optional>

namespace {

// The voice folders of a patch, in the order of the voice choice.
const char* const kVoiceFolders[] = {"ENG", "JAP MOD", "JAP ORIG"};
// The ExeFS files a mod folder carries: its name, the image's ExeFS entry, the patch's name.
struct TExeFsFile {
    const char* ModName;
    const char* Entry;
    const char* PatchName;
};
constexpr TExeFsFile kExeFsFiles[] = {{"exefs/banner.bnr", "banner", "exefs/banner.bnr"},
                                      {"exefs/icon.bin", "icon", "exefs/icon.icn"}};

// A refusal: the reason travels to MakePatch, and the scratch folders go with the stack.
struct TRefused {
    QString Reason;
};

[[noreturn]] void Refuse(const QString& reason) {
    throw TRefused{reason};
}

void CheckReadable(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        Refuse(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
}

void CopyInto(const QString& from, const QString& to) {
    QDir().mkpath(QFileInfo(to).absolutePath());
    if (!QFile::copy(from, to))
        Refuse(QStringLiteral("Cannot write %1").arg(to));
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        Refuse(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        Refuse(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    return bytes;
}

QByteArray FromVector(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// MD5 of `size` bytes of `image` at `offset`, copied on the way to `copy` when it is open.
QString RangeMD5Hex(ctr::TInFile& image, std::uint64_t offset, std::uint64_t size, QFile* copy) {
    ctr::TDigestRegion region{offset, size, {}};
    if (copy != nullptr)
        region.Copy = [copy](std::span<const std::uint8_t> bytes) {
            if (copy->write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) !=
                qint64(bytes.size()))
                Refuse(QStringLiteral("Cannot write %1: %2")
                           .arg(copy->fileName(), copy->errorString()));
        };
    try {
        return QString::fromStdString(ctr::TakeDigests(image, {region})[0]);
    } catch (const ctr::TCtrError& error) {
        Refuse(QString::fromUtf8(error.what()));
    }
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

// Removes the folders made for the output's parent unless the patch was made.
struct TMadeFolderGuard {
    QString First; // the outermost folder that did not exist
    bool Kept = false;
    ~TMadeFolderGuard() {
        if (!Kept && !First.isEmpty())
            QDir(First).removeRecursively();
    }
};

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
    void PrepareFolders();
    void CompareRomFs();
    void ComparePackDat(const QString& changed);
    void CompareExeFs();
    void CopyVoices();
    void CopyTrackList();
    void WriteDescriptions();
    void CheckByInstalling();
    void AddReplaced(const QString& patch_path, const QString& from, const QString& mod_path);

    const TMakePatchInput& m_in;
    TMakePatchReport& m_report;
    const std::function<void(const QString&)>& m_stage;
    QString m_source;
    QString m_changed; // the changed folder's mod root
    QString m_output;
    TIdentifyResult m_identity;
    std::optional<ctr::TImageKind> m_kind;
    // The source read as the image it holds: through its frames when compressed, through its
    // decryption when encrypted (declared first: the view reads through it).
    std::unique_ptr<ctr::TDecryptingReader> m_decrypting;
    std::unique_ptr<ctr::TInFile> m_image;
    std::vector<ctr::TImageRomFsFile> m_game_files;
    QHash<QString, qsizetype> m_game_index; // upper-case path to m_game_files
    TMadeFolderGuard m_made_parent;
    std::unique_ptr<QTemporaryDir> m_staging;
    std::unique_ptr<QTemporaryDir> m_work;
    std::map<QString, QString> m_expected; // mod folder path to the changed file it must equal
};

void TPatchMaker::Run() {
    m_source = QFileInfo(m_in.SourcePath).absoluteFilePath();
    m_output = QDir::cleanPath(QFileInfo(m_in.OutputFolder).absoluteFilePath());
    if (QFileInfo::exists(m_output) || QFileInfo(m_output).isSymLink())
        Refuse(QStringLiteral("%1 exists: a patch is made into a new folder, never over or into "
                              "an existing one")
                   .arg(m_output));
    if (!QFileInfo(m_in.ChangedFolder).isDir())
        Refuse(QStringLiteral("Cannot read the changed folder %1").arg(m_in.ChangedFolder));
    Identify();
    PrepareFolders();

    Stage(QStringLiteral("Comparing the changed files with the image..."));
    CompareRomFs();
    CompareExeFs();
    if (m_expected.empty())
        Refuse(QStringLiteral("Nothing to make a patch of: every file in %1 is the game's own")
                   .arg(m_changed));
    if (!m_in.VoicesFolder.isEmpty())
        CopyVoices();
    if (!m_in.TrackListFile.isEmpty())
        CopyTrackList();
    WriteDescriptions();

    Stage(QStringLiteral("Checking the patch: installing it into a scratch mod folder..."));
    CheckByInstalling();

    // The bytes compared and taken from a compressed image are right only once every frame
    // read in part has been checked to its end.
    try {
        m_image->ConfirmReads();
    } catch (const std::exception& error) {
        Refuse(QStringLiteral("Cannot read the image: ") + QString::fromUtf8(error.what()));
    }
    // Only a patch that passed its check gets its name.
    if (!QDir().rename(m_staging->path(), m_output))
        Refuse(QStringLiteral("Cannot create %1").arg(m_output));
    m_staging->setAutoRemove(false);
    m_made_parent.Kept = true;
    const QString size =
        m_report.DifferenceBytes < 0
            ? QStringLiteral("pack.dat unchanged")
            : QStringLiteral("patch.xdelta %1 bytes").arg(m_report.DifferenceBytes);
    m_report.ReleaseNote =
        QStringLiteral("%1 (%2): %3 file(s) replaced, %4; needs the untouched game (pack.dat "
                       "MD5 %5, pack.inc MD5 %6).")
            .arg(m_report.Description.Title, m_report.Description.Region)
            .arg(m_report.Replaced.size())
            .arg(size, m_report.Description.OriginalPackDatMD5,
                 m_report.Description.OriginalPackIncMD5);
}

void TPatchMaker::Identify() {
    m_identity = IdentifySourceImage(m_source, *m_in.Texts);
    if (!m_identity.Opened)
        Refuse(QStringLiteral("Cannot read the image %1").arg(m_source));
    if (!m_identity.Usable())
        Refuse(QStringLiteral("The installer would refuse this image: ") +
               (m_identity.ErrorKey.isEmpty() ? QStringLiteral("it cannot be used")
                                              : m_in.Texts->Lookup(m_identity.ErrorKey)));
    m_kind = ctr::ImageKindFromText(m_identity.Kind.toStdString());
    try {
        // Opened as the installer opens it, so an image it accepts is accepted here.
        TSourceView view =
            OpenSourceForReading(m_source, m_identity.Kind, KeySearchFor(m_in.ProgramFolder));
        m_decrypting = std::move(view.Decrypting);
        m_image = std::move(view.File);
        m_game_files = ctr::ListRomFsFiles(*m_image, *m_kind);
    } catch (const std::exception& error) {
        Refuse(QStringLiteral("Cannot read the image: ") + QString::fromUtf8(error.what()));
    }
    for (qsizetype i = 0; i < qsizetype(m_game_files.size()); ++i)
        m_game_index.insert(QString::fromStdString(m_game_files[std::size_t(i)].Path).toUpper(), i);
    for (const char* needed : {"PACK.DAT", "SOUND/QK123.BCSAR"}) {
        if (!m_game_index.contains(QLatin1String(needed)))
            Refuse(QStringLiteral("The installer would refuse this image: %1 is not in its RomFS")
                       .arg(QLatin1String(needed).toString().toLower()));
    }
    m_report.Description.Region = m_in.Region.isEmpty() ? m_identity.Region : m_in.Region;
    if (m_report.Description.Region != m_identity.Region)
        m_report.Warnings << QStringLiteral("The patch is for region %1, the image is %2: the "
                                            "installer offers it only for %1 images.")
                                 .arg(m_report.Description.Region, m_identity.Region);
    // A folder holding the game's mod folder (named by its title ID) is taken for that folder.
    m_changed = QFileInfo(m_in.ChangedFolder).absoluteFilePath();
    const QString titled = FindEntryNoCase(m_changed, m_identity.TitleId);
    if (!QFileInfo(FindEntryNoCase(m_changed, QStringLiteral("romfs"))).isDir() &&
        QFileInfo(titled).isDir())
        m_changed = titled;
}

void TPatchMaker::PrepareFolders() {
    const QString parent = QFileInfo(m_output).absolutePath();
    for (QString folder = parent; !QFileInfo::exists(folder);
         folder = QFileInfo(folder).absolutePath())
        m_made_parent.First = folder;
    if (!QDir().mkpath(parent))
        Refuse(QStringLiteral("Cannot create %1").arg(parent));
    // Beside the output: the final rename stays on one volume, and the big scratch files
    // (the game's pack.dat, the check's mod folder) go where the group has room for the patch.
    const QString name = QFileInfo(m_output).fileName();
    m_staging = std::make_unique<QTemporaryDir>(parent + QStringLiteral("/.") + name +
                                                QStringLiteral(".part-XXXXXX"));
    m_work = std::make_unique<QTemporaryDir>(parent + QStringLiteral("/.") + name +
                                             QStringLiteral(".work-XXXXXX"));
    if (!m_staging->isValid() || !m_work->isValid())
        Refuse(QStringLiteral("Cannot create a folder in %1").arg(parent));
}

void TPatchMaker::AddReplaced(const QString& patch_path, const QString& from,
                              const QString& mod_path) {
    if (!patch_path.isEmpty()) {
        CopyInto(from, m_staging->filePath(patch_path));
        m_report.Replaced << patch_path;
    }
    m_expected[mod_path] = from;
}

void TPatchMaker::CompareRomFs() {
    const QString romfs = FindEntryNoCase(m_changed, QStringLiteral("romfs"));
    ctr::TInFile& image = *m_image;
    QHash<QString, QString> claimed; // game path in upper case to the changed file naming it
    QString changed_pack_dat;
    QString changed_pack_inc;
    const QStringList files = QFileInfo(romfs).isDir() ? FilesBelow(romfs) : QStringList();
    for (const QString& path : files) {
        const QString from = romfs + QLatin1Char('/') + path;
        CheckReadable(from);
        const QString key = path.toUpper();
        if (claimed.contains(key))
            Refuse(QStringLiteral("%1 and %2 name the same file: names are matched without "
                                  "regard to letter case")
                       .arg(claimed.value(key), from));
        claimed.insert(key, from);
        const auto found = m_game_index.constFind(key);
        if (key == QLatin1String("PACK.INC"))
            changed_pack_inc = from; // its digest is the patched game's, unless it is the same
        if (found == m_game_index.constEnd()) {
            m_report.NewFiles << path;
            AddReplaced(QStringLiteral("romfs/") + path, from, QStringLiteral("romfs/") + path);
            continue;
        }
        const ctr::TImageRomFsFile& game = m_game_files[std::size_t(*found)];
        const QString game_path = QString::fromStdString(game.Path);
        if (key == QLatin1String("PACK.DAT"))
            changed_pack_dat = from; // goes in as a difference
        else if (!SameBytes(image, game.Location.Offset, game.Location.Size, from))
            AddReplaced(QStringLiteral("romfs/") + game_path, from,
                        QStringLiteral("romfs/") + game_path);
    }
    if (!m_report.NewFiles.isEmpty())
        m_report.Warnings << QStringLiteral("New files the game does not have (the console "
                                            "loads only files that replace the game's own):\n  ") +
                                 m_report.NewFiles.join(QStringLiteral("\n  "));

    // The digests the description files carry; pack.inc may be missing from a game.
    const auto pack_inc = m_game_index.constFind(QStringLiteral("PACK.INC"));
    if (pack_inc != m_game_index.constEnd()) {
        const auto& place = m_game_files[std::size_t(*pack_inc)].Location;
        m_report.Description.OriginalPackIncMD5 =
            RangeMD5Hex(image, place.Offset, place.Size, nullptr);
    }
    // The digests of the game the patch leaves, by which an image that already carries it is
    // told from the untouched game.
    m_report.Description.PatchedPackIncMD5 = m_report.Description.OriginalPackIncMD5;
    if (!changed_pack_inc.isEmpty())
        m_report.Description.PatchedPackIncMD5 = FileMD5Hex(changed_pack_inc);
    ComparePackDat(changed_pack_dat);
}

void TPatchMaker::ComparePackDat(const QString& changed) {
    const ctr::TImageRomFsFile& game =
        m_game_files[std::size_t(m_game_index.value(QStringLiteral("PACK.DAT")))];
    m_report.PackDatBytes = std::int64_t(game.Location.Size);
    ctr::TInFile& image = *m_image;
    const bool differs =
        !changed.isEmpty() && !SameBytes(image, game.Location.Offset, game.Location.Size, changed);
    // The game's pack.dat is read once: digested, and copied out when the encoder needs it.
    const QString original = m_work->filePath(QStringLiteral("pack.dat"));
    QFile copy(original);
    if (differs && !copy.open(QIODevice::WriteOnly))
        Refuse(QStringLiteral("Cannot write %1: %2").arg(original, copy.errorString()));
    m_report.Description.OriginalPackDatMD5 =
        RangeMD5Hex(image, game.Location.Offset, game.Location.Size, differs ? &copy : nullptr);
    m_report.Description.PatchedPackDatMD5 =
        differs ? FileMD5Hex(changed) : m_report.Description.OriginalPackDatMD5;
    if (!differs)
        return;
    if (!copy.flush())
        Refuse(QStringLiteral("Cannot write %1: %2").arg(original, copy.errorString()));
    copy.close();

    Stage(QStringLiteral("Making patch.xdelta, the difference of pack.dat..."));
    const QString delta = m_staging->filePath(QStringLiteral("patch.xdelta"));
    // xdelta3 runs in the work folder and is given names relative to it: on Windows it takes
    // its file names in the system's code page, which cannot spell every folder name. A
    // changed pack.dat in such a folder is read from a copy.
    QString changed_argument = changed;
    if (!PlainAsciiText(changed)) {
        changed_argument = QStringLiteral("changed_pack.dat");
        if (!QFile::copy(changed, m_work->filePath(changed_argument)))
            Refuse(QStringLiteral("Cannot copy %1 to %2").arg(changed, m_work->path()));
    }
    std::uint32_t code = 0;
    try {
        code = RunTool(EncoderXdeltaPath(m_in.ProgramFolder),
                       XdeltaEncodeOptions() +
                           QStringList{QStringLiteral("-s"), QStringLiteral("pack.dat"),
                                       changed_argument, QStringLiteral("patch.xdelta")},
                       m_work->path());
    } catch (const TSystemError& error) {
        Refuse(QStringLiteral("Cannot start xdelta3: ") + QString::fromStdString(error.Reason()));
    }
    if (code != 0)
        Refuse(QStringLiteral("xdelta3 could not encode the difference of pack.dat (exit code "
                              "%1)")
                   .arg(code));
    if (!QFile::rename(m_work->filePath(QStringLiteral("patch.xdelta")), delta))
        Refuse(QStringLiteral("Cannot write %1").arg(delta));
    QFile::remove(original);
    QFile::remove(m_work->filePath(QStringLiteral("changed_pack.dat")));
    m_report.DifferenceBytes = QFileInfo(delta).size();
    m_expected[QStringLiteral("romfs/") + QString::fromStdString(game.Path)] = changed;
}

void TPatchMaker::CompareExeFs() {
    // The mod folder holds the code decompressed, as the patch's exefs/code.bin does.
    const QString code = FindEntryNoCase(m_changed, QStringLiteral("code.bin"));
    if (QFileInfo(code).isFile() &&
        ReadAll(code) != FromVector(ctr::ReadImageCode(*m_image, *m_kind)))
        AddReplaced(QStringLiteral("exefs/code.bin"), code, QStringLiteral("code.bin"));
    for (const TExeFsFile& file : kExeFsFiles) {
        const QString name = QLatin1String(file.ModName);
        const QString from =
            FindEntryNoCase(FindEntryNoCase(m_changed, name.section(QLatin1Char('/'), 0, 0)),
                            name.section(QLatin1Char('/'), 1));
        if (!QFileInfo(from).isFile())
            continue;
        const auto game = ctr::ReadImageExeFsFile(*m_image, *m_kind, file.Entry);
        if (!game || ReadAll(from) != FromVector(*game))
            AddReplaced(QLatin1String(file.PatchName), from, name);
    }
}

void TPatchMaker::CopyVoices() {
    // The clips a voice folder may replace are those of the sound archive the patch leaves.
    const ctr::TImageRomFsFile& game =
        m_game_files[std::size_t(m_game_index.value(QStringLiteral("SOUND/QK123.BCSAR")))];
    const auto replaced =
        m_expected.find(QStringLiteral("romfs/") + QString::fromStdString(game.Path));
    QByteArray archive;
    if (replaced != m_expected.end()) {
        archive = ReadAll(replaced->second);
    } else {
        archive = FromVector(
            m_image->ReadVector(game.Location.Offset, game.Location.Size, "sound archive"));
    }
    const QString unpacked = m_work->filePath(QStringLiteral("sound"));
    QDir().mkpath(unpacked);
    if (UnpackBcsar(ByteSpan(archive), ToPath(unpacked), 0, false) == -1)
        Refuse(QStringLiteral("The game's sound archive cannot be unpacked"));
    const qsizetype clip_count = QDir(unpacked + QStringLiteral("/4_CSAR_FILE/3_CWAR/3_BCWAV"))
                                     .entryList(QDir::Files)
                                     .size();
    DeleteFolder(unpacked);

    const QRegularExpression clip_name(QStringLiteral("^([0-9]{3})\\.bcwav$"),
                                       QRegularExpression::CaseInsensitiveOption);
    for (const char* language : kVoiceFolders) {
        const QString folder = FindEntryNoCase(m_in.VoicesFolder, QLatin1String(language));
        if (!QFileInfo(folder).isDir())
            Refuse(QStringLiteral("--voices: %1 has no folder \"%2\"")
                       .arg(m_in.VoicesFolder, QLatin1String(language)));
        // Either the clips themselves or the 3_BCWAV folder of an earlier patch.
        QString clips = FindEntryNoCase(folder, QStringLiteral("3_BCWAV"));
        if (!QFileInfo(clips).isDir())
            clips = folder;
        const QStringList names = FilesBelow(clips);
        if (names.isEmpty())
            Refuse(QStringLiteral("--voices: %1 holds no clips").arg(clips));
        for (const QString& name : names) {
            const auto match = clip_name.match(name);
            if (!match.hasMatch() || match.captured(1).toInt() >= clip_count)
                Refuse(QStringLiteral("--voices: %1 is not a clip of the game's sound archive "
                                      "(000.bcwav to %2.bcwav)")
                           .arg(clips + QLatin1Char('/') + name)
                           .arg(clip_count - 1, 3, 10, QLatin1Char('0')));
            CheckReadable(clips + QLatin1Char('/') + name);
            CopyInto(clips + QLatin1Char('/') + name,
                     m_staging->filePath(QStringLiteral("voice/%1/3_BCWAV/%2")
                                             .arg(QLatin1String(language), name.toLower())));
        }
    }
    m_report.Voices = true;
}

void TPatchMaker::CopyTrackList() {
    CheckReadable(m_in.TrackListFile);
    CopyInto(m_in.TrackListFile, m_staging->filePath(QStringLiteral("Tracklist.tls")));
    // Read as the installer reads it: from the patch folder, against the image's slots.
    const TTrackList list(m_source, m_staging->path(), m_identity.InfoPosition,
                          DefaultTrackListData());
    if (list.Status() != TTrackListStatus::Ok)
        Refuse(QStringLiteral("--tracklist: %1 is not a track list the installer reads: %2")
                   .arg(m_in.TrackListFile,
                        m_in.Texts->Lookup(list.Status() == TTrackListStatus::ErrorTrackListFormat
                                               ? QStringLiteral("ErrorTrackListFormat")
                                               : QStringLiteral("ErrorReadingTracks"))));
    m_report.TrackList = true;
}

void TPatchMaker::WriteDescriptions() {
    m_report.Description.Title = m_in.Title;
    m_report.Description.Version = m_in.Version;
    const auto text_of = [](const QString& path) {
        return path.isEmpty() ? QString() : DecodeTextFile(ReadAll(path), LocaleIsRussian());
    };
    m_report.Description.Description = text_of(m_in.DescriptionFile);
    if (!WritePatchDescription(m_staging->filePath(QStringLiteral("English.dsc")),
                               m_report.Description))
        Refuse(QStringLiteral("Cannot write English.dsc"));
    if (m_in.RussianDescriptionFile.isEmpty())
        return;
    TPatchDescription russian = m_report.Description;
    russian.Description = text_of(m_in.RussianDescriptionFile);
    if (!WritePatchDescription(m_staging->filePath(QString::fromUtf8("Русский.dsc")), russian))
        Refuse(QStringLiteral("Cannot write Русский.dsc"));
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
