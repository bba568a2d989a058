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

# Whole short jobs on random stored state (tests/cli/StoredStateTest.cpp), each run
# bounded in time and memory: two thirds of the time in the plain build, the rest under
# ASan + UBSan (build-asan/, when scripts/test.sh made it), whose reports fail a run.
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build -j"$(nproc)" --target test_cli tandem-cli
builds=("build:$((seconds * 2 / 3)):1")
[ -x build-asan/bin/test_cli ] && builds+=("build-asan:$((seconds / 3)):100000")
for spec in "${builds[@]}"; do
  IFS=: read -r build part firstSeed <<<"$spec"
  log="$dir/stored_state_${build}.log"
  if ASAN_OPTIONS=detect_leaks=0:exitcode=99 UBSAN_OPTIONS=halt_on_error=1:exitcode=98 \
      TANDEM_STORED_STATE_SECONDS="$part" TANDEM_STORED_STATE_SEED="$firstSeed" \
      "$build/bin/test_cli" --gtest_filter='StoredState.random_*' >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    grep -E "seed [0-9]+" "$log" | head -5 || true
  fi
  runs=$(sed -n 's/^stored state: \([0-9]*\) runs.*/\1/p' "$log" | tail -1)
  echo "stored state ($build): $result, ${runs:-?} runs in ${part} s (log: $log)"
done
exit $status
