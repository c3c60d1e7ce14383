#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz and runs each for SECONDS (default
# 60) from its seed corpus. A finding stops the run with a non-zero exit; libFuzzer saves
# the input that caused it as build-fuzz/findings/<target>/crash-* (or leak-*, timeout-*).
# New inputs found along the way go to build-fuzz/corpus/<target>, not into the repository.
# Once fixed, a finding is kept as tests/<layer>/fuzz_inputs/<target>/<name>, which the test
# fuzz_inputs_<target> of the normal suite replays from then on.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     (needs clang: apt-get install clang)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true

# name, then its seed folder and dictionary (none for "-")
targets=(
    "ncch fuzz/ctr/corpus/ncch fuzz/ctr/ctr.dict"
    "ncsd fuzz/ctr/corpus/ncsd fuzz/ctr/ctr.dict"
    "cia fuzz/ctr/corpus/cia fuzz/ctr/ctr.dict"
    "exefs fuzz/ctr/corpus/exefs fuzz/ctr/ctr.dict"
    "romfs fuzz/ctr/corpus/romfs fuzz/ctr/ctr.dict"
    "blz fuzz/ctr/corpus/blz -"
    "key_file fuzz/ctr/corpus/key_file -"
    "z3ds fuzz/ctr/corpus/z3ds fuzz/ctr/ctr.dict"
    "identify fuzz/desktop/corpus/identify fuzz/ctr/ctr.dict"
    "text fuzz/desktop/corpus/text fuzz/desktop/text.dict"
    "track_list fuzz/desktop/corpus/track_list fuzz/desktop/text.dict"
    "package fuzz/desktop/corpus/package -"
    "mod_marker fuzz/desktop/corpus/mod_marker -"
    "sound_archive fuzz/sound_archive/corpus fuzz/sound_archive/sound_archive.dict"
)
selected=("$@")

names=()
for entry in "${targets[@]}"; do
    read -r name _ <<<"$entry"
    if [ ${#selected[@]} -eq 0 ] || [[ " ${selected[*]} " == *" $name "* ]]; then
        names+=("$name")
    fi
done
[ ${#names[@]} -gt 0 ] || { echo "fuzz.sh: no such target: ${selected[*]}" >&2; exit 2; }

command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is needed" >&2; exit 2; }
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQVT_BUILD_FUZZ=ON -DQVT_BUILD_TESTS=OFF -DQVT_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${names[@]/#/fuzz_}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for entry in "${targets[@]}"; do
    read -r name seeds dict <<<"$entry"
    [[ " ${names[*]} " == *" $name "* ]] || continue
    program=$(find build-fuzz/fuzz -type f -name "fuzz_$name" -perm -u+x | head -n 1)
    corpus=build-fuzz/corpus/$name
    findings=build-fuzz/findings/$name
    mkdir -p "$corpus" "$findings"
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
             -artifact_prefix="$findings/")
    [ "$dict" != - ] && options+=(-dict="$dict")
    echo "== fuzz_$name for ${seconds}s"
    if ! "$program" "${options[@]}" "$corpus" "$seeds" 2>"build-fuzz/$name.log"; then
        tail -n 40 "build-fuzz/$name.log" >&2
        failed+=("$name")
    fi
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units)' "build-fuzz/$name.log" | tail -n 2
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz.sh: findings in: ${failed[*]} (inputs under build-fuzz/findings)" >&2
    exit 1
fi
echo "fuzz.sh: no findings"
