#!/usr/bin/env bash
# Compiles the engine for WebAssembly with Debian's emscripten into build-web/ (a static
# library per engine layer, and the page's engine build-web/web/engine.js and engine.wasm),
# with the libzstd, liblzma and Nettle that scripts/setup-web.sh builds once per machine, so
# that the engine cannot drift away from standard C++ unnoticed.
set -euo pipefail
cd "$(dirname "$0")/.."
cache=$(scripts/setup-web.sh | tail -n 1)
# shellcheck source=/dev/null
. "$cache/prefixes.env"
export NODE_PATH=/usr/share/nodejs
emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_FIND_ROOT_PATH="$QVT_WEB_ZSTD;$QVT_WEB_XZ;$QVT_WEB_NETTLE" >/dev/null
cmake --build build-web -j"$(nproc)"
