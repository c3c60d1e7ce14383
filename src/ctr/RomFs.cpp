#include "ctr/RomFs.h"

#include "ctr/ByteReader.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include <unordered_set>

namespace ctr {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t NoEntry = 0xFFFFFFFF;
constexpr std::uint32_t IvfcMagic = MakeMagic('I', 'V', 'F', 'C');
constexpr std::uint32_t IvfcType = 0x10000;
constexpr std::uint32_t IvfcHeaderSize = 0x5C;
constexpr std::uint64_t MasterHashOffset = 0x60; // IVFC header rounded to 0x20
constexpr std::uint32_t BlockLog2 = 12;
constexpr std::uint32_t Level3HeaderSize = 0x28;
constexpr std::uint32_t DirectoryEntrySize = 0x18; // without the name
constexpr std::uint32_t FileEntrySize = 0x20;      // without the name
constexpr std::uint32_t FileDataAlignment = 0x10;
constexpr std::uint64_t MaxTableSize = 128u << 20;
constexpr std::uint64_t MaxHashLevelSize = 128u << 20;

std::uint64_t HashLevelSize(std::uint64_t covered) {
    return (covered + RomFsBlockSize - 1) / RomFsBlockSize * 0x20;
}

std::u16string UpperAscii(std::u16string text) {
    for (char16_t& c : text)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return text;
}

// ---- building ----

struct TScanFile {
    std::u16string Name;
    fs::path Path;
    std::uint64_t Size = 0;
    std::uint32_t Parent = 0; // offset of the parent directory entry
    std::uint32_t Offset = 0;
    std::uint64_t DataOffset = 0;
    std::size_t Entry = 0; // index into the entry list
};

struct TScanDirectory {
    std::u16string Name;
    fs::path Path;
    std::vector<std::size_t> Children; // indices into the scan list, sorted
    std::vector<TScanFile> Files;      // sorted
    bool Kept = false;
    std::size_t ParentIndex = 0;
    std::uint32_t Offset = 0;
};

// Names in table order: ASCII case ignored, then as stored, so names that differ only in case
// come in the same order whatever order they were listed in.
bool BeforeInTable(const std::u16string& a, const std::u16string& b) {
    const std::u16string upper_a = UpperAscii(a), upper_b = UpperAscii(b);
    return upper_a != upper_b ? upper_a < upper_b : a < b;
}

void SortByUpperName(std::vector<std::pair<std::u16string, fs::path>>& items) {
    std::sort(items.begin(), items.end(),
              [](const auto& a, const auto& b) { return BeforeInTable(a.first, b.first); });
}

// Reads the folder tree; directory 0 is the root.
std::vector<TScanDirectory> ScanFolder(const fs::path& folder) {
    std::vector<TScanDirectory> directories(1);
    directories[0].Path = folder;
    std::error_code error;
    if (!fs::is_directory(folder, error))
        return directories;
    // Folders already listed, by their canonical path, so a link back up the tree cannot
    // make the scan endless.
    std::set<fs::path> seen;
    auto first_visit = [&](const fs::path& path) {
        std::error_code canonical_error;
        const fs::path identity = fs::canonical(path, canonical_error);
        if (canonical_error)
            throw TCtrError("cannot read folder " + PathText(path));
        return seen.insert(identity).second;
    };
    first_visit(folder);
    for (std::size_t index = 0; index < directories.size(); ++index) {
        std::vector<std::pair<std::u16string, fs::path>> subfolders, files;
        const fs::path path = directories[index].Path;
        fs::directory_iterator it(path, error);
        if (error)
            throw TCtrError("cannot list folder " + PathText(path) + ": " + error.message());
        for (; it != fs::directory_iterator(); it.increment(error)) {
            const fs::path entry = it->path();
            const std::u16string name = Utf8ToUtf16(PathToUtf8(entry.filename()));
            if (fs::is_directory(entry, error)) {
                if (first_visit(entry))
                    subfolders.emplace_back(name, entry);
            } else if (fs::is_regular_file(entry, error))
                files.emplace_back(name, entry);
        }
        if (error)
            throw TCtrError("cannot list folder " + PathText(path) + ": " + error.message());
        SortByUpperName(subfolders);
        SortByUpperName(files);
        for (auto& [name, file_path] : files) {
            const std::uint64_t size = fs::file_size(file_path, error);
            if (error)
                throw TCtrError("cannot read " + PathText(file_path) + ": " + error.message());
            directories[index].Files.push_back({name, file_path, size});
        }
        for (auto& [name, sub_path] : subfolders) {
            directories[index].Children.push_back(directories.size());
            TScanDirectory child;
            child.Name = name;
            child.Path = sub_path;
            child.ParentIndex = index;
            directories.push_back(std::move(child));
        }
    }
    // A folder is kept when it holds files or a kept folder; children always follow their
    // parent in the list, so one backward pass settles it.
    for (std::size_t index = directories.size(); index-- > 0;) {
        TScanDirectory& directory = directories[index];
        directory.Kept = index == 0 || !directory.Files.empty() ||
                         std::any_of(directory.Children.begin(), directory.Children.end(),
                                     [&](std::size_t c) { return directories[c].Kept; });
    }
    for (TScanDirectory& directory : directories)
        std::erase_if(directory.Children, [&](std::size_t c) { return !directories[c].Kept; });
    return directories;
}

// The files of a scanned folder as entries, each directory's files before its subfolders.
std::vector<TRomFsEntry> FolderEntries(const std::vector<TScanDirectory>& scan) {
    std::vector<TRomFsEntry> entries;
    std::vector<std::pair<std::size_t, std::string>> stack{{0, std::string()}};
    while (!stack.empty()) {
        const auto [index, prefix] = stack.back();
        stack.pop_back();
        const TScanDirectory& directory = scan[index];
        for (const TScanFile& file : directory.Files)
            entries.push_back({prefix + Utf16ToUtf8(file.Name), file.Size,
                               [path = file.Path] { return std::make_unique<TInFile>(path); }});
        for (auto it = directory.Children.rbegin(); it != directory.Children.rend(); ++it)
            stack.emplace_back(*it, prefix + Utf16ToUtf8(scan[*it].Name) + "/");
    }
    return entries;
}

// The directory tree of an entry list; directory 0 is the root, every directory holds files
// or directories that do.
std::vector<TScanDirectory> EntryTree(const std::vector<TRomFsEntry>& entries) {
    std::vector<TScanDirectory> directories(1);
    directories[0].Kept = true;
    std::map<std::pair<std::size_t, std::u16string>, std::size_t> subdirectories;
    std::set<std::pair<std::size_t, std::u16string>> files;
    for (std::size_t entry = 0; entry < entries.size(); ++entry) {
        const std::string& path = entries[entry].Path;
        std::vector<std::u16string> names;
        for (std::size_t start = 0;;) {
            const std::size_t slash = path.find('/', start);
            names.push_back(Utf8ToUtf16(path.substr(start, slash - start)));
            if (names.back().empty())
                throw TCtrError("the RomFS path \"" + path + "\" is not valid");
            if (slash == std::string::npos)
                break;
            start = slash + 1;
        }
        std::size_t at = 0;
        for (std::size_t i = 0; i + 1 < names.size(); ++i) {
            if (files.count({at, names[i]}))
                throw TCtrError("the RomFS path \"" + path + "\" passes through a file");
            const auto [it, added] = subdirectories.try_emplace({at, names[i]}, directories.size());
            if (added) {
                TScanDirectory child;
                child.Name = names[i];
                child.ParentIndex = at;
                child.Kept = true;
                directories[at].Children.push_back(directories.size());
                directories.push_back(std::move(child));
            }
            at = it->second;
        }
        if (subdirectories.count({at, names.back()}) || !files.insert({at, names.back()}).second)
            throw TCtrError("the RomFS path \"" + path + "\" is listed twice");
        TScanFile file;
        file.Name = names.back();
        file.Entry = entry;
        file.Size = entries[entry].Size;
        directories[at].Files.push_back(std::move(file));
    }
    for (TScanDirectory& directory : directories) {
        std::sort(directory.Children.begin(), directory.Children.end(),
                  [&](std::size_t a, std::size_t b) {
                      return BeforeInTable(directories[a].Name, directories[b].Name);
                  });
        std::sort(
            directory.Files.begin(), directory.Files.end(),
            [](const TScanFile& a, const TScanFile& b) { return BeforeInTable(a.Name, b.Name); });
    }
    return directories;
}

std::uint32_t NameBytes(const std::u16string& name) {
    return static_cast<std::uint32_t>(AlignUp(name.size() * 2, 4));
}

void PutName(std::vector<std::uint8_t>& table, std::size_t offset, const std::u16string& name) {
    for (std::size_t i = 0; i < name.size(); ++i)
        PutLE<std::uint16_t>(table.data() + offset + 2 * i, name[i]);
}

// Writes level 3 through a block hasher so level 2 is known when the data is written. The
// bytes are gathered into batches of whole blocks; each batch is written here and hashed on
// a helper thread, so copying and hashing overlap.
class TLevelWriter {
public:
    TLevelWriter(const TWriteAt& write_at, std::uint64_t position)
        : m_write_at(write_at), m_position(position), m_lane(kBatchesInFlight) {
        m_batches.resize(kBatchesInFlight + 1);
        m_batches[0].reserve(kBatchSize);
    }
    void Write(std::span<const std::uint8_t> bytes) {
        m_written += bytes.size();
        while (!bytes.empty()) {
            std::vector<std::uint8_t>& batch = m_batches[m_current];
            const std::size_t part = std::min(bytes.size(), kBatchSize - batch.size());
            batch.insert(batch.end(), bytes.begin(),
                         bytes.begin() + static_cast<std::ptrdiff_t>(part));
            bytes = bytes.subspan(part);
            if (batch.size() == kBatchSize)
                FlushBatch();
        }
    }
    void Zeros(std::uint64_t count) {
        static const std::vector<std::uint8_t> zeros(RomFsBlockSize, 0);
        while (count > 0) {
            const std::size_t part =
                static_cast<std::size_t>(std::min<std::uint64_t>(count, zeros.size()));
            Write(std::span(zeros.data(), part));
            count -= part;
        }
    }
    std::uint64_t Written() const { return m_written; }
    // Pads the last block with zeros and returns the hashes of all blocks.
    std::vector<std::uint8_t> Finish() {
        const std::size_t rest = m_batches[m_current].size() % RomFsBlockSize;
        if (rest != 0)
            Zeros(RomFsBlockSize - rest);
        if (!m_batches[m_current].empty())
            FlushBatch();
        m_lane.Drain();
        return std::move(m_hashes);
    }

private:
    static constexpr std::size_t kBatchSize = 256 * RomFsBlockSize;
    static constexpr std::size_t kBatchesInFlight = 2;

