#!/usr/bin/env bash
# Builds everything and runs every test: the unit and end-to-end tests of the
# default build. Installs what a fresh machine lacks.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-2}

need_packages=()
for pkg in cmake g++ libgtest-dev libbenchmark-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need_packages+=("$pkg")
done
if [ ${#need_packages[@]} -gt 0 ]; then
  echo "== installing ${need_packages[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq && $SUDO apt-get install -y -qq "${need_packages[@]}"
fi

echo "== default build (this machine's instruction set)"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j "$jobs"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"
