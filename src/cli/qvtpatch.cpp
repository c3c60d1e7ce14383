// qvtpatch: the command-line side of the patch tool. Commands `identify`, `install`,
// `patches`, `music`, `places`, `remove-mods`, `make-patch` and `add-patch`; the older forms
// `--identify IMAGE` and the install options without a command still work as before.
#include "cli/ConsoleText.h"
#include "cli/ParserText.h"
#include "cli/qvtpatch_modes.h"

#include "desktop/Decryption.h"
#include "desktop/FileTools.h"
#include "desktop/FitCheck.h"
#include "desktop/Identify.h"
#include "desktop/Language.h"
#include "desktop/MakePatch.h"
#include "desktop/PatchCatalogue.h"
#include "desktop/PatchPackage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>

namespace {

const char kUsage[] =
    "usage: qvtpatch identify IMAGE [--json] [KEYS]\n"
    "       qvtpatch install --source IMAGE --output PATH --kind KIND "
    "[--patch FOLDER|TITLE] [--voice 0|1|2] [--music FILE] [--lang NAME] [--quiet] [--replace] "
    "[KEYS]\n"
    "       qvtpatch patches IMAGE [--lang NAME] [--json] [KEYS]\n"
    "       qvtpatch music IMAGE [--patch FOLDER|TITLE] [--json] [KEYS]\n"
    "       qvtpatch places [--emulator PATH] [--json]\n"
    "       qvtpatch remove-mods --output emulator|sdcard|FOLDER [--title TITLEID] "
    "[--emulator PATH] [--lang NAME]\n"
    "       qvtpatch make-patch --source IMAGE --changed DIR --out FOLDER --title TEXT "
    "[--region EUR|USA|JAP] [--description FILE] [--description-ru FILE] [--voices DIR] "
    "[--tracklist FILE] [--patch-version TEXT] [--package]\n"
    "       qvtpatch add-patch FILE.qvtpatch [--replace] [--lang NAME]\n"
    "       qvtpatch --identify IMAGE\n"
    "KEYS: [--keys aes_keys.txt] [--seeddb seeddb.bin] for an encrypted image\n"
    "Try 'qvtpatch --help' for more information.";

int UsageError(const QString& reason) {
    return Refuse(QStringLiteral("qvtpatch: ") + reason + QLatin1Char('\n') +
                  QLatin1String(kUsage));
}

QString ProductCodeText(const QByteArray& code) {
    const qsizetype end = code.indexOf('\0');
    return QString::fromLatin1(end < 0 ? code : code.left(end));
}

// The digests of the image's pack.dat and pack.inc, as the window takes them when the image is
// chosen; nothing, after saying why on standard error, when they cannot be read.
std::optional<TPackDigests> SourcePackDigests(const QString& image, const QString& kind) {
    const std::atomic<bool> never{false};
    const TPackDigestResult result = TakePackDigests(image, kind, never, {});
    if (result.Outcome == TPackDigestResult::TOutcome::Done)
        return result.Digests;
    WriteLines(stderr,
               QStringLiteral("The game data of the image cannot be read: ") + result.Problem);
    return std::nullopt;
}

// The lines of the older `--identify` form; `identify` adds the title ID and the digests.
int Identify(const QString& image, bool with_title_id, bool json) {
    TLanguageTable texts;
    if (!LoadTexts(QStringLiteral("English"), texts))
        return kExitFailed;
    const TIdentifyResult result = IdentifySourceImage(image, texts);
    std::optional<TPackDigests> digests;
    if (with_title_id && result.Usable())
        digests = SourcePackDigests(image, result.Kind);
    if (json) {
        QJsonObject object;
        object.insert(QStringLiteral("kind"),
                      result.Kind.isEmpty() ? QJsonValue() : QJsonValue(result.Kind.mid(1)));
        object.insert(QStringLiteral("compressed"), result.Compressed);
        object.insert(QStringLiteral("productCode"), result.ProductCode.isEmpty()
                                                         ? QJsonValue()
                                                         : ProductCodeText(result.ProductCode));
        object.insert(QStringLiteral("region"),
                      result.Region.isEmpty() ? QJsonValue() : QJsonValue(result.Region));
        object.insert(QStringLiteral("titleId"),
                      result.TitleId.isEmpty() ? QJsonValue() : QJsonValue(result.TitleId));
        object.insert(QStringLiteral("infoPosition"),
                      result.HasInfoPosition ? QJsonValue(static_cast<qint64>(result.InfoPosition))
                                             : QJsonValue());
        object.insert(QStringLiteral("packDatMD5"),
                      digests ? QJsonValue(digests->PackDatMD5) : QJsonValue());
        object.insert(QStringLiteral("packIncMD5"), digests && !digests->PackIncMD5.isEmpty()
                                                        ? QJsonValue(digests->PackIncMD5)
                                                        : QJsonValue());
        object.insert(QStringLiteral("encrypted"), result.Encrypted);
        object.insert(QStringLiteral("keysFound"), result.KeysFound);
        object.insert(QStringLiteral("usable"), result.Usable());
        object.insert(QStringLiteral("errorKey"),
                      result.ErrorKey.isEmpty() ? QJsonValue() : QJsonValue(result.ErrorKey));
        // An encrypted image that cannot be used has no error key; its entries say why.
        const bool refused_encrypted = result.Encrypted && !result.KeysFound;
        object.insert(QStringLiteral("error"),
                      !result.ErrorKey.isEmpty() ? QJsonValue(texts.Lookup(result.ErrorKey))
                      : refused_encrypted        ? QJsonValue(UnusableReason(result, texts))
                                                 : QJsonValue());
        WriteLines(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
        return result.Usable() ? 0 : kExitFailed;
    }
    for (const QString& entry : result.LogEntries)
        WriteLines(stdout, entry);
    if (!result.Kind.isEmpty())
        WriteLines(stdout, QStringLiteral("Kind: ") + result.Kind +
                               (result.Compressed ? QStringLiteral(" (compressed)") : QString()));
    if (!result.Region.isEmpty())
        WriteLines(stdout, QStringLiteral("Region: ") + result.Region);
    if (with_title_id && !result.TitleId.isEmpty())
        WriteLines(stdout, QStringLiteral("TitleId: ") + result.TitleId);
    if (result.HasInfoPosition)
        WriteLines(stdout, QStringLiteral("InfoPosition: 0x") +
                               QString::number(result.InfoPosition, 16).toUpper());
    if (digests) {
        WriteLines(stdout, QStringLiteral("PackDatMD5: ") + digests->PackDatMD5);
        if (!digests->PackIncMD5.isEmpty())
            WriteLines(stdout, QStringLiteral("PackIncMD5: ") + digests->PackIncMD5);
    }
    if (!result.ErrorKey.isEmpty())
        WriteLines(stderr, texts.Lookup(result.ErrorKey));
    return result.Usable() ? 0 : kExitFailed;
}

// The entries the patch box offers for the image: "None", then the patch folders of its region.
int ListPatches(const QString& image, const QString& language, bool json) {
    TLanguageTable texts;
    if (!LoadTexts(language, texts))
        return kExitUsage;
    const TIdentifyResult identity = IdentifySourceImage(image, texts);
    if (!identity.Usable()) {
        WriteLines(stderr, UnusableReason(identity, texts));
        return kExitFailed;
    }
    const std::vector<TPatchEntry> entries =
        ScanPatchFolders(FindEntryNoCase(ProgramFolder(), QStringLiteral("patch")), true,
                         QStringLiteral(".dsc"), language, identity.Region);
    const std::optional<TPackDigests> digests = SourcePackDigests(image, identity.Kind);
    QJsonArray array;
    const auto add = [&](const QString& title, const QString& folder,
                         const std::optional<TPatchDescription>& description) {
        // "None" changes no game data and fits every image.
        QString fit;
        if (!description)
            fit = PatchFitName(TPatchFit::Fits);
        else if (digests)
            fit = PatchFitName(JudgePatchFit(*description, *digests));
        const bool xdelta = !folder.isEmpty() && PatchHasXdelta(folder);
        const bool voices = !folder.isEmpty() && PatchHasVoiceFolder(folder);
        const bool tracks =
            !folder.isEmpty() &&
            QFileInfo(FindEntryNoCase(folder, QStringLiteral("Tracklist.tls"))).isFile();
        const QString version = description ? description->Version : QString();
        if (json) {
            QJsonObject object;
            object.insert(QStringLiteral("title"), title);
            // Every key of the description; null for one it does not give.
            const auto key = [&](const char* name, QString TPatchDescription::*field) {
                const QString value = description ? (*description).*field : QString();
                object.insert(QLatin1String(name), value.isEmpty() ? QJsonValue() : value);
            };
            key("version", &TPatchDescription::Version);
            key("authors", &TPatchDescription::Authors);
            key("homepage", &TPatchDescription::Homepage);
            key("releaseDate", &TPatchDescription::ReleaseDate);
            key("minimumProgramVersion", &TPatchDescription::MinimumProgramVersion);
            key("region", &TPatchDescription::Region);
            key("description", &TPatchDescription::Description);
            key("originalPackDatMD5", &TPatchDescription::OriginalPackDatMD5);
            key("originalPackIncMD5", &TPatchDescription::OriginalPackIncMD5);
            key("patchedPackDatMD5", &TPatchDescription::PatchedPackDatMD5);
            key("patchedPackIncMD5", &TPatchDescription::PatchedPackIncMD5);
            const QString needs =
                description ? ProgramVersionProblem(*description, texts) : QString();
            object.insert(QStringLiteral("refused"), needs.isEmpty() ? QJsonValue() : needs);
            object.insert(QStringLiteral("folder"), folder.isEmpty() ? QJsonValue() : folder);
            object.insert(QStringLiteral("difference"), xdelta);
            object.insert(QStringLiteral("voices"), voices);
            object.insert(QStringLiteral("trackList"), tracks);
            object.insert(QStringLiteral("fit"), fit.isEmpty() ? QJsonValue() : QJsonValue(fit));
            array.append(object);
            return;
        }
        const auto flag = [](bool on, const char* name) {
            return on ? QString::fromLatin1(name) : QStringLiteral("-");
        };
        WriteLines(stdout, title + QLatin1Char('\t') +
                               (version.isEmpty() ? QStringLiteral("-") : version) +
                               QLatin1Char('\t') + folder + QLatin1Char('\t') +
                               flag(xdelta, "difference") + QLatin1Char('\t') +
                               flag(voices, "voices") + QLatin1Char('\t') + flag(tracks, "tracks") +
                               QLatin1Char('\t') + (fit.isEmpty() ? QStringLiteral("-") : fit));
    };
    add(texts.Lookup(QStringLiteral("None")), QString(), std::nullopt);
    for (const TPatchEntry& entry : entries)
        add(entry.Title, PatchFolderOf(entry.DescriptionPath),
            ReadPatchDescription(entry.DescriptionPath));
    if (json)
        WriteLines(stdout, QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)));
    return 0;
}

} // namespace

