#pragma once
// A ZIP archive written as it streams: entries stored as they are (a game's files do not
// compress), each entry's CRC-32 and sizes put into its header afterwards through positioned
// writes, and ZIP64 wherever a size or a position passes 4 GiB, so an archive holding a
// pack.dat of several GiB unpacks with any tool.

#include "engine/ModFolderJob.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace engine {

/// CRC-32 as ZIP uses it (the polynomial 0xEDB88320, reflected), continued from `crc`.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

class TZipWriter : public TModSink {
public:
    /// Writes `bytes` at `offset` of the archive (beyond its end, or over what is there).
    using TWriteAt = std::function<void(std::uint64_t offset, std::span<const std::uint8_t> bytes)>;
    /// Every entry gets the MS-DOS date and time given.
    explicit TZipWriter(TWriteAt write_at, std::uint16_t dos_date = 0x21,
                        std::uint16_t dos_time = 0);

    /// Starts an entry named `path` (UTF-8, '/'-separated); a size not given or from 4 GiB on
    /// gives its local header a ZIP64 field.
    void Begin(const std::string& path, std::optional<std::uint64_t> size) override;
    void Write(std::span<const std::uint8_t> bytes) override;
    /// The entry's CRC-32 and size go into its header; throws when a size given differs.
    void End() override;
    /// Writes the central directory: the archive is complete.
    void Finish() override;
    /// The archive's length so far.
    std::uint64_t Size() const { return m_position; }

private:
    struct TEntry {
        std::string Name;
        std::uint64_t Offset = 0; // of its local header
        std::uint64_t Size = 0;
        std::uint32_t Crc = 0;
        bool LocalZip64 = false;
        std::optional<std::uint64_t> Expected;
    };
    void Put(std::span<const std::uint8_t> bytes);

    TWriteAt m_write_at;
    std::uint16_t m_date;
    std::uint16_t m_time;
    std::uint64_t m_position = 0;
    std::vector<TEntry> m_entries;
    bool m_open = false;
};

} // namespace engine
