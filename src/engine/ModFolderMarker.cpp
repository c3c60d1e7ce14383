#include "engine/ModFolderMarker.h"

#include "engine/Folders.h"

#include "ctr/FileIo.h"
#include "ctr/Platform.h"
#include "ctr/SourceImage.h"
#include "engine/Language.h"
#include "sound_archive/FileBasics.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <locale>
#include <map>
#include <sstream>

namespace engine {

namespace fs = std::filesystem;

namespace {

// True when something lies at `path`, a link that leads nowhere too.
bool EntryExists(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    return !ec && status.type() != fs::file_type::not_found;
}

bool IsLink(const fs::path& path) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(path, ec));
}

// The little of JSON a marker needs read back: a value of any kind, strictly as JSON has it.
struct TJson {
    enum class TKind { Null, Bool, Number, String, Array, Object };
    TKind Kind = TKind::Null;
    double Number = 0;
    std::string Text;
    std::vector<TJson> Items;
    std::map<std::string, TJson> Members; // a name given twice: the last one counts

    const TJson* Member(const std::string& name) const {
        const auto it = Members.find(name);
        return it == Members.end() ? nullptr : &it->second;
    }
    // The member's text; empty when it is missing or no text.
    std::string TextOf(const std::string& name) const {
        const TJson* value = Member(name);
        return value != nullptr && value->Kind == TKind::String ? value->Text : std::string();
    }
};

class TJsonReader {
public:
    explicit TJsonReader(std::string_view text) : m_text(text) {}

    std::optional<TJson> Document() {
        TJson value;
        if (!Value(value, 0))
            return std::nullopt;
        SkipSpace();
        if (m_at != m_text.size())
            return std::nullopt;
        return value;
    }

private:
    // Deeper nesting than this is no marker, and would only use up the stack.
    static constexpr int kDepthLimit = 64;

    void SkipSpace() {
        while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t' ||
                                        m_text[m_at] == '\n' || m_text[m_at] == '\r'))
            ++m_at;
    }
    bool Take(char c) {
        SkipSpace();
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool Word(std::string_view word) {
        if (m_text.substr(m_at, word.size()) != word)
            return false;
        m_at += word.size();
        return true;
    }

    bool Value(TJson& value, int depth) {
        if (depth > kDepthLimit)
            return false;
        SkipSpace();
        if (m_at >= m_text.size())
            return false;
        const char c = m_text[m_at];
        if (c == '{')
            return Object(value, depth);
        if (c == '[')
            return Array(value, depth);
        if (c == '"') {
            value.Kind = TJson::TKind::String;
            return String(value.Text);
        }
        if (c == 't' || c == 'f') {
            value.Kind = TJson::TKind::Bool;
            return Word(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            value.Kind = TJson::TKind::Null;
            return Word("null");
        }
        value.Kind = TJson::TKind::Number;
        return Number(value.Number);
    }

    bool Object(TJson& value, int depth) {
        value.Kind = TJson::TKind::Object;
        ++m_at;
        if (Take('}'))
            return true;
        do {
            SkipSpace();
            std::string name;
            if (m_at >= m_text.size() || m_text[m_at] != '"' || !String(name) || !Take(':'))
                return false;
            TJson member;
            if (!Value(member, depth + 1))
                return false;
            value.Members[name] = std::move(member);
        } while (Take(','));
        return Take('}');
    }

    bool Array(TJson& value, int depth) {
        value.Kind = TJson::TKind::Array;
        ++m_at;
        if (Take(']'))
            return true;
        do {
            TJson item;
            if (!Value(item, depth + 1))
                return false;
            value.Items.push_back(std::move(item));
        } while (Take(','));
        return Take(']');
    }

    static void PutUtf8(std::string& out, std::uint32_t code) {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3F));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }

    bool Hex4(std::uint32_t& code) {
        if (m_text.size() - m_at < 4)
            return false;
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = m_text[m_at++];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0)
                return false;
            code = code * 16 + std::uint32_t(digit);
        }
        return true;
    }

    bool String(std::string& out) {
        ++m_at; // the opening quote
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_at >= m_text.size())
                return false;
            const char escape = m_text[m_at++];
            switch (escape) {
            case '"':
            case '\\':
            case '/':
                out += escape;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                std::uint32_t code = 0;
                if (!Hex4(code))
                    return false;
                // A pair of surrogates is one character; a lone one stands for nothing.
                if (code >= 0xD800 && code < 0xDC00 && m_text.substr(m_at, 2) == "\\u") {
                    m_at += 2;
                    std::uint32_t low = 0;
                    if (!Hex4(low))
                        return false;
                    if (low >= 0xDC00 && low < 0xE000)
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    else
                        code = 0xFFFD;
                } else if (code >= 0xD800 && code < 0xE000) {
                    code = 0xFFFD;
                }
                PutUtf8(out, code);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }

    bool Number(double& number) {
        const std::size_t start = m_at;
        const auto digits = [this] {
            const std::size_t from = m_at;
            while (m_at < m_text.size() && std::isdigit(static_cast<unsigned char>(m_text[m_at])))
                ++m_at;
            return m_at - from;
        };
        if (m_at < m_text.size() && m_text[m_at] == '-')
            ++m_at;
        const std::size_t int_start = m_at;
        const std::size_t int_digits = digits();
        if (int_digits == 0 || (int_digits > 1 && m_text[int_start] == '0'))
            return false;
        bool whole = true;
        if (m_at < m_text.size() && m_text[m_at] == '.') {
            ++m_at;
            whole = false;
            if (digits() == 0)
                return false;
        }
        if (m_at < m_text.size() && (m_text[m_at] == 'e' || m_text[m_at] == 'E')) {
            ++m_at;
            whole = false;
            if (m_at < m_text.size() && (m_text[m_at] == '+' || m_text[m_at] == '-'))
                ++m_at;
            if (digits() == 0)
                return false;
        }
        const std::string_view text = m_text.substr(start, m_at - start);
        // A whole number is read exactly where it fits 64 bits, as JSON readers keep them.
        std::int64_t integer = 0;
        if (whole &&
            std::from_chars(text.data(), text.data() + text.size(), integer).ec == std::errc()) {
            number = double(integer);
            return true;
        }
        std::istringstream stream{std::string(text)};
        stream.imbue(std::locale::classic());
        stream >> number;
        if (stream.fail()) // out of range: a magnitude no size has
            number = text[0] == '-' ? -HUGE_VAL : HUGE_VAL;
        return true;
    }

    std::string_view m_text;
    std::size_t m_at = 0;
};

