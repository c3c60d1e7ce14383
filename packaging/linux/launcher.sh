#!/bin/sh
# Starts the program of this name from the unpacked program folder: checks the system's C
# library, picks the bundled C++ runtime only when the system's is older, and runs NAME.bin.
here=$(dirname -- "$(readlink -f -- "$0")")
name=$(basename -- "$0")
need_glibc_major=2
need_glibc_minor=36

glibc=$(getconf GNU_LIBC_VERSION 2>/dev/null | sed -n 's/^glibc \([0-9][0-9]*\.[0-9][0-9]*\).*/\1/p')
if [ -n "$glibc" ]; then
    major=${glibc%%.*}
    minor=${glibc#*.}
    if [ "$major" -lt "$need_glibc_major" ] ||
        { [ "$major" -eq "$need_glibc_major" ] && [ "$minor" -lt "$need_glibc_minor" ]; }; then
        echo "$name: this system's C library (glibc $glibc) is too old; this program needs glibc $need_glibc_major.$need_glibc_minor or newer (Debian 12, Ubuntu 22.10, Fedora 37 or later)." >&2
        exit 1
    fi
fi

missing() {
    echo "$name: the program folder is incomplete: $1 is missing from $here; unpack the archive again." >&2
    exit 1
}
[ -x "$here/$name.bin" ] || missing "$name.bin"
[ -e "$here/lib/libQt6Core.so.6" ] || missing "lib/libQt6Core.so.6"
if [ "$name" = qvtpatch-gui ]; then
    [ -e "$here/lib/libQt6Widgets.so.6" ] || missing "lib/libQt6Widgets.so.6"
    for plugin in offscreen xcb wayland-generic; do
        [ -e "$here/plugins/platforms/libq$plugin.so" ] || missing "plugins/platforms/libq$plugin.so"
    done
fi

# Finds a system library by its soname in the usual library folders; prints its folder.
system_library() {
    for dir in /lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu /usr/lib64 /lib64 /usr/lib /lib; do
        [ -e "$dir/$1" ] && { echo "$dir"; return 0; }
    done
    return 1
}

if [ "$name" = qvtpatch-gui ]; then
    # The desktop libraries the window takes from the system, with the Debian and Ubuntu
    # package that brings each: one sentence naming what is missing beats the loader's error.
    for pair in libGL.so.1:libgl1 libEGL.so.1:libegl1 libfontconfig.so.1:libfontconfig1 \
        libfreetype.so.6:libfreetype6 libharfbuzz.so.0:libharfbuzz0b libX11.so.6:libx11-6 \
        libX11-xcb.so.1:libx11-xcb1 libxcb.so.1:libxcb1 libwayland-client.so.0:libwayland-client0 \
        libdrm.so.2:libdrm2 libgbm.so.1:libgbm1 libdbus-1.so.3:libdbus-1-3; do
        library=${pair%%:*}
        system_library "$library" >/dev/null || {
            echo "$name: the system library $library is missing; install the package ${pair#*:} (or your system's package that provides $library) and start the program again." >&2
            exit 1
        }
    done
    # Qt asks for libOpenGL.so.0, which a desktop without OpenGL development packages may
    # lack; the bundled copy of it (which only forwards to the system's GL dispatch library)
    # stands in then, and only then.
    if ! system_library libOpenGL.so.0 >/dev/null && [ -e "$here/lib/fallback/libOpenGL.so.0" ]; then
        LD_LIBRARY_PATH="$here/lib/fallback${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
        export LD_LIBRARY_PATH
    fi
fi

# The bundled libstdc++ and libgcc_s only where the system's libstdc++ is older (or absent), so
# that the system's graphics drivers never meet an older C++ runtime than they were built for.
bundled=$(ls "$here/lib/compat/" 2>/dev/null | sed -n 's/^libstdc++\.so\.6\.0\.\([0-9][0-9]*\)$/\1/p')
if [ -n "$bundled" ]; then
    system=
    if dir=$(system_library libstdc++.so.6); then
        system=$(basename -- "$(readlink -f -- "$dir/libstdc++.so.6")" |
            sed -n 's/^libstdc++\.so\.6\.0\.\([0-9][0-9]*\)$/\1/p')
    fi
    if [ -z "$system" ] || [ "$system" -lt "$bundled" ]; then
        LD_LIBRARY_PATH="$here/lib/compat${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
        export LD_LIBRARY_PATH
    fi
fi

exec "$here/$name.bin" "$@"
