#!/bin/sh
# Tests of the package cavity (the Python tools, its compiled module and its
# build of the solver), run by the interpreter of the virtual environment
# it is installed in: CAVITY_VENV, default build/venv, which
# `bash python/install.sh build/venv` makes. Installs nothing (the ParaView
# check runs where python3-paraview is installed). Set CAVITY_BIN to run the
# sweep and parameter-file tests on the real solver too.
set -e
cd "$(dirname "$0")/../.."
venv=${CAVITY_VENV:-build/venv}
if [ ! -x "$venv/bin/python" ]; then
  echo "tests/python/run.sh: no virtual environment at $venv; make it and install the package with: bash python/install.sh $venv" >&2
  exit 2
fi
exec "$venv/bin/python" -m pytest -q tests/python "$@"