bool IsUpperMd5(const std::string& text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
           });
}

// A path that leads out of the folder or is absolute in any of the program's systems names
// nothing the program wrote.
bool InsideFolder(const std::string& path) {
    if (path.empty() || path.front() == '/' || path.front() == ':' ||
        path.find('\\') != std::string::npos)
        return false;
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])))
        return false;
#endif
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (path.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

bool IsTitleId(const std::string& name) {
    return name.size() == 16 && std::all_of(name.begin(), name.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

std::string UpperAscii(std::string text) {
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The folders directly in `root` that a listing shows (no hidden ones), by name without
// regard to letter case.
std::vector<std::string> VisibleFolders(const fs::path& root) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code type_error;
        if (!it->is_directory(type_error) || ctr::IsHiddenEntry(it->path()))
            continue;
        names.push_back(ctr::PathToUtf8(it->path().filename()));
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string upper_a = UpperAscii(a);
        const std::string upper_b = UpperAscii(b);
        return upper_a != upper_b ? upper_a < upper_b : a < b;
    });
    return names;
}

// The latest "<TitleID> (previous)" folder beside the game's: the one with the highest number
// (the first one has none), as the mod folder run names them.
fs::path LatestPreviousFolder(const fs::path& output, const std::string& title_id) {
    const std::string base = title_id + " (previous)";
    fs::path latest;
    int latest_number = 0;
    for (const std::string& name : VisibleFolders(output)) {
        int number = 0;
        if (name == base) {
            number = 1;
        } else if (name.size() > base.size() + 1 &&
                   name.compare(0, base.size() + 1, base + ' ') == 0) {
            const char* first = name.data() + base.size() + 1;
            const char* last = name.data() + name.size();
            if (std::from_chars(first, last, number).ptr != last || number < 2)
                continue;
        } else {
            continue;
        }
        const fs::path path = output / ctr::PathFromUtf8(name);
        if (number > latest_number && !IsLink(path)) {
            latest_number = number;
            latest = path;
        }
    }
    return latest;
}

} // namespace

