#include "core/PatchPackage.h"

#include "core/FileTools.h"
#include "core/Language.h"
#include "ctr/Platform.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr char kPackageExtension[] = ".qvtpatch";
constexpr qsizetype kMaxFolderNameLength = 80;
constexpr qsizetype kMaxEntryNameLength = 1024;
constexpr qsizetype kMaxNamePartLength = 255;
constexpr std::int64_t kCopyChunk = 1 << 20;

// The file type bits of a Unix mode in the upper half of an entry's external attributes.
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixRegularFile = 0100000;
constexpr std::uint32_t kUnixFolder = 0040000;
// A Windows reparse point (a link or a junction) in the lower half.
constexpr std::uint32_t kWindowsReparsePoint = 0x400;

struct TZipDiscard {
    void operator()(zip_t* zip) const { zip_discard(zip); }
};
using TZip = std::unique_ptr<zip_t, TZipDiscard>;
struct TZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using TZipFile = std::unique_ptr<zip_file_t, TZipFileClose>;

// libzip takes file names in UTF-8 on Windows and as the system's bytes elsewhere, which is
// what a path's UTF-8 form is on each.
std::string ZipPath(const QString& path) {
    return ctr::PathToUtf8(std::filesystem::path(QDir::toNativeSeparators(path).toStdU16String()));
}

QString ZipErrorText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

bool ReservedDeviceName(const QString& name) {
    // Windows takes these as devices whatever extension follows.
    const QString base = name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList reserved = {QStringLiteral("CON"), QStringLiteral("PRN"),
                                         QStringLiteral("AUX"), QStringLiteral("NUL")};
    if (reserved.contains(base))
        return true;
    return base.size() == 4 &&
           (base.startsWith(QLatin1String("COM")) || base.startsWith(QLatin1String("LPT"))) &&
           base.at(3) >= QLatin1Char('1') && base.at(3) <= QLatin1Char('9');
}

bool RefusedCharacter(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7F || QStringLiteral("<>:\"|?*\\").contains(c) ||
           c == QChar::ReplacementCharacter;
}

// A name every system writes as it reads, below the folder it is unpacked into.
bool SafeEntryName(const QString& name) {
    if (name.isEmpty() || name.size() > kMaxEntryNameLength || name.startsWith(QLatin1Char('/')))
        return false;
    for (const QString& part : name.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..") ||
            part.size() > kMaxNamePartLength || part.endsWith(QLatin1Char('.')) ||
            part.endsWith(QLatin1Char(' ')) || ReservedDeviceName(part))
            return false;
        for (const QChar c : part)
            if (RefusedCharacter(c))
                return false;
    }
    return true;
}

struct TEntry {
    zip_uint64_t Index;
    QString Name; // without a folder's trailing slash
    bool Folder;
    std::uint64_t Size;
};

// An opened package whose entries passed every check.
struct TOpenedPackage {
    TZip Zip;
    std::vector<TEntry> Entries;
    QString Prefix; // the patch folder's name and a slash; empty when the files lie at the top
    TPackageProblem Problem;
};

TPackageProblem Problem(const char* key, const QString& detail = QString()) {
    return {QLatin1String(key), detail};
}

