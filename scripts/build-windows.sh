#!/usr/bin/env bash
# Cross-builds the Windows programs into build-win/ (the program folder is build-win/app) with
# the Qt, libcrypto, libzstd, liblzma, zlib, libzip and xdelta.exe that
# scripts/setup-windows.sh builds once per machine.
set -euo pipefail
cd "$(dirname "$0")/.."
cache=$(scripts/setup-windows.sh | tail -n 1)
# shellcheck source=/dev/null
. "$cache/prefixes.env"
export QVT_WINDOWS_DEPS="$QVT_WINDOWS_QT;$QVT_WINDOWS_OPENSSL;$QVT_WINDOWS_ZSTD;$QVT_WINDOWS_XZ;$QVT_WINDOWS_ZLIB;$QVT_WINDOWS_LIBZIP"
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_PREFIX_PATH="$QVT_WINDOWS_QT" -DOPENSSL_ROOT_DIR="$QVT_WINDOWS_OPENSSL" \
    -DQVT_XDELTA_EXE="$QVT_WINDOWS_XDELTA" -DQVT_BUILD_BENCH=OFF
cmake --build build-win -j"$(nproc)"
