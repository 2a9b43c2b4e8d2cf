"""The example notebook runs from its first cell to its last."""

import json
import os
import sys

import nbformat
from jupyter_client.kernelspec import KernelSpecManager
from jupyter_client.manager import KernelManager
from nbclient import NotebookClient

NOTEBOOK = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "examples", "cu_water_study.ipynb")


def kernel_of_this_interpreter(folder):
    """A kernel manager whose kernel runs this interpreter (the one the
    package is installed for), whatever kernels the machine has."""
    kernel_dir = os.path.join(folder, "cavity-tests")
    os.makedirs(kernel_dir)
    with open(os.path.join(kernel_dir, "kernel.json"), "w") as fh:
        json.dump({"argv": [sys.executable, "-m", "ipykernel_launcher", "-f",
                            "{connection_file}"],
                   "display_name": "cavity tests", "language": "python"}, fh)
    return KernelManager(kernel_name="cavity-tests",
                         kernel_spec_manager=KernelSpecManager(kernel_dirs=[folder]))


def test_example_notebook_runs_without_an_error(tmp_path):
    """Every cell of examples/cu_water_study.ipynb runs (a cell's error
    fails the test with the cell and its traceback), in a kernel of this
    interpreter, and draws its two figures."""
    nb = nbformat.read(NOTEBOOK, as_version=4)
    km = kernel_of_this_interpreter(str(tmp_path / "kernels"))
    NotebookClient(nb, km=km, timeout=900,
                   resources={"metadata": {"path": str(tmp_path)}}).execute()
    images = [out for cell in nb.cells if cell.cell_type == "code"
              for out in cell.get("outputs", []) if "image/png" in out.get("data", {})]
    assert len(images) >= 3
