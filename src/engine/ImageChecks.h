#pragma once
// Checks and sizes of an image file that a run and the space estimate need, read through the
// container library (a compressed image as the image it holds).

#include "ctr/ImageKind.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace engine {

/// Why the image at `image` is not of `kind`, compressed exactly when `compressed` (its
/// output kind named as `output_kind`); empty when it is.
std::string ContainerProblem(const std::filesystem::path& image, ctr::TImageKind kind,
                             bool compressed, std::string_view output_kind);

/// Why the game's sound archive in the image's RomFS cannot be patched (missing, no CSAR
/// header, cut short, no INFO partition at its INFO offset); empty when it can.
std::string SoundArchiveProblem(const std::filesystem::path& image, ctr::TImageKind kind);

/// The size of the image a file holds (a compressed one's unpacked size); the file's own size
/// when the container library cannot read it, 0 when that cannot be read either.
std::int64_t SourceImageSize(const std::filesystem::path& source);

/// The size of the content a run unpacks: a card image's partition 0, the whole image of any
/// other `source_kind` (".cia", ".cxi"); as SourceImageSize gives when it cannot be read.
std::int64_t SourceContentSize(const std::filesystem::path& source, std::string_view source_kind);

/// The size of the game's pack.dat in the image; 0 when it cannot be found.
std::int64_t PackDatSize(const std::filesystem::path& source, std::string_view source_kind);

} // namespace engine
