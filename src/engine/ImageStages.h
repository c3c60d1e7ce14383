#pragma once
// The tool stages of an image output: the source image taken apart into tools/temp, the game's
// files unpacked, and the image built again from them. A run over a source of one kind (".cia",
// ".3ds" or ".cxi") calls them in order, with the pack.dat and patch stages between.

#include <filesystem>
#include <string_view>

namespace engine {

class TRunContext;

/// Removes whatever an earlier run left in tools/temp (a killed run, a failed deletion); a
/// file or a link in its place is removed as the entry itself, never followed.
void ClearTempFolder(TRunContext& run);

/// Creates tools/temp and tools/temp/headers.
void MakeTempFolder(TRunContext& run);

/// A compressed source of `source_kind` written out whole into tools/temp (progress up to 5),
/// which the rest of the run takes apart as it would an uncompressed source: the copy's path.
/// Empty when the source is read as it is: not compressed, read through its frames by a mod
/// folder run, or encrypted (decrypted straight from its frames).
std::filesystem::path DecompressSource(TRunContext& run, std::string_view source_kind);

/// The stages that take the source image apart into tools/temp/exefs.bin and romfs.bin
/// (progress 5, 10, 20). `game_content_decrypted`: the decryption of a CIA or card image
/// source already wrote what the first stage takes out of the image, where it puts it.
void TakeSourceApart(TRunContext& run, std::string_view source_kind, bool game_content_decrypted);

/// The RomFS tree, the CXI's headers and the ExeFS files and header (progress 30, 35, 40),
/// then the intermediates deleted (45).
void UnpackGame(TRunContext& run, std::string_view source_kind);

/// ExeFS, RomFS, CXI, then the CIA or card image (progress 85, 90, 95), then a compressed
/// output's compression (97 to 99). The output file is written, not yet read back.
void RebuildImage(TRunContext& run);

} // namespace engine
