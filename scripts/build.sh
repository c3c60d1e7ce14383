#!/usr/bin/env bash
# Configures and builds into build/; the program folder is build/app.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
