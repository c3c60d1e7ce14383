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

/// Runs `body`, turning every failure into a message and exit code 1.
template <typename F> int RunToolMain(const char* tool, const char* usage, F&& body) {
    try {
        body();
        return 0;
    } catch (const TUsageError& error) {
        std::fprintf(stderr, "%s: error: %s\n%s", tool, error.what(), usage);
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
