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

# The bundled libstdc++ and libgcc_s only where the system's libstdc++ is older (or absent), so
# that the system's graphics drivers never meet an older C++ runtime than they were built for.
bundled=$(ls "$here/lib/compat/" 2>/dev/null | sed -n 's/^libstdc++\.so\.6\.0\.\([0-9][0-9]*\)$/\1/p')
if [ -n "$bundled" ]; then
    system=
    for dir in /lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu /usr/lib64 /lib64 /usr/lib /lib; do
        if [ -e "$dir/libstdc++.so.6" ]; then
            system=$(basename -- "$(readlink -f -- "$dir/libstdc++.so.6")" |
                sed -n 's/^libstdc++\.so\.6\.0\.\([0-9][0-9]*\)$/\1/p')
            break
        fi
    done
    if [ -z "$system" ] || [ "$system" -lt "$bundled" ]; then
        LD_LIBRARY_PATH="$here/lib/compat${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
        export LD_LIBRARY_PATH
    fi
fi

exec "$here/$name.bin" "$@"
