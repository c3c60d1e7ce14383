#include "sample/SampleImage.h"

#include "ctr/Platform.h"
#include "sample/SampleData.h"
#include "sample/SampleHeaders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include <openssl/evp.h>

namespace sample {

namespace {

void MakeFolder(const QString& folder) {
    std::error_code error;
    std::filesystem::create_directories(ctr::PathFromUtf8(folder.toStdString()), error);
    if (error)
        throw TSampleError(QStringLiteral("Cannot create %1: %2")
                               .arg(folder, QString::fromStdString(error.message())));
}

void RemoveAll(const QString& path) {
    std::error_code error;
    std::filesystem::remove_all(ctr::PathFromUtf8(path.toStdString()), error);
}

void WriteFile(const QString& path, std::span<const std::uint8_t> bytes) {
    MakeFolder(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()) ||
        !file.flush())
        throw TSampleError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

void WriteText(const QString& path, const QString& text) {
    // UTF-8 with a byte-order mark and CR LF line ends, as the installer's readers expect.
    QByteArray bytes("\xEF\xBB\xBF");
    bytes += QString(text).replace(QStringLiteral("\n"), QStringLiteral("\r\n")).toUtf8();
    WriteFile(path, std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                              static_cast<std::size_t>(bytes.size())));
}

/// Incremental MD5 through OpenSSL, more than twice as fast as Qt's own on a gigabyte.
class TMd5 {
public:
    TMd5() : m_context(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
        if (!m_context || EVP_DigestInit_ex(m_context.get(), EVP_md5(), nullptr) != 1)
            throw TSampleError(QStringLiteral("MD5 is not available"));
    }
    void Update(std::span<const std::uint8_t> bytes) {
        EVP_DigestUpdate(m_context.get(), bytes.data(), bytes.size());
    }
    /// 32 upper-case hexadecimal digits.
    QString Final() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(m_context.get(), digest, &length);
        return QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length))
                .toHex()
                .toUpper());
    }

private:
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> m_context;
};

QString Md5Hex(std::span<const std::uint8_t> bytes) {
    TMd5 md5;
    md5.Update(bytes);
    return md5.Final();
}

