#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan and UBSan on, the same
# floating-point flags as the program) and runs each for a bounded time from
# the committed corpus. New inputs go to the build folder, not the corpus.
# Usage: tests/fuzz/run_fuzz.sh [build-dir]   (FUZZ_SECONDS per target, default 20)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(mkdir -p "${1:-$root/build-fuzz}" && cd "${1:-$root/build-fuzz}" && pwd)
seconds=${FUZZ_SECONDS:-20}
cxx=${FUZZ_CXX:-$(command -v clang++-14 || command -v clang++)}

flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer
       -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -ffp-contract=off -fno-fast-math -ftrapping-math -fno-finite-math-only
       -I"$root/src" -I"$root/tests")
# The instruction set of this machine, as the program's kernels for it have it,
# so that the vector paths are fuzzed too.
if "$cxx" -march=native -E -x c++ /dev/null >/dev/null 2>&1; then
  flags+=(-march=native)
fi
declare -A sources=(
  [line_reader]="src/textio/line_reader.cpp src/textio/console.cpp"
  [real_text]="src/textio/real_text.cpp src/textio/real_slots.cpp src/textio/record.cpp src/textio/console.cpp src/textio/line_reader.cpp"
)

total=0
for target in line_reader real_text; do
  echo "== fuzz $target: building"
  srcs=()
  for s in ${sources[$target]}; do srcs+=("$root/$s"); done
  "$cxx" "${flags[@]}" "$here/${target}_fuzz.cpp" "${srcs[@]}" -o "$build/${target}_fuzz"
  mkdir -p "$build/corpus-$target"
  echo "== fuzz $target: $seconds s"
  log="$build/${target}_fuzz.log"
  status=0
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
  "$build/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/crash-$target-" \
      "$build/corpus-$target" "$here/corpus/$target" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" -ne 0 ] || [ -z "$runs" ]; then
    tail -n 60 "$log"
    echo "== fuzz $target: FAILED (status $status); see $log and $build/crash-$target-*"
    exit 1
  fi
  echo "== fuzz $target: $runs executions, no failure"
  total=$((total + runs))
done
echo "== fuzz: $total executions in all"
