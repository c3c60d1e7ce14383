#pragma once
// The game's CSAR sound archive (.bcsar) taken apart into piece files and put together again.
//
// Piece tree under a folder F (every path component is fixed):
//   F/1_CSAR_Header.bin  F/2_CSAR_STRG.bin  F/3_CSAR_INFO.bin  F/4_CSAR_FILE.bin
//   F/4_CSAR_FILE/1_FILE_Header.bin  F/4_CSAR_FILE/2_FILE_CWSD.bin  F/4_CSAR_FILE/3_CWAR.bin
//   F/4_CSAR_FILE/3_CWAR/1_CWAR_Header.bin  F/4_CSAR_FILE/3_CWAR/2_CWAR_INFO.bin
//   F/4_CSAR_FILE/3_CWAR/3_BCWAV/000.bcwav, 001.bcwav, ... 999.bcwav, 1000.bcwav, ...
//
// Every operation returns 0 on success and -1 on failure. With `verbose` set, each progress
// or failure message is written to standard output as one line of UTF-8. Folders are given
// without a trailing separator; a piece's path is the folder's text, '/' and the piece's name.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

/// Splits the archive that begins at `start` in `stream` into the four CSAR pieces in
/// `folder` (which must exist) and unpacks its FILE partition into folder/4_CSAR_FILE,
/// which is replaced whole. A piece file that cannot be written at this level throws
/// TSystemError.
int UnpackBcsar(std::span<const std::uint8_t> stream, const std::filesystem::path& folder,
                std::int64_t start, bool verbose);

/// Splits the FILE partition at `start` into its 32-byte header, the CWSD part and the CWAR,
/// and unpacks the CWAR into folder/3_CWAR, which is replaced whole.
int UnpackCsarFile(std::span<const std::uint8_t> stream, const std::filesystem::path& folder,
                   std::int64_t start, bool verbose);

/// Splits the CWAR at `start` into its header, its INFO section and one file per clip in
/// folder/3_BCWAV.
int UnpackCwar(std::span<const std::uint8_t> stream, const std::filesystem::path& folder,
               std::int64_t start, bool verbose);

/// Rebuilds the whole archive from the piece tree in `folder`. On success `output` holds the
/// archive (its previous content is replaced); on failure it is left untouched. Nothing is
/// written to disk. A missing or unreadable CSAR header, STRG or INFO piece throws
/// TSystemError.
int PackBcsar(std::vector<std::uint8_t>& output, const std::filesystem::path& folder, bool verbose);

/// Rebuilds the FILE partition from folder/1_FILE_Header.bin, folder/2_FILE_CWSD.bin and the
/// rebuilt `cwar`. `output` is replaced on success only.
int PackCsarFile(std::vector<std::uint8_t>& output, std::span<const std::uint8_t> cwar,
                 const std::filesystem::path& folder, bool verbose);

/// Rebuilds the CWAR from folder/1_CWAR_Header.bin, folder/2_CWAR_INFO.bin and the clip files
/// in folder/3_BCWAV, recomputing the clip table. `output` is replaced on success only.
int PackCwar(std::vector<std::uint8_t>& output, const std::filesystem::path& folder, bool verbose);

/// Zero bytes the packer puts after a clip or the CWSD part of `length` bytes: lengths of 8, 16
/// or 24 modulo 32 are brought up to the next multiple of 32, all others get none.
std::uint64_t AlignmentPad(std::uint64_t length);

/// Message boxes raised by these operations ("Cannot load ..." and nested-step errors) go to
/// the current thread's handler as UTF-8 text; the default writes the text to standard error.
/// The install run sets a handler that shows the box on the window's thread and waits for
/// its OK.
using TBcsarMessageHandler = std::function<void(const std::string& text)>;
/// Sets the handler for the calling thread; an empty handler restores the default.
void SetBcsarMessageHandler(TBcsarMessageHandler handler);
