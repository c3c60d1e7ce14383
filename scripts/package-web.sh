#!/usr/bin/env bash
# Builds the engine for WebAssembly (scripts/build-web.sh) and writes the page as
#   dist/qvtpatch-VERSION-web.zip holding qvtpatch-VERSION-web/
# with index.html at its top, the scripts, the style, the engine, lang/ (the program's own
# language files), patch/ (the given patch folders) and index.json, the list of languages and
# patches (with each patch's files) the page reads. The folder is published as it is on any
# static host. Prints the archive's path as its last line.
# --patch FOLDER (repeatable) copies a patch folder into the page's patch/.
set -euo pipefail
cd "$(dirname "$0")/.."
patches=()
while [ $# -gt 0 ]; do
    case "$1" in
    --patch)
        [ $# -ge 2 ] && [ -d "$2" ] || { echo "package-web.sh: --patch needs a patch folder" >&2; exit 2; }
        patches+=("$(readlink -f -- "$2")")
        shift 2 ;;
    *) echo "usage: scripts/package-web.sh [--patch FOLDER]..." >&2; exit 2 ;;
    esac
done

scripts/build-web.sh >&2

version=$(sed -n 's/^project(qvtpatch VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=qvtpatch-$version-web
stage=build-web/package
folder=$stage/$name
rm -rf "$stage"
mkdir -p "$folder/lang" "$folder/patch" dist
cp web/index.html web/style.css web/lang.js web/app.js web/worker.js "$folder/"
cp build-web/web/engine.js build-web/web/engine.wasm "$folder/"
cp lang/*.lng "$folder/lang/"
for patch in "${patches[@]}"; do
    cp -r -- "$patch" "$folder/patch/"
done

archive=dist/$name.zip
python3 - "$folder" "$version" "$archive" <<'PY'
import json, os, sys, zipfile
folder, version, archive = sys.argv[1:]
def files(sub, ending):
    base = os.path.join(folder, sub)
    return sorted(n for n in os.listdir(base)
                  if n.lower().endswith(ending) and os.path.isfile(os.path.join(base, n)))
index = {
    "version": version,
    "languages": [{"name": n[:-4], "file": "lang/" + n} for n in files("lang", ".lng")],
    "patches": [],
}
for patch in sorted(os.listdir(os.path.join(folder, "patch")), key=lambda n: (n.lower(), n)):
    if not os.path.isdir(os.path.join(folder, "patch", patch)):
        continue
    descriptions = files(os.path.join("patch", patch), ".dsc")
    # Every file of the patch, '/'-separated inside its folder: the page hands them to the
    # engine when it installs.
    base = os.path.join(folder, "patch", patch)
    every = sorted(os.path.relpath(os.path.join(r, n), base).replace(os.sep, "/")
                   for r, _, names in os.walk(base) for n in names)
    if descriptions:
        index["patches"].append({"folder": patch, "descriptions":
                                 ["patch/%s/%s" % (patch, n) for n in descriptions],
                                 "files": every})
with open(os.path.join(folder, "index.json"), "w", encoding="utf-8") as out:
    json.dump(index, out, ensure_ascii=False, indent=1)
top = os.path.dirname(folder)
with zipfile.ZipFile(archive + ".part", "w", zipfile.ZIP_DEFLATED) as z:
    for root, dirs, names in os.walk(folder):
        dirs.sort()
        for n in sorted(names):
            path = os.path.join(root, n)
            z.write(path, os.path.relpath(path, top))
os.replace(archive + ".part", archive)
PY
echo "$PWD/$archive"
