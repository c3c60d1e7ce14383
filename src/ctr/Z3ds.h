#pragma once
// The emulator's compressed images (Z3DS: .zcci, .zcia, .zcxi): a 0x20-byte header, a small
// metadata block, then a zstd seekable stream of independent frames with a seek table at its
// end. Reading is random access through the seek table: small frames (a card image's) are
// decompressed whole and a few of them cached; large ones (a CIA's) are decompressed as they
// are read, keeping a window of a few MiB. The image is never held whole in memory. A reader
// that closes leaves its buffers (at most 16 MiB in all) to the next one.

#include "ctr/FileIo.h"
#include "ctr/ImageKind.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ctr {

/// What the header and metadata of a Z3DS file say.
struct TZ3dsInfo {
    TImageKind Kind = TImageKind::Cxi;  // by the underlying magic: NCSD, NCCH or CIA
    std::uint64_t CompressedSize = 0;   // bytes of the seekable stream
    std::uint64_t UncompressedSize = 0; // bytes of the image
    std::uint64_t FrameCount = 0;
    std::uint64_t LargestFrame = 0; // decompressed bytes of the largest frame
    /// Metadata items in file order, name and value as stored; a reader needs none of them.
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> Metadata;
};

/// True when the file at `path` starts with the Z3DS magic (a short or unreadable file is not).
bool IsZ3dsFile(const std::filesystem::path& path);

/// Reads the image inside a Z3DS file at any offset. Opening checks the header, the metadata
/// bounds and the whole seek table against the header's sizes; every failure throws TCtrError
/// with a one-line English reason.
class TZ3dsReader {
public:
    explicit TZ3dsReader(const std::filesystem::path& path);
    ~TZ3dsReader();
    TZ3dsReader(const TZ3dsReader&) = delete;
    TZ3dsReader& operator=(const TZ3dsReader&) = delete;

    const TZ3dsInfo& Info() const;
    std::uint64_t Size() const { return Info().UncompressedSize; }
    /// Exactly out.size() decompressed bytes at `offset`, or a throw. Not thread-safe: one
    /// reader per thread.
    void Read(std::uint64_t offset, std::span<std::uint8_t> out);
    /// A large frame's size and checksum are checked when it is read to its end, so bytes of a
    /// frame read only in part are not yet known to be right: this decompresses each such frame
    /// to its end and throws TCtrError when one is damaged. Whatever was written from the
    /// reads is to be kept only when this returns.
    void ConfirmReads();

private:
    struct TState;
    std::unique_ptr<TState> m_state;
    friend void DecompressImage(const std::filesystem::path&, const std::filesystem::path&,
                                TProgress*, bool);
};

/// Opens an image for reading as the image it holds: a Z3DS file is decompressed frame by
/// frame as it is read (the returned file's Size() is the image's, Direct() is false); any
/// other file is read as it is.
std::unique_ptr<TInFile> OpenImageFile(const std::filesystem::path& path);

/// The container kind of an image by its content: the CIA header size, NCSD or NCCH magic at
/// 0x100 (read through OpenImageFile's layer when `image` is one). Nothing when none fits.
std::optional<TImageKind> DetectImageKind(TInFile& image);

/// Writes the image inside the Z3DS file `input` to `output`. `progress` counts output bytes
/// and may cancel. A `scratch` output is not forced to the disk.
void DecompressImage(const std::filesystem::path& input, const std::filesystem::path& output,
                     TProgress* progress = nullptr, bool scratch = false);

} // namespace ctr
