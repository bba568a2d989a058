#!/usr/bin/env bash
# Runs tandem-cli on the evaluation pairs (../shared/eval) and scores the points and
# the synchronised file. Usage: scripts/eval.sh [case ...] (default: every case found).
# Extra tandem-cli options go in TANDEM_EVAL_OPTS; data in TANDEM_EVAL_DATA
# (default ../evaldata). Set TANDEM_EVAL_WAV=1 to also score the output file (rooms and
# speech whitened: --phat --win-s 2), TANDEM_EVAL_NO_LEADIN=1 to run without lead-ins,
# TANDEM_EVAL_FIDELITY=1 to score the slave channel's cleanliness,
# TANDEM_EVAL_KEEP=DIR to keep each run's folder as DIR/<case>.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
data=${TANDEM_EVAL_DATA:-$root/../evaldata}
eval_dir=$root/../shared/eval
cli=${TANDEM_CLI:-$root/build/bin/tandem-cli}
[ -x "$cli" ] || { echo "build first: cmake --build build" >&2; exit 2; }
cases=("$@")
if [ ${#cases[@]} -eq 0 ]; then
  for d in "$data"/*/; do cases+=("$(basename "$d")"); done
fi
for name in "${cases[@]}"; do
  dir=$data/$name
  work=$(mktemp -d)
  json=$dir/$name.json
  # Lead-ins as a listening user would set them (see the eval README).
  read -r mskip sskip < <(/usr/bin/python3 -c "
import json,sys
c=json.load(open('$json'))
c=c.get('case',c)
e=c.get('slave_extra_s',0) or 0
print(int(round(-e*10)) if e<0 else 0, int(round(e*10)) if e>0 else 0)")
  [ "${TANDEM_EVAL_NO_LEADIN:-0}" = 1 ] && { mskip=0; sskip=0; }
  start=$(date +%s%N)
  "$cli" --dir "$work" sync "$dir/${name}_master.wav" "$dir/${name}_slave.wav" --quiet \
      --master-skip "$mskip" --slave-skip "$sskip" ${TANDEM_EVAL_OPTS:-} >"$work/cli.out" 2>&1 && status=0 || status=$?
  end=$(date +%s%N)
  printf '%s (lead-ins %s/%s, %d ms, exit %d): ' "$name" "$mskip" "$sskip" $(( (end - start) / 1000000 )) "$status"
  /usr/bin/python3 "$eval_dir/score.py" points "$dir" --ini "$work/qzv.ini" | tail -1
  if [ "${TANDEM_EVAL_WAV:-0}" = 1 ]; then
    whiten=()
    grep -q '_room"' "$json" && whiten=(--phat --win-s 2)
    printf '  wav: '
    /usr/bin/python3 "$eval_dir/score.py" wav "$work/【${name}_master】-【${name}_slave】.wav" "${whiten[@]}" | tail -1
  fi
  if [ "${TANDEM_EVAL_FIDELITY:-0}" = 1 ]; then
    printf '  fidelity: '
    /usr/bin/python3 "$eval_dir/score.py" fidelity "$dir" "$work/【${name}_master】-【${name}_slave】.wav" | tail -1
  fi
  if [ -n "${TANDEM_EVAL_KEEP:-}" ]; then
    mkdir -p "$TANDEM_EVAL_KEEP"
    rm -rf "${TANDEM_EVAL_KEEP:?}/$name"
    mv "$work" "$TANDEM_EVAL_KEEP/$name"
  else
    rm -rf "$work"
  fi
done
