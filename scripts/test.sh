#!/usr/bin/env bash
# Installs the dependencies, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 1500

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer, GUI tests under
# the offscreen platform as above, so a memory error fails the first test that touches it.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Release -DQVT_SANITIZE=ON -DQVT_BUILD_BENCH=OFF
cmake --build build-asan -j"$(nproc)"
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)" --timeout 1500
