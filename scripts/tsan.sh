#!/usr/bin/env bash
# Builds the engine and the non-GUI tests with ThreadSanitizer in build-tsan/ and runs
# those of the worker/front-end hand-over: progress values and message lines, log lines
# from two threads, the pool that splits loops over the cores, the stop request of a
# running job, the settings store shared by two threads (source folder changes,
# background write-back) and by two processes, a band-limited job (its sub-frame
# measure and the map's fine track read both files from every core) and jobs on the
# coarse track (the track's windows on every core; each end's anchor check and local
# measure on two at once).
# Any race report fails its test.
# TSAN_ALL=1 runs the whole non-GUI suite instead (about 15 minutes on 2 cores).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
dir=build-tsan
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDEM_TSAN=ON -DTANDEM_GUI=OFF \
  -DTANDEM_BENCH=OFF >/dev/null
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
if [ "${TANDEM_TSAN_ALL:-${TSAN_ALL:-0}}" = 1 ]; then
  cmake --build "$dir" -j"$(nproc)"
  ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 900
else
  cmake --build "$dir" -j"$(nproc)" --target test_core test_sync test_settings
  ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 600 \
    -R '^(Log|Progress|HandOver|Parallel|SettingsTest|SettingsPathsTest|SettingsTwoProcesses|IniFile|CoarseTrackJob)\.|^CleanOutput\.sub_frame'
fi