    void FlushBatch() {
        std::vector<std::uint8_t>& batch = m_batches[m_current];
        m_write_at(m_position, batch);
        m_position += batch.size();
        // The lane runs jobs in order, so the hashes append block after block.
        m_lane.Post([this, &batch] {
            TSha256 hash;
            for (std::size_t at = 0; at < batch.size(); at += RomFsBlockSize) {
                hash.Update(std::span(batch).subspan(at, RomFsBlockSize));
                const TSha256Digest digest = hash.Final();
                m_hashes.insert(m_hashes.end(), digest.begin(), digest.end());
            }
        });
        m_current = (m_current + 1) % m_batches.size();
        // The lane holds at most kBatchesInFlight jobs, so this batch's last job is done.
        m_batches[m_current].clear();
        m_batches[m_current].reserve(kBatchSize);
    }
    const TWriteAt& m_write_at;
    std::uint64_t m_position;
    std::vector<std::vector<std::uint8_t>> m_batches;
    std::size_t m_current = 0;
    std::vector<std::uint8_t> m_hashes;
    std::uint64_t m_written = 0;
    TBackgroundLane m_lane; // last: joined before the batches it reads are released
};

// Hashes of the 0x1000-byte blocks of `level`, the last one zero-padded.
std::vector<std::uint8_t> HashBlocks(const std::vector<std::uint8_t>& level) {
    std::vector<std::uint8_t> hashes;
    for (std::size_t offset = 0; offset < level.size(); offset += RomFsBlockSize) {
        std::vector<std::uint8_t> block(RomFsBlockSize, 0);
        const std::size_t part = std::min<std::size_t>(RomFsBlockSize, level.size() - offset);
        std::copy_n(level.begin() + static_cast<std::ptrdiff_t>(offset), part, block.begin());
        const TSha256Digest digest = Sha256(block);
        hashes.insert(hashes.end(), digest.begin(), digest.end());
    }
    return hashes;
}

void PutLevel(std::uint8_t* at, std::uint64_t offset, std::uint64_t size) {
    PutLE<std::uint64_t>(at, offset);
    PutLE<std::uint64_t>(at + 8, size);
    PutLE<std::uint32_t>(at + 16, BlockLog2);
}

} // namespace

