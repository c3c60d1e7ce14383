#!/usr/bin/env bash
# Installs every package the build, the tests and the screenshots need (Debian 12).
set -euo pipefail
packages=(build-essential cmake qt6-base-dev qt6-base-dev-tools libgl-dev libssl-dev
          libgtest-dev libbenchmark-dev clang-format xdelta3 xvfb xauth fonts-dejavu-core
          qt6-wayland patchelf file xz-utils debootstrap desktop-file-utils appstream
          libzstd-dev zstd liblzma-dev libzip-dev dpkg-dev nettle-dev)
as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)
missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    "${as_root[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

# xdelta3's decoder, built into the programs from Debian's source of the xdelta3 they run, so
# that a difference can also be applied inside the process. CMake finds it in this folder.
source_cache=${XDG_CACHE_HOME:-$HOME/.cache}/qvtpatch-sources
# shellcheck source=scripts/debian-source.sh
source "$(dirname "$0")/debian-source.sh"
read -r xdelta_source xdelta_version < <(source_of xdelta3)
if [ ! -f "$source_cache/$xdelta_source-$xdelta_version/xdelta3.c" ]; then
    xdelta_version=$(library_version "$xdelta_source" "$xdelta_version")
    fetch "$xdelta_source" "$xdelta_version" >/dev/null
fi
