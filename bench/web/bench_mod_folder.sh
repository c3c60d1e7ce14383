#!/usr/bin/env bash
# The page's mod folder install of a large sample CIA in Debian's headless Chromium against the
# command line's mod folder run of the same image and patch, measured in the same run; prints
# the ratio, the engine's memory and the browser's renderer memory at its highest, and for each
# run where the page's install spent its time. With KIND 3ds or zcci, the page's card image (plain or
# compressed) of a sample card image against the command line's `--kind KIND` run; with KIND
# cia, the page's CIA of the sample CIA against `--kind cia`.
#   bench/web/bench_mod_folder.sh [PACK_SIZE [KIND]]   (default 1G and mods; qvtsample and
#   qvtpatch from build/app, or QVT_SAMPLE and QVT_PATCH)
set -euo pipefail
cd "$(dirname "$0")/../.."
qvtsample=$(readlink -f "${QVT_SAMPLE:-build/app/qvtsample}")
qvtpatch=$(readlink -f "${QVT_PATCH:-build/app/qvtpatch}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
kind=${2:-mods}
image=$work/big.cia
[ "$kind" = mods ] || [ "$kind" = cia ] || image=$work/big.3ds
"$qvtsample" --kind "${image##*.}" --region EUR --pack-size "${1:-1G}" --out "$image" \
    --patch "$work/Veridane" >/dev/null
rm -rf "$work/Veridane/voice" # the page installs no voices yet
archive=$(scripts/package-web.sh --patch "$work/Veridane" | tail -n 1)
python3 -m zipfile -e "$archive" "$work/page"
/usr/bin/python3 bench/web/bench_mod_folder.py "$(echo "$work"/page/qvtpatch-*-web)" \
    "$image" "$qvtpatch" "$work/Veridane" "$work/desktop" "$kind"