std::uint32_t RomFsNameHash(std::uint32_t parent_offset, const std::u16string& name) {
    std::uint32_t hash = parent_offset ^ 123456789u;
    for (char16_t c : name) {
        hash = (hash >> 5) | (hash << 27);
        hash ^= c;
    }
    return hash;
}

std::uint32_t RomFsBucketCount(std::uint32_t count) {
    if (count < 3)
        return 3;
    if (count <= 19)
        return count | 1;
    std::uint32_t value = count;
    while (value % 2 == 0 || value % 3 == 0 || value % 5 == 0 || value % 7 == 0 ||
           value % 11 == 0 || value % 13 == 0 || value % 17 == 0)
        ++value;
    return value;
}

std::uint64_t BuildRomFs(const std::vector<TRomFsEntry>& entries, const TWriteAt& write_at) {
    std::vector<TScanDirectory> scan = EntryTree(entries);

    // Table order: each directory lists all its subdirectories, then all its files; then
    // the builder descends into the subdirectories in order.
    std::vector<std::size_t> directory_order{0};
    std::vector<TScanFile*> file_order;
    {
        std::vector<std::size_t> stack{0};
        while (!stack.empty()) {
            const std::size_t index = stack.back();
            stack.pop_back();
            TScanDirectory& directory = scan[index];
            for (std::size_t child : directory.Children)
                directory_order.push_back(child);
            for (TScanFile& file : directory.Files)
                file_order.push_back(&file);
            for (auto it = directory.Children.rbegin(); it != directory.Children.rend(); ++it)
                stack.push_back(*it);
        }
    }

    std::uint64_t directory_table_size = 0;
    for (std::size_t index : directory_order) {
        scan[index].Offset = static_cast<std::uint32_t>(directory_table_size);
        directory_table_size += DirectoryEntrySize + NameBytes(scan[index].Name);
    }
    std::uint64_t file_table_size = 0;
    std::uint64_t data_end = 0;
    for (TScanDirectory& directory : scan)
        for (TScanFile& file : directory.Files)
            file.Parent = directory.Offset;
    for (TScanFile* file : file_order) {
        file->Offset = static_cast<std::uint32_t>(file_table_size);
        file_table_size += FileEntrySize + NameBytes(file->Name);
        data_end = AlignUp(data_end, FileDataAlignment);
        file->DataOffset = data_end;
        data_end += file->Size;
    }
    if (directory_table_size > MaxTableSize || file_table_size > MaxTableSize)
        throw TCtrError("too many files for a RomFS");

    const std::uint32_t directory_buckets =
        RomFsBucketCount(static_cast<std::uint32_t>(directory_order.size()));
    const std::uint32_t file_buckets =
        RomFsBucketCount(static_cast<std::uint32_t>(file_order.size()));
    const std::uint64_t directory_hash_offset = Level3HeaderSize;
    const std::uint64_t directory_table_offset = directory_hash_offset + 4ull * directory_buckets;
    const std::uint64_t file_hash_offset = directory_table_offset + directory_table_size;
    const std::uint64_t file_table_offset = file_hash_offset + 4ull * file_buckets;
    const std::uint64_t data_offset =
        AlignUp(file_table_offset + file_table_size, FileDataAlignment);
    const std::uint64_t level3_size = data_offset + data_end;
    const std::uint64_t level2_size = HashLevelSize(level3_size);
    const std::uint64_t level1_size = HashLevelSize(level2_size);
    const std::uint64_t master_size = HashLevelSize(level1_size);
    const std::uint64_t level3_position = AlignUp(MasterHashOffset + master_size, RomFsBlockSize);

    // Level-3 metadata.
    std::vector<std::uint8_t> meta(static_cast<std::size_t>(data_offset), 0);
    PutLE<std::uint32_t>(&meta[0x00], Level3HeaderSize);
    PutLE<std::uint32_t>(&meta[0x04], static_cast<std::uint32_t>(directory_hash_offset));
    PutLE<std::uint32_t>(&meta[0x08], 4 * directory_buckets);
    PutLE<std::uint32_t>(&meta[0x0C], static_cast<std::uint32_t>(directory_table_offset));
    PutLE<std::uint32_t>(&meta[0x10], static_cast<std::uint32_t>(directory_table_size));
    PutLE<std::uint32_t>(&meta[0x14], static_cast<std::uint32_t>(file_hash_offset));
    PutLE<std::uint32_t>(&meta[0x18], 4 * file_buckets);
    PutLE<std::uint32_t>(&meta[0x1C], static_cast<std::uint32_t>(file_table_offset));
    PutLE<std::uint32_t>(&meta[0x20], static_cast<std::uint32_t>(file_table_size));
    PutLE<std::uint32_t>(&meta[0x24], static_cast<std::uint32_t>(data_offset));

    std::vector<std::uint32_t> siblings(scan.size(), NoEntry);
    for (const TScanDirectory& directory : scan)
        for (std::size_t i = 0; i + 1 < directory.Children.size(); ++i)
            siblings[directory.Children[i]] = scan[directory.Children[i + 1]].Offset;
    std::vector<std::uint32_t> directory_heads(directory_buckets, NoEntry);
    for (std::size_t index : directory_order) {
        const TScanDirectory& directory = scan[index];
        std::uint8_t* entry = &meta[directory_table_offset + directory.Offset];
        const std::uint32_t parent = index == 0 ? 0 : scan[directory.ParentIndex].Offset;
        const std::uint32_t sibling = siblings[index];
        const std::uint32_t bucket = RomFsNameHash(parent, directory.Name) % directory_buckets;
        PutLE<std::uint32_t>(entry + 0x00, parent);
        PutLE<std::uint32_t>(entry + 0x04, sibling);
        PutLE<std::uint32_t>(entry + 0x08, directory.Children.empty()
                                               ? NoEntry
                                               : scan[directory.Children.front()].Offset);
        PutLE<std::uint32_t>(entry + 0x0C,
                             directory.Files.empty() ? NoEntry : directory.Files.front().Offset);
        PutLE<std::uint32_t>(entry + 0x10, directory_heads[bucket]);
        PutLE<std::uint32_t>(entry + 0x14, static_cast<std::uint32_t>(directory.Name.size() * 2));
        PutName(meta, directory_table_offset + directory.Offset + DirectoryEntrySize,
                directory.Name);
        directory_heads[bucket] = directory.Offset;
    }
    std::vector<std::uint32_t> file_heads(file_buckets, NoEntry);
    for (const TScanDirectory& directory : scan) {
        if (!directory.Kept)
            continue;
        for (std::size_t i = 0; i < directory.Files.size(); ++i) {
            const TScanFile& file = directory.Files[i];
            std::uint8_t* entry = &meta[file_table_offset + file.Offset];
            PutLE<std::uint32_t>(entry + 0x00, file.Parent);
            PutLE<std::uint32_t>(entry + 0x04, i + 1 < directory.Files.size()
                                                   ? directory.Files[i + 1].Offset
                                                   : NoEntry);
            PutLE<std::uint64_t>(entry + 0x08, file.DataOffset);
            PutLE<std::uint64_t>(entry + 0x10, file.Size);
            PutLE<std::uint32_t>(entry + 0x1C, static_cast<std::uint32_t>(file.Name.size() * 2));
            PutName(meta, file_table_offset + file.Offset + FileEntrySize, file.Name);
        }
    }
    // Bucket chains follow table order.
    for (const TScanFile* file : file_order) {
        const std::uint32_t bucket = RomFsNameHash(file->Parent, file->Name) % file_buckets;
        PutLE<std::uint32_t>(&meta[file_table_offset + file->Offset + 0x18], file_heads[bucket]);
        file_heads[bucket] = file->Offset;
    }
    for (std::uint32_t i = 0; i < directory_buckets; ++i)
        PutLE<std::uint32_t>(&meta[directory_hash_offset + 4 * i], directory_heads[i]);
    for (std::uint32_t i = 0; i < file_buckets; ++i)
        PutLE<std::uint32_t>(&meta[file_hash_offset + 4 * i], file_heads[i]);

    // Header area now, filled in at the end; then level 3 with the data streamed in.
    write_at(0, std::vector<std::uint8_t>(static_cast<std::size_t>(level3_position), 0));
    TLevelWriter level3(write_at, level3_position);
    level3.Write(meta);
    std::vector<std::uint8_t> buffer;
    for (const TScanFile* file : file_order) {
        level3.Zeros(data_offset + file->DataOffset - level3.Written());
        const TRomFsEntry& entry = entries[file->Entry];
        const std::unique_ptr<TInFile> in = entry.Open();
        if (in->Size() != file->Size)
            throw TCtrError(entry.Path + " changed while the RomFS was built");
        buffer.resize(static_cast<std::size_t>(std::min<std::uint64_t>(file->Size, CopyChunkSize)));
        for (std::uint64_t done = 0; done < file->Size;) {
            const std::size_t part =
                static_cast<std::size_t>(std::min<std::uint64_t>(file->Size - done, buffer.size()));
            in->ReadAt(done, std::span(buffer.data(), part), "file data");
            level3.Write(std::span(buffer.data(), part));
            done += part;
        }
    }
    if (level3.Written() != level3_size)
        throw TCtrError("internal error: RomFS level 3 size differs from its plan");
    std::vector<std::uint8_t> level2 = level3.Finish();
    std::vector<std::uint8_t> level1 = HashBlocks(level2);
    std::vector<std::uint8_t> master = HashBlocks(level1);
    if (level2.size() != level2_size || level1.size() != level1_size ||
        master.size() != master_size)
        throw TCtrError("internal error: RomFS hash levels differ from their plan");
    // Levels 1 and 2 after level 3, each padded to whole blocks.
    const std::uint64_t level1_position = AlignUp(level3_position + level3_size, RomFsBlockSize);
    const std::uint64_t level2_position = AlignUp(level1_position + level1_size, RomFsBlockSize);
    const std::uint64_t end = AlignUp(level2_position + level2_size, RomFsBlockSize);
    level1.resize(static_cast<std::size_t>(level2_position - level1_position), 0);
    level2.resize(static_cast<std::size_t>(end - level2_position), 0);
    write_at(level1_position, level1);
    write_at(level2_position, level2);

    std::vector<std::uint8_t> header(static_cast<std::size_t>(MasterHashOffset + master_size), 0);
    PutLE<std::uint32_t>(&header[0x00], IvfcMagic);
    PutLE<std::uint32_t>(&header[0x04], IvfcType);
    PutLE<std::uint32_t>(&header[0x08], static_cast<std::uint32_t>(master_size));
    const std::uint64_t level2_logical = AlignUp(level1_size, RomFsBlockSize);
    PutLevel(&header[0x0C], 0, level1_size);
    PutLevel(&header[0x24], level2_logical, level2_size);
    PutLevel(&header[0x3C], AlignUp(level2_logical + level2_size, RomFsBlockSize), level3_size);
    PutLE<std::uint32_t>(&header[0x54], IvfcHeaderSize);
    std::copy(master.begin(), master.end(), header.begin() + MasterHashOffset);
    write_at(0, header);
    return end;
}

