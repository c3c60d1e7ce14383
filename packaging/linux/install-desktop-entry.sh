#!/bin/sh
# Adds the program to the desktop's menu and to "Open with" for CIA, CXI and 3DS images, for
# this user only, pointing at the folder this script lies in. --remove takes it out again.
set -eu
here=$(dirname -- "$(readlink -f -- "$0")")
id=io.github.qvtpatch.QvtPatch
data=${XDG_DATA_HOME:-$HOME/.local/share}
files="applications/$id.desktop
metainfo/$id.metainfo.xml
mime/packages/$id-images.xml
icons/hicolor/scalable/apps/$id.svg
icons/hicolor/256x256/apps/$id.png"

refresh() {
    if command -v update-mime-database >/dev/null 2>&1 && [ -d "$data/mime/packages" ]; then
        update-mime-database "$data/mime" || true
    fi
    if command -v update-desktop-database >/dev/null 2>&1 && [ -d "$data/applications" ]; then
        update-desktop-database "$data/applications" || true
    fi
}

case "${1:-}" in
--remove)
    echo "$files" | while IFS= read -r file; do rm -f -- "$data/$file"; done
    # What the databases were built from is gone with our files: their caches go too.
    if [ -d "$data/mime/packages" ] && [ -z "$(ls -A -- "$data/mime/packages")" ]; then
        rm -rf -- "$data/mime"
    fi
    refresh
    # A desktop database that no longer names any type.
    cache=$data/applications/mimeinfo.cache
    if [ -f "$cache" ] && ! grep -qv -e '^\[MIME Cache\]$' -e '^$' "$cache"; then
        rm -f -- "$cache"
    fi
    # Folders left empty by the removal.
    for dir in icons/hicolor/scalable/apps icons/hicolor/scalable icons/hicolor/256x256/apps \
        icons/hicolor/256x256 icons/hicolor icons metainfo applications; do
        rmdir -- "$data/$dir" 2>/dev/null || true
    done
    echo "The desktop entry is removed."
    ;;
"")
    # The launcher's path as one quoted argument of the desktop file's Exec key.
    exec_path=$(printf '%s' "$here/qvtpatch-gui" | sed 's/[\\"`$]/\\\\&/g; s/%/%%/g')
    replacement=$(printf '%s' "$exec_path" | sed 's/[&|\\]/\\&/g')
    echo "$files" | while IFS= read -r file; do mkdir -p -- "$(dirname -- "$data/$file")"; done
    sed "s|^Exec=.*|Exec=\"$replacement\" %f|" "$here/share/applications/$id.desktop" \
        >"$data/applications/$id.desktop"
    cp -- "$here/share/metainfo/$id.metainfo.xml" "$data/metainfo/"
    cp -- "$here/share/mime/packages/$id-images.xml" "$data/mime/packages/"
    cp -- "$here/share/icons/hicolor/scalable/apps/$id.svg" "$data/icons/hicolor/scalable/apps/"
    cp -- "$here/share/icons/hicolor/256x256/apps/$id.png" "$data/icons/hicolor/256x256/apps/"
    refresh
    echo "The desktop entry points at $here."
    ;;
*)
    echo "usage: $0 [--remove]" >&2
    exit 2
    ;;
esac
