#!/usr/bin/env bash
# Installs what the Windows program needs on Debian 12 (the MinGW-w64 cross compiler, Wine, Xvfb)
# and builds, once per machine, the Windows Qt, OpenSSL's libcrypto, liblzma, xdelta.exe, libzstd,
# zlib and libzip from Debian's own source packages, at the versions the host has, into a cache folder outside the
# work tree. A later run finds them there and takes seconds.
#
# Prints, as its last line, the cache folder; scripts/build-windows.sh reads the prefixes from it.
# QVT_WINDOWS_CACHE overrides the cache folder (default: ~/.cache/qvtpatch-windows).
set -euo pipefail
shopt -s inherit_errexit
here=$(cd "$(dirname "$0")/.." && pwd)
cache=${QVT_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qvtpatch-windows}
jobs=$(nproc)
triple=x86_64-w64-mingw32
# Each build's recipe number is raised whenever its recipe below changes, so an older cache is
# rebuilt rather than reused.
qt_recipe=1
ssl_recipe=2
xz_recipe=1
xdelta_recipe=1
zstd_recipe=1
zlib_recipe=1
libzip_recipe=1

as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)

"$here/scripts/setup.sh"
packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 xvfb xauth imagemagick
          ninja-build dpkg-dev perl make autoconf automake libtool pkg-config locales)
missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    "${as_root[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

# Wine takes the Windows locale from the Unix one, so the Russian start needs ru_RU.UTF-8.
if ! locale -a 2>/dev/null | grep -ix 'ru_RU.utf8' >/dev/null; then
    "${as_root[@]}" sed -i -e 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen ||
        echo 'ru_RU.UTF-8 UTF-8' | "${as_root[@]}" tee -a /etc/locale.gen >/dev/null
    "${as_root[@]}" locale-gen >&2
fi

# Debian source packages (source_of, library_version, fetch), kept in the cache's src folder,
# and the finished builds in the cache (built_version).
source_cache="$cache/src"
# shellcheck source=scripts/debian-source.sh
source "$here/scripts/debian-source.sh"

toolchain="$cache/mingw-w64-x86_64.cmake"
mkdir -p "$cache/src"
cmp -s "$here/cmake/mingw-w64-x86_64.cmake" "$toolchain" ||
    cp "$here/cmake/mingw-w64-x86_64.cmake" "$toolchain"

# ---- Qt 6 (Core, Gui, Widgets, Test and the platform plugins) ----
read -r qt_src qt_version < <(source_of qt6-base-dev)
qt_prefix="$cache/qt-$qt_version-r$qt_recipe"
if [ ! -f "$qt_prefix/.complete" ]; then
    src=$(fetch "$qt_src" "$qt_version")
    # Without Direct2D the windows plugin must not use the DirectWrite font database either:
    # Gui builds that database only together with Direct2D.
    plugin="$src/src/plugins/platforms/windows/qwindowsintegration.cpp"
    if ! grep -q 'QT_CONFIG(directwrite3) && QT_CONFIG(direct2d)' "$plugin"; then
        sed -i -e 's/#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' \
            "$plugin"
    fi
    rm -rf "$cache/build-qt" "$qt_prefix"
    mkdir -p "$cache/build-qt"
    (cd "$cache/build-qt" && "$src/configure" -prefix "$qt_prefix" -release -shared \
        -nomake examples -nomake tests -qt-host-path /usr \
        -no-opengl -no-dbus -no-icu -no-zstd -no-fontconfig \
        -qt-zlib -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-pcre \
        -no-feature-sql -no-feature-network -no-feature-printsupport -no-feature-concurrent \
        -no-feature-xml -no-feature-vulkan -no-feature-tabletevent -no-feature-direct2d \
        -no-feature-androiddeployqt -no-feature-windeployqt -no-feature-gif -no-feature-jpeg \
        -no-feature-sessionmanager -no-feature-pdf \
        -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >&2)
    cmake --build "$cache/build-qt" --parallel "$jobs" >&2
    cmake --install "$cache/build-qt" >&2
    touch "$qt_prefix/.complete"
    rm -rf "$cache/build-qt"
fi

# ---- OpenSSL's libcrypto, static: only what the programs use (EVP with AES, SHA-256, MD5) ----
build_openssl() {
    cp -a "$1" "$3"
    cd "$3"
    ./Configure mingw64 --cross-compile-prefix=$triple- --prefix="$2" --libdir=lib no-shared \
        no-tests no-module no-engine no-dso no-bulk no-ssl no-tls no-dtls no-sock no-ui-console
    make -j"$jobs" build_libs
    make install_dev
}
ssl_prefix=$(cached_build openssl "$ssl_recipe" libssl-dev build_openssl)

