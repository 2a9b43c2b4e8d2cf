#!/usr/bin/env bash
# Whole-program speed of the fast build against the straightforward one
# (cavity-reference built -O3 for any x86-64, no -march), side by side:
#   - 40 x 40 run to its stop on one thread, reports and files included: the
#     ratio of the run times (user CPU seconds, which other load on the
#     machine disturbs least), and the outputs checked to be the same bytes;
#   - 256 x 256 and 512 x 512 run for a fixed wall-clock budget, the fast
#     program on two threads: the ratio of the steps a second, timed from the
#     first progress report to the last (one every 50 steps, reports and files
#     included), so that start-up and the budget's rounding do not count;
#   - the fast program on one and on two threads at the same sizes: the gain
#     and the efficiency a thread;
#   - the whole time step (cavity_bench): straightforward, and fast on one and
#     two threads, at 64 .. 1024 squared;
#   - the cost of a report step against the 50 steps it follows, at 100 x 100.
# The machine should be otherwise idle: every figure is a rate of this run.
#   bench/compare.sh [budget-seconds]      (default 60, for each budgeted run)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
budget=${1:-60}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
jobs=${JOBS:-2}

echo "== building (fast: default flags; reference: -DCAVITY_PORTABLE=ON, -O3)"
cmake -S "$root" -B "$root/build-compare/fast" -DCMAKE_BUILD_TYPE=Release -DCAVITY_TESTS=OFF >/dev/null
cmake --build "$root/build-compare/fast" -j "$jobs" --target cavity cavity_bench >/dev/null
cmake -S "$root" -B "$root/build-compare/reference" -DCMAKE_BUILD_TYPE=Release -DCAVITY_PORTABLE=ON \
  -DCAVITY_TESTS=OFF -DCAVITY_BENCHMARKS=OFF >/dev/null
cmake --build "$root/build-compare/reference" -j "$jobs" --target cavity-reference >/dev/null
fast_bin=$root/build-compare/fast/cavity
ref_bin=$root/build-compare/reference/cavity-reference

model=$(lscpu | sed -n 's/^Model name: *//p')
isa=AVX2
grep -qw avx512f /proc/cpuinfo && isa=AVX-512
grep -qw avx2 /proc/cpuinfo || isa="no AVX2"
echo "== machine: $model, $isa, $(nproc) cores; fast build: $("$fast_bin" --version)"
uptime | sed 's/^.*load/load/'
# Whether two threads get two cores: a busy loop alone, then two at once.
busy() { local s=$(date +%s.%N) i=0; while [ $i -lt 300000 ]; do i=$((i + 1)); done
         echo "$(date +%s.%N) - $s" | bc -l; }
one=$(busy)
two=$( (busy > "$work/busy1") & busy; wait; cat "$work/busy1" >/dev/null)
capacity=$(echo "2 * $one / $two" | bc -l)
printf 'two busy loops at once ran %.2f times as fast as one alone: the machine gives %.1f cores\n' \
  "$(echo "$capacity / 2" | bc -l)" "$capacity"
[ "$(echo "$capacity < 1.8" | bc)" = 1 ] &&
  echo "WARNING: less than two free cores; the two-thread figures below understate the program"

params() { # dir Pr Ra T_Hot T_Cold T_Init Tau_T
  local dir=$1; shift
  mkdir -p "$dir"
  printf 'Prandtl number\n%s\nRayleigh number\n%s\nHot wall\n%s\nCold wall\n%s\nInitial\n%s\nTau_T\n%s\n' \
    "$@" > "$dir/Input_Parameters.Input"
}

# user_seconds DIR N M BIN [ARGS] -> user CPU seconds of a whole run
user_seconds() {
  local dir=$1 n=$2 m=$3 bin=$4; shift 4
  (cd "$dir" && printf '%s\n%s\n\n' "$n" "$m" > console.in &&
    /usr/bin/time -f '%U' -o time.txt "$bin" "$@" < console.in > console.out 2>&1)
  cat "$dir/time.txt"
}

# steps_a_second DIR N M SECONDS BIN [ARGS] -> steps a second between the
# first and the last report within the budget (stamped by the shell itself:
# a process started for each report would take a core from the program)
steps_a_second() {
  local dir=$1 n=$2 m=$3 seconds=$4 bin=$5; shift 5
  (cd "$dir" && printf '%s\n%s\n\n' "$n" "$m" > console.in &&
    { timeout -s KILL "$seconds" "$bin" "$@" < console.in 2>/dev/null || true; } |
    while IFS= read -r line; do
      case $line in *Step==*) echo "$EPOCHREALTIME" ;; esac
    done > report-times) 2>/dev/null
  awk 'NR == 1 { t0 = $1 } { t = $1; c = NR }
       END { if (c > 1) printf "%.2f\n", (c - 1) * 50 / (t - t0); else print 0 }' "$dir/report-times"
}

