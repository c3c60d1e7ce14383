#!/usr/bin/env bash
# The page's fit check of a large sample in Debian's headless Chromium against `md5sum` of the
# same image file, measured in the same run; prints the ratio and the engine's memory.
#   bench/web/bench_fit_check.sh [PACK_SIZE]   (default 1G; qvtsample from build/app or QVT_SAMPLE)
set -euo pipefail
cd "$(dirname "$0")/../.."
qvtsample=$(readlink -f "${QVT_SAMPLE:-build/app/qvtsample}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$qvtsample" --kind cxi --region EUR --pack-size "${1:-1G}" --out "$work/big.cxi" \
    --patch "$work/Veridane" >/dev/null
archive=$(scripts/package-web.sh --patch "$work/Veridane" | tail -n 1)
python3 -m zipfile -e "$archive" "$work/page"
/usr/bin/python3 bench/web/bench_fit_check.py "$(echo "$work"/page/qvtpatch-*-web)" "$work/big.cxi"
