#include "engine/Tools.h"

namespace engine {

std::string ToolFileName(std::string_view name) {
#if defined(_WIN32)
    return std::string(name) + ".exe";
#else
    return std::string(name);
#endif
}

std::filesystem::path ToolProgramPath(TTool tool) {
    std::string_view name = "xdelta";
    switch (tool) {
    case TTool::Ctrtool:
        name = "ctrtool";
        break;
    case TTool::Tool3ds:
        name = "3dstool";
        break;
    case TTool::Makerom:
        name = "makerom";
        break;
    case TTool::Xdelta:
        break;
    }
    return std::filesystem::path("tools") / ctr::PathFromUtf8(ToolFileName(name));
}

} // namespace engine