/// Streams the data archive to `path`; returns its MD5 when `digest` is set.
QString WritePackDat(const QString& path, const TSampleOptions& options, bool changed,
                     bool digest) {
    MakeFolder(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw TSampleError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    std::optional<TMd5> md5;
    if (digest)
        md5.emplace();
    StreamPackDat(options.Seed, options.PackSize, changed,
                  [&](std::span<const std::uint8_t> chunk) {
                      const qint64 length = static_cast<qint64>(chunk.size());
                      if (file.write(reinterpret_cast<const char*>(chunk.data()), length) != length)
                          throw TSampleError(
                              QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
                      if (md5)
                          md5->Update(chunk);
                  });
    if (!file.flush())
        throw TSampleError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    return md5 ? md5->Final() : QString();
}

QString RegionText(const TSampleOptions& options) {
    return QString::fromStdString(options.Region);
}

// ---- The patch's texts -----------------------------------------------------------------

QString EnglishDescription(const TSampleOptions& options, const TTreeDigests& digests,
                           const TTreeDigests& patched) {
    return QStringLiteral("Region = %1\n"
                          "Title = \"Veridane: English translation (demo)\"\n"
                          "Description = \"A fan translation of Veridane into English.\n"
                          "It rewrites the story text in pack.dat, replaces the banner, adds the\n"
                          "translators' notes and offers three voice sets and new music titles.\n"
                          "\n"
                          "Project page: https://example.org/veridane/en\"\n"
                          "OriginalPackDatMD5 = %2\n"
                          "OriginalPackIncMD5 = %3\n"
                          "PatchedPackDatMD5 = %4\n"
                          "PatchedPackIncMD5 = %5\n")
        .arg(RegionText(options), digests.PackDatMD5, digests.PackIncMD5, patched.PackDatMD5,
             patched.PackIncMD5);
}

QString RussianDescription(const TSampleOptions& options, const TTreeDigests& digests,
                           const TTreeDigests& patched) {
    return QStringLiteral("Region = %1\n"
                          "Title = \"Veridane: русский перевод (демо)\"\n"
                          "Description = \"Любительский перевод игры Veridane на русский язык.\n"
                          "Заменяет текст сюжета в pack.dat и заставку, добавляет заметки\n"
                          "переводчиков, три набора голосов и новые названия музыки.\n"
                          "\n"
                          "Страница проекта: https://example.org/veridane/ru\"\n"
                          "OriginalPackDatMD5 = %2\n"
                          "OriginalPackIncMD5 = %3\n"
                          "PatchedPackDatMD5 = %4\n"
                          "PatchedPackIncMD5 = %5\n")
        .arg(RegionText(options), digests.PackDatMD5, digests.PackIncMD5, patched.PackDatMD5,
             patched.PackIncMD5);
}

/// The patch's track list: every id of the default list with the translation's titles.
QString PatchTrackList() {
    struct TGroup {
        int Number;
        const char* Name;
        std::vector<const char*> Ids;
        std::vector<const char*> Years;
    };
    const std::vector<TGroup> groups = {
        {1, "Morning over Veridane", {"BGM008", "BGM077", "BGM117"}, {"2001", "2002", "2004"}},
        {2, "The Harbour Bell", {"BGM013", "BGM069", "BGM118"}, {"2001", "2002", "2004"}},
        {3, "Archive of Quiet Things", {"BGM010", "BGM072", "BGM119"}, {"2001", "2002", "2004"}},
        {4, "Streets in the Rain", {"BGM005", "BGM071"}, {"2001", "2002/2004"}},
        {5, "Clockwork Market", {"BGM004", "BGM070", "BGM121"}, {"2001", "2002", "2004"}},
        {6, "A Letter Unsent", {"BGM011", "BGM073", "BGM120"}, {"2001", "2002", "2004"}},
        {7,
         "Chase through the Alleys",
         {"BGM002", "BGM074", "BGM123", "BGM142"},
         {"2001", "2002", "2004", "(reprise) 2004"}},
        {8, "The Lantern Keeper", {"BGM024", "BGM078", "BGM122"}, {"2001", "2002", "2004"}},
        {9,
         "Tidewater Trial",
         {"BGM003", "BGM075", "BGM124", "BGM143"},
         {"2001", "2002", "2004", "(finale) 2004"}},
        {10, "Night of Small Lights", {"BGM025", "BGM065", "BGM126"}, {"2001", "2002", "2004"}},
        {11, "Farewell at the Pier", {"BGM012", "BGM088", "BGM137"}, {"2001", "2002", "2004"}},
    };
    QString text = QStringLiteral("TrackCount:35\n");
    for (const TGroup& group : groups) {
        text += QStringLiteral("\n");
        for (std::size_t i = 0; i < group.Ids.size(); ++i)
            text += QStringLiteral("%1:\"%2 %3\":%4\n")
                        .arg(QLatin1String(group.Ids[i]), QLatin1String(group.Name),
                             QLatin1String(group.Years[i]))
                        .arg(group.Number);
    }
    text += QStringLiteral("\nBGM200:\"Veridane Title Screen\":0\n");
    return text;
}

TBytes TranslatorsNotes() {
    const QString notes =
        QStringLiteral("Veridane: English translation (demo)\n"
                       "Translated, edited and tested by the Veridane Project Team.\n"
                       "Thank you for playing.\n");
    TByteWriter out;
    out.Text("VMSG");
    const std::u16string text = notes.toStdU16String();
    out.U32(static_cast<std::uint32_t>(text.size()));
    for (char16_t unit : text)
        out.U16(static_cast<std::uint16_t>(unit));
    return std::move(out.Bytes());
}

} // namespace

QString DefaultToolsFolder() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath() + QStringLiteral("/tools");
    return QStringLiteral("tools");
}

