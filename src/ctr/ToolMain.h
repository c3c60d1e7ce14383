#pragma once
// Common frame of the container tools: one-line reasons on stderr, exit code 0 or 1 only.

#include "ctr/FileIo.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

namespace ctr {

/// Wrong command line: the tool prints its usage after the reason.
class TUsageError : public TCtrError {
public:
    using TCtrError::TCtrError;
};

/// The tool's arguments as UTF-8, in argc/argv form (argv[0] first, a null last). Paths made
/// from them go through PathFromUtf8.
class TToolArguments {
public:
    TToolArguments(int argc, char** argv) : m_texts(Utf8Arguments(argc, argv)) {
        for (std::string& text : m_texts)
            m_values.push_back(text.data());
        m_values.push_back(nullptr);
    }
    TToolArguments(const TToolArguments&) = delete;
    TToolArguments& operator=(const TToolArguments&) = delete;
    int Count() const { return static_cast<int>(m_texts.size()); }
    char** Values() { return m_values.data(); }

private:
    std::vector<std::string> m_texts;
    std::vector<char*> m_values;
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
