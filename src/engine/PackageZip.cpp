#include "engine/PackageZip.h"

#include "ctr/Platform.h"
#include "engine/Folders.h"
#include "engine/PatchCatalogue.h"

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <system_error>
#include <vector>

namespace engine {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kCopyChunk = std::size_t(1) << 20;

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
std::string ZipPath(const fs::path& path) {
    return ctr::PathToUtf8(path.lexically_normal());
}

// A relative path with '/' between its names, as the archive names it.
std::string GenericUtf8(const fs::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

TText PathDetail(const fs::path& path) {
    return FromUtf8(ctr::PathToUtf8(path));
}

std::string ZipErrorText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

struct TEntry {
    zip_uint64_t Index;
    TText Name; // without a folder's trailing slash
    bool Folder;
    std::uint64_t Size;
};

// An opened package whose entries passed every check.
struct TOpenedPackage {
    TZip Zip;
    std::vector<TEntry> Entries;
    TText Prefix; // the patch folder's name and a slash; empty when the files lie at the top
    TPackageProblem Problem;
};

TPackageProblem Refusal(const char* key, TText detail = {}) {
    return {key, std::move(detail)};
}

// The unpacked limit in GiB as the refusal names it: three significant digits.
TText GibText(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", double(bytes) / double(1 << 30));
    return FromUtf8(text);
}

TOpenedPackage OpenPackage(const fs::path& package, const TPackageLimits& limits) {
    TOpenedPackage opened;
    std::error_code error_code;
    if (!fs::is_regular_file(package, error_code)) {
        opened.Problem = Refusal("PackageCannotOpen", PathDetail(package));
        return opened;
    }
    int error = 0;
    opened.Zip.reset(zip_open(ZipPath(package).c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!opened.Zip) {
        opened.Problem = error == ZIP_ER_OPEN || error == ZIP_ER_READ || error == ZIP_ER_NOENT
                             ? Refusal("PackageCannotOpen", PathDetail(package))
                             : Refusal("PackageNotZip", FromUtf8(ZipErrorText(error)));
        return opened;
    }
    const zip_int64_t count = zip_get_num_entries(opened.Zip.get(), 0);
    if (count < 0) {
        opened.Problem = Refusal("PackageNotZip");
        return opened;
    }
    if (count > limits.MaxEntries) {
        opened.Problem =
            Refusal("PackageTooManyEntries", FromUtf8(std::to_string(limits.MaxEntries)));
        return opened;
    }

    std::uint64_t total = 0;
    std::set<TText> files;   // names folded to one letter case: Windows tells no case apart
    std::set<TText> folders; // named ones and the folders above every entry
    std::set<TText> tops;
    bool top_file = false;
    for (zip_uint64_t index = 0; index < zip_uint64_t(count); ++index) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        const char* raw_name = zip_get_name(opened.Zip.get(), index, ZIP_FL_ENC_GUESS);
        if (raw_name == nullptr || zip_stat_index(opened.Zip.get(), index, 0, &stat) != 0 ||
            !(stat.valid & ZIP_STAT_SIZE)) {
            opened.Problem = Refusal("PackageNotZip");
            return opened;
        }
        TText name = FromUtf8(raw_name);
        const bool folder = !name.empty() && name.back() == u'/';
        if (folder)
            name.pop_back();
        if (!SafeEntryName(name)) {
            opened.Problem = Refusal("PackageUnsafeName", FromUtf8(raw_name));
            return opened;
        }
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(opened.Zip.get(), index, 0, &system, &attributes) !=
            0) {
            opened.Problem = Refusal("PackageNotZip");
            return opened;
        }
        const std::uint32_t unix_type = (attributes >> 16) & kUnixTypeMask;
        const bool special =
            system == ZIP_OPSYS_UNIX
                ? unix_type != 0 && unix_type != (folder ? kUnixFolder : kUnixRegularFile)
                : (attributes & kWindowsReparsePoint) != 0;
        if (special) {
            opened.Problem = Refusal("PackageUnsafeName", name);
            return opened;
        }
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE) {
            opened.Problem = Refusal("PackageUnsupportedEntry", name);
            return opened;
        }
        if (!folder && (!(stat.valid & ZIP_STAT_COMP_METHOD) ||
                        (stat.comp_method != ZIP_CM_STORE && stat.comp_method != ZIP_CM_DEFLATE))) {
            opened.Problem = Refusal("PackageUnsupportedEntry", name);
            return opened;
        }
        if (folder && stat.size != 0) {
            opened.Problem = Refusal("PackageDamagedEntry", name);
            return opened;
        }
        // The sizes the directory declares; unpacking stops at any entry that gives more.
        if (stat.size > std::uint64_t(limits.MaxTotalBytes) - total) {
            opened.Problem = Refusal("PackageTooLarge", GibText(limits.MaxTotalBytes));
            return opened;
        }
        total += stat.size;

        const TText folded = CaseKey(name);
        if (folder ? files.contains(folded)
                   : (files.contains(folded) || folders.contains(folded))) {
            opened.Problem = Refusal("PackageUnsafeName", name);
            return opened;
        }
        (folder ? folders : files).insert(folded);
        for (std::size_t slash = folded.find(u'/'); slash != TText::npos;
             slash = folded.find(u'/', slash + 1)) {
            if (files.contains(folded.substr(0, slash))) {
                opened.Problem = Refusal("PackageUnsafeName", name);
                return opened;
            }
            folders.insert(folded.substr(0, slash));
        }
        const std::size_t slash = name.find(u'/');
        tops.insert(name.substr(0, slash));
        top_file = top_file || (!folder && slash == TText::npos);
        opened.Entries.push_back({index, name, folder, stat.size});
    }
    // Either the patch folder itself, or (packed from inside) its files at the top.
    if (!top_file && tops.size() > 1) {
        opened.Problem = Refusal("PackageNotOneFolder");
        return opened;
    }
    if (!top_file && tops.size() == 1)
        opened.Prefix = *tops.begin() + u'/';
    const bool described =
        std::any_of(opened.Entries.begin(), opened.Entries.end(), [&](const TEntry& entry) {
            if (entry.Folder || !entry.Name.starts_with(opened.Prefix))
                return false;
            const std::u16string_view inside =
                std::u16string_view(entry.Name).substr(opened.Prefix.size());
            return inside.find(u'/') == TText::npos && inside.size() >= 4 &&
                   EqualNoCase(inside.substr(inside.size() - 4), u".dsc");
        });
    if (!described)
        opened.Problem = Refusal("PackageNoDescription");
    return opened;
}

