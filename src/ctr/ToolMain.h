#pragma once
// Common frame of the container tools: one-line reasons on stderr, exit code 0 or 1 only.

#include "ctr/FileIo.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>

namespace ctr {

/// Wrong command line: the tool prints its usage after the reason.
class TUsageError : public TCtrError {
public:
    using TCtrError::TCtrError;
};

/// Runs `body`, turning every failure into one line on stderr and exit code 1. The usage
/// text follows only when the tool was started without arguments.
template <typename F> int RunToolMain(int argc, const char* tool, const char* usage, F&& body) {
    try {
        body();
        return 0;
    } catch (const TUsageError& error) {
        std::fprintf(stderr, "%s: error: %s\n", tool, error.what());
        if (argc < 2)
            std::fputs(usage, stderr);
    } catch (const std::filesystem::filesystem_error& error) {
        std::fprintf(stderr, "%s: error: %s\n", tool, error.what());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: error: out of memory\n", tool);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: error: %s\n", tool, error.what());
    }
    return 1;
}

} // namespace ctr