bool LoadTexts(const QString& language, TLanguageTable& texts) {
    if (texts.LoadFile(LanguageFilePath(ProgramFolder(), language)))
        return true;
    WriteLines(stderr, QStringLiteral("Language file not found: ") + language);
    return false;
}

QString UnusableReason(const TIdentifyResult& identity, const TLanguageTable& texts) {
    if (!identity.ErrorKey.isEmpty())
        return texts.Lookup(identity.ErrorKey);
    // An encrypted image the keys do not open: the entries say why and what to do.
    if (identity.Encrypted && !identity.KeysFound)
        return identity.LogEntries.join(QLatin1Char('\n'))
            .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
            .trimmed();
    return QStringLiteral("The source image cannot be used.");
}

int Refuse(const QString& message) {
    WriteLines(stderr, message);
    return kExitUsage;
}

QString ProgramFolder() {
    return WithTrailingSeparator(QCoreApplication::applicationDirPath());
}

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qvtpatch"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QVT_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Installs a translation patch into a game image.\n\n"
                       "Commands:\n"
                       "  identify IMAGE        identify a source image\n"
                       "  install               install a patch (--source, --output, --kind)\n"
                       "  patches IMAGE         list the patches offered for an image\n"
                       "  music IMAGE           print an image's music, as a file for --music\n"
                       "  places                list where a mod folder can go (emulators, SD "
                       "cards)\n"
                       "  remove-mods           remove the game's mod folder this program wrote\n"
                       "                        (--output) and bring back the earlier one\n"
                       "  make-patch            make a patch folder from changed files (--source,\n"
                       "                        --changed, --out, --title)\n"
                       "  add-patch FILE        add a patch package (.qvtpatch) to the patches"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption identify_option(QStringLiteral("identify"),
                                             QStringLiteral("Identify IMAGE (older form)."),
                                             QStringLiteral("IMAGE"));
    const QCommandLineOption source_option(
        QStringLiteral("source"),
        QStringLiteral("The source image: CIA, CXI or 3DS/CCI, compressed or not; an "
                       "encrypted image is read with your keys."),
        QStringLiteral("IMAGE"));
    const QCommandLineOption output_option(
        QStringLiteral("output"),
        QStringLiteral("The output image; for --kind mods and remove-mods the folder that takes "
                       "the game's folder, or 'emulator' or 'sdcard' (see 'qvtpatch places')."),
        QStringLiteral("PATH"));
    const QCommandLineOption kind_option(QStringLiteral("kind"),
                                         QStringLiteral("The output kind: ") +
                                             OutputKindNames().join(QStringLiteral(", ")) +
                                             QStringLiteral(" (3ds, cci and zcci from a card "
                                                            "image only; the z kinds are "
                                                            "compressed, for the emulator)."),
                                         QStringLiteral("KIND"));
    const QCommandLineOption patch_option(
        QStringLiteral("patch"),
        QStringLiteral("A patch folder, or a patch title (a unique prefix will do)."),
        QStringLiteral("FOLDER|TITLE"));
    const QCommandLineOption voice_option(
        QStringLiteral("voice"),
        QStringLiteral("Voices: 0 English, 1 Japanese with gaps filled, 2 Japanese as released."),
        QStringLiteral("0|1|2"), QStringLiteral("0"));
    const QCommandLineOption lang_option(QStringLiteral("lang"),
                                         QStringLiteral("The language file (default English)."),
                                         QStringLiteral("NAME"), QStringLiteral("English"));
    const QCommandLineOption music_option(
        QStringLiteral("music"),
        QStringLiteral("Set the music from FILE, as 'qvtpatch music' prints it."),
        QStringLiteral("FILE"));
    const QCommandLineOption quiet_option(QStringLiteral("quiet"),
                                          QStringLiteral("No progress line on the terminal."));
    const QCommandLineOption json_option(QStringLiteral("json"),
                                         QStringLiteral("Print JSON for scripts."));
    const QCommandLineOption emulator_option(
        QStringLiteral("emulator"),
        QStringLiteral("A portable emulator (its program or folder): its user folder is a place "
                       "for mod folders too."),
        QStringLiteral("PATH"));
    const QCommandLineOption changed_option(
        QStringLiteral("changed"),
        QStringLiteral("make-patch: the changed files in the mod folder layout."),
        QStringLiteral("DIR"));
    const QCommandLineOption out_option(QStringLiteral("out"),
                                        QStringLiteral("make-patch: the patch folder to create."),
                                        QStringLiteral("FOLDER"));
    const QCommandLineOption title_option(
        QStringLiteral("title"),
        QStringLiteral("make-patch: the patch's title; remove-mods: the game's title ID, when "
                       "the destination holds folders of several games."),
        QStringLiteral("TEXT"));
    const QCommandLineOption region_option(
        QStringLiteral("region"),
        QStringLiteral("make-patch: the patch's region (default: the image's)."),
        QStringLiteral("EUR|USA|JAP"));
    const QCommandLineOption description_option(
        QStringLiteral("description"),
        QStringLiteral("make-patch: text file of the English description."),
        QStringLiteral("FILE"));
    const QCommandLineOption description_ru_option(
        QStringLiteral("description-ru"),
        QStringLiteral("make-patch: text file of the Russian description."),
        QStringLiteral("FILE"));
    const QCommandLineOption voices_option(
        QStringLiteral("voices"),
        QStringLiteral("make-patch: folder with the ENG, JAP MOD and JAP ORIG voice clips."),
        QStringLiteral("DIR"));
    const QCommandLineOption tracklist_option(QStringLiteral("tracklist"),
                                              QStringLiteral("make-patch: the patch's track list."),
                                              QStringLiteral("FILE"));
    const QCommandLineOption patch_version_option(
        QStringLiteral("patch-version"),
        QStringLiteral("make-patch: the patch's version, shown beside its title (\"1.2\")."),
        QStringLiteral("TEXT"));
    const QCommandLineOption package_option(
        QStringLiteral("package"),
        QStringLiteral("make-patch: also write the package FOLDER.qvtpatch beside the folder."));
    const QCommandLineOption replace_option(
        QStringLiteral("replace"),
        QStringLiteral("add-patch: replace a patch of the same title at the same or a newer "
                       "version; install --kind mods: go on when the game's folder holds files "
                       "this program did not write (the folder is kept as \"(previous)\")."));
    const QCommandLineOption keys_option(
        QStringLiteral("keys"),
        QStringLiteral("Key file (aes_keys.txt, or an emulator's keys.txt) for an encrypted "
                       "image; otherwise each aes_keys.txt and keys.txt in keys/ beside the "
                       "program and in the emulators' sysdata folders is tried in turn."),
        QStringLiteral("FILE"));
    const QCommandLineOption seeddb_option(
        QStringLiteral("seeddb"), QStringLiteral("Seed database (seeddb.bin) for newer titles."),
        QStringLiteral("FILE"));
    parser.addOptions(
        {identify_option,    source_option,         output_option,  kind_option,      patch_option,
         voice_option,       music_option,          lang_option,    quiet_option,     json_option,
         emulator_option,    changed_option,        out_option,     title_option,     region_option,
         description_option, description_ru_option, voices_option,  tracklist_option, keys_option,
         seeddb_option,      patch_version_option,  package_option, replace_option});
    parser.addPositionalArgument(
        QStringLiteral("command"),
        QStringLiteral("identify, install, patches, music, places, remove-mods, make-patch or "
                       "add-patch."),
        QStringLiteral("[command]"));
    parser.addPositionalArgument(QStringLiteral("IMAGE"),
                                 QStringLiteral("The image, for identify and patches; the "
                                                "package, for add-patch."),
                                 QStringLiteral("[IMAGE]"));

    if (!parser.parse(QCoreApplication::arguments()))
        return UsageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        ExitWithHelp(parser);
    if (parser.isSet(QStringLiteral("version")))
        ExitWithVersion();

    const QStringList positional = parser.positionalArguments();
    const QString command = positional.isEmpty() ? QString() : positional.first();
    const bool old_identify = command.isEmpty() && parser.isSet(identify_option);
    const bool install = command.isEmpty() ? !old_identify : command == QLatin1String("install");

    // Each command takes only its own options.
    QList<const QCommandLineOption*> allowed;
    qsizetype positional_count = 1;
    if (old_identify) {
        allowed = {&identify_option};
        positional_count = 0;
    } else if (install) {
        allowed = {&source_option,   &output_option, &kind_option, &patch_option,
                   &voice_option,    &music_option,  &lang_option, &quiet_option,
                   &emulator_option, &replace_option};
        positional_count = command.isEmpty() ? 0 : 1;
    } else if (command == QLatin1String("identify")) {
        allowed = {&json_option};
        positional_count = 2;
    } else if (command == QLatin1String("patches")) {
        allowed = {&lang_option, &json_option};
        positional_count = 2;
    } else if (command == QLatin1String("music")) {
        allowed = {&patch_option, &lang_option, &json_option};
        positional_count = 2;
    } else if (command == QLatin1String("places")) {
        allowed = {&emulator_option, &json_option};
    } else if (command == QLatin1String("remove-mods")) {
        allowed = {&output_option, &title_option, &emulator_option, &lang_option};
    } else if (command == QLatin1String("make-patch")) {
        allowed = {&source_option,         &changed_option, &out_option,
                   &title_option,          &region_option,  &description_option,
                   &description_ru_option, &voices_option,  &tracklist_option,
                   &patch_version_option,  &package_option};
    } else if (command == QLatin1String("add-patch")) {
        allowed = {&replace_option, &lang_option};
        positional_count = 2;
    } else {
        return UsageError(QStringLiteral("unknown command '%1'").arg(command));
    }
    if ((!command.isEmpty() || install) && command != QLatin1String("add-patch") &&
        command != QLatin1String("remove-mods"))
        allowed << &keys_option << &seeddb_option;
    for (const QString& name : parser.optionNames()) {
        const bool ok = std::any_of(allowed.begin(), allowed.end(), [&](const auto* option) {
            return option->names().contains(name);
        });
        if (!ok) {
            return UsageError(
                QStringLiteral("--%1 does not apply to %2")
                    .arg(name, command.isEmpty() ? QStringLiteral("this form") : command));
        }
    }
    if (positional.size() != positional_count) {
        return UsageError(positional.size() > positional_count
                              ? QStringLiteral("unexpected argument '%1'").arg(positional.last())
                          : command == QLatin1String("add-patch")
                              ? QStringLiteral("add-patch needs a FILE")
                              : QStringLiteral("%1 needs an IMAGE").arg(command));
    }

    // Named key files win over the folders searched for them.
    const auto absolute = [](const QString& path) {
        return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
    };
    SetKeySearch({ProgramFolder(), absolute(parser.value(keys_option)),
                  absolute(parser.value(seeddb_option))});

    if (old_identify)
        return Identify(parser.value(identify_option), false, false);
    if (command == QLatin1String("identify"))
        return Identify(positional.at(1), true, parser.isSet(json_option));
    if (command == QLatin1String("patches"))
        return ListPatches(positional.at(1), parser.value(lang_option), parser.isSet(json_option));
    if (command == QLatin1String("add-patch"))
        return RunAddPatch(positional.at(1), parser.value(lang_option),
                           parser.isSet(replace_option));
    if (command == QLatin1String("places"))
        return ListPlaces(parser.values(emulator_option), parser.isSet(json_option));
    if (command == QLatin1String("remove-mods")) {
        const QString title_id = parser.value(title_option);
        if (parser.value(output_option).isEmpty())
            return UsageError(QStringLiteral("remove-mods needs --output"));
        if (parser.isSet(title_option) &&
            !QRegularExpression(QStringLiteral("^[0-9A-Fa-f]{16}$")).match(title_id).hasMatch())
            return UsageError(QStringLiteral("--title must be a title ID of 16 hexadecimal "
                                             "digits, not '") +
                              title_id + QLatin1Char('\''));
        return RemoveMods(parser.value(output_option), title_id, parser.values(emulator_option),
                          parser.value(lang_option));
    }
    if (command == QLatin1String("music"))
        return ShowMusic(positional.at(1), parser.value(patch_option), parser.value(lang_option),
                         parser.isSet(json_option));

    if (command == QLatin1String("make-patch")) {
        TMakePatchInput input;
        input.SourcePath = parser.value(source_option);
        input.ChangedFolder = parser.value(changed_option);
        input.OutputFolder = parser.value(out_option);
        input.Title = parser.value(title_option);
        input.Version = parser.value(patch_version_option);
        input.Region = parser.value(region_option);
        input.DescriptionFile = parser.value(description_option);
        input.RussianDescriptionFile = parser.value(description_ru_option);
        input.VoicesFolder = parser.value(voices_option);
        input.TrackListFile = parser.value(tracklist_option);
        if (input.SourcePath.isEmpty() || input.ChangedFolder.isEmpty() ||
            input.OutputFolder.isEmpty() || input.Title.isEmpty())
            return UsageError(
                QStringLiteral("--source, --changed, --out and --title are required"));
        if (parser.isSet(region_option) &&
            !QStringList{QStringLiteral("EUR"), QStringLiteral("USA"), QStringLiteral("JAP")}
                 .contains(input.Region))
            return UsageError(QStringLiteral("--region must be EUR, USA or JAP, not '") +
                              input.Region + QLatin1Char('\''));
        const bool package = parser.isSet(package_option);
        if (package) {
            // Refused before the folder is made: an earlier package is never overwritten.
            const QFileInfo out(input.OutputFolder);
            const QString path = out.absolutePath() + QLatin1Char('/') +
                                 PatchPackageFileName(out.absoluteFilePath());
            if (QFileInfo::exists(path)) {
                WriteLines(stderr,
                           QStringLiteral("qvtpatch make-patch: the package is there already: ") +
                               path);
                return kExitFailed;
            }
        }
        return RunMakePatch(input, package);
    }

    TInstallOptions options;
    options.Source = parser.value(source_option);
    options.Output = parser.value(output_option);
    options.Kind = parser.value(kind_option);
    options.Patch = parser.value(patch_option);
    options.Music = parser.value(music_option);
    options.Language = parser.value(lang_option);
    options.Quiet = parser.isSet(quiet_option);
    options.Emulators = parser.values(emulator_option);
    options.Replace = parser.isSet(replace_option);
    if (parser.isSet(kind_option) && !OutputKindNames().contains(options.Kind))
        return UsageError(QStringLiteral("--kind must be ") +
                          OutputKindNames().join(QStringLiteral(", ")) + QStringLiteral(", not '") +
                          options.Kind + QLatin1Char('\''));
    bool ok = false;
    options.Voice = parser.value(voice_option).toInt(&ok);
    if (!ok || options.Voice < 0 || options.Voice > 2)
        return UsageError(QStringLiteral("--voice must be 0, 1 or 2, not '") +
                          parser.value(voice_option) + QLatin1Char('\''));
    if (options.Source.isEmpty() || options.Output.isEmpty() || options.Kind.isEmpty())
        return UsageError(QStringLiteral("--source, --output and --kind are required"));
    return RunInstall(options);
}
