#!/usr/bin/env bash
# The threads of the time step on a machine whose cores are busy with other
# work, against the same machine without it: --threads 1, --threads 2 and the
# default (the program chooses, and changes its choice at reports), side by
# side, first without busy loops, then with one busy loop pinned to each core
# (taskset) beside the run, then with as many busy loops that the operating
# system places as it likes (unpinned, as other programs run). At 256 x 256
# (Ra 1e5) and 86 x 86 (Ra 1e6), each variant runs for a fixed wall time, in
# rounds that take the variants in turn (each round in another order, so
# that a change in the machine's other work falls on all alike); per variant,
# over all rounds: the steps a second from report to report, against
# --threads 1, and the CPU seconds (user and system) of 1000 steps. The load
# averages before and after each kind say how quiet the machine was.
# BEFORE=/path/to/cavity adds that build on two threads and with its own
# choice (the program as it was). CAVITY=/path/to/cavity runs another build
# than build/cavity. LOADS (default "none pinned unpinned") and SIZES (default
# "256 86") take some of the cases.
#   bench/busy.sh [seconds a run (default 10)] [rounds (default 3)]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
budget=${1:-10}
rounds=${2:-3}
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
start_busy() { # one busy loop for each core the run may use, pinned to it or not
  local k
  for k in $(seq 0 $((cores - 1))); do
    if [ "$1" = pinned ]; then
      taskset -c "$k" sh -c 'while :; do :; done' &
    else
      sh -c 'while :; do :; done' &
    fi
    busy_pids+=($!)
  done
}
load_average() { uptime | sed 's/^.*load/load/'; }

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
[ -n "$before" ] && variants+=("before, --threads 2" "before, default")
run_variant() { # variant dir n m seconds
  local v=$1; shift
  case $v in
    default) timed "$1" "$2" "$3" "$4" "$bin" ;;
    "before, default") timed "$1" "$2" "$3" "$4" "$before" ;;
    before*) timed "$1" "$2" "$3" "$4" "$before" --threads 2 ;;
    *) timed "$1" "$2" "$3" "$4" "$bin" $v ;;
  esac
}

# rate DIR -> steps a second between the first and the last report, the
# steps, and the CPU seconds of the run
rate() {
  awk -v cpu="$(awk '/^[0-9]/ { print $1 + $2 }' "$1/cpu")" '
    NR == 1 { t0 = $1 } { t = $1; c = NR }
    END { printf "%.6f %d %.3f\n", (c > 1 ? (c - 1) * 50 / (t - t0) : 0), 50 * c, cpu }' \
    "$1/report-times"
}

echo "== machine: $(lscpu | sed -n 's/^Model name: *//p'), $cores cores; $("$bin" --version)"
echo "== $budget s a run, $rounds rounds"
for load in ${LOADS:-none pinned unpinned}; do
  echo
  case $load in
    none) echo "== without busy loops (other work on the machine: $(load_average))" ;;
    pinned)
      start_busy pinned
      echo "== with a busy loop pinned to each of the $cores cores; $(load_average)" ;;
    unpinned)
      start_busy unpinned
      echo "== with $cores busy loops the operating system places; $(load_average)" ;;
    *) echo "busy.sh: LOADS takes none, pinned, unpinned, not $load" >&2; exit 1 ;;
  esac
  for size in ${SIZES:-256 86}; do
    ra=1e5
    [ $size = 86 ] && ra=1e6
    declare -A rates=() steps=() cpu=()
    for round in $(seq 1 "$rounds"); do
      n=${#variants[@]}
      for i in $(seq 0 $((n - 1))); do
        v=${variants[$(( (i + round - 1) % n ))]}
        d="$work/$load-$size-$round-${v// /_}"
        params "$d" $ra 0.6
        run_variant "$v" "$d" $size $size "$budget"
        read -r r s c < <(rate "$d")
        rates[$v]="${rates[$v]:-} $r"
        steps[$v]=$(( ${steps[$v]:-0} + s ))
        cpu[$v]=$(echo "${cpu[$v]:-0} + $c" | bc -l)
      done
    done
    echo "-- $size x $size, Ra $ra: steps a second in each round, their mean, against --threads 1"
    one=$(echo "${rates[--threads 1]}" | awk '{ for (i = 1; i <= NF; i++) s += $i; print s / NF }')
    for v in "${variants[@]}"; do
      echo "${rates[$v]}" | awk -v v="$v" -v one="$one" -v steps="${steps[$v]}" -v cpu="${cpu[$v]}" '
        { for (i = 1; i <= NF; i++) { s += $i; each = each sprintf(" %6.1f", $i) } m = s / NF
          printf "%-20s %s  mean %6.1f  %5.2fx  CPU %.2f s/1000 steps\n", v, each, m,
                 (one > 0 ? m / one : 0), (steps ? 1000 * cpu / steps : 0) }'
    done
    unset rates steps cpu
  done
  echo "-- after: $(load_average)"
  stop_busy
done
