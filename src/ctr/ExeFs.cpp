#include "ctr/ExeFs.h"

#include "ctr/Blz.h"
#include "ctr/ByteReader.h"

#include <algorithm>

namespace ctr {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t EntrySize = 0x10;
constexpr std::size_t NameSize = 8;
constexpr std::uint64_t MaxExeFsFile = 256u << 20;

} // namespace

TExeFsHeader ParseExeFsHeader(std::span<const std::uint8_t> raw, std::uint64_t region_size) {
    if (raw.size() < ExeFsHeaderSize)
        throw TCtrError("the ExeFS header is truncated");
    TExeFsHeader header;
    std::copy_n(raw.begin(), ExeFsHeaderSize, header.Raw.begin());
    const TByteReader reader(header.Raw);
    for (int i = 0; i < ExeFsEntryCount; ++i) {
        TExeFsEntry& entry = header.Entries[static_cast<std::size_t>(i)];
        const std::uint8_t* name = header.Raw.data() + EntrySize * static_cast<std::size_t>(i);
        entry.Name.assign(reinterpret_cast<const char*>(name),
                          strnlen(reinterpret_cast<const char*>(name), NameSize));
        entry.Offset = *reader.U32(EntrySize * static_cast<std::size_t>(i) + 8);
        entry.Size = *reader.U32(EntrySize * static_cast<std::size_t>(i) + 12);
        std::copy_n(header.Raw.begin() + static_cast<std::ptrdiff_t>(ExeFsHashOffset(i)), 32,
                    entry.Hash.begin());
        if (entry.Name.empty())
            continue;
        for (char c : entry.Name)
            if (static_cast<unsigned char>(c) < 0x20 || c == '/' || c == '\\' || c == 0x7F)
                throw TCtrError("an ExeFS entry has an unusable name");
        const std::uint64_t end = std::uint64_t{ExeFsHeaderSize} + entry.Offset + entry.Size;
        if (region_size != 0 && end > region_size)
            throw TCtrError("ExeFS entry '" + entry.Name + "' lies outside the ExeFS");
    }
    if (header.Entries[0].Name.empty() || header.Entries[0].Offset != 0)
        throw TCtrError("the first ExeFS entry is not valid");
    return header;
}

TExeFsHeader ReadExeFsHeader(TInFile& file, std::uint64_t base, std::uint64_t region_size) {
    if (region_size < ExeFsHeaderSize)
        throw TCtrError("the ExeFS is too short for its header");
    std::array<std::uint8_t, ExeFsHeaderSize> raw{};
    file.ReadAt(base, raw, "ExeFS header");
    return ParseExeFsHeader(raw, region_size);
}

std::string ExeFsFolderName(int index, const std::string& name) {
    if (name == "banner")
        return "banner.bnr";
    if (name == "icon")
        return "icon.icn";
    if (name == "logo")
        return "logo.darc.lz";
    if (index == 0)
        return "code.bin";
    return name + ".bin";
}

void ExtractExeFs(const fs::path& exefs, const fs::path& folder, const fs::path& header_out,
                  bool decompress_code) {
    TInFile in(exefs);
    const TExeFsHeader header = ReadExeFsHeader(in, 0, in.Size());
    EnsureNotAnInput(header_out, {&exefs});
    std::error_code error;
    fs::create_directory(folder, error);
    if (error || !fs::is_directory(folder))
        throw TCtrError("cannot create folder " + PathText(folder) +
                        (error ? ": " + error.message() : std::string()));
    WriteWholeFile(header_out, header.Raw);
    for (int i = 0; i < ExeFsEntryCount; ++i) {
        const TExeFsEntry& entry = header.Entries[static_cast<std::size_t>(i)];
        if (entry.Name.empty())
            continue;
        const fs::path target = folder / ExeFsFolderName(i, entry.Name);
        EnsureNotAnInput(target, {&exefs});
        if (i == 0 && decompress_code) {
            const std::vector<std::uint8_t> code =
                in.ReadVector(ExeFsHeaderSize + entry.Offset, entry.Size, "ExeFS code");
            const auto plain = BlzDecompress(code);
            WriteWholeFile(target, plain ? *plain : code);
            continue;
        }
        TOutFile out(target);
        CopyRange(in, ExeFsHeaderSize + std::uint64_t{entry.Offset}, entry.Size, out);
        out.Commit();
    }
}

