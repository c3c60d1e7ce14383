#pragma once
// Writing an image as a Z3DS file, the compressed form the emulator reads.

#include "ctr/FileIo.h"
#include "ctr/ImageKind.h"
#include "ctr/Z3ds.h"

#include <cstdint>
#include <filesystem>

namespace ctr {

/// Writes `input`, an image of `kind`, as a Z3DS file at `output` in the emulator's layout
/// (frames of 256 KiB for NCSD and NCCH, 32 MiB for CIA; metadata `compressor`, `date`,
/// `maxframesize` and `titleinfo`), compressing frames on `threads` threads. `progress`
/// counts input bytes and may cancel. The output appears whole or not at all (TOutFile).
void CompressImage(const std::filesystem::path& input, TImageKind kind,
                   const std::filesystem::path& output, TProgress* progress = nullptr,
                   unsigned threads = 2, bool scratch = false);

/// Writes `image` as CompressImage does, through `write_at` (front to back, then the header's
/// compressed size); returns the Z3DS file's size. Where no thread can be started (the
/// browser's engine), the frames are compressed on the caller's thread.
std::uint64_t CompressImageTo(TInFile& image, TImageKind kind, const TWriteAt& write_at,
                              TProgress* progress = nullptr, unsigned threads = 2);

} // namespace ctr
