#pragma once
// Patch packages read and written through libzip: the desktop's part of the engine (the page's
// build has no libzip and no packages; engine/ZipWriter.h stores, where packages deflate).

#include "engine/PatchPackage.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace engine {

/// Reads the whole package without writing anything: a zip archive that opens and whose
/// directory agrees with its entries, entries that are stored or deflated and not encrypted,
/// names SafeEntryName takes, no two names differing only in letter case, no link or special
/// file, at most `limits`, and one patch folder with a description file (.dsc) at its top.
TPackageProblem CheckPatchPackage(const std::filesystem::path& package,
                                  const TPackageLimits& limits = {});

/// Writes the patch folder `patch_folder` as the package `package` (a file that must not exist
/// yet): every file and folder below it under the folder's own name, deflated. The archive is
/// written beside `package` under another name and renamed when complete. False with the
/// reason (UTF-8) in `problem`.
bool WritePatchPackage(const std::filesystem::path& patch_folder,
                       const std::filesystem::path& package, std::string& problem);

/// One package being added to a patch root. The constructor checks it whole, unpacks it into
/// a scratch folder inside the patch root (created when missing) and reads its description for
/// `language`; Place() then gives it its folder. Whatever is not placed goes with the object,
/// and the patch root is as it was.
class TPackageAdding {
public:
    TPackageAdding(const std::filesystem::path& package, const std::filesystem::path& patch_root,
                   std::u16string_view language, bool russian_locale,
                   const TPackageLimits& limits = {});
    ~TPackageAdding();
    TPackageAdding(const TPackageAdding&) = delete;
    TPackageAdding& operator=(const TPackageAdding&) = delete;

    /// Why the package was refused; nothing else here then holds.
    const TPackageProblem& Problem() const { return m_problem; }
    /// The package's description.
    const TDescriptionFields& Patch() const { return m_patch; }
    /// The patch of the same title and region already in the patch root.
    const std::optional<TInstalledPatch>& Installed() const { return m_installed; }

    /// Gives the unpacked patch its folder: PatchFolderName of the title, with " (2)" and up
    /// when another patch has that name. With `replace`, the installed patch of the same title
    /// is moved aside first and its place taken; it is removed once the new one is in place.
    TPackageProblem Place(bool replace);
    /// Where the patch now is, and its description file, once placed.
    const std::filesystem::path& Folder() const { return m_folder; }
    std::filesystem::path DescriptionPath() const { return m_folder / m_description; }

private:
    std::filesystem::path m_root;
    std::filesystem::path m_scratch;
    std::filesystem::path m_unpacked;
    std::filesystem::path m_description; // the chosen description file's name
    std::filesystem::path m_folder;
    TPackageProblem m_problem;
    TDescriptionFields m_patch;
    std::optional<TInstalledPatch> m_installed;
};

} // namespace engine
