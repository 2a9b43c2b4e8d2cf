#!/usr/bin/env bash
# Installs the package cavity (the Python tools, the compiled module and the
# solver, built by CMake in build/python) into the virtual environment VENV
# (default build/venv), made with Debian's python3 and seeing its packages
# if it is not there. Installs the Debian packages it needs first (as root,
# or through sudo); fetches nothing else. JOBS sets the build parallelism.
set -euo pipefail
cd "$(dirname "$0")/.."
venv=${1:-build/venv}
bash tests/install_packages.sh cmake ninja-build g++ python3-venv python3-pip \
  python3-setuptools python3-wheel pybind11-dev python3-pybind11 python3-numpy \
  python3-matplotlib python3-pytest parallel python3-xarray python3-pandas python3-netcdf4 \
  python3-nbclient python3-nbformat python3-ipykernel python3-sphinx python3-myst-parser
[ -x "$venv/bin/python" ] || /usr/bin/python3 -m venv --system-site-packages "$venv"
echo "== building the package cavity (CMake in build/python/cmake) into $venv"
"$venv/bin/python" -m pip install --quiet --no-build-isolation --no-index \
  --disable-pip-version-check .
echo "== the package cavity is in $venv: its bin/ has cavity and the tools"