TOpenedPackage OpenPackage(const QString& package, const TPackageLimits& limits) {
    TOpenedPackage opened;
    if (!QFileInfo(package).isFile()) {
        opened.Problem = Problem("PackageCannotOpen", package);
        return opened;
    }
    int error = 0;
    opened.Zip.reset(zip_open(ZipPath(package).c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!opened.Zip) {
        opened.Problem = error == ZIP_ER_OPEN || error == ZIP_ER_READ || error == ZIP_ER_NOENT
                             ? Problem("PackageCannotOpen", package)
                             : Problem("PackageNotZip", ZipErrorText(error));
        return opened;
    }
    const zip_int64_t count = zip_get_num_entries(opened.Zip.get(), 0);
    if (count < 0) {
        opened.Problem = Problem("PackageNotZip");
        return opened;
    }
    if (count > limits.MaxEntries) {
        opened.Problem = Problem("PackageTooManyEntries", QString::number(limits.MaxEntries));
        return opened;
    }

    std::uint64_t total = 0;
    QSet<QString> files;   // names folded to one letter case: Windows tells no case apart
    QSet<QString> folders; // named ones and the folders above every entry
    QSet<QString> tops;
    bool top_file = false;
    for (zip_uint64_t index = 0; index < zip_uint64_t(count); ++index) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        const char* raw_name = zip_get_name(opened.Zip.get(), index, ZIP_FL_ENC_GUESS);
        if (raw_name == nullptr || zip_stat_index(opened.Zip.get(), index, 0, &stat) != 0 ||
            !(stat.valid & ZIP_STAT_SIZE)) {
            opened.Problem = Problem("PackageNotZip");
            return opened;
        }
        QString name = QString::fromUtf8(raw_name);
        const bool folder = name.endsWith(QLatin1Char('/'));
        if (folder)
            name.chop(1);
        if (!SafeEntryName(name)) {
            opened.Problem = Problem("PackageUnsafeName", QString::fromUtf8(raw_name));
            return opened;
        }
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(opened.Zip.get(), index, 0, &system, &attributes) !=
            0) {
            opened.Problem = Problem("PackageNotZip");
            return opened;
        }
        const std::uint32_t unix_type = (attributes >> 16) & kUnixTypeMask;
        const bool special =
            system == ZIP_OPSYS_UNIX
                ? unix_type != 0 && unix_type != (folder ? kUnixFolder : kUnixRegularFile)
                : (attributes & kWindowsReparsePoint) != 0;
        if (special) {
            opened.Problem = Problem("PackageUnsafeName", name);
            return opened;
        }
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE) {
            opened.Problem = Problem("PackageUnsupportedEntry", name);
            return opened;
        }
        if (!folder && (!(stat.valid & ZIP_STAT_COMP_METHOD) ||
                        (stat.comp_method != ZIP_CM_STORE && stat.comp_method != ZIP_CM_DEFLATE))) {
            opened.Problem = Problem("PackageUnsupportedEntry", name);
            return opened;
        }
        if (folder && stat.size != 0) {
            opened.Problem = Problem("PackageDamagedEntry", name);
            return opened;
        }
        // The sizes the directory declares; unpacking stops at any entry that gives more.
        if (stat.size > std::uint64_t(limits.MaxTotalBytes) - total) {
            opened.Problem =
                Problem("PackageTooLarge",
                        QString::number(double(limits.MaxTotalBytes) / double(1 << 30), 'g', 3));
            return opened;
        }
        total += stat.size;

        const QString folded = name.toCaseFolded();
        if (folder ? files.contains(folded)
                   : (files.contains(folded) || folders.contains(folded))) {
            opened.Problem = Problem("PackageUnsafeName", name);
            return opened;
        }
        (folder ? folders : files).insert(folded);
        for (qsizetype slash = folded.indexOf(QLatin1Char('/')); slash >= 0;
             slash = folded.indexOf(QLatin1Char('/'), slash + 1)) {
            if (files.contains(folded.left(slash))) {
                opened.Problem = Problem("PackageUnsafeName", name);
                return opened;
            }
            folders.insert(folded.left(slash));
        }
        const qsizetype slash = name.indexOf(QLatin1Char('/'));
        tops.insert(slash < 0 ? name : name.left(slash));
        top_file = top_file || (!folder && slash < 0);
        opened.Entries.push_back({index, name, folder, stat.size});
    }
    // Either the patch folder itself, or (packed from inside) its files at the top.
    if (!top_file && tops.size() > 1) {
        opened.Problem = Problem("PackageNotOneFolder");
        return opened;
    }
    if (!top_file && tops.size() == 1)
        opened.Prefix = *tops.begin() + QLatin1Char('/');
    const bool described =
        std::any_of(opened.Entries.begin(), opened.Entries.end(), [&](const TEntry& entry) {
            if (entry.Folder || !entry.Name.startsWith(opened.Prefix))
                return false;
            const QString inside = entry.Name.mid(opened.Prefix.size());
            return !inside.contains(QLatin1Char('/')) &&
                   inside.endsWith(QLatin1String(".dsc"), Qt::CaseInsensitive);
        });
    if (!described)
        opened.Problem = Problem("PackageNoDescription");
    return opened;
}

// Unpacks the checked package into the empty folder `target`.
TPackageProblem UnpackPackage(const TOpenedPackage& opened, const QString& target) {
    const QString base = WithTrailingSeparator(target);
    std::vector<char> buffer(kCopyChunk);
    for (const TEntry& entry : opened.Entries) {
        const QString inside = entry.Name.mid(opened.Prefix.size());
        if (inside.isEmpty())
            continue; // the patch folder's own entry
        const QString path = base + inside;
        if (entry.Folder) {
            if (!QDir().mkpath(path))
                return Problem("PackageWriteError", path);
            continue;
        }
        if (!QDir().mkpath(QFileInfo(path).path()))
            return Problem("PackageWriteError", path);
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return Problem("PackageWriteError", path);
        const TZipFile in(zip_fopen_index(opened.Zip.get(), entry.Index, 0));
        if (!in)
            return Problem("PackageDamagedEntry", entry.Name);
        std::uint64_t written = 0;
        for (;;) {
            const zip_int64_t read = zip_fread(in.get(), buffer.data(), buffer.size());
            if (read < 0)
                return Problem("PackageDamagedEntry", entry.Name); // a checksum or a stream
            if (read == 0)
                break;
            // Never more than the directory declared: a size bomb stops here.
            if (std::uint64_t(read) > entry.Size - written)
                return Problem("PackageDamagedEntry", entry.Name);
            if (out.write(buffer.data(), read) != read)
                return Problem("PackageWriteError", path);
            written += std::uint64_t(read);
        }
        if (written != entry.Size)
            return Problem("PackageDamagedEntry", entry.Name);
        if (!out.flush())
            return Problem("PackageWriteError", path);
    }
    return {};
}