fs::path UnusedFolderPath(const fs::path& parent, const std::string& name) {
    const fs::path first = parent / ctr::PathFromUtf8(name);
    fs::path path = first;
    for (int number = 2; EntryExists(path); ++number)
        path = parent / ctr::PathFromUtf8(name + ' ' + std::to_string(number));
    return path;
}

fs::path CleanAbsolutePath(const fs::path& path) {
    std::error_code ec;
    fs::path clean = fs::absolute(path, ec).lexically_normal();
    if (!clean.has_filename() && clean.has_relative_path())
        clean = clean.parent_path();
    return clean;
}

std::vector<std::string> ModFilesBelow(const fs::path& root) {
    std::vector<std::string> files;
    for (const TText& file : FilesBelow(root))
        files.push_back(ToUtf8(file));
    std::sort(files.begin(), files.end(), ModFileOrderLess);
    return files;
}

std::optional<std::string> FileDigest(const fs::path& file) {
    try {
        ctr::TInFile in(file);
        return ctr::TakeDigests(in, {{0, in.Size(), {}}})[0];
    } catch (const ctr::TCtrError&) {
        return std::nullopt;
    }
}

std::optional<TModMarker> ParseModMarker(std::string_view text) {
    constexpr double kLargestExactSize = 9007199254740992.0; // 2^53
    const std::optional<TJson> document = TJsonReader(text).Document();
    if (!document || document->Kind != TJson::TKind::Object)
        return std::nullopt;
    const TJson* format = document->Member("format");
    const TJson* files = document->Member("files");
    if (document->TextOf("writtenBy") != kModMarkerWriter || format == nullptr ||
        format->Kind != TJson::TKind::Number || format->Number != double(kModMarkerFormat) ||
        files == nullptr || files->Kind != TJson::TKind::Array)
        return std::nullopt;
    TModMarker marker;
    marker.ProgramVersion = document->TextOf("programVersion");
    marker.TitleId = document->TextOf("titleId");
    marker.Patch = document->TextOf("patch");
    marker.PatchVersion = document->TextOf("patchVersion");
    for (const TJson& entry : files->Items) {
        const std::string path = entry.TextOf("path");
        const TJson* size_value = entry.Member("size");
        const double size = size_value != nullptr && size_value->Kind == TJson::TKind::Number
                                ? size_value->Number
                                : -1;
        const std::string digest = entry.TextOf("md5");
        // A size is a whole number a double holds exactly (below 2^53), tested so before
        // the cast.
        if (!InsideFolder(path) || !(size >= 0) || size > kLargestExactSize ||
            size != double(std::int64_t(size)) || !IsUpperMd5(digest))
            return std::nullopt;
        marker.Files.push_back({path, std::int64_t(size), digest});
    }
    return marker;
}

std::optional<TModMarker> ReadModMarker(const fs::path& folder) {
    // A marker is a few kilobytes; anything far larger is not one.
    constexpr std::uint64_t kMarkerLimit = 16 * 1024 * 1024;
    try {
        const std::vector<std::uint8_t> bytes =
            ctr::ReadSmallFile(folder / kModMarkerName, kMarkerLimit, "the mod folder's marker");
        return ParseModMarker(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::vector<std::string> ForeignModFiles(const fs::path& folder) {
    const std::optional<TModMarker> marker = ReadModMarker(folder);
    std::map<std::string, const TModMarkerFile*> named;
    if (marker) {
        for (const TModMarkerFile& file : marker->Files)
            named[file.Path] = &file;
    }
    std::vector<std::string> foreign;
    for (const std::string& path : ModFilesBelow(folder)) {
        if (marker && path == kModMarkerName)
            continue;
        const auto it = named.find(path);
        const fs::path full = folder / ctr::PathFromUtf8(path);
        bool same = false;
        std::error_code ec;
        if (it != named.end() && !IsLink(full) &&
            fs::file_size(full, ec) == std::uintmax_t(it->second->Size) && !ec)
            // Unreadable: the program cannot tell it is its own.
            same = FileDigest(full) == it->second->MD5;
        if (!same)
            foreign.push_back(path);
    }
    return foreign;
}

std::string ArgText(std::string text, const std::string& value) {
    // A marker is % and one digit; one followed by another digit is a marker of its own.
    const auto marker_at = [&text](std::size_t at) {
        return text[at] == '%' && at + 1 < text.size() && text[at + 1] >= '1' &&
               text[at + 1] <= '9' &&
               !(at + 2 < text.size() && std::isdigit(static_cast<unsigned char>(text[at + 2])));
    };
    char lowest = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (marker_at(at) && (lowest == 0 || text[at + 1] < lowest))
            lowest = text[at + 1];
    }
    if (lowest == 0)
        return text;
    std::string result;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (marker_at(at) && text[at + 1] == lowest) {
            result += value;
            ++at;
        } else {
            result += text[at];
        }
    }
    return result;
}

std::string FileListText(const std::vector<std::string>& files, int limit,
                         const TLanguageTable& texts) {
    std::string text;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i > 0)
            text += "\r\n";
        if (limit > 0 && i == std::size_t(limit)) {
            text += ArgText(texts.LookupUtf8("ModForeignFilesMore"),
                            std::to_string(files.size() - std::size_t(limit)));
            break;
        }
        text += NativePathText(ctr::PathFromUtf8(files[i]));
    }
    return text;
}