std::uint64_t BuildRomFs(const fs::path& folder, TOutFile& out) {
    const std::uint64_t base = out.Position();
    const std::uint64_t size = BuildRomFs(FolderEntries(ScanFolder(folder)), WriteAtIn(out, base));
    out.Seek(base + size);
    return size;
}

void BuildRomFsFile(const fs::path& folder, const fs::path& output) {
    TOutFile out(output);
    BuildRomFs(folder, out);
    out.Commit();
}

// ---- reading ----

TRomFsReader::TRomFsReader(TInFile& file, std::uint64_t base, std::uint64_t size)
    : m_file(file), m_base(base), m_size(size) {
    if (!file.Contains(base, size))
        throw TCtrError("the RomFS lies outside the file");
    if (size < MasterHashOffset)
        throw TCtrError("the RomFS is too short for its IVFC header");
    std::array<std::uint8_t, MasterHashOffset> header{};
    file.ReadAt(base, header, "IVFC header");
    const TByteReader reader(header);
    if (*reader.U32(0x00) != IvfcMagic)
        throw TCtrError("the RomFS has no IVFC header");
    m_master_size = *reader.U32(0x08);
    for (int level = 0; level < 3; ++level) {
        m_level_size[level] = *reader.U64(0x0C + 0x18 * level + 8);
        if (*reader.U32(0x0C + 0x18 * level + 16) != BlockLog2)
            throw TCtrError("the RomFS uses an unsupported hash block size");
    }
    const std::uint32_t header_size = *reader.U32(0x54);
    if (header_size > RomFsBlockSize)
        throw TCtrError("the RomFS IVFC header size is not valid");
    if (m_level_size[1] != HashLevelSize(m_level_size[2]) ||
        m_level_size[0] != HashLevelSize(m_level_size[1]) ||
        m_master_size != HashLevelSize(m_level_size[0]))
        throw TCtrError("the RomFS hash level sizes do not match each other");
    if (m_level_size[2] > size)
        throw TCtrError("the RomFS level 3 is larger than the RomFS");
    m_level_offset[2] = AlignUp(AlignUp(header_size, 0x20) + m_master_size, RomFsBlockSize);
    m_level_offset[0] = AlignUp(m_level_offset[2] + m_level_size[2], RomFsBlockSize);
    m_level_offset[1] = AlignUp(m_level_offset[0] + m_level_size[0], RomFsBlockSize);
    if (m_level_offset[1] + m_level_size[1] > size)
        throw TCtrError("the RomFS hash levels lie outside the RomFS");

    const std::uint64_t level3 = base + m_level_offset[2];
    if (m_level_size[2] < Level3HeaderSize)
        throw TCtrError("the RomFS level 3 is too short for its header");
    std::array<std::uint8_t, Level3HeaderSize> l3{};
    file.ReadAt(level3, l3, "RomFS level 3 header");
    const TByteReader l3_reader(l3);
    std::uint32_t field[10];
    for (int i = 0; i < 10; ++i)
        field[i] = *l3_reader.U32(4 * i);
    if (field[0] != Level3HeaderSize || field[1] != Level3HeaderSize)
        throw TCtrError("the RomFS level 3 header is not valid");
    for (int table = 0; table < 4; ++table) {
        const std::uint64_t offset = field[1 + 2 * table];
        const std::uint64_t length = field[2 + 2 * table];
        if (offset > m_level_size[2] || length > m_level_size[2] - offset || length > MaxTableSize)
            throw TCtrError("a RomFS table lies outside level 3");
    }
    m_data_offset = field[9];
    if (m_data_offset !=
            AlignUp(static_cast<std::uint64_t>(field[7]) + field[8], FileDataAlignment) ||
        m_data_offset > m_level_size[2])
        throw TCtrError("the RomFS file data offset is not valid");
    m_directories = file.ReadVector(level3 + field[3], field[4], "RomFS directory table");
    m_files = file.ReadVector(level3 + field[7], field[8], "RomFS file table");
    const TEntry root = Directory(0);
    if (!root.Name.empty() || root.Sibling != NoEntry)
        throw TCtrError("the RomFS root directory entry is not valid");
}

