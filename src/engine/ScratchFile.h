#pragma once
// A file a run makes in full before it can use it (a card image's patched pack.dat, read again
// when the RomFS is written): on the disk for the programs, in the browser's private storage for
// the page, where the in-memory file system would hold hundreds of MiB.

#include "ctr/FileIo.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

namespace engine {

/// Written front to back through positioned writes, then read by a path. The run that uses it
/// removes it at its end, whatever the end.
class TScratchFile {
public:
    virtual ~TScratchFile() = default;
    /// Writes `bytes` at `offset`; throws TCtrError when they do not get there.
    virtual void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
    /// Writing is over: the `size` bytes written, from now on read as a file at the path
    /// returned (TInFile).
    virtual std::filesystem::path Close(std::uint64_t size) = 0;
    /// Takes the file away; nothing reads it any more. Throws nothing.
    virtual void Remove() = 0;
};

/// A scratch file on the disk at `path` (whose folder exists), not forced to the disk, gone
/// after Remove() or with the object.
class TDiskScratch final : public TScratchFile {
public:
    explicit TDiskScratch(std::filesystem::path path) : m_path(std::move(path)) {}
    ~TDiskScratch() override { Remove(); }
    void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    std::filesystem::path Close(std::uint64_t size) override;
    void Remove() override;

private:
    void Open();

    std::filesystem::path m_path;
    std::unique_ptr<ctr::TOutFile> m_out;
    bool m_closed = false;
};

} // namespace engine
