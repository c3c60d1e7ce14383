#!/usr/bin/env bash
# Installs every package the build, the tests and the screenshots need (Debian 12).
set -euo pipefail
packages=(build-essential cmake qt6-base-dev qt6-base-dev-tools libgl-dev libssl-dev
          libgtest-dev libbenchmark-dev clang-format xdelta3 xvfb xauth fonts-dejavu-core
          qt6-wayland patchelf file xz-utils debootstrap desktop-file-utils appstream
          libzstd-dev zstd libzip-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    as_root=()
    [ "$(id -u)" -ne 0 ] && as_root=(sudo)
    "${as_root[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
