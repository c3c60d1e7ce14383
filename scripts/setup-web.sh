#!/usr/bin/env bash
# Installs what the browser build needs on Debian 12 (Debian's emscripten) and builds, once per
# machine, the libraries the engine needs for WebAssembly from Debian's own source packages:
# libzstd, liblzma and Nettle, static, into a cache folder outside the work tree (xdelta3's
# decoder is compiled with the engine from the source scripts/setup.sh fetches); and Debian's
# Chromium with its driver and Selenium for the page's test. A later run takes seconds.
#
# Prints, as its last line, the cache folder; scripts/build-web.sh reads the prefixes from it.
# QVT_WEB_CACHE overrides the cache folder (default: ~/.cache/qvtpatch-web).
set -euo pipefail
shopt -s inherit_errexit
here=$(cd "$(dirname "$0")/.." && pwd)
cache=${QVT_WEB_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qvtpatch-web}
jobs=$(nproc)
# Raised whenever a recipe below changes, so that an older build is not reused.
zstd_recipe=1
xz_recipe=1
nettle_recipe=1

as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)

"$here/scripts/setup.sh"
packages=(emscripten dpkg-dev make m4 chromium chromium-driver python3-selenium)
missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=900 update
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=900 install -y \
        --no-install-recommends "${missing[@]}"
fi
# emcc's optimizer runs on node and needs Debian's JavaScript modules (acorn).
export NODE_PATH=/usr/share/nodejs

source_cache="$cache/src"
# shellcheck source=scripts/debian-source.sh
source "$here/scripts/debian-source.sh"
mkdir -p "$source_cache"

# ---- libzstd, static: decoding and encoding, no threads, no assembly ----
build_zstd() {
    cp -a "$1" "$3"
    emmake make -C "$3/lib" -j"$jobs" libzstd.a CC=emcc AR=emar ZSTD_NO_ASM=1 \
        ZSTD_LEGACY_SUPPORT=0 ZSTD_LIB_DICTBUILDER=0 ZSTD_LIB_DEPRECATED=0
    mkdir -p "$2/lib" "$2/include"
    cp "$3/lib/libzstd.a" "$2/lib/"
    cp "$3/lib/zstd.h" "$3/lib/zstd_errors.h" "$3/lib/zdict.h" "$2/include/"
}
zstd_prefix=$(cached_build zstd "$zstd_recipe" libzstd-dev build_zstd)

# ---- liblzma, static, for xdelta3's LZMA-compressed differences ----
build_xz() {
    mkdir -p "$3"
    cd "$3"
    emconfigure "$1/configure" --host=wasm32-unknown-emscripten --prefix="$2" \
        --enable-static --disable-shared --disable-threads --disable-assembler \
        --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-scripts \
        --disable-doc --disable-nls --disable-lzma-links
    emmake make -j"$jobs" -C src/liblzma
    emmake make -C src/liblzma install
}
xz_prefix=$(cached_build xz "$xz_recipe" liblzma5 build_xz)

# ---- Nettle, static, for MD5, SHA-256 and AES in the page ----
# Nettle rather than OpenSSL: the engine needs three primitives and Nettle is a few hundred KiB
# of portable C with a plain configure (no assembler, no GMP once the public-key half is left
# out), where OpenSSL's linux-generic32 build compiles a whole TLS library to link a fraction.
build_nettle() {
    mkdir -p "$3"
    cd "$3"
    emconfigure "$1/configure" --host=wasm32-unknown-emscripten --prefix="$2" \
        --disable-shared --disable-assembler --disable-public-key --disable-openssl \
        --disable-documentation --disable-fat --disable-x86-aesni --disable-x86-sha-ni
    emmake make -j"$jobs" libnettle.a
    mkdir -p "$2/lib" "$2/include/nettle"
    cp libnettle.a "$2/lib/"
    cp "$1"/*.h ./*.h "$2/include/nettle/"
}
nettle_prefix=$(cached_build nettle "$nettle_recipe" nettle-dev build_nettle)

cat >"$cache/prefixes.env" <<ENV
QVT_WEB_ZSTD=$zstd_prefix
QVT_WEB_XZ=$xz_prefix
QVT_WEB_NETTLE=$nettle_prefix
ENV
echo "$cache"
