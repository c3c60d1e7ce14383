#include "engine/ImageChecks.h"

#include "ctr/FileIo.h"
#include "ctr/Ncsd.h"
#include "ctr/Platform.h"
#include "ctr/Verify.h"
#include "ctr/Z3ds.h"

#include <memory>
#include <system_error>
#include <vector>

namespace engine {

namespace fs = std::filesystem;

namespace {

// The game's sound archive inside the RomFS, and the fields of its header read here.
constexpr char kSoundArchivePath[] = "sound/QK123.bcsar";
constexpr std::uint64_t kCsarInfoOffsetField = 36; // u32: INFO partition offset from the start

// The file's own size; 0 when it cannot be read.
std::int64_t FileSize(const fs::path& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    return error ? 0 : static_cast<std::int64_t>(size);
}

} // namespace

std::string ContainerProblem(const fs::path& image, ctr::TImageKind kind, bool compressed,
                             std::string_view output_kind) {
    try {
        const std::unique_ptr<ctr::TInFile> file = ctr::OpenImageFile(image);
        if (file->Direct() == compressed)
            return compressed ? "the image is not compressed" : "the image is compressed";
        const auto found = ctr::DetectImageKind(*file);
        if (!found || *found != kind)
            return "the image is not a usable " + std::string(output_kind);
    } catch (const std::exception& failure) {
        return failure.what();
    }
    return {};
}

std::string SoundArchiveProblem(const fs::path& image, ctr::TImageKind kind) {
    std::string error;
    const auto place = ctr::FindRomFsFile(image, kind, kSoundArchivePath, &error);
    if (!place)
        return error.empty() ? "sound/QK123.bcsar is not in the RomFS" : error;
    // The place is one in the image: a compressed file is read through its decompression.
    std::unique_ptr<ctr::TInFile> file;
    try {
        file = ctr::OpenImageFile(image);
    } catch (const std::exception& failure) {
        return failure.what();
    }
    const auto read_at = [&](std::uint64_t offset, std::uint64_t length) {
        std::vector<std::uint8_t> bytes;
        if (offset > place->Size || length > place->Size - offset || place->Offset > file->Size() ||
            offset > file->Size() - place->Offset ||
            !file->Contains(place->Offset + offset, length))
            return bytes;
        bytes.resize(std::size_t(length));
        try {
            file->ReadAt(place->Offset + offset, bytes);
        } catch (const std::exception&) {
            bytes.clear();
        }
        return bytes;
    };
    const auto is_magic = [](const std::vector<std::uint8_t>& bytes, std::string_view magic) {
        return bytes.size() == magic.size() &&
               std::equal(bytes.begin(), bytes.end(), magic.begin(),
                          [](std::uint8_t b, char c) { return b == std::uint8_t(c); });
    };
    if (!is_magic(read_at(0, 4), "CSAR"))
        return "sound/QK123.bcsar does not start with CSAR";
    const std::vector<std::uint8_t> field = read_at(kCsarInfoOffsetField, 4);
    if (field.size() != 4)
        return "sound/QK123.bcsar is cut short";
    const std::uint32_t info =
        field[0] | field[1] << 8 | field[2] << 16 | std::uint32_t(field[3]) << 24;
    if (!is_magic(read_at(info, 4), "INFO"))
        return "sound/QK123.bcsar has no INFO partition at its INFO offset";
    return {};
}

std::int64_t SourceImageSize(const fs::path& source) {
    try {
        return static_cast<std::int64_t>(ctr::OpenImageFile(source)->Size());
    } catch (const ctr::TCtrError&) {
        return FileSize(source);
    }
}

std::int64_t SourceContentSize(const fs::path& source, std::string_view source_kind) {
    try {
        // A compressed image counts with the size of the image it holds.
        const std::unique_ptr<ctr::TInFile> file = ctr::OpenImageFile(source);
        if (source_kind != ".3ds")
            return static_cast<std::int64_t>(file->Size());
        return static_cast<std::int64_t>(ctr::ReadNcsdPartition0(*file).Size);
    } catch (const ctr::TCtrError&) {
        return FileSize(source);
    }
}

std::int64_t PackDatSize(const fs::path& source, std::string_view source_kind) {
    const auto kind = ctr::ImageKindFromText(std::string(source_kind));
    if (!kind)
        return 0;
    const auto place = ctr::FindRomFsFile(source, *kind, "pack.dat");
    return place ? static_cast<std::int64_t>(place->Size) : 0;
}

} // namespace engine
