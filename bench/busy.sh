#!/usr/bin/env bash
# The threads of the time step on a machine whose cores are busy with other
# work, against the same machine without it: --threads 1, --threads 2 and the
# default (the program chooses, and changes its choice at reports), side by
# side, first without busy loops, then with one busy loop pinned to each core
# (taskset) beside the run:
#   - 256 x 256, Ra 1e5, for a fixed wall time: the steps it made (from
#     report to report), and the CPU seconds (user + system) of 1000 steps;
#   - 86 x 86, Ra 1e6, to its stop: the wall and CPU seconds of the whole run,
#     and the program's note on the threads it used.
# BEFORE=/path/to/cavity adds that build on two threads (the program as it
# was, for the comparison on the machine without busy loops).
#   bench/busy.sh [seconds for each 256 x 256 run (default 30)] [rounds (default 1)]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
budget=${1:-30}
rounds=${2:-1}
bin=${CAVITY:-$root/build/cavity}
before=${BEFORE:-}
work=$(mktemp -d)
busy_pids=()
stop_busy() {
  local pid
  for pid in "${busy_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${busy_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  busy_pids=()
}
trap 'stop_busy; rm -rf "$work"' EXIT
command -v taskset >/dev/null || { echo "busy.sh: taskset is missing (util-linux)" >&2; exit 1; }
[ -x "$bin" ] || { echo "busy.sh: no program at $bin (build it, or set CAVITY)" >&2; exit 1; }

cores=$(nproc)
start_busy() { # one busy loop pinned to each core the run may use
  local k
  for k in $(seq 0 $((cores - 1))); do
    taskset -c "$k" sh -c 'while :; do :; done' &
    busy_pids+=($!)
  done
}

params() { # dir Ra Tau_T
  mkdir -p "$1"
  printf 'Prandtl number\n0.71\nRayleigh number\n%s\nHot wall\n1\nCold wall\n0\nInitial\n0\nTau_T\n%s\n' \
    "$2" "$3" > "$1/Input_Parameters.Input"
}

# timed DIR N M SECONDS BIN [ARGS]: runs at most SECONDS; leaves report-times
# (stamped by the shell at each report) and cpu (user and system seconds)
timed() {
  local dir=$1 n=$2 m=$3 seconds=$4 program=$5; shift 5
  (cd "$dir" && printf '%s\n%s\n\n' "$n" "$m" > console.in &&
    { /usr/bin/time -f '%U %S' -o cpu timeout -s TERM "$seconds" "$program" "$@" \
        < console.in 2> err || true; } |
    while IFS= read -r line; do
      case $line in *Step==*) echo "$EPOCHREALTIME" ;; esac
    done > report-times
    echo "$EPOCHREALTIME" > end-time)
}

variants=("--threads 1" "--threads 2" "default")
[ -n "$before" ] && variants+=("before, --threads 2")
run_variant() { # variant dir n m seconds
  local v=$1; shift
  case $v in
    default) timed "$1" "$2" "$3" "$4" "$bin" ;;
    before*) timed "$1" "$2" "$3" "$4" "$before" --threads 2 ;;
    *) timed "$1" "$2" "$3" "$4" "$bin" $v ;;
  esac
}

echo "== machine: $(lscpu | sed -n 's/^Model name: *//p'), $cores cores; $("$bin" --version)"
for load in none busy; do
  echo
  if [ $load = busy ]; then
    start_busy
    echo "== with a busy loop pinned to each of the $cores cores; $(uptime | sed 's/^.*load/load/')"
  else
    echo "== without busy loops (other work on the machine: $(uptime | sed 's/^.*load/load/'))"
  fi
  for round in $(seq 1 "$rounds"); do
    echo "-- 256 x 256, Ra 1e5, $budget s each (round $round)"
    printf '%-22s %8s %12s %16s\n' variant steps "steps/s" "CPU s/1000 st"
    for v in "${variants[@]}"; do
      d="$work/$load-256-$round-${v// /_}"
      params "$d" 1e5 0.6
      run_variant "$v" "$d" 256 256 "$budget"
      awk -v v="$v" -v cpu="$(awk '/^[0-9]/ { print $1 + $2 }' "$d/cpu")" '
        NR == 1 { t0 = $1 } { t = $1; c = NR }
        END { steps = 50 * c; rate = c > 1 ? (c - 1) * 50 / (t - t0) : 0
              printf "%-22s %8d %12.1f %16.2f\n", v, steps, rate, steps ? 1000 * cpu / steps : 0 }' \
        "$d/report-times"
    done
    echo "-- 86 x 86, Ra 1e6, to its stop (round $round)"
    printf '%-22s %8s %8s %8s  %s\n' variant steps "wall s" "CPU s" "threads"
    for v in "${variants[@]}"; do
      d="$work/$load-86-$round-${v// /_}"
      params "$d" 1e6 0.6
      t0=$EPOCHREALTIME
      run_variant "$v" "$d" 86 86 600
      wall=$(echo "$(cat "$d/end-time") - $t0" | bc -l)
      note=$(sed -n 's/^note: threads: //p' "$d/err")
      printf '%-22s %8d %8.1f %8.1f  %s\n' "$v" "$((50 * $(wc -l < "$d/report-times")))" "$wall" \
        "$(awk '/^[0-9]/ { print $1 + $2 }' "$d/cpu")" "${note:-(no note)}"
    done
  done
  stop_busy
done
