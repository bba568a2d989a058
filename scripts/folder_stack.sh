#!/usr/bin/env bash
# The folder stack (README, Layout): a file includes headers of its own folder and of
# folders below it, never above; app and cli sit side by side on top and include
# neither each other. Prints every include that breaks this and exits 1 on any.
# Usage: scripts/folder_stack.sh [SOURCE_ROOT]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
declare -A rank=([core]=0 [settings]=1 [dsp]=2 [wave]=3 [eq]=4 [sync]=5 [ui]=6 [joblist]=7 [remix]=8 [app]=9 [cli]=9)
broken=0
for folder in "${!rank[@]}"; do
  [ -d "$folder" ] || continue
  while IFS= read -r hit; do
    file=${hit%%:*}
    included=$(sed -E 's/.*#[[:space:]]*include[[:space:]]+"([^/"]+)\/.*/\1/' <<<"$hit")
    [ -n "${rank[$included]+x}" ] || continue
    if [ "$included" != "$folder" ] && [ "${rank[$included]}" -ge "${rank[$folder]}" ]; then
      echo "$file includes $included/, which is not below $folder/: ${hit#*:}"
      broken=1
    fi
  done < <(grep -rHE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[^/"]+/' "$folder" --include='*.h' --include='*.cpp' || true)
done
exit $broken
