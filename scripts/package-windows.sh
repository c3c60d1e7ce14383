#!/usr/bin/env bash
# Cross-builds the Windows programs (scripts/build-windows.sh) and writes the portable archive
#   dist/qvtpatch-VERSION-windows-x86_64.zip holding qvtpatch-VERSION\
# with the programs, tools\, lang\, patch\, the Qt and MinGW runtime DLLs, the Qt plugins the
# window uses, a README and the licence notices. Prints the archive's path as its last line.
# --patch FOLDER (repeatable) copies a patch folder into the archive's patch\.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
triple=x86_64-w64-mingw32
patches=()
while [ $# -gt 0 ]; do
    case "$1" in
    --patch)
        [ $# -ge 2 ] && [ -d "$2" ] || { echo "package-windows.sh: --patch needs a patch folder" >&2; exit 2; }
        patches+=("$(readlink -f -- "$2")")
        shift 2 ;;
    *) echo "usage: scripts/package-windows.sh [--patch FOLDER]..." >&2; exit 2 ;;
    esac
done

scripts/build-windows.sh >&2
cache=$(scripts/setup-windows.sh 2>/dev/null | tail -n 1)
# shellcheck source=/dev/null
. "$cache/prefixes.env"

version=$(sed -n 's/^project(qvtpatch VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=qvtpatch-$version
stage=build-win/package
folder=$stage/$name
rm -rf "$stage"
cmake --install build-win --prefix "$folder" >/dev/null
for patch in "${patches[@]}"; do
    cp -r -- "$patch" "$folder/patch/"
done

# Qt: the three libraries and only the plugins the window loads (the Windows platform and the
# native style); PNG, the only image format the window shows, is built into Qt Gui.
for lib in Qt6Core Qt6Gui Qt6Widgets; do
    cp "$QVT_WINDOWS_QT/bin/$lib.dll" "$folder/"
done
mkdir -p "$folder/platforms" "$folder/styles"
cp "$QVT_WINDOWS_QT/plugins/platforms/qwindows.dll" "$folder/platforms/"
cp "$QVT_WINDOWS_QT/plugins/styles/qwindowsvistastyle.dll" "$folder/styles/"
# The MinGW C++ runtime and thread library beside the programs.
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    cp "$($triple-g++-posix -print-file-name=$dll)" "$folder/"
done
find "$folder" -name '*.exe' -o -name '*.dll' | while read -r binary; do
    chmod u+w "$binary"
    $triple-strip --strip-unneeded "$binary"
done

# Every DLL a program or plugin imports is either in the folder or part of Windows itself.
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|msvcrt|ws2_32|crypt32|bcrypt|uxtheme|dwmapi|imm32|winmm|version|shlwapi|comdlg32|userenv|netapi32|mpr|d3d9|d3d11|d3d12|dxgi|dwrite|d2d1|wtsapi32|setupapi|authz|ntdll|comctl32|opengl32|secur32|iphlpapi|dnsapi|shcore|api-ms-win-.*)\.dll$'
missing=$(find "$folder" -name '*.exe' -o -name '*.dll' | while read -r binary; do
    $triple-objdump -p "$binary" | sed -n 's/^\s*DLL Name: //p' | while read -r dll; do
        lower=$(tr '[:upper:]' '[:lower:]' <<<"$dll")
        [[ $lower =~ $system_dlls ]] && continue
        [ -e "$folder/$dll" ] || echo "$binary needs $dll"
    done
done)
if [ -n "$missing" ]; then
    echo "package-windows.sh: DLLs missing from the folder:" >&2
    echo "$missing" >&2
    exit 1
fi

# Texts for Windows readers: CRLF line ends.
crlf() { sed -e 's/\r$//' -e 's/$/\r/' "$1" >"$2"; }
crlf packaging/windows/README.txt "$folder/README.txt"
mkdir -p "$folder/licenses"
for package in libqt6core6 libssl3 liblzma5 xdelta3 gcc-mingw-w64-base mingw-w64-common; do
    crlf "/usr/share/doc/$package/copyright" "$folder/licenses/$package.txt"
done

mkdir -p "$root/dist"
archive=$root/dist/$name-windows-x86_64.zip
rm -f "$archive"
(cd "$stage" && cmake -E tar cf "$archive" --format=zip "$name")
echo "$archive"
