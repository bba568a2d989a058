#!/usr/bin/env bash
# Builds Tandem and runs every test. TANDEM_SANITIZE=1 builds and runs them under
# AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/; TANDEM_WERROR=1 makes
# every warning of the build an error.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${TANDEM_SANITIZE:-0}" = 1 ]; then
  dir=build-asan
  flags=(-DCMAKE_BUILD_TYPE=Debug -DTANDEM_SANITIZE=ON -DTANDEM_BENCH=OFF)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
[ "${TANDEM_WERROR:-0}" = 1 ] && flags+=(-DTANDEM_WERROR=ON)
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
# deps.sh made the Japanese locale: its command-line test runs, never skips.
export TANDEM_REQUIRE_JA_LOCALE=1
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
