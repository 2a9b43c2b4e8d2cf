#!/usr/bin/env bash
# Reliability checks beyond the default build, each in its own build folder:
#   1. the whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer;
#   2. the threaded time step built with ThreadSanitizer: its unit tests and
#      whole runs on two and three threads;
#   3. the program under valgrind's memcheck;
#   4. bounded libFuzzer runs of the line reader and the real-number text.
# Installs what a fresh machine lacks; exits non-zero on any failure.
# JOBS (default 2) and FUZZ_SECONDS (per fuzz target, default 20) may be set.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-2}

bash "$root/tests/install_packages.sh" cmake ninja-build g++ libgtest-dev valgrind clang-14 libclang-rt-14-dev

echo "== sanitizer build (AddressSanitizer, UndefinedBehaviorSanitizer)"
cmake -S "$root" -B "$root/build-sanitize" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCAVITY_SANITIZE=ON -DCAVITY_BENCHMARKS=OFF >/dev/null
cmake --build "$root/build-sanitize" -j "$jobs"
# The program's own SIGFPE handler reports the floating-point traps; leaks
# are errors; any undefined behaviour stops the test with a stack trace.
export ASAN_OPTIONS=detect_leaks=1:handle_sigfpe=0:allow_user_segv_handler=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$root/build-sanitize" --output-on-failure -j "$jobs"
unset ASAN_OPTIONS UBSAN_OPTIONS

echo "== ThreadSanitizer build (the threaded time step, two runs on two threads)"
cmake -S "$root" -B "$root/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCAVITY_THREAD_SANITIZE=ON -DCAVITY_BENCHMARKS=OFF >/dev/null
cmake --build "$root/build-tsan" -j "$jobs" --target unit_tests program_tests
# Any report fails the run. The whole runs are the small cases: under the
# sanitizer a step costs some twenty times as much.
export TSAN_OPTIONS=halt_on_error=1
"$root/build-tsan/tests/unit_tests" --gtest_brief=1 --gtest_filter='FastStep*:Lanes*:ThreadTeam*:RunsOnTwoThreads*'
"$root/build-tsan/tests/program_tests" --gtest_brief=1 \
  --gtest_filter='*FastAgainst*OddSizes*:*FastAgainst*TwoByTwo*:*FastAgainst*AfterTwoReports*:*FastAgainst*TallCavity*'
unset TSAN_OPTIONS

echo "== valgrind"
# For any x86-64, so that valgrind knows every instruction.
cmake -S "$root" -B "$root/build-valgrind" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCAVITY_PORTABLE=ON -DCAVITY_TESTS=OFF -DCAVITY_BENCHMARKS=OFF >/dev/null
cmake --build "$root/build-valgrind" -j "$jobs" --target cavity
bash "$root/tests/valgrind_check.sh" "$root/build-valgrind/cavity"

echo "== fuzzing"
bash "$root/tests/fuzz/run_fuzz.sh" "$root/build-fuzz"

echo "== reliability checks passed"
