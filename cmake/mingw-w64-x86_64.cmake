# Cross-building for 64-bit Windows with Debian's MinGW-w64 (POSIX thread model).
# Used for the project itself and for the Qt, OpenSSL and xdelta3 that scripts/setup-windows.sh builds.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QVT_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QVT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QVT_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QVT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The cross-built libraries (Qt, OpenSSL, zstd) live in prefixes of their own, listed in QVT_WINDOWS_DEPS
# (semicolon-separated) by scripts/build-windows.sh. The environment reaches try_compile; the
# cache keeps the list for later re-configures of the same build folder.
if(DEFINED ENV{QVT_WINDOWS_DEPS})
    set(QVT_WINDOWS_DEPS "$ENV{QVT_WINDOWS_DEPS}" CACHE STRING "Prefixes of the Windows libraries" FORCE)
endif()
if(QVT_WINDOWS_DEPS)
    list(APPEND CMAKE_FIND_ROOT_PATH ${QVT_WINDOWS_DEPS})
endif()
