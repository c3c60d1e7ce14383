#!/usr/bin/env bash
# The release archive on clean systems: builds it with scripts/package.sh, unpacks it into
# minimal Debian 12, 13 and 11 root file systems (debootstrap, cached under BUILD/release) and
# runs the programs there. Needs root and the package archive this machine's apt uses (or
# debootstrap's own default); skips (77) without them. QVT_DEBIAN_MIRROR names another one.
set -euo pipefail
source_dir=$1
build=$2

# The archive this machine installs from: the first "deb" source of its apt configuration that
# is not a security archive, in the deb822 files first, then in the one-line list.
apt_mirror() {
    local file
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        awk -v RS= '/(^|\n)Types:[^\n]*deb( |\n|$)/ {
            if (match($0, /(^|\n)URIs:[ \t]*[^ \t\n]+/)) {
                uri = substr($0, RSTART, RLENGTH); sub(/^\n?URIs:[ \t]*/, "", uri)
                if (uri !~ /-security/) { print uri; exit }
            }
        }' "$file"
    done | head -1 | grep . && return
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] || continue
        # "deb [options] URI suite components": the options, if any, end with "]".
        sed -n 's/^deb[ \t]\+\(\[[^]]*\][ \t]\+\)\?\([^ \t]\+\).*/\2/p' "$file" | grep -v -- -security
    done | head -1
}
# debootstrap's own default archive, when the machine names none.
debootstrap_default() {
    sed -n 's/^DEF_MIRROR="\(.*\)"$/\1/p' "$(command -v debootstrap)" | head -1
}
work=$build/release
# The desktop libraries a stock system has: not libopengl0, which the window brings a fallback of.
window_packages=libgl1,libegl1,libfontconfig1,libfreetype6,libharfbuzz0b,libx11-6,libx11-xcb1,libxcb1,libwayland-client0,libdrm2,libgbm1,libdbus-1-3
folder_name='Программа с пробелом'
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "the release test needs root (debootstrap, chroot, mounts)"
for tool in debootstrap patchelf desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || skip "$tool is missing (scripts/setup.sh installs it)"
done
mirror=${QVT_DEBIAN_MIRROR:-$(apt_mirror || true)}
[ -n "$mirror" ] || mirror=$(debootstrap_default)
[ -n "$mirror" ] || skip "no package archive is configured (apt sources or debootstrap's default)"
scheme=${mirror%%://*}
host=${mirror#*://}
host=${host%%/*}
port=80
[ "$scheme" = https ] && port=443
[[ $host =~ :([0-9]+)$ ]] && port=${BASH_REMATCH[1]} && host=${host%:*}
if [ "$scheme" = file ]; then
    [ -d "${mirror#file://}" ] || skip "the package archive ${mirror#file://} is missing"
else
    timeout 10 bash -c "exec 3<>/dev/tcp/$host/$port" 2>/dev/null ||
        skip "the package archive ($host) cannot be reached"
fi

started=$(date +%s)
archive=$(QVT_BUILD_DIR=$build "$source_dir/scripts/package.sh" | tail -1)
[ -f "$archive" ] || { echo "FAIL: no archive"; exit 1; }
name=$(basename "$archive" -linux-x86_64.tar.xz)
version=${name#qvtpatch-}
echo "archive: $archive, $(du -k "$archive" | cut -f1) KiB, unpacked $(du -sk "$build/package/$name" | cut -f1) KiB"

# Desktop integration files, and the desktop entry in and out of a temporary home.
share=$build/package/$name/share
desktop-file-validate "$share/applications/"*.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$share/metainfo/"*.xml || fail "appstreamcli validate"
home=$(mktemp -d)
mkdir -p "$home/.local/share/applications"
printf '[Desktop Entry]\nType=Application\nName=Other\nExec=other\n' \
    >"$home/.local/share/applications/other.desktop"
before=$(cd "$home" && find . | sort)
HOME=$home XDG_DATA_HOME= "$build/package/$name/install-desktop-entry.sh" >/dev/null
grep -q "^Exec=\"$build/package/$name/qvtpatch-gui\" %f" \
    "$home/.local/share/applications/"io.*.desktop || fail "desktop entry Exec"
HOME=$home XDG_DATA_HOME= "$build/package/$name/install-desktop-entry.sh" --remove >/dev/null
[ "$(cd "$home" && find . | sort)" = "$before" ] || fail "--remove left ~/.local/share changed"
rm -rf "$home"

# A sample image and patch, made outside the chroots.
samples=$work/samples
rm -rf "$samples"
mkdir -p "$samples/patch"
"$build/app/qvtsample" --kind cia --region EUR --pack-size 1M --out "$samples/Sample (EUR).cia" \
    --patch "$samples/patch/Sample patch" >/dev/null

mounted=()
cleanup() {
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null || true; done
}
trap cleanup EXIT

# Makes a fresh root of SUITE from the cached minimal system, unpacks the archive into it.
prepare_root() {
    local suite=$1
    local root=$work/$suite-root
    if [ ! -d "$work/$suite-minbase" ]; then
        rm -rf "$work/$suite-minbase.tmp"
        debootstrap --variant=minbase "$suite" "$work/$suite-minbase.tmp" "$mirror" >/dev/null ||
            { echo "FAIL: debootstrap $suite"; exit 1; }
        mv "$work/$suite-minbase.tmp" "$work/$suite-minbase"
    fi
    rm -rf "$root"
    cp -a "$work/$suite-minbase" "$root"
    mount --bind "$root" "$root" && mounted+=("$root")
    mount -t proc proc "$root/proc" && mounted+=("$root/proc")
    mkdir -p "$root/opt/$folder_name" "$root/data"
    tar -C "$root/opt/$folder_name" -xJf "$archive"
    cp -r "$samples/." "$root/data/"
}
in_root() { chroot "$work/$1-root" /usr/bin/env -i PATH=/usr/bin:/bin LANG=C.UTF-8 "${@:2}"; }
program() { echo "/opt/$folder_name/$name/$1"; }

# Command line on the bare system, then the window after the packages every desktop has.
check_working() {
    local suite=$1 out
    prepare_root "$suite"
    out=$(in_root "$suite" "$(program qvtpatch)" --version 2>&1) || fail "$suite: --version: $out"
    [ "$out" = "qvtpatch $version" ] || fail "$suite: qvtpatch --version printed: $out"
    out=$(in_root "$suite" "$(program qvtpatch)" --identify "/data/Sample (EUR).cia" 2>&1) ||
        fail "$suite: identify: $out"
    grep -q "Region: EUR" <<<"$out" || fail "$suite: identify printed: $out"
    out=$(in_root "$suite" "$(program qvtpatch)" --source "/data/Sample (EUR).cia" \
        --output "/data/Patched.cxi" --kind cxi --patch "/data/patch/Sample patch" 2>&1) ||
        fail "$suite: install: $out"
    [ -s "$work/$suite-root/data/Patched.cxi" ] || fail "$suite: no patched image"
    # The C++ runtime in use: the system's unless it is older than the bundled one.
    out=$(in_root "$suite" LD_DEBUG=libs "$(program qvtpatch)" --identify "/data/Sample (EUR).cia" 2>&1)
    grep -qE "calling init: (/usr)?/lib/x86_64-linux-gnu/libstdc\+\+" <<<"$out" ||
        fail "$suite: not the system's libstdc++: $(grep 'init:.*libstdc' <<<"$out")"

    in_root "$suite" apt-get -qq update >/dev/null 2>&1
    in_root "$suite" DEBIAN_FRONTEND=noninteractive apt-get -qq install -y --no-install-recommends \
        ${window_packages//,/ } >/dev/null 2>&1 || fail "$suite: installing the desktop libraries"
    out=$(in_root "$suite" "$(program qvtpatch-gui)" --version 2>&1) || fail "$suite: --version: $out"
    grep -q "$version" <<<"$out" || fail "$suite: --version printed: $out"
    local start end
    start=$(date +%s%N)
    out=$(in_root "$suite" QT_QPA_PLATFORM=offscreen QVT_QUIT_AFTER_START=1 \
        "$(program qvtpatch-gui)" "/data/Sample (EUR).cia" 2>&1) || fail "$suite: window: $out"
    end=$(date +%s%N)
    grep -q "window started" <<<"$out" && grep -q "EUR" <<<"$out" ||
        fail "$suite: window start-up printed: $out"
    echo "$suite: window start-up $(((end - start) / 1000000)) ms"
}

check_working bookworm

# Every library of every ELF file resolves inside the archive or is one the system provides.
never='^(libc|libm|libdl|libpthread|librt|libresolv|ld-linux-x86-64|linux-vdso|libGL|libEGL|libGLX|libOpenGL|libGLdispatch|libdrm|libgbm|libxcb|libX11|libX11-xcb|libwayland-client|libfontconfig|libfreetype|libharfbuzz|libz|libexpat|libdbus-1)\.so'
inside=$(in_root bookworm sh -c "cd '/opt/$folder_name/$name' && find . -type f -print" |
    while read -r file; do
        head -c 4 "$work/bookworm-root/opt/$folder_name/$name/$file" | grep -q ELF && echo "$file"
    done)
others=$(for file in $inside; do
    in_root bookworm env LD_LIBRARY_PATH= ldd "/opt/$folder_name/$name/$file" 2>&1 |
        sed -n 's/^\s*\(\S*\) => \(.*\) (0x.*/\1 \2/p; s/^\s*\(\S*\) => not found/\1 not-found/p'
done | sort -u | while read -r soname path; do
    case "$path" in "/opt/$folder_name/"*) continue ;; esac
    [[ $soname =~ $never ]] && [ "$path" != not-found ] && continue
    # The C++ runtime is the system's unless the launcher picks lib/compat's newer one.
    [[ $soname =~ ^(libstdc\+\+\.so\.6|libgcc_s\.so\.1)$ ]] &&
        [ -f "$work/bookworm-root/opt/$folder_name/$name/lib/compat/$soname" ] && continue
    # libOpenGL.so.0 is the system's when it has one, else lib/fallback's (the launcher's choice).
    [ "$soname" = libOpenGL.so.0 ] &&
        [ -f "$work/bookworm-root/opt/$folder_name/$name/lib/fallback/$soname" ] && continue
    # What a system library of the list needs in turn comes with it.
    echo "$soname $path"
done)
if [ -n "$others" ]; then
    allowed=$(for lib in $(in_root bookworm sh -c 'ls /usr/lib/x86_64-linux-gnu/' | grep -E "$never"); do
        in_root bookworm ldd "/usr/lib/x86_64-linux-gnu/$lib" 2>/dev/null | awk '{print $1}'
    done | sort -u)
    others=$(while read -r soname path; do
        [ "$path" != not-found ] && grep -qxF "$soname" <<<"$allowed" && continue
        echo "$soname $path"
    done <<<"$others")
fi
[ -z "$others" ] || fail "libraries neither in the archive nor provided by the system:
$others"

# A read-only program folder: the window starts; a run stops at once with the folder entry
# naming tools/temp, and nothing is written.
ro=$work/bookworm-root/opt/$folder_name
mount --bind "$ro" "$ro" && mounted+=("$ro") && mount -o remount,ro,bind "$ro"
out=$(in_root bookworm QT_QPA_PLATFORM=offscreen QVT_QUIT_AFTER_START=1 "$(program qvtpatch-gui)" 2>&1) ||
    fail "read-only folder: window: $out"
out=$(in_root bookworm "$(program qvtpatch)" --source "/data/Sample (EUR).cia" \
    --output "/data/Read-only.cxi" --kind cxi 2>&1) && fail "read-only folder: the run succeeded"
grep -q "a folder cannot be created" <<<"$out" && grep -q "$name/tools/temp" <<<"$out" ||
    fail "read-only folder: the run printed: $out"
[ ! -e "$work/bookworm-root/data/Read-only.cxi" ] || fail "read-only folder: an output was written"
umount "$ro"
unset 'mounted[${#mounted[@]}-1]'

# A desktop library missing from the system: the launcher names it and its package.
egl=$work/bookworm-root/usr/lib/x86_64-linux-gnu/libEGL.so.1
mv "$egl" "$egl.away"
out=$(in_root bookworm "$(program qvtpatch-gui)" --version 2>&1) && fail "runs without libEGL.so.1"
grep -q "libEGL.so.1 is missing; install the package libegl1" <<<"$out" ||
    fail "missing system library message: $out"
mv "$egl.away" "$egl"

# A missing library or plugin: the launcher names it.
mv "$work/bookworm-root/opt/$folder_name/$name/plugins/platforms/libqxcb.so" "$work/bookworm-root/"
out=$(in_root bookworm "$(program qvtpatch-gui)" --version 2>&1) && fail "runs without the xcb plugin"
grep -q "plugins/platforms/libqxcb.so is missing" <<<"$out" || fail "missing plugin message: $out"
mv "$work/bookworm-root/opt/$folder_name/$name/lib/libQt6Core.so.6" "$work/bookworm-root/libQt6Core.so.6"
out=$(in_root bookworm "$(program qvtpatch)" --identify "/data/Sample (EUR).cia" 2>&1) && fail "runs without lib/libQt6Core.so.6"
grep -q "lib/libQt6Core.so.6 is missing" <<<"$out" || fail "missing library message: $out"
cleanup
mounted=()

check_working trixie
cleanup
mounted=()

# Too old a C library: one clear sentence naming the minimum, and a non-zero exit.
prepare_root bullseye
for launcher in qvtpatch qvtpatch-gui; do
    out=$(in_root bullseye "$(program $launcher)" "/data/Sample (EUR).cia" 2>&1) && fail "bullseye: $launcher ran"
    grep -q "too old; this program needs glibc 2.36 or newer" <<<"$out" ||
        fail "bullseye: $launcher printed: $out"
done
cleanup
mounted=()

echo "release test: $(($(date +%s) - started)) s, $failures failure(s)"
[ "$failures" -eq 0 ]
