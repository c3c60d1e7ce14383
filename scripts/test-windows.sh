#!/usr/bin/env bash
# The Windows program: cross-builds it (scripts/build-windows.sh), runs its test suite under
# Wine, writes the zip (scripts/package-windows.sh) and runs the zip's end-to-end test.
# Needs the Linux build (scripts/build.sh) for the sample images and the verifier.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-windows.sh
ctest --test-dir build-win --output-on-failure -j"$(nproc)" --timeout 1500
zip=$(scripts/package-windows.sh | tail -n 1)
ls -l "$zip"
QVT_HOLD_FILE=$(readlink -f build-win/tests/windows/hold_file.exe) \
    tests/windows/zip_test.sh "$zip" build/app
# Wine's services of the suite's prefix end with it.
WINEPREFIX="$PWD/build-win/wineprefix" wineserver -k 2>/dev/null || true
