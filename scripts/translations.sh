#!/usr/bin/env bash
# Brings translations/tandem_en.ts (or the .ts file given) up to date with the windows'
# texts: new texts arrive unfinished, removed ones are dropped. Translate the new
# entries (Qt Linguist, or by hand), then rebuild.
set -euo pipefail
ts=$(realpath "${1:-$(dirname "$0")/../translations/tandem_en.ts}")
cd "$(dirname "$0")/.."
lupdate=$(command -v lupdate || echo /usr/lib/qt6/bin/lupdate)
"$lupdate" -silent -locations none -no-obsolete -source-language ja -target-language en \
  -I . core app ui eq joblist remix -ts "$ts"

# The command line's texts: English source, Japanese catalogue.
if [ $# -eq 0 ] || [ -n "${2:-}" ]; then
  po=$(realpath "${2:-translations/tandem-cli_ja.po}")
  pot=$(mktemp --suffix=.pot)
  xgettext --from-code=UTF-8 -k_ -kN_ --no-location -o "$pot" cli/*.cpp
  msgmerge --quiet --update --backup=none --no-fuzzy-matching "$po" "$pot"
  rm -f "$pot"
fi