TRomFsReader::TEntry TRomFsReader::Directory(std::uint32_t offset) const {
    const TByteReader reader(m_directories);
    const auto name_length = reader.U32(static_cast<std::size_t>(offset) + 0x14);
    if (!name_length || *name_length % 2 != 0)
        throw TCtrError("a RomFS directory entry lies outside its table");
    const auto name =
        reader.Bytes(static_cast<std::size_t>(offset) + DirectoryEntrySize, *name_length);
    if (!name)
        throw TCtrError("a RomFS directory name lies outside its table");
    TEntry entry;
    entry.Parent = *reader.U32(offset + 0x00);
    entry.Sibling = *reader.U32(offset + 0x04);
    entry.Child = *reader.U32(offset + 0x08);
    entry.File = *reader.U32(offset + 0x0C);
    for (std::size_t i = 0; i < name->size(); i += 2)
        entry.Name.push_back(static_cast<char16_t>((*name)[i] | (*name)[i + 1] << 8));
    return entry;
}

TRomFsReader::TEntry TRomFsReader::FileEntry(std::uint32_t offset) const {
    const TByteReader reader(m_files);
    const auto name_length = reader.U32(static_cast<std::size_t>(offset) + 0x1C);
    if (!name_length || *name_length % 2 != 0)
        throw TCtrError("a RomFS file entry lies outside its table");
    const auto name = reader.Bytes(static_cast<std::size_t>(offset) + FileEntrySize, *name_length);
    if (!name)
        throw TCtrError("a RomFS file name lies outside its table");
    TEntry entry;
    entry.Parent = *reader.U32(offset + 0x00);
    entry.Sibling = *reader.U32(offset + 0x04);
    entry.DataOffset = *reader.U64(offset + 0x08);
    entry.DataSize = *reader.U64(offset + 0x10);
    const std::uint64_t area = m_level_size[2] - m_data_offset;
    if (entry.DataOffset > area || entry.DataSize > area - entry.DataOffset)
        throw TCtrError("a RomFS file's data lies outside level 3");
    for (std::size_t i = 0; i < name->size(); i += 2)
        entry.Name.push_back(static_cast<char16_t>((*name)[i] | (*name)[i + 1] << 8));
    return entry;
}

