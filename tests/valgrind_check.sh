#!/usr/bin/env bash
# Runs the program under valgrind's memcheck: the recorded 12x8 run (its
# output compared byte for byte), a run without a parameter file and a run
# whose result file cannot be replaced. Any memory error or leak fails.
# Usage: tests/valgrind_check.sh path/to/cavity
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
golden=$here/golden/side_heated_12x8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
vg=(valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect
    --errors-for-leak-kinds=definite,indirect --track-origins=yes)

# run NAME EXPECTED_STATUS: runs in $work/NAME with console.in there.
run() {
  local dir=$work/$1 status=0
  (cd "$dir" && "${vg[@]}" "$bin" <console.in >console.out 2>console.err) || status=$?
  if [ "$status" -ne "$2" ]; then
    cat "$dir/console.err"
    echo "valgrind: $1: status $status, expected $2"
    exit 1
  fi
}

mkdir "$work/golden"
cp "$golden/Input_Parameters.Input" "$golden/console.in" "$work/golden/"
run golden 0
cmp "$work/golden/console.out" "$golden/console.expected"
for f in Result.dat Nu.dat V_Velocity_MidLine.dat TEMPERATURE_MidLine.dat \
         U_Velocity_Vertical_MidLine.dat; do
  cmp "$work/golden/$f" "$golden/$f.expected"
done

mkdir "$work/no-parameters"
printf '4\n4\n\n' >"$work/no-parameters/console.in"
run no-parameters 1
grep -q '^input error: cannot open Input_Parameters.Input' "$work/no-parameters/console.err"

mkdir -p "$work/output-error/Result.dat"
cp "$golden/Input_Parameters.Input" "$golden/console.in" "$work/output-error/"
run output-error 1
grep -q '^output error: cannot replace Result.dat' "$work/output-error/console.err"

echo "valgrind: 3 runs clean"