// The patch of the same title and region among the patch root's folders, if any.
std::optional<TInstalledPatch> FindInstalledPatch(const QString& patch_root,
                                                  const TPatchDescription& patch,
                                                  const QString& language) {
    const QString base = WithTrailingSeparator(patch_root);
    const QString dsc = QStringLiteral(".dsc");
    for (const QString& name : ListPatchEntries(patch_root, true, dsc)) {
        const QString folder = base + name;
        const QString chosen =
            ChooseDescriptionFile(ListPatchEntries(folder, false, dsc), language, dsc);
        if (chosen.isEmpty())
            continue;
        const auto installed = ReadPatchDescription(WithTrailingSeparator(folder) + chosen);
        if (installed &&
            installed->Title.trimmed().compare(patch.Title.trimmed(), Qt::CaseInsensitive) == 0 &&
            installed->Region == patch.Region)
            return TInstalledPatch{folder, installed->Version};
    }
    return std::nullopt;
}

} // namespace

QString TPackageProblem::Text(const TLanguageTable& texts) const {
    const QString text = texts.Lookup(Key);
    if (text.contains(QLatin1String("%1")))
        return text.arg(Detail);
    return Detail.isEmpty() ? text : text + QLatin1Char('\n') + Detail;
}

TPackageProblem CheckPatchPackage(const QString& package, const TPackageLimits& limits) {
    return OpenPackage(package, limits).Problem;
}

QString PatchPackageFileName(const QString& patch_folder) {
    return QFileInfo(patch_folder).fileName() + QLatin1String(kPackageExtension);
}

QString PatchPackageFilter() {
    return QStringLiteral("Patch package (*.qvtpatch)|*.qvtpatch");
}

bool IsPatchPackageName(const QString& path) {
    return path.endsWith(QLatin1String(kPackageExtension), Qt::CaseInsensitive);
}

