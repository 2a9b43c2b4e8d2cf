#!/usr/bin/env bash
# The default build on older processors, as Debian's qemu-user emulates
# them: the recorded run of tests/golden byte for byte, with the kernels
# each processor runs, and a forced set it cannot run refused in one line.
#   Nehalem (SSE4.2, no AVX): the baseline kernels;
#   Haswell (AVX2, FMA): the AVX2 kernels.
# qemu 7.2 emulates no AVX-512: the AVX-512 kernels run only where the
# machine has it (the identity tests force every set the machine runs).
#   tests/older_processors.sh [build folder]      (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$root/build}" && pwd)/cavity
golden=$root/tests/golden/side_heated_12x8
bash "$root/tests/install_packages.sh" qemu-user
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; exit 1; }
# Haswell without the system features qemu's emulation lacks (and warns of).
haswell=Haswell,-pcid,-x2apic,-tsc-deadline,-hle,-invpcid,-rtm
for cpu_set in Nehalem:baseline $haswell:avx2; do
  model=${cpu_set%%:*} set=${cpu_set#*:}
  cpu=${model%%,*}
  emulated=(qemu-x86_64 -cpu "$model" "$bin")
  version=$("${emulated[@]}" --version) || fail "$cpu: --version ended with status $?"
  [[ $version == *"($set kernels of "* ]] || fail "$cpu runs \"$version\", not the $set kernels"

  dir=$work/$cpu
  mkdir "$dir"
  cp "$golden/Input_Parameters.Input" "$dir/"
  (cd "$dir" && "${emulated[@]}" < "$golden/console.in" > console.out 2> console.err) ||
    fail "$cpu: the run ended with status $?: $(tail -n 1 "$dir/console.err")"
  cmp -s "$dir/console.out" "$golden/console.expected" || fail "$cpu: standard output differs"
  cmp -s "$dir/console.err" "$golden/console-errors.expected" || fail "$cpu: standard error differs"
  for f in Result.dat Nu.dat V_Velocity_MidLine.dat TEMPERATURE_MidLine.dat \
           U_Velocity_Vertical_MidLine.dat; do
    cmp -s "$dir/$f" "$golden/$f.expected" || fail "$cpu: $f differs"
  done
  echo "== $cpu: $version; the recorded bytes"
done

# A set the emulated processor lacks, forced: one line, status 1.
status=0
err=$(CAVITY_KERNELS=avx2 qemu-x86_64 -cpu Nehalem "$bin" --version 2>&1 >/dev/null) || status=$?
[ "$status" = 1 ] && [[ $err == "usage error: CAVITY_KERNELS=avx2: this processor does not run"* ]] &&
  [ "$(printf '%s\n' "$err" | wc -l)" = 1 ] || fail "the AVX2 kernels forced on Nehalem: $status, $err"
echo "== Nehalem refuses the AVX2 kernels forced: $err"
