#!/usr/bin/env bash
# Installs the dependencies, builds and runs every test: the Linux program, the same suite
# with the sanitizers, the engine compiled for WebAssembly with the browser page, and the Windows
# program under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# The Windows side's packages now, and its libraries (a long Qt build on a fresh machine, seconds
# later) in the background at low priority while the Linux program builds and is tested.
mkdir -p build
windows_log=build/setup-windows.log
nice -n 15 scripts/setup-windows.sh >"$windows_log" 2>&1 &
windows_setup=$!
# When a Linux test fails, the background build goes too.
stop_tree() { local child; for child in $(pgrep -P "$1"); do stop_tree "$child"; done; kill "$1" 2>/dev/null || true; }
trap 'stop_tree $windows_setup' EXIT
scripts/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 1500

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer, GUI tests under
# the offscreen platform as above, so a memory error fails the first test that touches it.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Release -DQVT_SANITIZE=ON -DQVT_BUILD_BENCH=OFF
cmake --build build-asan -j"$(nproc)"
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)" --timeout 1500

# The engine compiled for WebAssembly with emscripten, so that it stays standard C++, and the
# browser page built on it, tested in Debian's headless Chromium.
scripts/build-web.sh
scripts/test-web.sh

if ! wait "$windows_setup"; then
    tail -n 40 "$windows_log" >&2
    echo "test.sh: scripts/setup-windows.sh failed (log: $windows_log)" >&2
    exit 1
fi
scripts/test-windows.sh
