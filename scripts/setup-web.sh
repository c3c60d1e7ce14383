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
read -r zstd_src zstd_version < <(source_of libzstd-dev)
zstd_built=$(built_version zstd "$zstd_recipe")
zstd_version=${zstd_built:-$(library_version "$zstd_src" "$zstd_version")}
zstd_prefix="$cache/zstd-$zstd_version-r$zstd_recipe"
if [ ! -f "$zstd_prefix/.complete" ]; then
    src=$(fetch "$zstd_src" "$zstd_version")
    rm -rf "$cache/build-zstd" "$zstd_prefix"
    cp -a "$src" "$cache/build-zstd"
    (cd "$cache/build-zstd/lib" &&
        emmake make -j"$jobs" libzstd.a CC=emcc AR=emar ZSTD_NO_ASM=1 ZSTD_LEGACY_SUPPORT=0 \
            ZSTD_LIB_DICTBUILDER=0 ZSTD_LIB_DEPRECATED=0 >&2 &&
        mkdir -p "$zstd_prefix/lib" "$zstd_prefix/include" &&
        cp libzstd.a "$zstd_prefix/lib/" &&
        cp zstd.h zstd_errors.h zdict.h "$zstd_prefix/include/")
    touch "$zstd_prefix/.complete"
    rm -rf "$cache/build-zstd"
fi

# ---- liblzma, static, for xdelta3's LZMA-compressed differences ----
read -r xz_src xz_version < <(source_of liblzma5)
xz_built=$(built_version xz "$xz_recipe")
xz_version=${xz_built:-$(library_version "$xz_src" "$xz_version")}
xz_prefix="$cache/xz-$xz_version-r$xz_recipe"
if [ ! -f "$xz_prefix/.complete" ]; then
    src=$(fetch "$xz_src" "$xz_version")
    rm -rf "$cache/build-xz" "$xz_prefix"
    mkdir -p "$cache/build-xz"
    (cd "$cache/build-xz" &&
        emconfigure "$src/configure" --host=wasm32-unknown-emscripten --prefix="$xz_prefix" \
            --enable-static --disable-shared --disable-threads --disable-assembler \
            --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-scripts \
            --disable-doc --disable-nls --disable-lzma-links >&2 &&
        emmake make -j"$jobs" -C src/liblzma >&2 && emmake make -C src/liblzma install >&2)
    touch "$xz_prefix/.complete"
    rm -rf "$cache/build-xz"
fi

# ---- Nettle, static, for MD5, SHA-256 and AES in the page ----
# Nettle rather than OpenSSL: the engine needs three primitives and Nettle is a few hundred KiB
# of portable C with a plain configure (no assembler, no GMP once the public-key half is left
# out), where OpenSSL's linux-generic32 build compiles a whole TLS library to link a fraction.
read -r nettle_src nettle_version < <(source_of nettle-dev)
nettle_built=$(built_version nettle "$nettle_recipe")
nettle_version=${nettle_built:-$(library_version "$nettle_src" "$nettle_version")}
nettle_prefix="$cache/nettle-$nettle_version-r$nettle_recipe"
if [ ! -f "$nettle_prefix/.complete" ]; then
    src=$(fetch "$nettle_src" "$nettle_version")
    rm -rf "$cache/build-nettle" "$nettle_prefix"
    mkdir -p "$cache/build-nettle"
    (cd "$cache/build-nettle" &&
        emconfigure "$src/configure" --host=wasm32-unknown-emscripten --prefix="$nettle_prefix" \
            --disable-shared --disable-assembler --disable-public-key --disable-openssl \
            --disable-documentation --disable-fat --disable-x86-aesni --disable-x86-sha-ni >&2 &&
        emmake make -j"$jobs" libnettle.a >&2 &&
        mkdir -p "$nettle_prefix/lib" "$nettle_prefix/include/nettle" &&
        cp libnettle.a "$nettle_prefix/lib/" &&
        cp "$src"/*.h ./*.h "$nettle_prefix/include/nettle/")
    touch "$nettle_prefix/.complete"
    rm -rf "$cache/build-nettle"
fi

cat >"$cache/prefixes.env" <<ENV
QVT_WEB_ZSTD=$zstd_prefix
QVT_WEB_XZ=$xz_prefix
QVT_WEB_NETTLE=$nettle_prefix
ENV
echo "$cache"
