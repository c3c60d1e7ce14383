#!/usr/bin/env bash
# Saves screenshots of the main window in English and in Russian (docs/screenshots/): at start
# and with a sample image, an output and the sample patch chosen.
# Builds nothing: run scripts/build.sh first. Runs the window under Xvfb in a temporary copy of
# the program folder (placeholder tools stand in for missing ones).
# --windows: the Windows program's main window in both languages instead, under Wine, from the
# zip that scripts/package-windows.sh writes (its end-to-end test takes them).
# --web: the browser page on a phone-wide screen in Russian, from its test in headless Chromium
# (run scripts/build.sh and scripts/build-web.sh first).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --web ]; then
    QVT_SCREENSHOTS=docs/screenshots scripts/test-web.sh
    ls docs/screenshots/web-*.png
    exit 0
fi
if [ "${1:-}" = --windows ]; then
    zip=$(scripts/package-windows.sh | tail -n 1)
    mkdir -p docs/screenshots
    tests/windows/zip_test.sh "$zip" build/app docs/screenshots
    ls docs/screenshots/windows-main-*.png
    exit 0
fi
app=build/app
out=docs/screenshots
if [ ! -x "$app/qvtpatch-gui" ]; then
    echo "build/app/qvtpatch-gui is missing: build first (scripts/build.sh)." >&2
    exit 1
fi
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$app/qvtpatch-gui" "$work/"
cp -r lang "$work/lang"
mkdir -p "$work/tools" "$work/patch"
for tool in 3dstool ctrtool makerom xdelta; do
    if [ -e "$app/tools/$tool" ]; then
        ln -s "$(realpath "$app/tools/$tool")" "$work/tools/$tool"
    else
        : > "$work/tools/$tool"
    fi
done
source_image=""
if [ -x "$app/qvtsample" ]; then
    source_image="$work/Sample (EUR).cia"
    "$app/qvtsample" --kind cia --region EUR --pack-size 64K --out "$source_image" \
        --patch "$work/patch/Sample patch" --tools "$(realpath "$app/tools")" >/dev/null
fi
shoot() { # locale, file, [source image]; QVT_SCREENSHOT_INSTALL/_MUSIC come from the caller
    LC_ALL="$1" LANG="$1" QVT_SCREENSHOT="$(realpath "$out")/$2" \
        QVT_SCREENSHOT_SOURCE="${3:-}" QVT_SCREENSHOT_OUTPUT="${3:+$work/Patched}" \
        xvfb-run -a -s "-screen 0 1024x768x24" "$work/qvtpatch-gui" 2>/dev/null
    echo "$out/$2"
}
shoot C.UTF-8 main-english.png
shoot ru_RU.UTF-8 main-russian.png
if [ -n "$source_image" ]; then
    shoot C.UTF-8 ready-english.png "$source_image"
    shoot ru_RU.UTF-8 ready-russian.png "$source_image"
    QVT_SCREENSHOT_MUSIC=1 shoot C.UTF-8 music-english.png "$source_image"
    QVT_SCREENSHOT_MUSIC=1 shoot ru_RU.UTF-8 music-russian.png "$source_image"
    QVT_SCREENSHOT_INSTALL=1 shoot C.UTF-8 finished-english.png "$source_image"
fi
