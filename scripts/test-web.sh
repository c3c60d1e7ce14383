#!/usr/bin/env bash
# The browser page's test: packages the page (scripts/package-web.sh) with sample patches, makes
# sample images with qvtsample (build/app, or QVT_SAMPLE), the desktop's mod folders for two of
# them, each with a voice, card images for a third and a CIA for the first with qvtpatch
# (build/app, or QVT_PATCH), and runs tests/web/test_page.py in Debian's headless Chromium
# against the page served from 127.0.0.1. The narrow viewport's screenshot goes to QVT_SCREENSHOTS (default
# build-web/screenshots; scripts/screenshots.sh --web puts it into docs/screenshots).
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
sample --pack-size 1M --kind 3ds --out "$samples/game.3ds"
sample --pack-size 1M --kind cxi --out "$samples/game-named.bin"
sample --pack-size 1M --kind cxi --seed 2 --out "$samples/other-data.cxi"
sample --pack-size 1M --kind cia --title-low 00012300 --out "$samples/other-game.cia"
sample --pack-size 1M --kind 3ds --encrypted --out "$samples/encrypted.3ds"
# Encrypted with keys qvtsample makes up on the spot, and a key file without them.
sample --pack-size 1M --kind cia --encrypt keys --keys "$samples/keys.txt" --out "$samples/locked.cia"
printf '# no keys here\n' >"$samples/no-keys.txt"
# Large enough that Cancel comes while its data is read or its archive written, with a patch
# of its own (the page's other patch does not fit it), listed after the other one.
sample --pack-size 256M --kind cxi --out "$samples/big.cxi" --patch "$work/Veridane 256M"
sed -i 's/^Title = "Veridane: /Title = "Veridane (256 MiB): /' "$work/Veridane 256M/"*.dsc
# The same game as a card image, for a Cancel while its card image is written.
sample --pack-size 256M --kind 3ds --out "$samples/big.3ds"
head -c 65536 /dev/zero >"$samples/not-an-image.cia"
head -c 300000 "$samples/game.zcci" >"$samples/damaged.zcci"

# The desktop's mod folders for the same images, patch (with its voices) and voice choice are
# what the page's archives must hold: desktop/NAME-voiceN.
qvtpatch=$(readlink -f "${QVT_PATCH:-build/app/qvtpatch}")
for run in game.cia:2 game.zcci:1; do
    name=${run%:*} voice=${run#*:}
    "$qvtpatch" --source "$samples/$name" --output "$samples/desktop/$name-voice$voice" \
        --kind mods --patch "$work/Veridane" --voice "$voice" --quiet >/dev/null
done
# And with the music the page's test chooses in its grid (desktop/NAME-voiceN-music).
printf '0 1 1 BGM118\n10 4 2 BGM005\n11 4 3 BGM005\n33 0 0 BGM013\n' >"$work/music.txt"
"$qvtpatch" --source "$samples/game.cia" --output "$samples/desktop/game.cia-voice2-music" \
    --kind mods --patch "$work/Veridane" --voice 2 --music "$work/music.txt" --quiet >/dev/null
# And the desktop's card images of game.3ds with voice 1: what the page's .cci and .zcci must be.
for kind in 3ds zcci; do
    "$qvtpatch" --source "$samples/game.3ds" --output "$samples/desktop/game.3ds-voice1.$kind" \
        --kind "$kind" --patch "$work/Veridane" --voice 1 --quiet >/dev/null
done
# And the desktop's CIA of game.cia with voice 2: what the page's .cia must be.
"$qvtpatch" --source "$samples/game.cia" --output "$samples/desktop/game.cia-voice2.cia" \
    --kind cia --patch "$work/Veridane" --voice 2 --quiet >/dev/null

archive=$(scripts/package-web.sh --patch "$work/Veridane" --patch "$work/Veridane 256M" |
    tail -n 1)
python3 -m zipfile -e "$archive" "$work/page"
# Debian's Python, which has Debian's Selenium (another python3 may come first on the PATH).
screenshots=${QVT_SCREENSHOTS:-build-web/screenshots}
mkdir -p "$screenshots"
/usr/bin/python3 tests/web/test_page.py "$(echo "$work"/page/qvtpatch-*-web)" "$samples" "$screenshots"
