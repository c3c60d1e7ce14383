#include "engine/Folders.h"

#include "ctr/FileIo.h"
#include "ctr/Platform.h"
#include "engine/Text.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <system_error>
#include <vector>

namespace engine {

namespace fs = std::filesystem;

TText NameText(const fs::path& path) {
    return FromUtf8(ctr::PathToUtf8(path.filename()));
}

namespace {

bool CopyTree(const fs::path& source, const fs::path& target) {
    std::error_code ec;
    if (!fs::is_directory(target, ec)) {
        if (fs::exists(fs::symlink_status(target, ec)))
            return false; // a file stands where the folder should go
        if (!fs::create_directory(target, ec) || ec)
            return false;
    }
    bool ok = true;
    for (fs::directory_iterator it(source, ec), end; it != end; it.increment(ec)) {
        if (ec)
            return false;
        const fs::path destination = FindEntryNoCase(target, it->path().filename());
        if (it->is_directory(ec)) {
            ok = CopyTree(it->path(), destination) && ok;
        } else {
            ok = ctr::CopyFileReplacing(it->path(), destination, ec) && ok;
        }
    }
    return ok && !ec;
}

} // namespace

fs::path FindEntryNoCase(const fs::path& folder, const fs::path& name) {
    std::error_code ec;
    const fs::path exact = folder / name;
    if (fs::symlink_status(exact, ec).type() != fs::file_type::not_found && !ec)
        return folder / ctr::StoredName(exact);
    const TText wanted = NameText(name);
    TText best;
    fs::path best_name;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const TText candidate = NameText(it->path());
        if (EqualNoCase(candidate, wanted) && (best.empty() || candidate < best)) {
            best = candidate;
            best_name = it->path().filename();
        }
    }
    return best.empty() ? exact : folder / best_name;
}

bool CopyFolder(const fs::path& source, const fs::path& destination) {
    std::error_code ec;
    fs::path from = source;
    if (!from.has_filename())
        from = from.parent_path();
    if (!fs::is_directory(from, ec) || !fs::is_directory(destination, ec))
        return false;
    return CopyTree(from, FindEntryNoCase(destination, from.filename()));
}

fs::path MakeScratchFolder(const fs::path& parent, const fs::path& prefix) {
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string suffix(6, 'x');
        for (char& c : suffix)
            c = kLetters[random() % (sizeof kLetters - 1)];
        fs::path folder = parent / prefix;
        folder += suffix;
        std::error_code error;
        if (fs::create_directory(folder, error))
            return folder;
        if (error)
            break;
    }
    return {};
}

bool SameBytesOrThrow(ctr::TInFile& image, std::uint64_t offset, std::uint64_t size,
                      const std::filesystem::path& file) {
    ctr::TInFile other(file);
    if (other.Size() != size || !image.Contains(offset, size))
        return false;
    // Two buffers for the whole comparison: a fresh block per read costs the kernel's page
    // faults on every chunk and made a gigabyte's comparison several times slower than its
    // MD5.
    std::vector<std::uint8_t> a(std::size_t(std::min<std::uint64_t>(size, ctr::CopyChunkSize)));
    std::vector<std::uint8_t> b(a.size());
    for (std::uint64_t done = 0; done < size;) {
        const std::size_t part = std::size_t(std::min<std::uint64_t>(a.size(), size - done));
        image.ReadAt(offset + done, std::span(a.data(), part));
        other.ReadAt(done, std::span(b.data(), part));
        if (std::memcmp(a.data(), b.data(), part) != 0)
            return false;
        done += part;
    }
    return true;
}

bool SameBytes(ctr::TInFile& image, std::uint64_t offset, std::uint64_t size,
               const std::filesystem::path& file) {
    try {
        return SameBytesOrThrow(image, offset, size, file);
    } catch (const std::exception&) {
        return false;
    }
}

bool SameFiles(const std::filesystem::path& a, const std::filesystem::path& b) {
    try {
        ctr::TInFile first(a);
        return SameBytes(first, 0, first.Size(), b);
    } catch (const std::exception&) {
        return false;
    }
}

std::string NativePathText(const fs::path& path) {
    return ctr::PathToUtf8(fs::path(path).make_preferred());
}

std::vector<TText> FilesBelow(const fs::path& root) {
    std::vector<TText> files;
    std::error_code error;
    for (fs::recursive_directory_iterator
             it(root, fs::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error)) {
        std::error_code kind;
        if (it->is_regular_file(kind)) {
            const std::u8string text = it->path().lexically_relative(root).generic_u8string();
            files.push_back(FromUtf8(std::string(text.begin(), text.end())));
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

void RemovePartialFiles(const fs::path& file) {
    std::error_code error;
    const fs::path whole = fs::absolute(file, error);
    const TText name = NameText(whole);
    constexpr std::u16string_view kPart = u".part";
    const auto partial = [&](std::u16string_view candidate) {
        // name, a dot, eight digits, ".part"
        if (candidate.size() != name.size() + 9 + kPart.size() || !candidate.starts_with(name) ||
            !candidate.ends_with(kPart) || candidate[name.size()] != u'.')
            return false;
        const std::u16string_view digits = candidate.substr(name.size() + 1, 8);
        return std::all_of(digits.begin(), digits.end(), [](char16_t c) {
            return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
        });
    };
    std::vector<fs::path> found;
    for (fs::directory_iterator it(whole.parent_path(), error), end; !error && it != end;
         it.increment(error)) {
        std::error_code kind;
        if (it->is_regular_file(kind) && partial(NameText(it->path())))
            found.push_back(it->path());
    }
    for (const fs::path& path : found)
        fs::remove(path, error);
}

} // namespace engine
