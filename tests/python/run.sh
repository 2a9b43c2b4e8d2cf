#!/bin/sh
# Tests of the Python tools. Installs nothing: the Debian packages
# python3-numpy python3-matplotlib python3-pytest parallel (and, for the
# ParaView check, python3-paraview) must be there. Set CAVITY_BIN to run
# the sweep and parameter-file tests on the real solver too.
set -e
cd "$(dirname "$0")/../.."
# the system interpreter is the one that sees Debian's Python packages
PY=python3
[ -x /usr/bin/python3 ] && PY=/usr/bin/python3
exec "$PY" -m pytest -q tests/tools "$@"