std::vector<std::uint8_t> BuildExeFs(std::span<const std::uint8_t> header_bytes,
                                     const TExeFsFileSource& file, bool compress_code) {
    if (header_bytes.size() < ExeFsHeaderSize)
        throw TCtrError("the ExeFS header is shorter than 0x200 bytes");
    std::array<std::uint8_t, ExeFsHeaderSize> header{};
    std::copy_n(header_bytes.begin(), ExeFsHeaderSize, header.begin());
    // Offsets and sizes of the input header are rewritten, so only names need be sound.
    for (int i = 0; i < ExeFsEntryCount; ++i) {
        PutLE<std::uint32_t>(&header[EntrySize * i + 8], 0);
        PutLE<std::uint32_t>(&header[EntrySize * i + 12], 0);
    }
    const TExeFsHeader names = ParseExeFsHeader(header, 0);

    std::vector<std::uint8_t> exefs(ExeFsHeaderSize, 0);
    for (int i = 0; i < ExeFsEntryCount; ++i) {
        const TExeFsEntry& entry = names.Entries[static_cast<std::size_t>(i)];
        if (entry.Name.empty())
            continue;
        std::vector<std::uint8_t> data = file(i, entry.Name);
        if (i == 0 && compress_code)
            if (auto packed = BlzCompress(data))
                data = std::move(*packed);
        const std::uint64_t offset = exefs.size() - ExeFsHeaderSize;
        if (offset > 0xFFFFFFFFu || data.size() > MaxExeFsFile)
            throw TCtrError("the ExeFS is too large");
        PutLE<std::uint32_t>(&header[EntrySize * i + 8], static_cast<std::uint32_t>(offset));
        PutLE<std::uint32_t>(&header[EntrySize * i + 12], static_cast<std::uint32_t>(data.size()));
        const TSha256Digest digest = Sha256(data);
        std::copy(digest.begin(), digest.end(),
                  header.begin() + static_cast<std::ptrdiff_t>(ExeFsHashOffset(i)));
        exefs.insert(exefs.end(), data.begin(), data.end());
        exefs.resize(static_cast<std::size_t>(AlignUp(exefs.size(), ExeFsHeaderSize)), 0);
    }
    std::copy(header.begin(), header.end(), exefs.begin());
    return exefs;
}

void BuildExeFs(const fs::path& header_file, const fs::path& folder, const fs::path& output,
                bool compress_code) {
    EnsureNotAnInput(output, {&header_file});
    const std::vector<std::uint8_t> raw = ReadSmallFile(header_file, 1u << 20, "ExeFS header");
    if (raw.size() < ExeFsHeaderSize)
        throw TCtrError("the ExeFS header " + PathText(header_file) +
                        " is shorter than 0x200 bytes");
    const std::vector<std::uint8_t> exefs = BuildExeFs(
        raw,
        [&](int index, const std::string& name) {
            return ReadSmallFile(folder / ExeFsFolderName(index, name), MaxExeFsFile, "ExeFS file");
        },
        compress_code);
    TOutFile out(output);
    out.Write(exefs);
    out.Commit();
}

std::vector<std::uint8_t> ExeFsFile(std::span<const std::uint8_t> exefs, int index,
                                    bool decompress_code) {
    const TExeFsHeader header = ParseExeFsHeader(exefs, exefs.size());
    const TExeFsEntry& entry = header.Entries.at(static_cast<std::size_t>(index));
    const auto bytes =
        TByteReader(exefs).Bytes(std::size_t{ExeFsHeaderSize} + entry.Offset, entry.Size);
    if (!bytes)
        throw TCtrError("an ExeFS file lies outside the ExeFS");
    std::vector<std::uint8_t> data(bytes->begin(), bytes->end());
    if (index == 0 && decompress_code)
        if (auto plain = BlzDecompress(data))
            return std::move(*plain);
    return data;
}

std::string VerifyExeFs(TInFile& file, std::uint64_t base, std::uint64_t region_size,
                        TProgress* progress) {
    const TExeFsHeader header = ReadExeFsHeader(file, base, region_size);
    for (int i = 0; i < ExeFsEntryCount; ++i) {
        const TExeFsEntry& entry = header.Entries[static_cast<std::size_t>(i)];
        if (entry.Name.empty())
            continue;
        if (HashRange(file, base + ExeFsHeaderSize + entry.Offset, entry.Size, progress) !=
            entry.Hash)
            return "ExeFS file '" + entry.Name + "' does not match its hash";
    }
    return {};
}

} // namespace ctr
