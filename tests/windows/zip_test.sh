#!/usr/bin/env bash
# The Windows archive as a user gets it: unpacked into a fresh Wine prefix, into a folder whose
# name has blanks and Cyrillic letters. qvtpatch.exe identifies sample images of every kind and
# region and installs them to CIA, CXI, 3DS and a mod folder (sources and outputs in such
# folders too); every output image passes the Linux build's verifier and equals the output of
# the Linux program for the same run; tools\temp and partial files are gone afterwards; the
# console programs answer --help and --version on standard output from a Unix shell; the
# window starts in English and in Russian under Xvfb, its language box showing the language.
# Usage: zip_test.sh ZIP LINUX_APP_DIR [SCREENSHOT_DIR]
set -euo pipefail
zip=$(readlink -f "$1")
linux_app=$(readlink -f "$2")
shots=${3:-}
work=$(mktemp -d /tmp/qvt-zip-test.XXXXXX)
cleanup() {
    WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export WINEPREFIX="$work/prefix" HOME="$work/home" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$HOME"
wine wineboot --init >/dev/null 2>&1
wineserver -w

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

drive_c="$WINEPREFIX/drive_c"
install_dir="$drive_c/Мои программы/QVT патч"
mkdir -p "$install_dir"
(cd "$install_dir" && cmake -E tar xf "$zip")
app=$(find "$install_dir" -mindepth 1 -maxdepth 1 -type d -name 'qvtpatch-*')
app_win="C:\\Мои программы\\QVT патч\\$(basename "$app")"
for needed in qvtpatch.exe qvtpatch-gui.exe tools/ctrtool.exe tools/3dstool.exe \
    tools/makerom.exe tools/xdelta.exe lang patch platforms/qwindows.dll README.txt; do
    [ -e "$app/$needed" ] || fail "the archive lacks $needed"
done

images="$drive_c/Образы игр"
outputs="$drive_c/Готовые образы"
mkdir -p "$images" "$outputs"
for region in EUR USA JAP; do
    "$linux_app/qvtsample" --kind cia --region "$region" --pack-size 64K \
        --out "$images/Игра ($region).cia" --patch "$app/patch/Перевод $region" \
        --tools "$linux_app/tools" >/dev/null
    for kind in cxi 3ds; do
        "$linux_app/qvtsample" --kind "$kind" --region "$region" --pack-size 64K \
            --out "$images/Игра ($region).$kind" --tools "$linux_app/tools" >/dev/null
    done
done

qvtpatch() { (cd "$app" && wine "$app/qvtpatch.exe" "$@"); }

# --help and --version from a Unix shell: no console window and no standard handles handed
# over, yet the text reaches standard output (not a message box that nobody sees).
for program in qvtpatch.exe bcsartool.exe; do
    [ -e "$app/$program" ] || continue
    name=${program%.exe}
    version=$(cd "$app" && timeout 120 wine "$app/$program" --version </dev/null 2>/dev/null |
        tr -d '\r') || true
    grep -Eqx "$name [0-9]+\.[0-9]+\.[0-9]+" <<<"$version" && pass "$program --version" ||
        fail "$program --version printed: $version"
    help=$(cd "$app" && timeout 120 wine "$app/$program" --help </dev/null 2>/dev/null |
        tr -d '\r') || true
    grep -q -- "--version" <<<"$help" && pass "$program --help" ||
        fail "$program --help printed: $(head -n 3 <<<"$help")"
done

# Identification of every kind and region.
for region in EUR USA JAP; do
    for kind in cia cxi 3ds; do
        out=$(qvtpatch identify "C:\\Образы игр\\Игра ($region).$kind" 2>&1 | tr -d '\r') ||
            { fail "identify $region $kind: $out"; continue; }
        grep -qx "Region: $region" <<<"$out" && grep -qx "Kind: .$kind" <<<"$out" &&
            pass "identify $region .$kind" || fail "identify $region $kind printed: $out"
    done
done

# Installs to every output form; the same run of the Linux program gives the reference.
reference=$(mktemp -d "$work/linux.XXXXXX")
cp -r "$linux_app/." "$reference/app"
cp -r "$app/patch/." "$reference/app/patch/"
while read -r region source kind; do
    name="Игра ($region) перевод.$kind"
    [ "$kind" = mods ] && name="Мод ($region)"
    src_win="C:\\Образы игр\\Игра ($region).$source"
    if ! log=$(qvtpatch install --source "$src_win" --output "C:\\Готовые образы\\$name" \
        --kind "$kind" --patch "$app_win\\patch\\Перевод $region" --quiet 2>&1 | tr -d '\r'); then
        fail "install $region .$source to $kind: $(tail -n 5 <<<"$log")"
        continue
    fi
    [ -e "$app/tools/temp" ] && fail "tools\\temp left after $region .$source to $kind"
    leftovers=$(find "$outputs" -name '*.part' | head -n 1)
    [ -z "$leftovers" ] || fail "partial file left: $leftovers"
    linux_out="$work/linux-$region-$source-$kind"
    [ "$kind" = mods ] || linux_out="$linux_out.$kind"
    (cd "$reference/app" && ./qvtpatch install --source "$images/Игра ($region).$source" \
        --output "$linux_out" --kind "$kind" --patch "$reference/app/patch/Перевод $region" \
        --quiet >/dev/null 2>&1) ||
        { fail "the Linux reference run $region .$source to $kind failed"; continue; }
    if [ "$kind" = mods ]; then
        diff -r "$linux_out" "$outputs/$name" >/dev/null &&
            pass "install $region .$source to a mod folder" ||
            fail "the mod folder differs from the Linux program's"
    else
        "$linux_app/tools/ctrtool" -y "$outputs/$name" >/dev/null 2>&1 ||
            fail "the verifier rejects $name"
        cmp -s "$linux_out" "$outputs/$name" && pass "install $region .$source to .$kind" ||
            fail "$name differs from the Linux program's output"
    fi
done <<'EOF'
EUR cia cia
EUR cia cxi
EUR cxi cxi
EUR 3ds 3ds
USA 3ds cia
JAP cia mods
EOF

# One start of the window under Xvfb. Under Wine a start now and then spins at full load and
# never shows the window (seen here in about one start of ten, each time in another of the
# starts below, and not yet explained): such a start is ended after three minutes, reported
# with a note on the test's standard error, and made again.
exec 3>&2
window_run() {
    local attempt status
    for attempt in 1 2 3; do
        status=0
        timeout 180 xvfb-run -a -s "-screen 0 1024x768x24" "$@" || status=$?
        [ "$status" -ne 124 ] && return "$status"
        echo "note: a start of the window did not end within three minutes (attempt $attempt)" >&3
        WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
    done
    return 124
}

# The window in both languages, under Xvfb with Windows' own platform plugin.
for lang in English:C.UTF-8 Russian:ru_RU.UTF-8; do
    name=${lang%%:*}
    locale=${lang#*:}
    png="$work/main-$name.png"
    started=$(cd "$app" && LC_ALL=$locale LANG=$locale QVT_QUIT_AFTER_START=1 \
        window_run wine "$app/qvtpatch-gui.exe" 2>/dev/null | tr -d '\r') || true
    if [ "$name" = Russian ]; then expected='Свободное место'; else expected='Free space'; fi
    grep -q "window started" <<<"$started" && grep -q "$expected" <<<"$started" &&
        pass "the window starts in $name" || fail "the window in $name printed: $started"
    if [ "$name" = Russian ]; then language='Русский'; else language='English'; fi
    grep -qx "language box: $language" <<<"$started" && pass "the language box holds $language" ||
        fail "the language box in $name: $(grep 'language box' <<<"$started")"
    (cd "$app" && LC_ALL=$locale LANG=$locale QVT_SCREENSHOT="Z:$png" \
        QVT_SCREENSHOT_SOURCE="C:\\Образы игр\\Игра (EUR).cia" \
        QVT_SCREENSHOT_OUTPUT="C:\\Готовые образы\\Снимок.cia" \
        window_run wine "$app/qvtpatch-gui.exe" \
        >/dev/null 2>&1) || true
    if [ -s "$png" ]; then
        pass "screenshot in $name"
        # The language box (160, 12, 145 wide, 22 high, its arrow at the right) shows the
        # language's name: dark text pixels inside its white edit field.
        darkest=$(convert "$png" -crop 110x16+163+15 +repage -colorspace Gray \
            -format '%[fx:minima]' info: 2>/dev/null || echo 1)
        # (A prefix without the Windows fonts hands out a mathematical face as the dialog
        # font, in which line edits draw nothing: the window must not take it.)
        awk -v v="$darkest" 'BEGIN { exit !(v < 0.5) }' &&
            pass "the language box shows its text in $name" ||
            fail "the language box's text is not drawn in the $name screenshot"
        [ -n "$shots" ] && cp "$png" "$shots/windows-main-$(tr '[:upper:]' '[:lower:]' <<<"$name").png"
    else
        fail "no screenshot in $name"
    fi
done
[ -e "$app/tools/temp" ] && fail "tools\\temp left after the window"

# Last, as they change the prefix's drives (a window started after them spun under Wine):
# what the Linux program refuses is refused here too, with nothing lost: an output that
# another program holds open, a source on a drive that is not there, a name Windows does not
# allow, a full drive. Each run fails with a message, leaves no partial file or tools\temp,
# and an earlier output stays as it was.
refused() { # EXPECTED-TEXT LABEL ARGS...
    local expected=$1 label=$2 log
    shift 2
    if log=$(qvtpatch install --quiet "$@" 2>&1 | tr -d '\r'); then
        fail "$label: the install succeeded"
    elif ! grep -q -- "$expected" <<<"$log"; then
        fail "$label: no \"$expected\" in: $(tail -n 5 <<<"$log")"
    else
        pass "$label refused"
    fi
    [ -e "$app/tools/temp" ] && fail "tools\\temp left after: $label"
    [ -z "$(find "$outputs" -name '*.part' 2>/dev/null | head -n 1)" ] ||
        fail "partial file left after: $label"
}
eur_cia=(--source "C:\\Образы игр\\Игра (EUR).cia" --kind cia --patch "$app_win\\patch\\Перевод EUR")
held="$outputs/Игра (EUR) перевод.cia"
cp "$held" "$work/held-before.cia"
if [ -n "${QVT_HOLD_FILE:-}" ]; then
    mkfifo "$work/hold.in"
    wine "$QVT_HOLD_FILE" "C:\\Готовые образы\\Игра (EUR) перевод.cia" <"$work/hold.in" \
        >"$work/hold.out" 2>/dev/null &
    holder=$!
    exec 9>"$work/hold.in"
    for _ in $(seq 120); do grep -q held "$work/hold.out" 2>/dev/null && break; sleep 0.5; done
    refused "Error while building the CIA image" "an output held open" "${eur_cia[@]}" \
        --output "C:\\Готовые образы\\Игра (EUR) перевод.cia"
    exec 9>&-
    wait "$holder" || true
    cmp -s "$held" "$work/held-before.cia" || fail "the held output was changed"
fi
refused "cannot be opened" "a source on a missing drive" --source "Q:\\Игра.cia" --kind cia \
    --output "C:\\Готовые образы\\Нет диска.cia"
[ -e "$outputs/Нет диска.cia" ] && fail "an output was written from a missing drive"
refused "" "a name Windows does not allow" "${eur_cia[@]}" \
    --output "C:\\Готовые образы\\a<b>?.cia"
small="$work/small-drive"
mkdir -p "$small"
if mount -t tmpfs -o size=256k tmpfs "$small" 2>/dev/null; then
    ln -s "$small" "$WINEPREFIX/dosdevices/s:"
    refused "" "a full drive" "${eur_cia[@]}" --output "S:\\Игра.cia"
    [ -z "$(ls -A "$small")" ] || fail "the full drive holds: $(ls -A "$small")"
    rm "$WINEPREFIX/dosdevices/s:"
    umount "$small"
else
    echo "skip: a full drive (no small file system can be mounted here)"
fi

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
