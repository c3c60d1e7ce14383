#include "engine/ZipWriter.h"

#include <array>
#include <stdexcept>

namespace engine {

namespace {

constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kEndOfDirectory = 0x06054b50;
constexpr std::uint32_t kZip64EndOfDirectory = 0x06064b50;
constexpr std::uint32_t kZip64Locator = 0x07064b50;
constexpr std::uint16_t kZip64Field = 0x0001;
constexpr std::uint16_t kUtf8Names = 0x0800; // general purpose flag 11
constexpr std::uint16_t kVersionPlain = 20;  // 2.0: folders in names
constexpr std::uint16_t kVersionZip64 = 45;  // 4.5: ZIP64
constexpr std::uint32_t kNoFit = 0xFFFFFFFF; // the value that says "see the ZIP64 field"
// Offsets inside a local header.
constexpr std::size_t kLocalCrc = 14;
constexpr std::size_t kLocalSizes = 18; // compressed, then uncompressed size
constexpr std::size_t kLocalFixed = 30;

// Slicing by eight: eight tables, eight bytes a step.
const std::array<std::array<std::uint32_t, 256>, 8>& CrcTables() {
    static const auto tables = [] {
        std::array<std::array<std::uint32_t, 256>, 8> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (std::size_t n = 1; n < 8; ++n) {
            for (std::uint32_t i = 0; i < 256; ++i)
                t[n][i] = (t[n - 1][i] >> 8) ^ t[0][t[n - 1][i] & 0xFF];
        }
        return t;
    }();
    return tables;
}

class TBytes {
public:
    void U16(std::uint16_t value) {
        for (int i = 0; i < 2; ++i)
            m_bytes.push_back(std::uint8_t(value >> (8 * i)));
    }
    void U32(std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            m_bytes.push_back(std::uint8_t(value >> (8 * i)));
    }
    void U64(std::uint64_t value) {
        for (int i = 0; i < 8; ++i)
            m_bytes.push_back(std::uint8_t(value >> (8 * i)));
    }
    void Text(const std::string& text) { m_bytes.insert(m_bytes.end(), text.begin(), text.end()); }
    std::span<const std::uint8_t> Span() const { return m_bytes; }
    std::vector<std::uint8_t>& Data() { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

std::uint32_t Clamped(std::uint64_t value) {
    return value >= kNoFit ? kNoFit : std::uint32_t(value);
}

} // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
    const auto& t = CrcTables();
    crc = ~crc;
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        const std::uint32_t low =
            crc ^ (std::uint32_t(bytes[i]) | std::uint32_t(bytes[i + 1]) << 8 |
                   std::uint32_t(bytes[i + 2]) << 16 | std::uint32_t(bytes[i + 3]) << 24);
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
              t[4][low >> 24] ^ t[3][bytes[i + 4]] ^ t[2][bytes[i + 5]] ^ t[1][bytes[i + 6]] ^
              t[0][bytes[i + 7]];
    }
    for (; i < bytes.size(); ++i)
        crc = t[0][(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

TZipWriter::TZipWriter(TWriteAt write_at, std::uint16_t dos_date, std::uint16_t dos_time)
    : m_write_at(std::move(write_at)), m_date(dos_date), m_time(dos_time) {}

void TZipWriter::Put(std::span<const std::uint8_t> bytes) {
    m_write_at(m_position, bytes);
    m_position += bytes.size();
}

void TZipWriter::Begin(const std::string& path, std::optional<std::uint64_t> size) {
    if (m_open)
        throw std::logic_error("an archive entry was begun before the last one ended");
    if (path.empty() || path.size() > 0xFFFF)
        throw std::invalid_argument("an archive entry's name is empty or too long");
    TEntry entry;
    entry.Name = path;
    entry.Offset = m_position;
    entry.Expected = size;
    entry.LocalZip64 = !size || *size >= kNoFit;
    TBytes header;
    header.U32(kLocalHeader);
    header.U16(entry.LocalZip64 ? kVersionZip64 : kVersionPlain);
    header.U16(kUtf8Names);
    header.U16(0); // stored
    header.U16(m_time);
    header.U16(m_date);
    header.U32(0); // the CRC-32 and the sizes come when the entry ends
    header.U32(entry.LocalZip64 ? kNoFit : 0);
    header.U32(entry.LocalZip64 ? kNoFit : 0);
    header.U16(std::uint16_t(path.size()));
    header.U16(entry.LocalZip64 ? 20 : 0);
    header.Text(path);
    if (entry.LocalZip64) {
        header.U16(kZip64Field);
        header.U16(16);
        header.U64(0);
        header.U64(0);
    }
    Put(header.Span());
    m_entries.push_back(std::move(entry));
    m_open = true;
}

void TZipWriter::Write(std::span<const std::uint8_t> bytes) {
    TEntry& entry = m_entries.back();
    entry.Crc = Crc32(bytes, entry.Crc);
    entry.Size += bytes.size();
    Put(bytes);
}

void TZipWriter::End() {
    TEntry& entry = m_entries.back();
    m_open = false;
    if (entry.Expected && *entry.Expected != entry.Size)
        throw std::logic_error("an archive entry's size is not the size announced");
    TBytes crc;
    crc.U32(entry.Crc);
    m_write_at(entry.Offset + kLocalCrc, crc.Span());
    TBytes sizes;
    if (entry.LocalZip64) {
        sizes.U64(entry.Size);
        sizes.U64(entry.Size);
        m_write_at(entry.Offset + kLocalFixed + entry.Name.size() + 4, sizes.Span());
    } else {
        sizes.U32(std::uint32_t(entry.Size));
        sizes.U32(std::uint32_t(entry.Size));
        m_write_at(entry.Offset + kLocalSizes, sizes.Span());
    }
}

void TZipWriter::Finish() {
    const std::uint64_t directory_offset = m_position;
    for (const TEntry& entry : m_entries) {
        // The ZIP64 field holds, in this order, only the values that do not fit.
        TBytes extra;
        if (entry.Size >= kNoFit) {
            extra.U64(entry.Size);
            extra.U64(entry.Size);
        }
        if (entry.Offset >= kNoFit)
            extra.U64(entry.Offset);
        const bool zip64 = !extra.Data().empty();
        TBytes header;
        header.U32(kCentralHeader);
        header.U16(zip64 ? kVersionZip64 : kVersionPlain); // made by: MS-DOS attributes
        header.U16(zip64 || entry.LocalZip64 ? kVersionZip64 : kVersionPlain);
        header.U16(kUtf8Names);
        header.U16(0);
        header.U16(m_time);
        header.U16(m_date);
        header.U32(entry.Crc);
        header.U32(Clamped(entry.Size));
        header.U32(Clamped(entry.Size));
        header.U16(std::uint16_t(entry.Name.size()));
        header.U16(zip64 ? std::uint16_t(4 + extra.Data().size()) : 0);
        header.U16(0); // no comment
        header.U16(0); // disk
        header.U16(0); // internal attributes
        header.U32(0); // external attributes
        header.U32(Clamped(entry.Offset));
        header.Text(entry.Name);
        if (zip64) {
            header.U16(kZip64Field);
            header.U16(std::uint16_t(extra.Data().size()));
            header.Data().insert(header.Data().end(), extra.Data().begin(), extra.Data().end());
        }
        Put(header.Span());
    }
    const std::uint64_t directory_size = m_position - directory_offset;
    const std::uint64_t count = m_entries.size();
    TBytes end;
    if (count >= 0xFFFF || directory_size >= kNoFit || directory_offset >= kNoFit) {
        const std::uint64_t zip64_end = m_position;
        end.U32(kZip64EndOfDirectory);
        end.U64(44); // the record's size after this field
        end.U16(kVersionZip64);
        end.U16(kVersionZip64);
        end.U32(0);
        end.U32(0);
        end.U64(count);
        end.U64(count);
        end.U64(directory_size);
        end.U64(directory_offset);
        end.U32(kZip64Locator);
        end.U32(0);
        end.U64(zip64_end);
        end.U32(1);
    }
    end.U32(kEndOfDirectory);
    end.U16(0);
    end.U16(0);
    end.U16(std::uint16_t(std::min<std::uint64_t>(count, 0xFFFF)));
    end.U16(std::uint16_t(std::min<std::uint64_t>(count, 0xFFFF)));
    end.U32(Clamped(directory_size));
    end.U32(Clamped(directory_offset));
    end.U16(0);
    Put(end.Span());
}

} // namespace engine
