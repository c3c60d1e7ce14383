#pragma once
// The stages that put the patch's own files into the unpacked game, shared by the image and
// the mod folder runs: the replacement folders, then voices and music.

namespace engine {

class TRunContext;

/// Copies the patch's exefs and romfs folders over the unpacked ones in tools/temp (progress
/// 75 after each). Nothing without a patch folder.
void CopyReplacementFolders(TRunContext& run);

/// Voices and music in the unpacked sound archive; a failure is a warning, not the end.
void ApplySoundArchive(TRunContext& run);

} // namespace engine