TModRemoval CheckModRemoval(const fs::path& output, const std::string& title_id) {
    TModRemoval removal;
    const fs::path root = CleanAbsolutePath(output);
    std::string name = UpperAscii(title_id);
    if (name.empty()) {
        // The one game folder there; of several, the one the program wrote.
        std::vector<std::string> games;
        std::vector<std::string> ours;
        for (const std::string& entry : VisibleFolders(root)) {
            if (!IsTitleId(entry))
                continue;
            games.push_back(entry);
            if (ReadModMarker(root / ctr::PathFromUtf8(entry)))
                ours.push_back(entry);
        }
        if (games.size() == 1 || ours.size() == 1) {
            name = games.size() == 1 ? games.front() : ours.front();
        } else if (games.size() > 1) {
            removal.Outcome = TModRemoval::TOutcome::Several;
            removal.Folder = root;
            removal.Candidates = games;
            return removal;
        }
    }
    removal.Folder = name.empty() ? root : root / ctr::PathFromUtf8(name);
    if (name.empty() || !IsTitleId(name) || !EntryExists(removal.Folder)) {
        removal.Outcome = TModRemoval::TOutcome::NotFound;
        return removal;
    }
    const std::string folder_name = ctr::PathToUtf8(removal.Folder.filename());
    std::error_code ec;
    if (IsLink(removal.Folder) || !fs::is_directory(removal.Folder, ec)) {
        removal.Outcome = TModRemoval::TOutcome::Foreign;
        removal.Files.push_back(folder_name);
        return removal;
    }
    removal.Marker = ReadModMarker(removal.Folder);
    removal.Files = ForeignModFiles(removal.Folder);
    if (!removal.Marker) {
        // Without a marker nothing in it is known to be the program's, an empty folder too.
        removal.Outcome = TModRemoval::TOutcome::Foreign;
        if (removal.Files.empty())
            removal.Files.push_back(folder_name);
        return removal;
    }
    removal.Outcome =
        removal.Files.empty() ? TModRemoval::TOutcome::Ready : TModRemoval::TOutcome::Foreign;
    removal.Previous = LatestPreviousFolder(root, folder_name);
    return removal;
}

TModRemoval RemoveModFolder(const fs::path& output, const std::string& title_id) {
    TModRemoval removal = CheckModRemoval(output, title_id);
    if (removal.Outcome != TModRemoval::TOutcome::Ready)
        return removal;
    const fs::path root = removal.Folder.parent_path();
    const std::string name = ctr::PathToUtf8(removal.Folder.filename());
    const auto failed = [&](const fs::path& where) {
        removal.Outcome = TModRemoval::TOutcome::Failed;
        removal.Problem = NativePathText(where);
        return removal;
    };
    const auto rename = [](const fs::path& from, const fs::path& to) {
        std::error_code ec;
        fs::rename(from, to, ec);
        return !ec;
    };
    // First out of the game's place under a name of its own, so that a failure on the way
    // leaves either the folder or the earlier one under the game's name, never half of one.
    const fs::path leaving = UnusedFolderPath(root, name + ".removing");
    if (!rename(removal.Folder, leaving))
        return failed(removal.Folder);
    if (!removal.Previous.empty() && !rename(removal.Previous, removal.Folder)) {
        rename(leaving, removal.Folder);
        return failed(removal.Previous);
    }
    if (!DeleteFolder(leaving) || EntryExists(leaving))
        return failed(leaving);
    removal.Outcome = TModRemoval::TOutcome::Removed;
    return removal;
}

} // namespace engine
