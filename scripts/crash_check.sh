#!/usr/bin/env bash
# Crash safety of a job: kills `tandem-cli sync` with SIGKILL at several points of a run
# and checks each time that
#  - qzv.ini is whole: every line is blank, a comment, a [section] or a key=value line;
#  - the "Count" of both files never exceeds the division points stored under it;
#  - the points stored before the kill are those of an uninterrupted run;
#  - `sync --resume` goes on from there, keeps those points and ends with the very points
#    of the uninterrupted run (the largest difference of a slave position, read off the
#    uninterrupted run between its points, is printed as well);
#  - a job stopped with SIGINT (as STOP) exits 4, and `sync --resume` ends with the points
#    and the very synchronised file of the uninterrupted run;
#  - after that stop, a job whose master lead-in lies past some of the stored points ends
#    in step (exit 0) with every point within 2 frames of the uninterrupted run.
# Usage: scripts/crash_check.sh [path/to/tandem-cli]   (default build/bin/tandem-cli)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/check_common.sh
check_begin crash "${1:-}"
seconds=${CRASH_SECONDS:-120}

"$cli" make-pair "$work/pair" --seconds "$seconds" >/dev/null
master=$work/pair/master.wav
slave=$work/pair/slave.wav

# Prints "index frame" for the points 0..Count-1 of a section; fails when one is missing.
points() {  # ini section
  awk -v sec="[$2]" '
    /^\[/ { in_sec = ($0 == sec); next }
    in_sec && /^Count=/ { count = substr($0, 7) + 0 }
    in_sec && /^DP[0-9]+=/ { split($0, kv, "="); dp[substr(kv[1], 3) + 0] = kv[2]; have[substr(kv[1], 3) + 0] = 1 }
    END {
      for (i = 0; i < count; i++) {
        if (!have[i]) { printf "Count=%d but DP%d is missing\n", count, i > "/dev/stderr"; exit 3 }
        print i, dp[i]
      }
    }' "$1"
}

count() {  # ini section
  awk -v sec="[$2]" '/^\[/ { in_sec = ($0 == sec); next } in_sec && /^Count=/ { c = substr($0, 7) + 0 } END { print c + 0 }' "$1" 2>/dev/null || echo 0
}

check_whole() {  # ini
  awk '!(/^$/ || /^[;#]/ || /^\[.*\]$/ || /^[^=]+=/) { printf "line %d is not INI: %s\n", NR, $0; bad = 1 } END { exit bad }' "$1" ||
    fail "$1 is not a whole INI file"
}

# The largest |slave - reference slave| over the master points of a run, the reference
# read by linear interpolation between its own points; points outside it are skipped.
largest_difference() {  # ref_master ref_slave run_master run_slave
  awk '
    FILENAME == ARGV[1] { rm[$1] = $2; n = $1 + 1; next }
    FILENAME == ARGV[2] { rs[$1] = $2; next }
    FILENAME == ARGV[3] { m[$1] = $2; k = $1 + 1; next }
    FILENAME == ARGV[4] { s[$1] = $2; next }
    END {
      worst = 0
      for (i = 0; i < k; i++) {
        for (j = 0; j + 1 < n && rm[j + 1] <= m[i]; j++) {}
        if (j + 1 >= n || m[i] < rm[0]) continue
        ref = rs[j] + (m[i] - rm[j]) * (rs[j + 1] - rs[j]) / (rm[j + 1] - rm[j])
        d = s[i] - ref; if (d < 0) d = -d
        if (d > worst) worst = d
      }
      printf "%.1f\n", worst
    }' "$@"
}

run_sync() {  # folder [extra args]
  local folder=$1; shift
  "$cli" --dir "$folder" sync "$master" "$slave" --quiet "$@"
}

echo "crash_check: uninterrupted run on ${seconds} s of material"
start=$(date +%s%N)
run_sync "$work/ref" >/dev/null
elapsed=$((($(date +%s%N) - start) / 1000000))
points "$work/ref/qzv.ini" "$master" >"$work/ref.m"
points "$work/ref/qzv.ini" "$slave" >"$work/ref.s"
total=$(wc -l <"$work/ref.s")
[ "$total" -ge 10 ] || fail "the uninterrupted run stored only $total points"
echo "crash_check: $total points in ${elapsed} ms"

# The pid of the job strace (pid $1) runs, once it runs; fails when strace ends first.
traced_job() {  # tracer
  local pid=
  while [ -z "$pid" ] && kill -0 "$1" 2>/dev/null; do
    pid=$(pgrep -P "$1" || true)
    [ -n "$pid" ] || sleep 0.01
  done
  [ -n "$pid" ] && echo "$pid"
}

# Kill when the slave's stored Count reaches the target (-1: as soon as qzv.ini exists,
# before any point; 'writer': once the search has stored all its points and the job has
# gone on to write the synchronised file). The job runs under strace, which kills it at
# its first write of the synchronised file (the only positioned write a job makes), so it
# cannot finish before its kill point however fast the machine is, and the 'writer' kill
# lands inside the writer.
kill_at() {  # name target
  local name=$1 target=$2 dir=$work/$1
  mkdir -p "$dir"
  strace -f -qq -o /dev/null -e trace=pwrite64 -e inject=pwrite64:signal=SIGKILL \
    "$cli" --dir "$dir" sync "$master" "$slave" --quiet >/dev/null 2>&1 &
  local tracer=$! pid= n=0
  pid=$(traced_job "$tracer") || fail "$name: the job did not start"
  if [ "$target" != writer ]; then
    while kill -0 "$pid" 2>/dev/null; do
      if [ -f "$dir/qzv.ini" ]; then
        n=$(count "$dir/qzv.ini" "$slave")
        [ "$n" -ge "$target" ] && break
      fi
      sleep 0.02
    done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  local status=0
  { wait "$tracer"; } 2>/dev/null || status=$?
  [ "$status" = 137 ] || fail "$name: the job was not killed (exit status $status)"

  local ini=$dir/qzv.ini stored=0
  if [ -f "$ini" ]; then
    check_whole "$ini"
    points "$ini" "$master" >"$dir/killed.m" || fail "$name: the master's Count exceeds its stored points"
    points "$ini" "$slave" >"$dir/killed.s" || fail "$name: the slave's Count exceeds its stored points"
    stored=$(wc -l <"$dir/killed.s")
    # Deterministic search: what was stored is what the uninterrupted run stored.
    head -n "$stored" "$work/ref.s" | cmp -s - "$dir/killed.s" || fail "$name: stored slave points differ from the uninterrupted run"
  fi

  run_sync "$dir" --resume >/dev/null 2>"$dir/resume.err" || { cat "$dir/resume.err" >&2; fail "$name: the resumed job failed"; }
  check_whole "$ini"
  points "$ini" "$master" >"$dir/resumed.m" || fail "$name: master Count exceeds its points after the resume"
  points "$ini" "$slave" >"$dir/resumed.s" || fail "$name: slave Count exceeds its points after the resume"
  local kept=$((stored > 1 ? stored - 1 : 0)) final worst
  head -n "$kept" "$work/ref.s" | cmp -s - <(head -n "$kept" "$dir/resumed.s") || fail "$name: the resume changed kept points"
  final=$(wc -l <"$dir/resumed.s")
  worst=$(largest_difference "$work/ref.m" "$work/ref.s" "$dir/resumed.m" "$dir/resumed.s")
  [ "$(ls "$dir"/*.wav | wc -l)" -eq 1 ] || fail "$name: no synchronised file after the resume"
  [ "$name" != writer ] && [ "$stored" -ge "$total" ] && echo "crash_check: $name: note: the search had ended before the kill"
  echo "crash_check: $name: killed with $stored slave points stored; resumed to $final points (uninterrupted: $total), largest difference $worst frames"
  cmp -s "$work/ref.m" "$dir/resumed.m" || fail "$name: the master points differ from the uninterrupted run"
  cmp -s "$work/ref.s" "$dir/resumed.s" || fail "$name: the slave points differ from the uninterrupted run (by up to $worst frames)"
}

# Stopped with SIGINT, as STOP does, once a third of the points are stored.
stop_at() {  # name target
  local name=$1 target=$2 dir=$work/$1
  mkdir -p "$dir"
  # The search's thread hand-overs each made 3 ms slower (about 4 times the job's time),
  # so that the stop lands mid-search on any machine; the settings reach the disk within
  # 250 ms of a change. A stop that comes only after the search has stored every point
  # is no stop (the job then rightly writes its file and ends with 0; on CI's machine the
  # first try often comes that late): the job runs again with the hand-overs 30 ms slower.
  local status= delay
  for delay in 3000 30000; do
    rm -rf "$dir" && mkdir -p "$dir"
    strace -f -qq -o /dev/null -e trace=futex -e inject=futex:delay_exit=$delay \
      "$cli" --dir "$dir" sync "$master" "$slave" --quiet >/dev/null 2>&1 &
    local tracer=$! pid=
    status=0
    pid=$(traced_job "$tracer") || fail "$name: the job did not start"
    while kill -0 "$pid" 2>/dev/null; do
      [ -f "$dir/qzv.ini" ] && [ "$(count "$dir/qzv.ini" "$slave")" -ge "$target" ] && break
      sleep 0.02
    done
    kill -INT "$pid" 2>/dev/null || true
    { wait "$tracer"; } 2>/dev/null || status=$?
    [ "$status" = 0 ] && [ "$(count "$dir/qzv.ini" "$slave")" -ge "$total" ] && [ "$delay" != 30000 ] || break
    echo "crash_check: $name: note: the search had stored every point before the stop came; again, slower"
  done
  [ "$status" = 4 ] || fail "$name: the stopped job ended with $status, not 4 (stopped)"
  cp "$dir/qzv.ini" "$dir/stopped.ini"
  points "$dir/qzv.ini" "$slave" >"$dir/stopped.s"
  local stored=$(wc -l <"$dir/stopped.s")

  run_sync "$dir" --resume >/dev/null 2>"$dir/resume.err" || { cat "$dir/resume.err" >&2; fail "$name: the resumed job failed"; }
  points "$dir/qzv.ini" "$master" >"$dir/resumed.m"
  points "$dir/qzv.ini" "$slave" >"$dir/resumed.s"
  cmp -s "$work/ref.m" "$dir/resumed.m" || fail "$name: the master points differ from the uninterrupted run"
  cmp -s "$work/ref.s" "$dir/resumed.s" || fail "$name: the slave points differ from the uninterrupted run"
  cmp -s "$work/ref"/*.wav "$dir"/*.wav || fail "$name: the synchronised file differs from the uninterrupted run's"
  echo "crash_check: $name: stopped with $stored slave points; resumed to the uninterrupted run's points and file"

  # The stop again, then a master lead-in half-way through the stored points: those
  # before it are kept and the search goes on from where they put the slave. (A lead-in
  # beyond them leaves the stretch between unsearched, drawn on the stored line.)
  local lead=$work/$name-lead-in
  mkdir -p "$lead"
  cp "$dir/stopped.ini" "$lead/qzv.ini"
  local last_master rate tenths
  last_master=$(points "$lead/qzv.ini" "$master" | awk -v n="$stored" '$1 == n - 1 { print $2 }')
  rate=$("$cli" info "$master" | awk '/Hz/ { for (i = 1; i <= NF; i++) if ($(i + 1) ~ /^Hz/) r = $i } END { print r + 0 }')
  [ "$rate" -gt 0 ] || rate=44100
  tenths=$(( last_master * 10 / rate / 2 ))
  status=0
  run_sync "$lead" --master-skip "$tenths" >/dev/null 2>"$lead/run.err" || status=$?
  [ "$status" = 0 ] || { cat "$lead/run.err" >&2; fail "$name: with a master lead-in past the stored points the job ended with $status, not in step"; }
  points "$lead/qzv.ini" "$master" >"$lead/run.m"
  points "$lead/qzv.ini" "$slave" >"$lead/run.s"
  local worst
  worst=$(largest_difference "$work/ref.m" "$work/ref.s" "$lead/run.m" "$lead/run.s")
  awk -v w="$worst" 'BEGIN { exit !(w <= 2.0) }' || fail "$name: with a master lead-in past stored points a point is $worst frames off"
  echo "crash_check: $name: a master lead-in of $tenths tenths, past stored points, ends in step, largest difference $worst frames"
}

stop_at stopped $((total / 3))
kill_at before-points -1
kill_at after-3 3
kill_at midway $((total / 2))
kill_at near-end $((total * 9 / 10))
kill_at writer writer
echo "crash_check: OK"