# ---- liblzma, static, for xdelta.exe to decode LZMA-compressed differences ----
build_xz() {
    mkdir -p "$3"
    cd "$3"
    "$1/configure" --host=$triple --prefix="$2" --enable-static --disable-shared \
        --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-scripts \
        --disable-doc --disable-nls --disable-lzma-links
    make -j"$jobs" -C src/liblzma
    make -C src/liblzma install
}
xz_prefix=$(cached_build xz "$xz_recipe" liblzma5 build_xz)

# ---- xdelta.exe ----
build_xdelta() {
    cp -a "$1" "$3"
    cd "$3"
    [ -x configure ] || autoreconf -fi
    ./configure --host=$triple --with-liblzma \
        CPPFLAGS="-I$xz_prefix/include -DLZMA_API_STATIC" LDFLAGS="-L$xz_prefix/lib -static" \
        CFLAGS="-O2 -DXD3_WIN32=1 -DEXTERNAL_COMPRESSION=0 -DSHELL_TESTS=0" \
        CXXFLAGS="-O2 -DXD3_WIN32=1 -DEXTERNAL_COMPRESSION=0 -DSHELL_TESTS=0"
    make -j"$jobs" xdelta3.exe
    local exe="$3/.libs/xdelta3.exe"
    [ -f "$exe" ] || exe="$3/xdelta3.exe"
    mkdir -p "$2"
    $triple-strip -o "$2/xdelta.exe" "$exe"
    if ! $triple-objdump -s -j .rdata "$2/xdelta.exe" >/dev/null 2>&1 ||
       ! grep -aq 'lzma' "$2/xdelta.exe"; then
        echo "setup-windows: xdelta.exe was built without LZMA"
        exit 1
    fi
}
xd_prefix=$(cached_build xdelta3 "$xdelta_recipe" xdelta3 build_xdelta)

# ---- libzstd, static, for the compressed images (decoding and encoding only, no threads) ----
# The x86-64 assembly decoder is written for the System V calling convention; the C one serves
# Windows. Legacy formats and the dictionary builder are not needed.
build_zstd() {
    cp -a "$1" "$3"
    make -C "$3/lib" -j"$jobs" libzstd.a CC=$triple-gcc-posix AR=$triple-ar ZSTD_NO_ASM=1 \
        ZSTD_LEGACY_SUPPORT=0 ZSTD_LIB_DICTBUILDER=0 ZSTD_LIB_DEPRECATED=0
    mkdir -p "$2/lib" "$2/include"
    cp "$3/lib/libzstd.a" "$2/lib/"
    cp "$3/lib/zstd.h" "$3/lib/zstd_errors.h" "$3/lib/zdict.h" "$2/include/"
}
zstd_prefix=$(cached_build zstd "$zstd_recipe" libzstd-dev build_zstd)

# ---- zlib, static, for libzip's deflate ----
# Debian's source has no win32 makefiles; the configure script knows MinGW by CHOST.
build_zlib() {
    cp -a "$1" "$3"
    cd "$3"
    CHOST=$triple CC=$triple-gcc-posix AR=$triple-ar RANLIB=$triple-ranlib \
        ./configure --static --prefix="$2"
    make -j"$jobs" libz.a
    make install
}
zlib_prefix=$(cached_build zlib "$zlib_recipe" zlib1g-dev build_zlib)

# ---- libzip, static, for the patch packages (stored and deflated entries; no encryption) ----
build_libzip() {
    cmake -S "$1" -B "$3" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$2" \
        -DBUILD_SHARED_LIBS=OFF -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF \
        -DBUILD_DOC=OFF -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF \
        -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF \
        -DZLIB_INCLUDE_DIR="$zlib_prefix/include" -DZLIB_LIBRARY="$zlib_prefix/lib/libz.a"
    cmake --build "$3" --parallel "$jobs"
    cmake --install "$3"
}
libzip_prefix=$(cached_build libzip "$libzip_recipe" libzip-dev build_libzip)

cat >"$cache/prefixes.env" <<EOF
QVT_WINDOWS_QT=$qt_prefix
QVT_WINDOWS_OPENSSL=$ssl_prefix
QVT_WINDOWS_XDELTA=$xd_prefix/xdelta.exe
QVT_WINDOWS_ZSTD=$zstd_prefix
QVT_WINDOWS_XZ=$xz_prefix
QVT_WINDOWS_ZLIB=$zlib_prefix
QVT_WINDOWS_LIBZIP=$libzip_prefix
EOF
echo "$cache"
