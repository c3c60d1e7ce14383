#!/usr/bin/env bash
# The browser page's test: packages the page (scripts/package-web.sh) with a sample patch, makes
# sample images with qvtsample (build/app, or QVT_SAMPLE), and runs tests/web/test_page.py in
# Debian's headless Chromium against the page served from 127.0.0.1. The narrow viewport's
# screenshot goes to QVT_SCREENSHOTS (default build-web/screenshots; scripts/screenshots.sh --web
# puts it into docs/screenshots).
set -euo pipefail
cd "$(dirname "$0")/.."
qvtsample=$(readlink -f "${QVT_SAMPLE:-build/app/qvtsample}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
samples=$work/samples
mkdir -p "$samples"
sample() { "$qvtsample" --region EUR "$@" >/dev/null; }
sample --pack-size 1M --kind cia --out "$samples/game.cia" --patch "$work/Veridane"
sample --pack-size 1M --kind 3ds --compress --out "$samples/game.zcci"
sample --pack-size 1M --kind cxi --out "$samples/game-named.bin"
sample --pack-size 1M --kind cxi --seed 2 --out "$samples/other-data.cxi"
sample --pack-size 1M --kind cia --title-low 00012300 --out "$samples/other-game.cia"
sample --pack-size 1M --kind 3ds --encrypted --out "$samples/encrypted.3ds"
# Encrypted with keys qvtsample makes up on the spot, and a key file without them.
sample --pack-size 1M --kind cia --encrypt keys --keys "$samples/keys.txt" --out "$samples/locked.cia"
printf '# no keys here\n' >"$samples/no-keys.txt"
# Large enough that Cancel comes while its data is read.
sample --pack-size 256M --kind cxi --out "$samples/big.cxi"
head -c 65536 /dev/zero >"$samples/not-an-image.cia"
head -c 300000 "$samples/game.zcci" >"$samples/damaged.zcci"

archive=$(scripts/package-web.sh --patch "$work/Veridane" | tail -n 1)
python3 -m zipfile -e "$archive" "$work/page"
# Debian's Python, which has Debian's Selenium (another python3 may come first on the PATH).
screenshots=${QVT_SCREENSHOTS:-build-web/screenshots}
mkdir -p "$screenshots"
/usr/bin/python3 tests/web/test_page.py "$(echo "$work"/page/qvtpatch-*-web)" "$samples" "$screenshots"