namespace {

void CheckEntryName(const std::u16string& name) {
    if (name.empty() || name == u"." || name == u".." ||
        name.find_first_of(std::u16string(u"/\0", 2)) != std::u16string::npos)
        throw TCtrError("the RomFS holds an entry with an unusable name");
}

} // namespace

void TRomFsReader::WalkFiles(
    const std::function<void(const std::vector<std::u16string>&, const TEntry&)>& on_file,
    const std::function<void(const std::vector<std::u16string>&)>& on_directory) {
    std::unordered_set<std::uint32_t> seen_directories, seen_files;
    const std::size_t max_directories = m_directories.size() / DirectoryEntrySize + 1;
    const std::size_t max_files = m_files.size() / FileEntrySize + 1;
    std::vector<std::pair<std::uint32_t, std::vector<std::u16string>>> stack;
    stack.emplace_back(0, std::vector<std::u16string>{});
    while (!stack.empty()) {
        auto [offset, path] = std::move(stack.back());
        stack.pop_back();
        if (!seen_directories.insert(offset).second || seen_directories.size() > max_directories)
            throw TCtrError("the RomFS directory links form a loop");
        const TEntry directory = Directory(offset);
        on_directory(path);
        for (std::uint32_t file = directory.File; file != NoEntry;) {
            if (!seen_files.insert(file).second || seen_files.size() > max_files)
                throw TCtrError("the RomFS file links form a loop");
            const TEntry entry = FileEntry(file);
            CheckEntryName(entry.Name);
            on_file(path, entry);
            file = entry.Sibling;
        }
        std::vector<std::pair<std::uint32_t, std::vector<std::u16string>>> children;
        for (std::uint32_t child = directory.Child; child != NoEntry;) {
            if (children.size() > max_directories)
                throw TCtrError("the RomFS directory links form a loop");
            const TEntry entry = Directory(child);
            CheckEntryName(entry.Name);
            std::vector<std::u16string> child_path = path;
            child_path.push_back(entry.Name);
            children.emplace_back(child, std::move(child_path));
            child = entry.Sibling;
        }
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.push_back(std::move(*it));
    }
}