// Unpacks the checked package into the empty folder `target`.
TPackageProblem UnpackPackage(const TOpenedPackage& opened, const fs::path& target) {
    std::vector<char> buffer(kCopyChunk);
    std::error_code error;
    for (const TEntry& entry : opened.Entries) {
        const TText inside = entry.Name.size() > opened.Prefix.size()
                                 ? entry.Name.substr(opened.Prefix.size())
                                 : TText();
        if (inside.empty())
            continue; // the patch folder's own entry
        const fs::path path = target / ctr::PathFromUtf8(ToUtf8(inside));
        if (entry.Folder) {
            fs::create_directories(path, error);
            if (!fs::is_directory(path, error))
                return Refusal("PackageWriteError", PathDetail(path));
            continue;
        }
        fs::create_directories(path.parent_path(), error);
        if (!fs::is_directory(path.parent_path(), error))
            return Refusal("PackageWriteError", PathDetail(path));
        const std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(ctr::OpenFile(path, "wbx"),
                                                                  std::fclose);
        if (!out)
            return Refusal("PackageWriteError", PathDetail(path));
        const TZipFile in(zip_fopen_index(opened.Zip.get(), entry.Index, 0));
        if (!in)
            return Refusal("PackageDamagedEntry", entry.Name);
        std::uint64_t written = 0;
        for (;;) {
            const zip_int64_t read = zip_fread(in.get(), buffer.data(), buffer.size());
            if (read < 0)
                return Refusal("PackageDamagedEntry", entry.Name); // a checksum or a stream
            if (read == 0)
                break;
            // Never more than the directory declared: a size bomb stops here.
            if (std::uint64_t(read) > entry.Size - written)
                return Refusal("PackageDamagedEntry", entry.Name);
            if (std::fwrite(buffer.data(), 1, std::size_t(read), out.get()) != std::size_t(read))
                return Refusal("PackageWriteError", PathDetail(path));
            written += std::uint64_t(read);
        }
        if (written != entry.Size)
            return Refusal("PackageDamagedEntry", entry.Name);
        if (std::fflush(out.get()) != 0)
            return Refusal("PackageWriteError", PathDetail(path));
    }
    return {};
}

} // namespace

TPackageProblem CheckPatchPackage(const fs::path& package, const TPackageLimits& limits) {
    return OpenPackage(package, limits).Problem;
}

