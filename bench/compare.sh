#!/usr/bin/env bash
# Whole-program speed of the fast build against the straightforward one
# (cavity-reference built -O3 for any x86-64, no -march), side by side:
#   - in-cache grids run to their stop, reports and files included: time ratio;
#   - out-of-cache grids run for a fixed wall-clock budget: ratio of the steps
#     completed (counted from the reports, one every 50 steps);
#   - the cost of a report step against the 50 steps it follows, at 100 x 100.
# Each to-stop case is also checked for identical console output and files.
#   bench/compare.sh [budget-seconds]      (default 90)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
budget=${1:-90}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
jobs=${JOBS:-2}

echo "== building (fast: default flags; reference: -DCAVITY_PORTABLE=ON)"
cmake -S "$root" -B "$root/build-compare/fast" -DCMAKE_BUILD_TYPE=Release -DCAVITY_TESTS=OFF >/dev/null
cmake --build "$root/build-compare/fast" -j "$jobs" --target cavity cavity_bench >/dev/null
cmake -S "$root" -B "$root/build-compare/reference" -DCMAKE_BUILD_TYPE=Release -DCAVITY_PORTABLE=ON \
  -DCAVITY_TESTS=OFF -DCAVITY_BENCHMARKS=OFF >/dev/null
cmake --build "$root/build-compare/reference" -j "$jobs" --target cavity-reference >/dev/null
fast_bin=$root/build-compare/fast/cavity
ref_bin=$root/build-compare/reference/cavity-reference

params() { # Pr Ra T_Hot T_Cold T_Init Tau_T
  printf 'Prandtl number\n%s\nRayleigh number\n%s\nHot wall\n%s\nCold wall\n%s\nInitial\n%s\nTau_T\n%s\n' "$@"
}

# run BIN DIR N M [TIMEOUT] -> prints seconds and the number of reports
run() {
  local bin=$1 dir=$2 n=$3 m=$4 limit=${5:-0}
  mkdir -p "$dir"
  local start end
  start=$(date +%s.%N)
  if [ "$limit" -gt 0 ]; then
    (cd "$dir" && printf '%s\n%s\n\n' "$n" "$m" > console.in &&
      { timeout -s KILL "$limit" "$bin" < console.in > console.out 2>&1; } 2>/dev/null) || true
  else
    (cd "$dir" && printf '%s\n%s\n\n' "$n" "$m" | "$bin" > console.out 2>&1)
  fi
  end=$(date +%s.%N)
  echo "$(echo "$end - $start" | bc) $(grep -c 'Step==' "$dir/console.out" || true)"
}

printf '\n%-34s %12s %12s %8s %s\n' "case" "reference" "fast" "ratio" "same bytes"
to_stop() { # name n m Pr Ra Th Tc Ti Tau
  local name=$1 n=$2 m=$3; shift 3
  for side in ref fast; do mkdir -p "$work/$name/$side"; params "$@" > "$work/$name/$side/Input_Parameters.Input"; done
  read -r tr rr < <(run "$ref_bin" "$work/$name/ref" "$n" "$m")
  read -r tf rf < <(run "$fast_bin" "$work/$name/fast" "$n" "$m")
  local same=yes
  for f in console.out Result.dat Nu.dat V_Velocity_MidLine.dat TEMPERATURE_MidLine.dat U_Velocity_Vertical_MidLine.dat; do
    cmp -s "$work/$name/ref/$f" "$work/$name/fast/$f" || same="NO ($f)"
  done
  printf '%-34s %10.2f s %10.2f s %7.2fx %s (%s reports)\n' "$name, to its stop" "$tr" "$tf" "$(echo "$tr / $tf" | bc -l)" "$same" "$rf"
}
budgeted() { # name n m Pr Ra Th Tc Ti Tau
  local name=$1 n=$2 m=$3; shift 3
  for side in ref fast; do mkdir -p "$work/$name/$side"; params "$@" > "$work/$name/$side/Input_Parameters.Input"; done
  read -r _ rr < <(run "$ref_bin" "$work/$name/ref" "$n" "$m" "$budget")
  read -r _ rf < <(run "$fast_bin" "$work/$name/fast" "$n" "$m" "$budget")
  local ratio=inf
  [ "$rr" -gt 0 ] && ratio=$(echo "$rf / $rr" | bc -l)
  printf '%-34s %8d steps %8d steps %7.2fx\n' "$name, ${budget} s" "$((rr * 50))" "$((rf * 50))" "$ratio"
}

to_stop "40 x 40, Ra 1e4" 40 40 0.71 1e4 1 0 0 0.7
to_stop "100 x 100, Ra 1e4" 100 100 0.71 1e4 1 0 0 0.9
to_stop "128 x 128, Ra 1e4" 128 128 0.71 1e4 1 0 0 1.0
budgeted "512 x 512, Ra 1e5" 512 512 0.71 1e5 1 0 0 0.6
budgeted "1024 x 1024, Ra 1e5" 1024 1024 0.71 1e5 1 0 0 0.6

echo
echo "== report step at 100 x 100 against the 50 time steps before it"
bench_ms() { # benchmark name -> its time in milliseconds
  "$root/build-compare/fast/bench/cavity_bench" --benchmark_filter="^$1\$" --benchmark_min_time=1 \
    --benchmark_format=csv 2>/dev/null |
    awk -F, -v name="\"$1\"" '$1 == name { f = $5 == "us" ? 1e-3 : $5 == "ns" ? 1e-6 : 1; print $3 * f }'
}
report_ms=$(bench_ms 'BM_Output_Results/100/real_time')
step_ms=$(bench_ms 'BM_Time_Step_Fast/100')
printf 'report step %.3f ms, 50 time steps %.3f ms: the report costs %.1f %% of them\n' \
  "$report_ms" "$(echo "50 * $step_ms" | bc -l)" "$(echo "100 * $report_ms / (50 * $step_ms)" | bc -l)"
