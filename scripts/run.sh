#!/usr/bin/env bash
# Builds Tandem and starts it: the desktop program where there is a display, otherwise
# the command-line demo (a synthetic pair synchronised in a temporary folder).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/bin/tandem ]; then
  exec build/bin/tandem "$@"
else
  exec build/bin/tandem-cli demo "$@"
fi
