#!/usr/bin/env bash
# Saves screenshots of the main window in English and in Russian (docs/screenshots/).
# Builds nothing: run scripts/build.sh first. Runs the window under Xvfb in a temporary
# copy of the program folder, so that missing tools do not stop it.
set -euo pipefail
cd "$(dirname "$0")/.."
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
for tool in 3dstool ctrtool makerom; do
    if [ -e "$app/tools/$tool" ]; then
        ln -s "$(realpath "$app/tools/$tool")" "$work/tools/$tool"
    else
        : > "$work/tools/$tool"
    fi
done
shoot() { # locale, file
    LC_ALL="$1" LANG="$1" QVT_SCREENSHOT="$(realpath "$out")/$2" \
        xvfb-run -a -s "-screen 0 1024x768x24" "$work/qvtpatch-gui"
    echo "$out/$2"
}
shoot C.UTF-8 main-english.png
shoot ru_RU.UTF-8 main-russian.png
