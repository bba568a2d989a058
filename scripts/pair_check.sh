#!/usr/bin/env bash
# One job per pair: two `tandem-cli sync` jobs on one pair, started 0 to 0.5 s apart, at
# one level and at two levels. Each must end correctly (exit 0) or refuse (exit 1,
# "another job ... is running"), and what is left behind, the synchronised file and the
# points stored for both files, must be byte for byte what a job run alone leaves.
# Usage: scripts/pair_check.sh [path/to/tandem-cli]   (default build/bin/tandem-cli)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/check_common.sh
check_begin pair "${1:-}"

"$cli" make-pair "$work/pair" --seconds "${PAIR_SECONDS:-30}" >/dev/null
master=$work/pair/master.wav
slave=$work/pair/slave.wav
output="【master】-【slave】.wav"

# The stored points of a file: Count, then DP0 .. DP(Count-1).
points() {  # ini section
  awk -v sec="[$2]" '
    /^\[/ { in_sec = ($0 == sec); next }
    in_sec && /^Count=/ { count = substr($0, 7) + 0 }
    in_sec && /^DP[0-9]+=/ { split($0, kv, "="); dp[substr(kv[1], 3) + 0] = kv[2] }
    END { print "Count=" count + 0; for (i = 0; i < count; i++) print "DP" i "=" dp[i] }' "$1"
}

for level in 普 少; do
  "$cli" --dir "$work/alone-$level" sync "$master" "$slave" --level "$level" --quiet >/dev/null
  points "$work/alone-$level/qzv.ini" "$master" >"$work/alone-$level/master.points"
  points "$work/alone-$level/qzv.ini" "$slave" >"$work/alone-$level/slave.points"
done

trial=0
for levels in "普 普" "普 少" "少 普"; do
  for delay in 0 0.1 0.25 0.5; do
    trial=$((trial + 1))
    set -- $levels
    dir=$work/trial-$trial
    mkdir -p "$dir"
    "$cli" --dir "$dir" sync "$master" "$slave" --level "$1" --quiet >"$dir/a.out" 2>&1 &
    a=$!
    sleep "$delay"
    "$cli" --dir "$dir" sync "$master" "$slave" --level "$2" --quiet >"$dir/b.out" 2>&1 &
    b=$!
    sa=0 sb=0
    wait "$a" || sa=$?
    wait "$b" || sb=$?
    for job in a:$sa b:$sb; do
      status=${job#*:}
      [ "$status" = 0 ] && continue
      [ "$status" = 1 ] && grep -q "another job on .* is running" "$dir/${job%:*}.out" && continue
      cat "$dir/${job%:*}.out" >&2
      fail "trial $trial ($levels, ${delay} s): job ${job%:*} exited $status"
    done
    [ "$sa" = 0 ] || [ "$sb" = 0 ] || fail "trial $trial: neither job ran"
    # Both ran only when one had ended before the other began: the later one's result
    # stays, whichever that was.
    candidates=()
    [ "$sa" = 0 ] && candidates+=("$1")
    [ "$sb" = 0 ] && candidates+=("$2")
    winner=
    for level in "${candidates[@]}"; do
      cmp -s "$dir/$output" "$work/alone-$level/$output" &&
        points "$dir/qzv.ini" "$master" | cmp -s - "$work/alone-$level/master.points" &&
        points "$dir/qzv.ini" "$slave" | cmp -s - "$work/alone-$level/slave.points" && winner=$level && break
    done
    [ -n "$winner" ] || fail "trial $trial ($levels, ${delay} s): the synchronised file or the stored points differ from a lone job's"
    leftovers=$(find "$dir" -name '*.tmp*' -o -name '*.part' -o -name '.tandem-pair-*' | wc -l)
    [ "$leftovers" = 0 ] || fail "trial $trial: temporaries or locks left behind"
    echo "pair_check: trial $trial ($levels, ${delay} s apart): exit $sa / $sb, file and points as a lone $winner job's"
  done
done
echo "pair_check: OK"