echo
echo "== 40 x 40, Ra 1e4 (Pr 0.71, Tau_T 0.7), to its stop; fast on one thread"
params "$work/small/ref" 0.71 1e4 1 0 0 0.7
params "$work/small/fast" 0.71 1e4 1 0 0 0.7
tr=$(user_seconds "$work/small/ref" 40 40 "$ref_bin")
tf=$(user_seconds "$work/small/fast" 40 40 "$fast_bin" --threads 1)
same=yes
for f in console.out Result.dat Nu.dat V_Velocity_MidLine.dat TEMPERATURE_MidLine.dat \
         U_Velocity_Vertical_MidLine.dat; do
  cmp -s "$work/small/ref/$f" "$work/small/fast/$f" || same="NO ($f)"
done
printf 'reference %.2f s, fast %.2f s (user CPU): %.2fx; same bytes: %s (%s reports)\n' "$tr" "$tf" \
  "$(echo "$tr / $tf" | bc -l)" "$same" "$(grep -c 'Step==' "$work/small/fast/console.out")"

echo
echo "== Ra 1e5 (Pr 0.71, Tau_T 0.6) for $budget s each, in steps a second from report to report"
printf '%-12s %12s %12s %12s %8s %8s %8s\n' grid reference "fast, 1 th" "fast, 2 th" "1 th" "2 th" \
  "2 vs 1"
echo "(a budget too short for two reports of a program shows 0 and n/a)"
for size in 256 512; do
  for side in ref one two; do params "$work/$size/$side" 0.71 1e5 1 0 0 0.6; done
  rr=$(steps_a_second "$work/$size/ref" $size $size "$budget" "$ref_bin")
  r1=$(steps_a_second "$work/$size/one" $size $size "$budget" "$fast_bin" --threads 1)
  r2=$(steps_a_second "$work/$size/two" $size $size "$budget" "$fast_bin" --threads 2)
  ratio() { [ "$(echo "$2 > 0" | bc)" = 1 ] && printf '%7.2fx' "$(echo "$1 / $2" | bc -l)" || printf '%8s' n/a; }
  efficiency=n/a
  [ "$(echo "$r1 > 0" | bc)" = 1 ] && efficiency=$(printf '%.0f %%' "$(echo "50 * $r2 / $r1" | bc -l)")
  printf '%-12s %12s %12s %12s %s %s %s (%s a thread)\n' "$size x $size" "$rr" "$r1" "$r2" \
    "$(ratio "$r1" "$rr")" "$(ratio "$r2" "$rr")" "$(ratio "$r2" "$r1")" "$efficiency"
done

bench="$root/build-compare/fast/bench/cavity_bench"
bench_ms() { # benchmark name -> its wall-clock time in milliseconds (the fastest of three)
  "$bench" --benchmark_filter="^$1\$" --benchmark_min_time=0.5 --benchmark_repetitions=3 \
    --benchmark_format=csv 2>/dev/null |
    awk -F, -v name="\"$1\"" '$1 == name { f = $5 == "us" ? 1e-3 : $5 == "ns" ? 1e-6 : 1;
      t = $3 * f; if (best == "" || t < best) best = t } END { print best }'
}

echo
echo "== the whole time step with the residuals (cavity_bench), million node updates a second"
printf '%-12s %16s %12s %12s %8s %s\n' grid straightforward "fast, 1 th" "fast, 2 th" "2 vs 1" \
  "(efficiency a thread)"
for size in 64 128 256 512 1024; do
  nodes=$(( (size + 1) * (size + 1) ))
  mlups() { echo "$nodes / ($1 * 1000)" | bc -l; }
  s=$(mlups "$(bench_ms "BM_Time_Step/$size/real_time")")
  f1=$(mlups "$(bench_ms "BM_Time_Step_Fast/$size/1/real_time")")
  f2=$(mlups "$(bench_ms "BM_Time_Step_Fast/$size/2/real_time")")
  printf '%-12s %16.1f %12.1f %12.1f %7.2fx (%.0f %%)\n' "$size x $size" "$s" "$f1" "$f2" \
    "$(echo "$f2 / $f1" | bc -l)" "$(echo "50 * $f2 / $f1" | bc -l)"
done

echo
echo "== report step at 100 x 100 against the 50 time steps before it (one thread)"
report_ms=$(bench_ms 'BM_Output_Results/100/real_time')
step_ms=$(bench_ms 'BM_Time_Step_Fast/100/1/real_time')
printf 'report step %.3f ms, 50 time steps %.3f ms: the report costs %.1f %% of them\n' \
  "$report_ms" "$(echo "50 * $step_ms" | bc -l)" "$(echo "100 * $report_ms / (50 * $step_ms)" | bc -l)"
