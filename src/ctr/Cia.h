#pragma once
// CIA (installable title): header, certificate chain, ticket, TMD, contents, meta region.

#include "ctr/FileIo.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ctr {

struct TCiaContent {
    std::uint32_t Id = 0;
    std::uint16_t Index = 0;
    std::uint16_t Type = 0;
    std::uint64_t Size = 0;
    TSha256Digest Hash{};
    std::uint64_t Offset = 0; // in the CIA file; only for present contents
    bool Present = false;
};

struct TCiaLayout {
    std::uint64_t CertificatesOffset = 0, CertificatesSize = 0;
    std::uint64_t TicketOffset = 0, TicketSize = 0;
    std::uint64_t TmdOffset = 0, TmdSize = 0;
    std::uint64_t ContentOffset = 0, ContentSize = 0;
    std::uint64_t MetaOffset = 0, MetaSize = 0;
    std::uint64_t TitleId = 0;
    std::vector<TCiaContent> Contents; // TMD order
};

/// Reads and checks header, ticket and TMD structure and places every present content.
TCiaLayout ReadCia(TInFile& file);
/// Writes every present content to PREFIX.IIII.CCCCCCCC (index and ID in lower-case hex).
void ExtractCiaContents(const std::filesystem::path& cia, const std::filesystem::path& prefix);
/// What a CIA's one content writer tells once the content is written: its size and, when it
/// wrote its bytes front to back and hashed them on the way, their SHA-256.
struct TCiaContentWritten {
    std::uint64_t Size = 0;
    std::optional<TSha256Digest> Hash;
};
/// The one content of a CIA to build: a decrypted CXI, written through positioned writes
/// (offsets from its start) and then read back where the CIA needs its bytes (its header,
/// extended header and icon, and its hash when the writer took none).
struct TCiaContentSource {
    std::function<TCiaContentWritten(const TWriteAt& write_at)> Write;
    TInFile::TReadSource ReadBack;
    std::uint16_t Index = 0;
    std::uint32_t Id = 0;
};
/// Where the content of the CIA that BuildCia writes starts.
std::uint64_t BuiltCiaContentOffset();
/// Builds a one-content CIA through `write_at` (offsets from its start) and returns its size.
/// Header, ticket and TMD are written last, once the content's hash is known. Ticket ID and
/// title key are derived from the content, so the same CXI always gives the same CIA.
std::uint64_t BuildCia(const TCiaContentSource& content, const TWriteAt& write_at);
/// Builds a one-content CIA around the decrypted CXI in the file `cxi`.
void BuildCia(const std::filesystem::path& cxi, const std::filesystem::path& output,
              std::uint16_t content_index = 0, std::uint32_t content_id = 0);
/// Empty text when TMD hashes and every present content (NCCH hashes included) match.
std::string VerifyCia(TInFile& file, TProgress* progress = nullptr);

} // namespace ctr
