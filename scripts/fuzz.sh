#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) in build-fuzz/ and runs each for
# FUZZ_SECONDS (default 60), starting from the seeds in fuzz/corpus/. Inputs the fuzzer
# finds interesting collect in build-fuzz/corpus/; a crashing input is saved in
# build-fuzz/artifacts/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
seconds=${FUZZ_SECONDS:-60}
dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDEM_FUZZ=ON \
  -DTANDEM_TESTS=OFF -DTANDEM_BENCH=OFF -DTANDEM_GUI=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target fuzz_wave fuzz_ini fuzz_track

# Scratch files of the targets (settings, data-source copies) go to memory when possible.
scratch=$(mktemp -d "$( [ -w /dev/shm ] && echo /dev/shm || echo /tmp )/tandem-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$dir/artifacts"
status=0
# target, longest input: a WAVE header with a few frames and the control bytes; an INI
# file with its operations.
for spec in wave:2048 ini:4096 track:4096; do
  target=${spec%%:*}
  maxlen=${spec##*:}
  mkdir -p "$dir/corpus/$target"
  log="$dir/fuzz_$target.log"
  if TMPDIR="$scratch" "$dir/bin/fuzz_$target" -max_total_time="$seconds" -max_len="$maxlen" -timeout=20 \
      -print_final_stats=1 -artifact_prefix="$dir/artifacts/${target}-" \
      "$dir/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    grep -E "ERROR|SUMMARY|fuzz_$target:|Test unit written" "$log" | head -20 || true
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "fuzz_$target: $result, ${runs:-?} executions in ${seconds} s (log: $log)"
done
exit $status
