#!/usr/bin/env bash
# Time to an answer of stated accuracy: cavity-sweep --target 1% against a
# finite-volume code (Debian's openfoam, installed here and used only by
# this benchmark) on the square cavity at Ra 1e4, 1e5, 1e6 (Pr 0.71) and
# water and Cu-water (phi 0.1) at Ra_f 1e5, one thread each, CPU seconds;
# prints the table (bench/README.md, "Time to an answer").
#   bash bench/time_to_answer.sh [OUT] [options of bench/time_to_answer.py]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/bench-time-to-answer}
shift || true
bash tests/install_packages.sh openfoam
[ -x build/venv/bin/cavity-sweep ] || bash python/install.sh build/venv
nice build/venv/bin/python bench/time_to_answer.py -o "$out" "$@"
