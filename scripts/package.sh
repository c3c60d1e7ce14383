#!/usr/bin/env bash
# Builds a Release and writes the portable program folder archive:
#   dist/qvtpatch-VERSION-linux-x86_64.tar.xz holding qvtpatch-VERSION/
# --patch FOLDER (repeatable) copies a patch folder into the archive's patch/.
# QVT_BUILD_DIR chooses the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${QVT_BUILD_DIR:-build}
patches=()
while [ $# -gt 0 ]; do
    case "$1" in
    --patch)
        [ $# -ge 2 ] && [ -d "$2" ] || { echo "package.sh: --patch needs a patch folder" >&2; exit 2; }
        patches+=("$(readlink -f -- "$2")")
        shift 2 ;;
    *) echo "usage: scripts/package.sh [--patch FOLDER]..." >&2; exit 2 ;;
    esac
done
for tool in patchelf ldd xz; do
    command -v "$tool" >/dev/null || { echo "package.sh: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

version=$(sed -n 's/^project(qvtpatch VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=qvtpatch-$version
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target qvtpatch_gui qvtpatch bcsartool ctrtool 3dstool makerom
stage=$build/package
folder=$stage/$name
rm -rf "$stage"
cmake --install "$build" --prefix "$folder" >/dev/null
for patch in "${patches[@]}"; do
    cp -r -- "$patch" "$folder/patch/"
done

# The Qt plugins the window needs: X11, Wayland and offscreen, with what they load in turn.
qt_plugins=$(qtpaths6 --query QT_INSTALL_PLUGINS)
mkdir -p "$folder/plugins/platforms"
for plugin in xcb wayland-generic wayland-egl offscreen; do
    cp "$qt_plugins/platforms/libq$plugin.so" "$folder/plugins/platforms/"
    echo "$qt_plugins/platforms/libq$plugin.so" >>"$stage/bundled"
done
for dir in xcbglintegrations wayland-shell-integration wayland-decoration-client \
    wayland-graphics-integration-client platforminputcontexts imageformats; do
    [ -d "$qt_plugins/$dir" ] || continue
    cp -r "$qt_plugins/$dir" "$folder/plugins/"
    find "$qt_plugins/$dir" -type f >>"$stage/bundled"
done

# Libraries every desktop system has and that must come from it (the C library, the graphics
# stack, X11 and Wayland client, fonts and text shaping, zlib, expat, D-Bus) stay out, with
# what they need in turn; Qt and its helpers go in even where a system library needs them too.
never='^(libc|libm|libdl|libpthread|librt|libresolv|libutil|ld-linux-x86-64|linux-vdso|libGL|libEGL|libGLX|libOpenGL|libGLdispatch|libdrm|libgbm|libxcb|libX11|libX11-xcb|libwayland-client|libfontconfig|libfreetype|libharfbuzz|libz|libexpat|libdbus-1)\.so'
always='^(libQt6|libicu|libpcre2-|libdouble-conversion|libmd4c|libb2|libxkbcommon|libxcb-(icccm|image|keysyms|render-util|cursor|util)|libcrypto|libglib-2\.0|libgthread-2\.0)'
elves() {
    find "$folder" -type f \( -name '*.so*' -o -name '*.bin' -o -path '*/tools/*' \) -print0 |
        xargs -0 file -L | sed -n 's/^\([^:]*\): *ELF.*/\1/p'
}
resolved() { xargs -d '\n' ldd 2>/dev/null | sed -n 's/^\s*\(\S*\) => \(\/\S*\).*/\1 \2/p' | sort -u; }
system_side=$(resolved < <(elves) | awk '{print $1}' | grep -E "$never" || true)
keep_out=$(printf '%s\n' "$system_side" |
    while read -r soname; do ldconfig -p | sed -n "s/^\s*$soname (libc6,x86-64) => //p" | head -1; done |
    resolved | awk '{print $1}' | grep -vE "$always" | sort -u)
mkdir -p "$folder/lib/compat"
resolved < <(elves) | while read -r soname path; do
    if [[ $soname =~ ^(libstdc\+\+|libgcc_s)\.so ]]; then
        cp -L "$path" "$folder/lib/compat/$(basename "$(readlink -f "$path")")"
        echo "$path" >>"$stage/bundled"
        [ -e "$folder/lib/compat/$soname" ] || ln -s "$(basename "$(readlink -f "$path")")" "$folder/lib/compat/$soname"
        continue
    fi
    [[ $soname =~ $never ]] && continue
    grep -qxF "$soname" <<<"$keep_out" && ! [[ $soname =~ $always ]] && continue
    [ -e "$folder/lib/$soname" ] && continue
    cp -L "$path" "$folder/lib/$soname"
    echo "$path" >>"$stage/bundled"
done
# libOpenGL.so.0 stays the system's, but a stock desktop may not have it: a copy waits in
# lib/fallback, which the launcher uses only when the system has none.
opengl=$(resolved < <(elves) | sed -n 's/^libOpenGL\.so\.0 //p' | head -1)
if [ -n "$opengl" ]; then
    mkdir -p "$folder/lib/fallback"
    cp -L "$opengl" "$folder/lib/fallback/libOpenGL.so.0"
    echo "$opengl" >>"$stage/bundled"
fi
chmod -R u+w "$folder/lib" "$folder/plugins"
for lib in "$folder"/lib/*.so*; do patchelf --set-rpath '$ORIGIN' "$lib"; done
for plugin in "$folder"/plugins/*/*.so; do patchelf --set-rpath '$ORIGIN/../../lib' "$plugin"; done

# The licence notices of every Debian package a bundled file comes from, and of xdelta3, whose
# decoder is also built into the programs.
mkdir -p "$folder/licenses"
owner() { # the package a file comes from; merged /usr files may be registered under /lib
    local path
    for path in "$1" "$(readlink -f "$1")"; do
        dpkg -S "$path" 2>/dev/null && return
        dpkg -S "${path#/usr}" 2>/dev/null && return
    done
    return 0
}
command -v xdelta3 >>"$stage/bundled"
sort -u "$stage/bundled" | while read -r path; do owner "$path"; done |
    sed -n 's/^\([^:,]*\)[:,].*/\1/p' | sort -u | while read -r package; do
    copyright=/usr/share/doc/$package/copyright
    if [ -f "$copyright" ]; then cp "$copyright" "$folder/licenses/$package.txt"; fi
done

mkdir -p "$root/dist"
archive=$root/dist/$name-linux-x86_64.tar.xz
tar -C "$stage" --owner=0 --group=0 -cf - "$name" | xz -T2 -6 >"$archive"
echo "$archive"
