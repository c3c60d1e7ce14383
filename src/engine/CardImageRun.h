#pragma once
// The card image run without Qt, for the browser: the game's card image (plain or compressed,
// read through its layers) built again with the patch in it, streamed through positioned
// writes without a work folder; the CIA run builds a CIA from any image so. The RomFS holds every
// file of the game, the patch's in place of the game's and the patched pack.dat; the ExeFS takes
// the patch's code, banner and icon. The bytes are those of the desktop's card image output for the
// same image and patch.

#include "ctr/FileIo.h"
#include "engine/ModFolderJob.h"
#include "engine/ScratchFile.h"

#include <cstdint>

namespace engine {

/// A card image run: what a mod folder run needs (the image must be a card image), and where
/// the patched pack.dat is kept until the RomFS is written.
struct TCardImageJob : TModFolderJob {
    /// Where the run writes the patched pack.dat; it removes it at its end, whatever the end.
    TScratchFile* PackDatScratch = nullptr;
};

/// How a card image run ended, and the image's size once built.
struct TCardImageResult : TModFolderResult {
    std::uint64_t Size = 0;
};

/// Builds the card image of `job` through `write_at` (offsets from the image's start). Every
/// byte read from the source has been checked before it returns success; on any other end the
/// bytes written are not an image. Throws nothing: every end is in the result.
TCardImageResult RunCardImage(const TCardImageJob& job, const ctr::TWriteAt& write_at,
                              const TModFolderHost& host);

/// Builds the CIA of `job` (an image of any kind) through `write_at`, from the same parts; the
/// CXI in it is read back through `read_back` (offsets from the CIA's start) for its hash. The
/// bytes are those of the desktop's CIA output for the same image and patch.
TCardImageResult RunCia(const TCardImageJob& job, const ctr::TWriteAt& write_at,
                        const ctr::TInFile::TReadSource& read_back, const TModFolderHost& host);

} // namespace engine