void TRomFsReader::Extract(const fs::path& folder) {
    const std::uint64_t data_base = m_base + m_level_offset[2] + m_data_offset;
    auto folder_of = [&](const std::vector<std::u16string>& path) {
        fs::path result = folder;
        for (const std::u16string& part : path)
            result /= PathFromUtf8(Utf16ToUtf8(part));
        return result;
    };
    WalkFiles(
        [&](const std::vector<std::u16string>& path, const TEntry& entry) {
            const fs::path target = folder_of(path) / PathFromUtf8(Utf16ToUtf8(entry.Name));
            EnsureNotAnInput(target, {&m_file.Path()});
            TOutFile out(target);
            CopyRange(m_file, data_base + entry.DataOffset, entry.DataSize, out);
            out.Commit();
        },
        [&](const std::vector<std::u16string>& path) {
            const fs::path target = folder_of(path);
            std::error_code error;
            fs::create_directory(target, error);
            if (error || !fs::is_directory(target))
                throw TCtrError("cannot create folder " + PathText(target) +
                                (error ? ": " + error.message() : std::string()));
        });
}

std::optional<TRomFsFileLocation> TRomFsReader::Find(const std::string& path) {
    std::vector<std::u16string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            parts.push_back(Utf8ToUtf16(path.substr(start, end - start)));
        start = end + 1;
    }
    if (parts.empty())
        return std::nullopt;
    // Exact name first, then the same name in other letter case.
    auto pick = [](const std::vector<std::pair<std::u16string, std::uint32_t>>& candidates,
                   const std::u16string& name) -> std::optional<std::uint32_t> {
        for (const auto& [candidate, offset] : candidates)
            if (candidate == name)
                return offset;
        for (const auto& [candidate, offset] : candidates)
            if (UpperAscii(candidate) == UpperAscii(name))
                return offset;
        return std::nullopt;
    };
    const std::size_t max_directories = m_directories.size() / DirectoryEntrySize + 1;
    const std::size_t max_files = m_files.size() / FileEntrySize + 1;
    std::uint32_t current = 0;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        std::vector<std::pair<std::u16string, std::uint32_t>> candidates;
        for (std::uint32_t child = Directory(current).Child; child != NoEntry;) {
            if (candidates.size() > max_directories)
                throw TCtrError("the RomFS directory links form a loop");
            const TEntry entry = Directory(child);
            candidates.emplace_back(entry.Name, child);
            child = entry.Sibling;
        }
        const auto next = pick(candidates, parts[i]);
        if (!next)
            return std::nullopt;
        current = *next;
    }
    std::vector<std::pair<std::u16string, std::uint32_t>> candidates;
    for (std::uint32_t file = Directory(current).File; file != NoEntry;) {
        if (candidates.size() > max_files)
            throw TCtrError("the RomFS file links form a loop");
        const TEntry entry = FileEntry(file);
        candidates.emplace_back(entry.Name, file);
        file = entry.Sibling;
    }
    const auto found = pick(candidates, parts.back());
    if (!found)
        return std::nullopt;
    const TEntry entry = FileEntry(*found);
    return TRomFsFileLocation{m_base + m_level_offset[2] + m_data_offset + entry.DataOffset,
                              entry.DataSize};
}