bool WritePatchPackage(const QString& patch_folder, const QString& package, QString& problem) {
    const QFileInfo folder(patch_folder);
    if (!folder.isDir()) {
        problem = QStringLiteral("not a folder: ") + patch_folder;
        return false;
    }
    if (QFileInfo::exists(package)) {
        problem = QStringLiteral("the file is there already: ") + package;
        return false;
    }
    const QString name = folder.fileName();
    const QString root = folder.absoluteFilePath();
    int error = 0;
    TZip zip(zip_open(ZipPath(package).c_str(), ZIP_CREATE | ZIP_EXCL, &error));
    if (!zip) {
        problem = ZipErrorText(error) + QStringLiteral(": ") + package;
        return false;
    }
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries.append(it.next());
    entries.sort();
    const auto fail = [&](const QString& what) {
        problem = what + QStringLiteral(": ") + QString::fromUtf8(zip_strerror(zip.get()));
        return false;
    };
    if (zip_dir_add(zip.get(), name.toUtf8().constData(), ZIP_FL_ENC_UTF_8) < 0)
        return fail(name);
    for (const QString& path : entries) {
        const QFileInfo entry(path);
        const QString inside = name + QLatin1Char('/') + QDir(root).relativeFilePath(path);
        if (entry.isSymLink() || (!entry.isDir() && !entry.isFile())) {
            problem = QStringLiteral("a link or special file cannot be packed: ") + path;
            return false;
        }
        if (entry.isDir()) {
            if (zip_dir_add(zip.get(), inside.toUtf8().constData(), ZIP_FL_ENC_UTF_8) < 0)
                return fail(inside);
            continue;
        }
        zip_source_t* source = zip_source_file(zip.get(), ZipPath(path).c_str(), 0, -1);
        if (source == nullptr)
            return fail(path);
        if (zip_file_add(zip.get(), inside.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(source);
            return fail(inside);
        }
    }
    // libzip writes the archive under a scratch name beside it and renames it when complete.
    if (zip_close(zip.get()) != 0)
        return fail(package);
    zip.release();
    return true;
}

QString PatchFolderName(const QString& title) {
    QString name;
    for (const QChar c : title.simplified())
        name.append(RefusedCharacter(c) || c == QLatin1Char('/') ? QLatin1Char('_') : c);
    name.truncate(kMaxFolderNameLength);
    // A leading dot hides the folder from the patch list; a trailing dot or space Windows drops.
    while (name.startsWith(QLatin1Char('.')) || name.startsWith(QLatin1Char(' ')))
        name.remove(0, 1);
    while (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        name.chop(1);
    if (name.isEmpty())
        return QStringLiteral("patch");
    return ReservedDeviceName(name) ? QLatin1Char('_') + name : name;
}

TAddPatchResult AddPatchPackage(const QString& package, const QString& patch_root,
                                const QString& language, const TLanguageTable& texts,
                                const TReplaceQuestion& replace, const TPackageLimits& limits) {
    TAddPatchResult result;
    const auto refuse = [&](const TPackageProblem& problem) {
        result.Outcome = TAddPatchResult::TOutcome::Refused;
        result.Problem = problem.Text(texts);
        return result;
    };
    const TOpenedPackage opened = OpenPackage(package, limits);
    if (opened.Problem.Refused())
        return refuse(opened.Problem);
    if (!QDir().mkpath(patch_root))
        return refuse(Problem("PackageWriteError", patch_root));

    // Unpacked one level below a scratch folder of the patch root: the patch list, which reads
    // only the root's direct subfolders, never sees a patch half unpacked, and the finished
    // one reaches its place by a rename on the same disk.
    const QString base = WithTrailingSeparator(patch_root);
    QTemporaryDir scratch(base + QStringLiteral(".adding-XXXXXX"));
    if (!scratch.isValid())
        return refuse(Problem("PackageWriteError", patch_root));
    const QString unpacked = scratch.filePath(QStringLiteral("patch"));
    if (!QDir().mkpath(unpacked))
        return refuse(Problem("PackageWriteError", unpacked));
    const TPackageProblem unpack_problem = UnpackPackage(opened, unpacked);
    if (unpack_problem.Refused())
        return refuse(unpack_problem);

    const QString dsc = QStringLiteral(".dsc");
    const QString chosen =
        ChooseDescriptionFile(ListPatchEntries(unpacked, false, dsc), language, dsc);
    const auto description = chosen.isEmpty()
                                 ? std::nullopt
                                 : ReadPatchDescription(WithTrailingSeparator(unpacked) + chosen);
    if (!description)
        return refuse(Problem("PackageNoDescription"));
    if (description->Title.trimmed().isEmpty())
        return refuse(Problem("PackageNoTitle"));
    result.Patch = *description;
    const QString version_problem = ProgramVersionProblem(*description, texts);
    if (!version_problem.isEmpty()) {
        result.Outcome = TAddPatchResult::TOutcome::Refused;
        result.Problem = version_problem;
        return result;
    }

    const std::optional<TInstalledPatch> installed =
        FindInstalledPatch(patch_root, *description, language);
    if (installed) {
        result.PreviousVersion = installed->Version;
        const bool newer = CompareVersions(description->Version, installed->Version) > 0;
        if (!replace || !replace(*installed, *description, newer)) {
            result.Outcome = TAddPatchResult::TOutcome::Kept;
            result.Folder = installed->Folder;
            return result;
        }
    }

    // The folder's name: the title's, unless another patch has it already.
    const QString wanted = PatchFolderName(description->Title);
    QString target;
    for (int number = 1; target.isEmpty(); ++number) {
        const QString name = number == 1 ? wanted : wanted + QStringLiteral(" (%1)").arg(number);
        const QString existing = FindEntryNoCase(patch_root, name);
        if (installed && QFileInfo(existing) == QFileInfo(installed->Folder))
            target = installed->Folder; // the replaced patch's own place
        else if (!QFileInfo::exists(existing))
            target = base + name;
    }
    const QString aside = scratch.filePath(QStringLiteral("previous"));
    if (installed && !QDir().rename(installed->Folder, aside))
        return refuse(Problem("PackageWriteError", installed->Folder));
    if (!QDir().rename(unpacked, target)) {
        if (installed)
            QDir().rename(aside, installed->Folder);
        return refuse(Problem("PackageWriteError", target));
    }
    result.Outcome =
        installed ? TAddPatchResult::TOutcome::Replaced : TAddPatchResult::TOutcome::Added;
    result.Folder = target;
    result.DescriptionPath = WithTrailingSeparator(target) + chosen;
    return result; // the scratch folder goes, with the replaced patch in it
}
