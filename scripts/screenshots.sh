#!/usr/bin/env bash
# Redraws the README's pictures in docs/: the windows in Japanese and in English at
# 100 % and 150 %, under Xvfb (offscreen where it is missing), under the Noto CJK font.
# The end-* pictures are of real jobs on generated pairs.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target tandem-screenshots
run() {
  if command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1600x1200x24" env QT_QPA_PLATFORM=xcb "$@"
  else
    QT_QPA_PLATFORM=offscreen "$@"
  fi
}
for lang in ja en; do
  run build/bin/tandem-screenshots "$lang" "docs/$lang-"
  run env QT_SCALE_FACTOR=1.5 build/bin/tandem-screenshots "$lang" "build/$lang-150-"
  for name in main-window remix-dialog end-in-step end-not-in-step end-stopped; do
    mv "build/$lang-150-$name.png" "docs/$lang-150-$name.png"
  done
done