std::vector<std::pair<std::string, TRomFsFileLocation>> TRomFsReader::ListFiles() {
    const std::uint64_t data_base = m_base + m_level_offset[2] + m_data_offset;
    std::vector<std::pair<std::string, TRomFsFileLocation>> files;
    WalkFiles(
        [&](const std::vector<std::u16string>& path, const TEntry& entry) {
            std::string text;
            for (const std::u16string& part : path)
                text += Utf16ToUtf8(part) + '/';
            files.emplace_back(text + Utf16ToUtf8(entry.Name),
                               TRomFsFileLocation{data_base + entry.DataOffset, entry.DataSize});
        },
        [](const std::vector<std::u16string>&) {});
    return files;
}

std::string TRomFsReader::VerifyHashes(TProgress* progress) {
    TFilePass pass(m_file);
    const auto result = AddHashCheck(pass);
    pass.Run(progress);
    return result();
}

namespace {

// Hashes level 3 block by block as the walk hands it over, against level 2; the pieces need
// not end on block boundaries. Only the first bad block is kept.
struct TLevel3Check {
    const std::vector<std::uint8_t>* Level2 = nullptr;
    TSha256 Hash;
    std::size_t Filled = 0;
    std::uint64_t Block = 0;
    std::optional<std::uint64_t> Bad;

    void Consume(std::span<const std::uint8_t> bytes) {
        while (!bytes.empty()) {
            const std::size_t part = std::min<std::size_t>(bytes.size(), RomFsBlockSize - Filled);
            if (!Bad)
                Hash.Update(bytes.first(part));
            bytes = bytes.subspan(part);
            Filled += part;
            if (Filled < RomFsBlockSize)
                continue;
            if (!Bad) {
                const TSha256Digest digest = Hash.Final();
                if (!std::equal(digest.begin(), digest.end(),
                                Level2->begin() + static_cast<std::ptrdiff_t>(Block * 0x20)))
                    Bad = Block;
            }
            ++Block;
            Filled = 0;
        }
    }
};

} // namespace

std::function<std::string()> TRomFsReader::AddHashCheck(TFilePass& pass) {
    auto answer = [](std::string text) { return [text] { return text; }; };
    if (m_level_size[1] > MaxHashLevelSize)
        return answer("RomFS hash level 2 is too large");
    auto read_level = [&](int level) -> const std::vector<std::uint8_t>& {
        const std::uint64_t padded = AlignUp(m_level_size[level], RomFsBlockSize);
        const std::uint64_t available = std::min(padded, m_size - m_level_offset[level]);
        return pass.ReadAhead(m_base + m_level_offset[level], available, "RomFS hash level",
                              padded);
    };
    auto check = [](const std::vector<std::uint8_t>& blocks,
                    const std::vector<std::uint8_t>& hashes,
                    std::uint64_t hash_bytes) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i * 0x20 < hash_bytes; ++i) {
            const TSha256Digest digest =
                Sha256(std::span(blocks.data() + i * RomFsBlockSize, RomFsBlockSize));
            if (!std::equal(digest.begin(), digest.end(),
                            hashes.begin() + static_cast<std::ptrdiff_t>(i * 0x20)))
                return i;
        }
        return std::nullopt;
    };
    const std::vector<std::uint8_t>& master =
        pass.ReadAhead(m_base + MasterHashOffset, m_master_size, "RomFS master hash");
    const std::vector<std::uint8_t>& level1 = read_level(0);
    const std::vector<std::uint8_t>& level2 = read_level(1);
    if (auto bad = check(level1, master, m_master_size))
        return answer("RomFS level 1 block " + std::to_string(*bad) +
                      " does not match the master hash");
    if (auto bad = check(level2, level1, m_level_size[0]))
        return answer("RomFS level 2 block " + std::to_string(*bad) + " does not match its hash");
    auto level3 = std::make_shared<TLevel3Check>();
    level3->Level2 = &level2;
    // Level 1 starts where level 3's last block ends, so the blocks lie inside the RomFS.
    const std::uint64_t blocks = m_level_size[1] / 0x20;
    pass.Add(m_base + m_level_offset[2], blocks * RomFsBlockSize,
             [level3](std::span<const std::uint8_t> bytes) { level3->Consume(bytes); });
    return [level3]() -> std::string {
        if (!level3->Bad)
            return {};
        return "RomFS level 3 block " + std::to_string(*level3->Bad) + " does not match its hash";
    };
}

// ---- text ----

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            throw TCtrError("a RomFS name is not valid UTF-16");
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | c >> 12));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | c >> 18));
            out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::uint8_t lead = static_cast<std::uint8_t>(text[i]);
        std::uint32_t c = 0;
        std::size_t extra = 0;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            c = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            c = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            c = lead & 0x07;
            extra = 3;
        } else {
            throw TCtrError("the name '" + text + "' is not valid UTF-8");
        }
        if (extra > text.size() - i - 1)
            throw TCtrError("the name '" + text + "' is not valid UTF-8");
        for (std::size_t k = 1; k <= extra; ++k) {
            const std::uint8_t next = static_cast<std::uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                throw TCtrError("the name '" + text + "' is not valid UTF-8");
            c = c << 6 | (next & 0x3F);
        }
        i += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

} // namespace ctr
