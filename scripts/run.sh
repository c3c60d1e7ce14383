#!/usr/bin/env bash
# Installs the dependencies, builds, puts a demo image and a demo patch into the
# program folder and starts the window (or, without a display, a command-line run).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
app=build/app
if [ -x "$app/qvtsample" ] && [ ! -f "$app/demo/Demo (EUR).cia" ]; then
    mkdir -p "$app/demo"
    "$app/qvtsample" --kind cia --region EUR --out "$app/demo/Demo (EUR).cia" \
        --patch "$app/patch/Demo patch"
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$app/qvtpatch-gui"
else
    echo "No display: installing the demo patch with the command-line program."
    exec "$app/qvtpatch" --source "$app/demo/Demo (EUR).cia" --output "$app/demo/Demo patched.cia" \
        --kind cia --patch "$app/patch/Demo patch"
fi
