#!/usr/bin/env bash
# Fails when a file under SRC includes a header of a layer it must not use, or when a file
# outside gui includes a Qt Widgets or Qt Gui header (ctr, sound_archive and engine include no
# Qt at all).
#   check_layers.sh SRC QT_WIDGETS_INCLUDE_DIR QT_GUI_INCLUDE_DIR
set -uo pipefail
src=$1
widgets_dir=${2:-}
gui_dir=${3:-}

# What each layer may include besides itself.
declare -A may_use=(
    [ctr]=""
    [engine]="ctr sound_archive"
    [sound_archive]="ctr"
    [sample]="ctr sound_archive"
    [desktop]="ctr engine sound_archive"
    [gui]="ctr engine sound_archive desktop"
    [cli]="ctr engine sound_archive desktop sample"
    [web]="ctr engine"
)

# The layers that build without Qt.
qt_free=(ctr sound_archive engine)

is_window_header() { # header name as written between < and >
    case $1 in
        QtWidgets/* | QtGui/*) return 0 ;;
    esac
    [ -n "$widgets_dir" ] && [ -e "$widgets_dir/$1" ] && return 0
    [ -n "$gui_dir" ] && [ -e "$gui_dir/$1" ] && return 0
    return 1
}

faults=0
fault() {
    echo "$1: $2" >&2
    faults=$((faults + 1))
}

while IFS= read -r -d '' file; do
    relative=${file#"$src"/}
    layer=${relative%%/*}
    if [ -z "${may_use[$layer]+set}" ]; then
        fault "$relative" "not in a layer folder (${!may_use[*]})"
        continue
    fi
    while IFS= read -r line; do
        header=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^">]+)[">].*/\1/' <<<"$line")
        if [[ $line =~ \#[[:space:]]*include[[:space:]]*\" ]]; then
            target=${header%%/*}
            [ "$target" = "$header" ] && continue # same folder or generated (ui_*.h, *.moc)
            [ -z "${may_use[$target]+set}" ] && continue
            [ "$target" = "$layer" ] && continue
            if ! [[ " ${may_use[$layer]} " == *" $target "* ]]; then
                fault "$relative" "includes \"$header\", but $layer may use only: ${may_use[$layer]:-nothing}"
            fi
        else
            if [[ " ${qt_free[*]} " == *" $layer "* ]] && [[ $header == Q* ]]; then
                fault "$relative" "includes <$header>, but $layer uses no Qt"
            elif [ "$layer" != gui ] && is_window_header "$header"; then
                fault "$relative" "includes <$header>, a Qt Widgets or Qt Gui header outside gui"
            fi
        fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$file")
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) -print0)

if [ "$faults" -gt 0 ]; then
    echo "$faults include(s) break the layering" >&2
    exit 1
fi
echo "layers: every include points down"