QString FileMd5Hex(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TSampleError(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    TMd5 md5;
    std::vector<std::uint8_t> block(std::size_t{4} << 20);
    for (;;) {
        const qint64 got =
            file.read(reinterpret_cast<char*>(block.data()), static_cast<qint64>(block.size()));
        if (got < 0)
            throw TSampleError(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
        if (got == 0)
            return md5.Final();
        md5.Update(std::span(block.data(), static_cast<std::size_t>(got)));
    }
}

QString Xdelta3Path(const QString& tools_folder) {
    const QString debian = QStandardPaths::findExecutable(QStringLiteral("xdelta3"));
    if (!debian.isEmpty())
        return debian;
    return tools_folder + QStringLiteral("/xdelta");
}

void RunOrThrow(const QString& program, const QStringList& arguments,
                const QString& working_folder) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(working_folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    // A start the system fails although the program is there (Wine, under load, now and then
    // reports an internal error) is tried twice more.
    for (int attempt = 1;; ++attempt) {
        process.start();
        if (process.waitForStarted(-1))
            break;
        if (attempt == 3 || !QFileInfo(program).isFile())
            throw TSampleError(
                QStringLiteral("Cannot start %1: %2").arg(program, process.errorString()));
        QThread::msleep(200);
    }
    process.waitForFinished(-1);
    const QString output = QString::fromLocal8Bit(process.readAll()).right(4000);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw TSampleError(QStringLiteral("%1 %2 failed (exit code %3):\n%4")
                               .arg(program, arguments.join(QLatin1Char(' ')))
                               .arg(process.exitCode())
                               .arg(output));
}

TTreeDigests WriteSampleTree(const QString& folder, const TSampleOptions& options) {
    const TSampleTitle title = MakeTitle(options.Region, options.TitleLow);
    TTreeDigests digests;
    const bool digest = !options.PatchFolder.isEmpty();
    digests.PackDatMD5 =
        WritePackDat(folder + QStringLiteral("/romfs/pack.dat"), options, false, digest);
    const TBytes pack_inc = MakePackInc(options.Seed, options.PackSize, false);
    WriteFile(folder + QStringLiteral("/romfs/pack.inc"), pack_inc);
    digests.PackIncMD5 = Md5Hex(pack_inc);
    WriteFile(folder + QStringLiteral("/romfs/sound/QK123.bcsar"), MakeSoundArchive(options.Seed));

    const TBytes code = MakeCode(options.Seed);
    const TBytes banner = MakeBanner(options.Seed, false);
    const TBytes icon = MakeIcon(options.Region);
    WriteFile(folder + QStringLiteral("/exefs/code.bin"), code);
    WriteFile(folder + QStringLiteral("/exefs/banner.bnr"), banner);
    WriteFile(folder + QStringLiteral("/exefs/icon.icn"), icon);

    const TBytes ncch_header = MakeNcchHeader(title, options.Seed);
    const TBytes exheader = MakeExheader(title, options.Encrypted, options.Seed);
    WriteFile(folder + QStringLiteral("/headers/ncchheader.bin"), ncch_header);
    WriteFile(folder + QStringLiteral("/headers/exheader.bin"), exheader);
    WriteFile(folder + QStringLiteral("/headers/logo.bin"), MakeLogo(options.Seed));
    WriteFile(folder + QStringLiteral("/headers/exefsheader.bin"),
              MakeExefsHeader(code, banner, icon));
    if (options.Kind == TImageKind::Cci)
        WriteFile(folder + QStringLiteral("/headers/mainncchheader.bin"),
                  MakeNcsdHeader(title, ncch_header, exheader, options.Seed));
    return digests;
}

void WriteChangedPackDat(const QString& path, const TSampleOptions& options) {
    WritePackDat(path, options, true, false);
}

void WriteSamplePatch(const QString& patch_folder, const QString& original_pack_dat,
                      const TSampleOptions& options, const TTreeDigests& digests) {
    MakeFolder(patch_folder);
    const QString folder = QFileInfo(patch_folder).absoluteFilePath();
    // A patch written earlier into the same folder must not leave clips or replacement
    // files behind; only the entries this generator writes are removed.
    for (const char* name :
         {"patch.xdelta", "English.dsc", "Tracklist.tls", "exefs", "romfs", "voice"})
        RemoveAll(folder + QLatin1Char('/') + QLatin1String(name));
    RemoveAll(folder + QString::fromUtf8("/Русский.dsc"));

    // The difference file, made from a changed data archive written beside the patch. The
    // digests of the game the patch leaves go into the descriptions.
    TTreeDigests patched;
    patched.PackIncMD5 = Md5Hex(MakePackInc(options.Seed, options.PackSize, true));
    {
        QTemporaryDir work(QFileInfo(folder).absolutePath() + QStringLiteral("/.qvtpatch-XXXXXX"));
        if (!work.isValid())
            throw TSampleError(QStringLiteral("Cannot create a work folder beside %1").arg(folder));
        const QString changed = work.filePath(QStringLiteral("pack.dat"));
        patched.PackDatMD5 = WritePackDat(changed, options, true, true);
        const QString delta = folder + QStringLiteral("/patch.xdelta");
        QFile::remove(delta);
        RunOrThrow(Xdelta3Path(options.ToolsFolder),
                   {QStringLiteral("-e"), QStringLiteral("-s"),
                    QFileInfo(original_pack_dat).absoluteFilePath(), changed, delta},
                   work.path());
    }

    WriteText(folder + QStringLiteral("/English.dsc"),
              EnglishDescription(options, digests, patched));
    WriteText(folder + QString::fromUtf8("/Русский.dsc"),
              RussianDescription(options, digests, patched));
    WriteText(folder + QStringLiteral("/Tracklist.tls"), PatchTrackList());

    // Replacement files. The RomFS ones must leave the sound archive's file entry where the
    // installer's identification looks for it (0x60 into the file table): the root may
    // hold only pack.dat and pack.inc (so pack.inc is replaced, never joined by a new root
    // file), no folder sorting before "sound" may hold files, and QK123.bcsar must stay the
    // first file in "sound". A new folder "text" sorts after "sound" and is safe.
    WriteFile(folder + QStringLiteral("/exefs/banner.bnr"), MakeBanner(options.Seed, true));
    WriteFile(folder + QStringLiteral("/romfs/pack.inc"),
              MakePackInc(options.Seed, options.PackSize, true));
    WriteFile(folder + QStringLiteral("/romfs/text/notes.msg"), TranslatorsNotes());

    // Voice clips: each language replaces some of the archive's clips with clips of other
    // lengths, so later clips move when the archive is packed again.
    const std::array<std::pair<const char*, std::vector<std::uint32_t>>, 3> voices = {{
        {"ENG", {0x2108, 0x1E10, 0x2A00}},
        {"JAP MOD", {0x1C18, 0x1F08, 0x2204}},
        {"JAP ORIG", {0x1F08, 0x2410, 0x1A18}},
    }};
    std::uint64_t clip_seed = options.Seed * 977;
    for (const auto& [language, lengths] : voices) {
        for (std::size_t i = 0; i < lengths.size(); ++i) {
            const QString name = QStringLiteral("%1.bcwav").arg(i, 3, 10, QLatin1Char('0'));
            WriteFile(folder +
                          QStringLiteral("/voice/%1/3_BCWAV/%2").arg(QLatin1String(language), name),
                      MakeClip(++clip_seed, lengths[i]));
        }
    }
}

void GenerateSample(const TSampleOptions& options) {
    if (!RegionTitleLow(options.Region))
        throw TSampleError(QStringLiteral("Unknown region %1").arg(RegionText(options)));
    if (options.CiaHeaderSize && options.Kind != TImageKind::Cia)
        throw TSampleError(QStringLiteral("--cia-header-size needs --kind cia"));
    const QString out = QFileInfo(options.OutPath).absoluteFilePath();
    MakeFolder(QFileInfo(out).absolutePath());
    // The work folder lies beside the output, so big intermediates stay on its volume.
    QTemporaryDir work(QFileInfo(out).absolutePath() + QStringLiteral("/.qvtsample-XXXXXX"));
    if (!work.isValid())
        throw TSampleError(QStringLiteral("Cannot create a work folder beside %1").arg(out));
    const QString temp = work.path();

    const TTreeDigests digests = WriteSampleTree(temp, options);
    if (!options.PatchFolder.isEmpty())
        WriteSamplePatch(options.PatchFolder, temp + QStringLiteral("/romfs/pack.dat"), options,
                         digests);

    const QString tools =
        options.ToolsFolder.isEmpty() ? DefaultToolsFolder() : options.ToolsFolder;
    const QString tool3ds = tools + QStringLiteral("/3dstool");
    const QString makerom = tools + QStringLiteral("/makerom");
    QFile::remove(out);
    // The installer's own build command lines (ExeFS, RomFS, CXI, then CIA or 3DS).
    RunOrThrow(tool3ds,
               {QStringLiteral("-cztf"), QStringLiteral("exefs"), QStringLiteral("exefs.bin"),
                QStringLiteral("--exefs-dir"), QStringLiteral("exefs"), QStringLiteral("--header"),
                QStringLiteral("headers/exefsheader.bin")},
               temp);
    RunOrThrow(tool3ds,
               {QStringLiteral("-ctf"), QStringLiteral("romfs"), QStringLiteral("romfs.bin"),
                QStringLiteral("--romfs-dir"), QStringLiteral("romfs")},
               temp);
    RemoveAll(temp + QStringLiteral("/romfs"));
    const QString cxi = options.Kind == TImageKind::Cxi ? out : QStringLiteral("Partition0.cxi");
    RunOrThrow(tool3ds,
               {QStringLiteral("-cvtf"), QStringLiteral("cxi"), cxi, QStringLiteral("--header"),
                QStringLiteral("headers/ncchheader.bin"), QStringLiteral("--exh"),
                QStringLiteral("headers/exheader.bin"), QStringLiteral("--exefs"),
                QStringLiteral("exefs.bin"), QStringLiteral("--romfs"), QStringLiteral("romfs.bin"),
                QStringLiteral("--logo"), QStringLiteral("headers/logo.bin")},
               temp);
    RemoveAll(temp + QStringLiteral("/romfs.bin"));
    if (options.Kind == TImageKind::Cia)
        RunOrThrow(makerom,
                   {QStringLiteral("-f"), QStringLiteral("Cia"), QStringLiteral("-content"),
                    QStringLiteral("Partition0.cxi:0:0x00"), QStringLiteral("-o"), out},
                   temp);
    else if (options.Kind == TImageKind::Cci)
        RunOrThrow(tool3ds,
                   {QStringLiteral("-ctf"), QStringLiteral("3ds"), out, QStringLiteral("--header"),
                    QStringLiteral("headers/mainncchheader.bin"), QStringLiteral("-0"),
                    QStringLiteral("Partition0.cxi")},
                   temp);

    if (options.CiaHeaderSize) {
        QFile file(out);
        std::array<char, 4> size{};
        for (std::size_t i = 0; i < 4; ++i)
            size[i] = static_cast<char>(*options.CiaHeaderSize >> (8 * i));
        if (!file.open(QIODevice::ReadWrite) || file.write(size.data(), 4) != 4)
            throw TSampleError(QStringLiteral("Cannot write %1: %2").arg(out, file.errorString()));
    }
}

} // namespace sample
