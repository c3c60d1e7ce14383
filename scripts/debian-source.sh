# Functions to source (bash) for building from Debian's own source packages: the caller sets
# source_cache (the folder the sources are unpacked into), as_root (sudo, or empty for root)
# and, for built_version, cache (the folder of the finished builds).

# The source package and version behind an installed binary package: builds from source use
# exactly the host's versions (the host's moc, rcc and uic must match the Windows Qt).
source_of() { dpkg-query -W -f='${source:Package} ${source:Version}\n' "$1"; }

# Source entries for the machine's own Debian binary entries, so that `apt-get source` works.
enable_sources() {
    local targets
    targets=$(apt-get indextargets 2>/dev/null)
    if grep -q '^Created-By: Sources' <<<"$targets"; then return; fi
    local list=/etc/apt/sources.list.d/qvtpatch-deb-src.sources
    local tmp
    tmp=$(mktemp)
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -e "$f" ] && [ "$f" != "$list" ] || continue
        grep -q 'debian-archive-keyring' "$f" || continue
        sed -e 's/^Types:.*/Types: deb-src/' "$f" >>"$tmp"
        echo >>"$tmp"
    done
    if [ -f /etc/apt/sources.list ]; then
        grep -E '^deb +' /etc/apt/sources.list | sed -e 's/^deb /deb-src /' \
            >"${tmp}.list" || true
    fi
    if [ ! -s "$tmp" ] && [ ! -s "${tmp}.list" ]; then
        echo "debian-source: no Debian package source configured on this machine" >&2
        exit 1
    fi
    [ -s "$tmp" ] && "${as_root[@]}" install -m 644 "$tmp" "$list"
    [ -s "${tmp}.list" ] && "${as_root[@]}" install -m 644 "${tmp}.list" \
        /etc/apt/sources.list.d/qvtpatch-deb-src.list
    rm -f "$tmp" "${tmp}.list"
    "${as_root[@]}" apt-get update >&2
}

# library_version SOURCE VERSION: the host's version when the machine's sources offer it, else
# the newest offered whose files can be fetched (a static library need not match the host's;
# security updates replace older sources).
library_version() {
    enable_sources
    mkdir -p "$source_cache"
    local version
    for version in "$2" $(apt-cache showsrc "$1" | sed -n 's/^Version: //p' | sort -rV); do
        if grep -qx "Version: $version" <<<"$(apt-cache showsrc "$1")" &&
           (cd "$source_cache" && apt-get source --download-only "$1=$version" >&2); then
            echo "$version"
            return
        fi
    done
    echo "debian-source: no source of $1 could be fetched" >&2
    exit 1
}

# fetch SOURCE VERSION: unpacks Debian's source (patches applied) and prints its folder.
fetch() {
    local name=$1 version=$2 dir="$source_cache"
    mkdir -p "$dir"
    local upstream=${version#*:}
    upstream=${upstream%-*}
    if [ ! -d "$dir/$name-$version" ]; then
        enable_sources
        (cd "$dir" && apt-get source --download-only "$name=$version" >&2)
        local dsc
        dsc=$(ls "$dir/${name}_${version#*:}.dsc")
        rm -rf "$dir/$name-$version.tmp"
        dpkg-source --no-check -x "$dsc" "$dir/$name-$version.tmp" >&2
        mv "$dir/$name-$version.tmp" "$dir/$name-$version"
    fi
    echo "$dir/$name-$version"
}

# built_version NAME RECIPE: the version of a finished build of NAME with that recipe in the
# cache, if there is one (a static library is reused without asking the sources again).
built_version() {
    local done
    for done in "$cache/$1"-*-r"$2"/.complete; do
        [ -f "$done" ] || continue
        done=${done%-r"$2"/.complete}
        echo "${done#"$cache/$1"-}"
        return
    done
}

# cached_build NAME RECIPE PACKAGE BUILDER: builds NAME once per recipe from the Debian source
# behind the binary package PACKAGE, at library_version's version, and prints its prefix in the
# cache. BUILDER is a function called as `BUILDER SOURCE PREFIX BUILD_FOLDER` (the build folder
# does not exist yet); its output goes to standard error. Call it as `prefix=$(cached_build ...)`
# under `set -e` and `shopt -s inherit_errexit`, so that a failed step ends the script.
cached_build() {
    local name=$1 recipe=$2 package=$3 builder=$4
    local src_name version built prefix src
    read -r src_name version < <(source_of "$package")
    built=$(built_version "$name" "$recipe")
    version=${built:-$(library_version "$src_name" "$version")}
    prefix="$cache/$name-$version-r$recipe"
    if [ ! -f "$prefix/.complete" ]; then
        src=$(fetch "$src_name" "$version")
        rm -rf "$cache/build-$name" "$prefix"
        "$builder" "$src" "$prefix" "$cache/build-$name" >&2
        touch "$prefix/.complete"
        rm -rf "$cache/build-$name"
    fi
    echo "$prefix"
}
