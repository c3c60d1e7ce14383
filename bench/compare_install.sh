#!/usr/bin/env bash
# The whole CIA -> CIA install through the window, this build against an earlier one on the
# same machine in one sitting: bench_install of each, alternately, three times per size; the
# best of three each, the ratio now / before, and this build's ratio to cp + sync.
#   bench/compare_install.sh BEFORE_BUILD [NOW_BUILD] [SIZE...]   (sizes default 256M 1G)
# Build the earlier commit beside this one first, e.g.
#   git worktree add --detach ../before COMMIT && cmake -S ../before -B ../before/build \
#       -DCMAKE_BUILD_TYPE=Release -DQVT_BUILD_TESTS=OFF && cmake --build ../before/build
set -euo pipefail
before=${1:?usage: compare_install.sh BEFORE_BUILD [NOW_BUILD] [SIZE...]}
now=${2:-build}
shift $(($# >= 2 ? 2 : 1))
sizes=(256M 1G)
[ $# -eq 0 ] || sizes=("$@")
export QT_QPA_PLATFORM=offscreen
bytes() { numfmt --from=iec "$1"; }
best() { sort -g | head -1; }
for size in "${sizes[@]}"; do
    : >/tmp/compare_before.$$ && : >/tmp/compare_now.$$ && : >/tmp/compare_cp.$$
    for round in 1 2 3; do
        for side in before now; do
            build=$before
            [ $side = now ] && build=$now
            out=$("$build/bench/bench_install" --size "$(bytes "$size")" 2>&1) ||
                { echo "$out" >&2; exit 1; }
            grep -q "run succeeded" <<<"$out" || { echo "$out" >&2; exit 1; }
            sed -n 's/^whole install: *\([0-9.]*\) s/\1/p' <<<"$out" >>/tmp/compare_$side.$$
            if [ $side = now ]; then
                sed -n 's/^ratio install \/ cp+sync: *//p' <<<"$out" >>/tmp/compare_cp.$$
                [ $round = 3 ] && echo "$out" | sed -n '/^stage times/,$p'
            fi
        done
    done
    b=$(best </tmp/compare_before.$$)
    n=$(best </tmp/compare_now.$$)
    echo "== $size: before $(paste -sd' ' /tmp/compare_before.$$) s, now $(paste -sd' ' /tmp/compare_now.$$) s"
    echo "== $size: best before $b s, best now $n s, now / before $(echo "scale=3; $n / $b" | bc)," \
        "now / (cp + sync) $(paste -sd' ' /tmp/compare_cp.$$)"
    rm -f /tmp/compare_before.$$ /tmp/compare_now.$$ /tmp/compare_cp.$$
done
