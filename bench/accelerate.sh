#!/usr/bin/env bash
# Time to the steady state with and without --accelerate: the classical
# square cavity (Pr 0.71, T_Hot 1, T_Cold 0, T_Init = T_Ref = 0.5) at
# Ra 1e4, 1e5 and 1e6, each on three grids, Ra written into the parameter file
# as the tools write it (Ra (m/(m-1))^3) and Tau_T as the tools choose it.
# Each case runs `cavity --threads 1 --settle 1e-5` and
# `cavity --threads 1 --accelerate --settle 1e-5`; the table gives the CPU
# seconds (user + system) and steps of each, the speed-up, the final Nu of
# each and their relative difference, and the largest difference of T, U and
# V (U and V over the reference velocity) between the two end states
# (Result.dat).
#   bench/accelerate.sh [CAVITY] [CASES]
# CAVITY defaults to build/cavity; CASES to all nine, as "Ra:m" words, for
# example "1e4:40 1e5:56".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(realpath "${1:-$root/build/cavity}")
cases=${2:-"1e4:40 1e4:54 1e4:72 1e5:56 1e5:76 1e5:100 1e6:64 1e6:86 1e6:114"}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

model=$(lscpu | sed -n 's/^Model name: *//p')
isa=AVX2
grep -qw avx512f /proc/cpuinfo && isa=AVX-512
echo "== $model, $isa, $(nproc) cores; $("$bin" --version)"
uptime | sed 's/^.*load/load/'

# params DIR RA M: the parameter file the tools would write.
params() {
  mkdir -p "$1"
  PYTHONPATH="$root/python" python3 - "$@" <<'PY'
import sys
from cavity import nanofluid, rayleigh
d, ra, m = sys.argv[1], float(sys.argv[2]), int(sys.argv[3])
tau, _ = nanofluid.choose_tau_t(0.71, ra, m)
with open(d + "/Input_Parameters.Input", "w") as f:
    f.write("Pr\n0.71\nRa\n%.10g\nT_Hot\n1\nT_Cold\n0\nT_Init\n0.5\nTau_T\n%.10g\n"
            % (rayleigh.to_solver(ra, m), tau))
print(tau)
PY
}

# run DIR M ARGS...: CPU seconds, then the last step, of one run.
run() {
  local dir=$1 m=$2; shift 2
  (cd "$dir" && printf '%s\n%s\n\n' "$m" "$m" |
    /usr/bin/time -f '%U %S' -o time.txt "$bin" --threads 1 "$@" > console.out 2> console.err)
  awk '{ printf "%.2f ", $1 + $2 }' "$dir/time.txt"
  sed -n 's/^note: \(settled\|converged\) at step \([0-9]*\).*/\2/p' "$dir/console.err"
}

# The largest differences of T, U and V between two Result.dat files.
differences() {
  python3 - "$1/Result.dat" "$2/Result.dat" <<'PY'
import sys
def fields(path):
    lines = open(path).read().split("\n")[2:]  # after the two header lines
    values = [float(w) for w in " ".join(lines).split()]
    return values[5::7], values[2::7], values[3::7]
a, b = fields(sys.argv[1]), fields(sys.argv[2])
print(" ".join("%.1e" % max(abs(x - y) for x, y in zip(p, q)) for p, q in zip(a, b)))
PY
}

printf '%-6s %-5s %-7s %9s %8s %9s %8s %7s %10s %10s %8s %24s\n' Ra grid Tau_T "plain s" steps \
  "accel s" steps "gain" "Nu plain" "Nu accel" "rel diff" "max |dT| |dU| |dV|"
for c in $cases; do
  ra=${c%%:*} m=${c##*:}
  tau=$(params "$work/$c/plain" "$ra" "$m")
  params "$work/$c/accel" "$ra" "$m" > /dev/null
  read -r tp sp < <(run "$work/$c/plain" "$m" --settle 1e-5)
  read -r ta sa < <(run "$work/$c/accel" "$m" --accelerate --settle 1e-5)
  np=$(tr -d ' \r\n' < "$work/$c/plain/Nu.dat")
  na=$(tr -d ' \r\n' < "$work/$c/accel/Nu.dat")
  printf '%-6s %-5s %-7s %9s %8s %9s %8s %6.2fx %10s %10s %8.1e %24s\n' "$ra" "$m" "$tau" "$tp" "$sp" \
    "$ta" "$sa" "$(echo "$tp / $ta" | bc -l)" "$np" "$na" \
    "$(echo "($na - $np) / $np" | bc -l | tr -d -)" "$(differences "$work/$c/plain" "$work/$c/accel")"
done
