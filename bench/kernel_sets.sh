#!/usr/bin/env bash
# The sets of kernels of the default build (one binary, the set chosen at
# run time) against a build for this machine alone (-DCAVITY_NATIVE=ON,
# -march=native everywhere), on one thread, reports and files included:
#   - 64 x 64, Ra 1e4, run to its stop (the same steps in every run): user
#     CPU seconds of the whole run;
#   - 256 x 256, Ra 1e5, for a budget: user CPU milliseconds a step.
# Every set the processor runs (CAVITY_KERNELS) and the native build, in
# alternating rounds; the best of the rounds of each. User CPU time is what
# other work on a shared machine disturbs least.
#   bench/kernel_sets.sh [rounds] [budget-seconds]      (default 3 and 20)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-3}
budget=${2:-20}
jobs=${JOBS:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== building (default; -DCAVITY_NATIVE=ON)"
for build in fast:OFF native:ON; do
  dir=$root/build-compare/${build%%:*}
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCAVITY_TESTS=OFF -DCAVITY_BENCHMARKS=OFF \
    -DCAVITY_NATIVE=${build#*:} >/dev/null
  cmake --build "$dir" -j "$jobs" --target cavity >/dev/null
done
fast_bin=$root/build-compare/fast/cavity
native_bin=$root/build-compare/native/cavity
echo "== machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; $(uptime | sed 's/^.*load/load/')"
echo "default build: $("$fast_bin" --version); native build: $("$native_bin" --version)"

variants=()
for set in baseline avx2 avx512; do
  CAVITY_KERNELS=$set "$fast_bin" --version >/dev/null 2>&1 && variants+=("$set")
done
variants+=(native)

# run DIR N M SECONDS VARIANT -> "user-seconds steps" of a run on one thread
run() {
  local dir=$1 n=$2 m=$3 seconds=$4 variant=$5 bin=$fast_bin
  local env=(env CAVITY_KERNELS="$variant")
  [ "$variant" = native ] && env=(env) bin=$native_bin
  mkdir -p "$dir"
  printf 'Prandtl number\n0.71\nRayleigh number\n%s\nHot\n1\nCold\n0\nInitial\n0\nTau_T\n0.6\n' \
    "$6" > "$dir/Input_Parameters.Input"
  (cd "$dir" && printf '%s\n%s\n\n' "$n" "$m" |
    /usr/bin/time -f '%U' -o time.txt timeout -s KILL "$seconds" "${env[@]}" "$bin" --threads 1 \
      > console.out 2>/dev/null || true)
  echo "$(tail -n 1 "$dir/time.txt") $(( $(grep -c 'Step==' "$dir/console.out") * 50 ))"
}

declare -A small large
for round in $(seq "$rounds"); do
  for v in "${variants[@]}"; do
    read -r t steps < <(run "$work/$v-64-$round" 64 64 600 "$v" 1e4)
    [ -z "${small[$v]:-}" ] || [ "$(echo "$t < ${small[$v]}" | bc)" = 1 ] && small[$v]=$t
    read -r t steps < <(run "$work/$v-256-$round" 256 256 "$budget" "$v" 1e5)
    ms=$(echo "1000 * $t / $steps" | bc -l)
    [ -z "${large[$v]:-}" ] || [ "$(echo "$ms < ${large[$v]}" | bc)" = 1 ] && large[$v]=$ms
  done
done
for v in "${variants[@]}"; do
  cmp -s "$work/$v-64-1/console.out" "$work/native-64-1/console.out" || echo "WARNING: $v differs"
done

printf '%-10s %22s %22s\n' kernels "64 x 64 to its stop" "256 x 256, ms a step"
for v in "${variants[@]}"; do
  printf '%-10s %14.2f s %5.2fx %14.3f %5.2fx\n' "$v" "${small[$v]}" \
    "$(echo "${small[$v]} / ${small[native]}" | bc -l)" "${large[$v]}" \
    "$(echo "${large[$v]} / ${large[native]}" | bc -l)"
done
echo "(the ratios: time against the native build's; below 1 is faster)"
