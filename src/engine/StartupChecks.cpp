#include "engine/StartupChecks.h"

#include "engine/Tools.h"

#include <system_error>

namespace engine {

std::string_view FirstMissingToolKey(const std::filesystem::path& program_folder) {
    struct TTool {
        const char* Name;
        const char* Key;
    };
    static constexpr TTool kTools[] = {
        {"3dstool", "Missing3dstool"},
        {"ctrtool", "Missingctrtool"},
        {"makerom", "Missingmakerom"},
    };
    for (const TTool& tool : kTools) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(program_folder / "tools" / ToolFileName(tool.Name),
                                              error))
            return tool.Key;
    }
    return {};
}

} // namespace engine