bool WritePatchPackage(const fs::path& patch_folder, const fs::path& package,
                       std::string& problem) {
    std::error_code error_code;
    if (!fs::is_directory(patch_folder, error_code)) {
        problem = "not a folder: " + ctr::PathToUtf8(patch_folder);
        return false;
    }
    if (fs::exists(fs::symlink_status(package, error_code))) {
        problem = "the file is there already: " + ctr::PathToUtf8(package);
        return false;
    }
    fs::path root = fs::absolute(patch_folder, error_code).lexically_normal();
    if (!root.has_filename() && root.has_relative_path())
        root = root.parent_path();
    const std::string name = ctr::PathToUtf8(root.filename());
    int error = 0;
    TZip zip(zip_open(ZipPath(package).c_str(), ZIP_CREATE | ZIP_EXCL, &error));
    if (!zip) {
        problem = ZipErrorText(error) + ": " + ctr::PathToUtf8(package);
        return false;
    }
    // Every entry below the folder, links and hidden ones too, in the order of their paths'
    // UTF-16 code units.
    std::vector<std::pair<TText, fs::path>> entries;
    for (fs::recursive_directory_iterator it(root, error_code), end; !error_code && it != end;
         it.increment(error_code))
        entries.emplace_back(FromUtf8(GenericUtf8(it->path().lexically_relative(root))),
                             it->path());
    std::sort(entries.begin(), entries.end());
    const auto fail = [&](const std::string& what) {
        problem = what + ": " + zip_strerror(zip.get());
        return false;
    };
    if (zip_dir_add(zip.get(), name.c_str(), ZIP_FL_ENC_UTF_8) < 0)
        return fail(name);
    for (const auto& [relative, path] : entries) {
        const std::string inside = name + '/' + ToUtf8(relative);
        const fs::file_status status = fs::symlink_status(path, error_code);
        if (fs::is_symlink(status) || (!fs::is_directory(status) && !fs::is_regular_file(status))) {
            problem = "a link or special file cannot be packed: " + ctr::PathToUtf8(path);
            return false;
        }
        if (fs::is_directory(status)) {
            if (zip_dir_add(zip.get(), inside.c_str(), ZIP_FL_ENC_UTF_8) < 0)
                return fail(inside);
            continue;
        }
        zip_source_t* source = zip_source_file(zip.get(), ZipPath(path).c_str(), 0, -1);
        if (source == nullptr)
            return fail(ctr::PathToUtf8(path));
        if (zip_file_add(zip.get(), inside.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(source);
            return fail(inside);
        }
    }
    // libzip writes the archive under a scratch name beside it and renames it when complete.
    if (zip_close(zip.get()) != 0)
        return fail(ctr::PathToUtf8(package));
    zip.release();
    return true;
}

TPackageAdding::TPackageAdding(const fs::path& package, const fs::path& patch_root,
                               std::u16string_view language, bool russian_locale,
                               const TPackageLimits& limits)
    : m_root(patch_root) {
    const TOpenedPackage opened = OpenPackage(package, limits);
    m_problem = opened.Problem;
    if (m_problem.Refused())
        return;
    std::error_code error;
    fs::create_directories(patch_root, error);
    if (!fs::is_directory(patch_root, error)) {
        m_problem = Refusal("PackageWriteError", PathDetail(patch_root));
        return;
    }
    // Unpacked one level below a scratch folder of the patch root: the patch list, which reads
    // only the root's direct subfolders, never sees a patch half unpacked, and the finished
    // one reaches its place by a rename on the same disk.
    m_scratch = MakeScratchFolder(patch_root, ".adding-");
    if (m_scratch.empty()) {
        m_problem = Refusal("PackageWriteError", PathDetail(patch_root));
        return;
    }
    m_unpacked = m_scratch / "patch";
    if (!fs::create_directory(m_unpacked, error)) {
        m_problem = Refusal("PackageWriteError", PathDetail(m_unpacked));
        return;
    }
    m_problem = UnpackPackage(opened, m_unpacked);
    if (m_problem.Refused())
        return;

    const std::u16string_view dsc = u".dsc";
    const std::optional<fs::path> chosen =
        ChooseDescriptionFile(ListPatchEntries(m_unpacked, false, dsc), language, dsc);
    const auto description =
        chosen ? ReadDescriptionFile(m_unpacked / *chosen, russian_locale) : std::nullopt;
    if (!description) {
        m_problem = Refusal("PackageNoDescription");
        return;
    }
    m_patch = *description;
    m_description = *chosen;
    if (TrimmedText(m_patch.Title).empty())
        m_problem = Refusal("PackageNoTitle");
    else
        m_installed = FindInstalledPatch(patch_root, m_patch, language, russian_locale);
}

TPackageAdding::~TPackageAdding() {
    // The scratch folder goes, with a replaced patch in it.
    std::error_code error;
    if (!m_scratch.empty())
        fs::remove_all(m_scratch, error);
}

TPackageProblem TPackageAdding::Place(bool replace) {
    if (m_problem.Refused())
        return m_problem;
    const bool replacing = replace && m_installed;
    // The folder's name: the title's, unless another patch has it already.
    const TText wanted = PatchFolderName(m_patch.Title);
    std::error_code error;
    fs::path target;
    for (int number = 1; target.empty(); ++number) {
        const TText name =
            number == 1 ? wanted : wanted + u" (" + FromUtf8(std::to_string(number)) + u')';
        const fs::path name_path = ctr::PathFromUtf8(ToUtf8(name));
        const fs::path existing = FindEntryNoCase(m_root, name_path);
        if (replacing && fs::equivalent(existing, m_installed->Folder, error))
            target = m_installed->Folder; // the replaced patch's own place
        else if (!fs::exists(fs::symlink_status(existing, error)))
            target = m_root / name_path;
    }
    const fs::path aside = m_scratch / "previous";
    if (replacing) {
        fs::rename(m_installed->Folder, aside, error);
        if (error)
            return Refusal("PackageWriteError", PathDetail(m_installed->Folder));
    }
    fs::rename(m_unpacked, target, error);
    if (error) {
        if (replacing)
            fs::rename(aside, m_installed->Folder, error);
        return Refusal("PackageWriteError", PathDetail(target));
    }
    m_folder = target;
    return {};
}

} // namespace engine
