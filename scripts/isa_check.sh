#!/usr/bin/env bash
# One result on every processor: the same jobs run natively and under QEMU's user-mode
# emulation as a processor with AVX2 and FMA but no AVX-512 (Haswell) and as a plain
# x86-64 (qemu64), and what they leave behind, the synchronised file, the CSV reports
# and every stored value, must be byte for byte the same. Every vectorised function
# (target_clones and the hand-written kernels) promises the plain loop's values; on a
# machine with AVX-512 only its AVX-512 variants run natively, so this is where the
# AVX2 and the plain ones meet the whole job. (QEMU emulates no AVX-512: on a machine
# without it, the emulated kernel tests cover those variants, and the native run here
# is the AVX2 one.) First, the binary is searched for fused multiply-adds nobody asked
# for: they would change values only on the processors that run them.
# Usage: scripts/isa_check.sh [path/to/tandem-cli]   (default build/bin/tandem-cli)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/check_common.sh
check_begin isa "${1:-}"
# No fused multiply-add that the code did not ask for: an FMA rounds once where the plain
# loop rounds twice, so the processors that run it would give other values. GCC can fuse
# one despite -ffp-contract=off (its complex-multiply pattern did, in an AVX-512 clone).
# The exact quotient's intrinsics are the only ones asked for.
fused=$(objdump -d --no-show-raw-insn "$cli" | awk '/^[0-9a-f]+ <.*>:$/ { fn = $2 } /\tvfn?m(add|sub)/ { print fn }' |
  sort -u | c++filt | grep -Ev '::(lanes|stretch|positions)Avx(2|512)<false>\(|::run(Avx2|Avx512)\(tandem::CubicSegment' || true)
[ -z "$fused" ] || fail "fused multiply-adds that no code asked for, in: $fused"
command -v qemu-x86_64 >/dev/null || fail "qemu-x86_64 is missing (scripts/deps.sh installs qemu-user)"
# A sandbox that lets no emulator run (seccomp, no room for its guest mapping) cannot
# hold this check; it says so rather than fail the build for it.
if ! qemu-x86_64 -cpu qemu64 /bin/true 2>/dev/null; then
  echo "isa_check: SKIPPED: qemu-x86_64 cannot run a program on this machine"
  exit 0
fi

"$cli" make-pair "$work/pair" --seconds "${ISA_SECONDS:-20}" >/dev/null
# The same pair with a 24-bit master and a mono 8-bit slave: the wide mix, the decoders
# and the mono reads.
/usr/bin/python3 -W ignore::DeprecationWarning - "$work/pair" <<'PY'
import audioop, sys, wave
d = sys.argv[1]
def convert(src, dst, width, mono):
    with wave.open(src) as r:
        p, data = r.getparams(), r.readframes(r.getnframes())
    if mono:
        data = audioop.tomono(data, 2, 0.5, 0.5)
    data = audioop.lin2lin(data, 2, width)
    if width == 1:
        data = audioop.bias(data, 1, 128)  # 8-bit WAVE samples are unsigned
    with wave.open(dst, "wb") as w:
        w.setnchannels(1 if mono else p.nchannels)
        w.setsampwidth(width)
        w.setframerate(p.framerate)
        w.writeframes(data)
convert(d + "/master.wav", d + "/master24.wav", 3, False)
convert(d + "/slave.wav", d + "/slave8.wav", 1, True)
PY

values() {
  awk '/^\[/ { section = $0; next } /=/ && $0 !~ /^(Time|Date|Stamp|Start|Finish|Elapsed)/ { print section " " $0 }' "$1" | LC_ALL=C sort
}

# job NAME MASTER SLAVE [options]: runs it natively and emulated, and compares.
job() {
  local name=$1 master=$2 slave=$3
  shift 3
  local native=$work/$name-native
  mkdir -p "$native"
  "$cli" --dir "$native" sync "$master" "$slave" --quiet --result-csv "$@" >"$native/out.txt" 2>&1 ||
    fail "$name: the native job failed: $(cat "$native/out.txt")"
  for cpu in Haswell-v4 qemu64; do
    local dir=$work/$name-$cpu
    mkdir -p "$dir"
    qemu-x86_64 -cpu "$cpu" "$cli" --dir "$dir" sync "$master" "$slave" --quiet --result-csv "$@" >"$dir/out.txt" 2>"$dir/err.txt" ||
      fail "$name on $cpu: the job failed: $(cat "$dir/out.txt")"
    for f in "$native"/*.wav "$native"/*.csv; do
      [ -e "$f" ] || continue
      cmp -s "$f" "$dir/$(basename "$f")" || fail "$name on $cpu: $(basename "$f") differs from the native run's"
    done
    # The stored values by section and key (the points' keys are written in the order
    # their fractions come in), less the ones that record when the job ran.
    diff <(values "$native/qzv.ini") <(values "$dir/qzv.ini") >"$dir/ini.diff" ||
      fail "$name on $cpu: the stored values differ: $(head -5 "$dir/ini.diff")"
  done
  echo "isa_check: $name: the same on Haswell and qemu64 as natively"
}

job band-limited "$work/pair/master.wav" "$work/pair/slave.wav"
job linear "$work/pair/master.wav" "$work/pair/slave.wav" --interpolation linear
job deep "$work/pair/master24.wav" "$work/pair/slave8.wav" --slave-out
echo "isa_check: ok"
