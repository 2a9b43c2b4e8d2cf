#!/usr/bin/env bash
# Builds everything and runs every test; installs what a fresh Debian 12
# machine lacks (as root, or through sudo):
#   1. the default build (kernels for every instruction set): unit,
#      whole-program and recorded-run tests, and the recorded run on older
#      processors emulated by qemu (tests/older_processors.sh);
#   2. the same suite built with one set of kernels for any x86-64 (no
#      -march), built for AVX2 with the eight-lane kernels forced (the
#      compiler splits them), and built with clang: the same bytes whatever
#      the compiler, the instruction set and the width of the kernels;
#   3. sanitizers, valgrind and bounded fuzzing (tests/run_reliability.sh);
#   4. the package cavity (python/install.sh builds it and installs it into
#      build/venv): the Python tools on the real solver, with a sweep over two
#      ssh "hosts" on this machine (sshd on loopback addresses) and one
#      through a one-node Slurm cluster on it (both stopped afterwards), its
#      compiled module and its own build of the solver, the solver run in
#      Python (cavity.Simulation) against the program, and the example
#      notebook examples/cu_water_study.ipynb run cell by cell with nbclient
#      (tests/python/test_notebook.py: an error in any cell fails it).
# JOBS (default 2) sets the build parallelism; QUICK=1 runs step 1 only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-2}
export JOBS=$jobs

bash "$root/tests/install_packages.sh" cmake ninja-build g++ clang libgtest-dev libbenchmark-dev bc strace

# A folder already configured (by hand, say) keeps its
# generator; a new one gets Ninja.
configure() { # build folder, cmake options...
  local dir=$1; shift
  local generator=(-G Ninja)
  [ -f "$dir/CMakeCache.txt" ] && generator=()
  cmake -S "$root" -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
}

suite() { # name, build folder, cmake options...
  local name=$1 dir=$2; shift 2
  echo "== $name"
  configure "$dir" -DCAVITY_TESTS=ON "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

# cmake --install into a scratch prefix: cavity on its PATH, the README's way
# of answering from a script works as written there, and the tools stay out
# (the package has them). Then the package into build/venv, the README's
# first command's way: its cavity and its tools on the environment's PATH.
install_check() {
  echo "== install"
  local prefix work
  prefix=$(mktemp -d) work=$(mktemp -d)
  cmake --install "$root/build" --prefix "$prefix" >/dev/null
  cp "$root/examples/Input_Parameters.Input" "$work/"
  (cd "$work" && PATH="$prefix/bin:$PATH" && export PATH &&
     printf '16\n16\n\n' | cavity >console.out &&
     grep -q 'Solution Has Finished!' console.out && [ ! -e "$prefix/bin/cavity-sweep" ])
  rm -rf "$prefix" "$work"
  echo "== install: cavity runs from the PATH"
  bash "$root/python/install.sh" "$root/build/venv"
  work=$(mktemp -d)
  cp "$root/examples/Input_Parameters.Input" "$work/"
  (cd "$work" && PATH="$root/build/venv/bin:$PATH" && export PATH &&
     printf '16\n16\n\n' | cavity >console.out &&
     grep -q 'Solution Has Finished!' console.out &&
     cavity-sweep --help >/dev/null && cavity-nanofluid table >/dev/null)
  rm -rf "$work"
  echo "== install: the package's cavity and tools run from build/venv/bin"
}

suite "default build" "$root/build"
install_check
echo "== older processors (qemu)"
bash "$root/tests/older_processors.sh" "$root/build"
[ "${QUICK:-0}" = 1 ] && exit 0
suite "one set of kernels for any x86-64 (no -march)" "$root/build-portable" -DCAVITY_PORTABLE=ON \
  -DCAVITY_BENCHMARKS=OFF
suite "AVX2 build, eight-lane kernels forced" "$root/build-avx2-eight" -DCAVITY_PORTABLE=ON \
  -DCMAKE_CXX_FLAGS=-march=x86-64-v3 -DCAVITY_EIGHT_LANES=ON -DCAVITY_BENCHMARKS=OFF
CXX=clang++ suite "clang build" "$root/build-clang" -DCAVITY_BENCHMARKS=OFF

bash "$root/tests/run_reliability.sh"

# --- The package cavity (tests/python) -------------------------------------
# The sweep across machines runs over two ssh "hosts" on loopback addresses,
# the sweep on a cluster on a one-node Slurm cluster (munged, slurmctld and
# slurmd in a folder of their own); both are started here for the tests and
# stopped afterwards, whatever the outcome. A cluster that cannot start here
# leaves its test to skip, saying why.
echo "== the package cavity"
bash "$root/tests/install_packages.sh" openssh-server openssh-client rsync slurm-wlm munge
ssh_hosts=$(mktemp -d)
slurm_cluster=$(mktemp -d)
stop_hosts() {
  bash "$root/tests/python/ssh_hosts.sh" stop "$ssh_hosts"; rm -rf "$ssh_hosts"
  bash "$root/tests/python/slurm_cluster.sh" stop "$slurm_cluster"; rm -rf "$slurm_cluster"
}
trap stop_hosts EXIT
bash "$root/tests/python/ssh_hosts.sh" start "$ssh_hosts"
if bash "$root/tests/python/slurm_cluster.sh" start "$slurm_cluster"; then
  export CAVITY_SLURM_CLUSTER="$slurm_cluster"
fi
CAVITY_SSH_HOSTS="$ssh_hosts" CAVITY_BIN="$root/build/cavity" CAVITY_VENV="$root/build/venv" \
  bash "$root/tests/python/run.sh"
stop_hosts
trap - EXIT
# --- end of the package ---------------------------------------------------

echo "== all tests passed"
