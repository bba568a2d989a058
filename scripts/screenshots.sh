#!/usr/bin/env bash
# Redraws the README's pictures in docs/: the windows in Japanese and in English at
# 100 % and 150 %, offscreen, under the Noto CJK font.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target tandem-screenshots
for lang in ja en; do
  QT_QPA_PLATFORM=offscreen build/bin/tandem-screenshots "$lang" "docs/$lang-"
  QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1.5 build/bin/tandem-screenshots "$lang" "build/$lang-150-"
  mv "build/$lang-150-main-window.png" "docs/$lang-150-main-window.png"
  [ "$lang" = ja ] || rm "docs/$lang-remix-dialog.png"  # the same in both languages
done
