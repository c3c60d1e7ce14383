#include "engine/ModFolderPlan.h"

#include "engine/Text.h"

#include <cstdio>

namespace engine {

std::u16string SpellingKey(const std::string& path) {
    return CaseKey(FromUtf8(path));
}

TSpellings GameSpellings(const std::vector<std::string>& game_files) {
    TSpellings spellings;
    for (const std::string& path : game_files)
        spellings[SpellingKey(path)] = path;
    return spellings;
}

TModPlan PlanModFolder(const TModPlanInput& input) {
    // The new pack.dat is in the folder already: a difference that changed nothing is not
    // worth a patch, and it is not among the RomFS files here.
    const TSpellings spellings = GameSpellings(input.GameFiles);
    TModPlan plan;
    for (const std::string& path : input.RomFsFiles) {
        const std::string from = input.RomFs + '/' + path;
        const auto known = spellings.find(SpellingKey(path));
        if (known == spellings.end()) {
            plan.NewFiles.push_back(path);
            plan.Files.push_back({from, "romfs/" + path});
        } else if (!input.Unchanged.contains(path)) {
            plan.Files.push_back({from, "romfs/" + known->second});
        }
    }
    if (!input.ChangedCode.empty())
        plan.Files.push_back({input.ChangedCode, "code.bin"});
    for (const TModFile& file : input.ExeFsFiles)
        plan.Files.push_back(file);
    plan.BannerOrIcon = !input.ExeFsFiles.empty();
    return plan;
}

bool ModFileOrderLess(const std::string& a, const std::string& b) {
    return FromUtf8(a) < FromUtf8(b);
}

namespace {

// A JSON string: quote, backslash and the control characters escaped (the short forms where
// JSON has them, else \u00xx in small hexadecimal digits), everything else as it is.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + '"';
}

} // namespace

std::string ModMarkerText(const TModMarker& marker) {
    // The members in name order, as the first markers have them.
    std::string text = "{\n    \"files\": [\n";
    for (std::size_t i = 0; i < marker.Files.size(); ++i) {
        const TModMarkerFile& file = marker.Files[i];
        text += "        {\n";
        text += "            \"md5\": " + JsonString(file.MD5) + ",\n";
        text += "            \"path\": " + JsonString(file.Path) + ",\n";
        text += "            \"size\": " + std::to_string(file.Size) + "\n";
        text += i + 1 < marker.Files.size() ? "        },\n" : "        }\n";
    }
    text += "    ],\n";
    text += "    \"format\": " + std::to_string(kModMarkerFormat) + ",\n";
    text += "    \"patch\": " + JsonString(marker.Patch) + ",\n";
    text += "    \"patchVersion\": " + JsonString(marker.PatchVersion) + ",\n";
    text += "    \"programVersion\": " + JsonString(marker.ProgramVersion) + ",\n";
    text += "    \"titleId\": " + JsonString(marker.TitleId) + ",\n";
    text += "    \"writtenBy\": " + JsonString(kModMarkerWriter) + "\n";
    return text + "}\n";
}

} // namespace engine
