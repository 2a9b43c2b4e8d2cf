#!/usr/bin/env bash
# The sets of kernels of the default build (one binary, the set chosen at
# run time) against a build for this machine alone (-DCAVITY_NATIVE=ON,
# -march=native everywhere): 64 x 64 and 256 x 256 (Ra 1e5, Pr 0.71, Tau_T
# 0.6) on one thread for a budget each, reports and files included, in user
# CPU milliseconds a step (what other work on a shared machine disturbs
# least). Every set the processor runs (CAVITY_KERNELS) and the native
# build, in alternating rounds; the best round of each.
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

# ms_a_step DIR N M SECONDS VARIANT -> user CPU milliseconds a step of a run
# on one thread, stopped (SIGTERM) after SECONDS
ms_a_step() {
  local dir=$1 n=$2 m=$3 seconds=$4 variant=$5 bin=$fast_bin
  local env=(env CAVITY_KERNELS="$variant")
  [ "$variant" = native ] && env=(env) bin=$native_bin
  mkdir -p "$dir"
  printf 'Prandtl number\n0.71\nRayleigh number\n1e5\nHot\n1\nCold\n0\nInitial\n0\nTau_T\n0.6\n' \
    > "$dir/Input_Parameters.Input"
  (cd "$dir" && printf '%s\n%s\n\n' "$n" "$m" |
    /usr/bin/time -f '%U' -o time.txt timeout "$seconds" "${env[@]}" "$bin" --threads 1 \
      > console.out 2>/dev/null || true)
  local steps=$(( $(grep -c 'Step==' "$dir/console.out") * 50 ))
  [ "$steps" -gt 0 ] && echo "1000 * $(tail -n 1 "$dir/time.txt") / $steps" | bc -l || echo 0
}

declare -A best
for round in $(seq "$rounds"); do
  for size in 64 256; do
    for v in "${variants[@]}"; do
      ms=$(ms_a_step "$work/$v-$size-$round" $size $size "$budget" "$v")
      key=$v-$size
      if [ -z "${best[$key]:-}" ] || [ "$(echo "$ms < ${best[$key]}" | bc)" = 1 ]; then
        best[$key]=$ms
      fi
    done
  done
done

printf '%-10s %24s %24s\n' kernels "64 x 64, ms a step" "256 x 256, ms a step"
for v in "${variants[@]}"; do
  printf '%-10s %16.4f %6.3fx %16.3f %6.3fx\n' "$v" "${best[$v-64]}" \
    "$(echo "${best[$v-64]} / ${best[native-64]}" | bc -l)" "${best[$v-256]}" \
    "$(echo "${best[$v-256]} / ${best[native-256]}" | bc -l)"
done
echo "(the ratios: time against the native build's; below 1 is faster)"
