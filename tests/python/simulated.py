"""Runs a case as a cavity.Simulation and keeps what it left beside its
result files, for the tests that compare it with the program. Run as a
script (``simulated.py SPEC_JSON FOLDER``) under another CAVITY_KERNELS, the
module cavity._solver takes that set of kernels."""

import json
import os
import sys


def run(job, folder):
    """Runs the case of ``job`` (n, m, the parameter file's text, the
    simulation's options) with its result files in FOLDER/files; returns
    the simulation, its words and reports written to FOLDER."""
    import cavity
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "Input_Parameters.Input")
    with open(path, "w") as fh:
        fh.write(job["parameters"])
    case = cavity.Case.read(path, job["n"], job["m"])
    sim = cavity.Simulation(case, folder=os.path.join(folder, "files"), **job["options"])
    sim.run(progress=None)
    with open(os.path.join(folder, "output.txt"), "wb") as fh:
        fh.write(sim.output.encode("latin-1"))
    with open(os.path.join(folder, "notes.txt"), "w") as fh:
        fh.write("".join(note + "\n" for note in sim.notes))
    sim.reports().to_csv(os.path.join(folder, "reports.csv"), index=False,
                         float_format="%.9g")
    with open(os.path.join(folder, "kernels.txt"), "w") as fh:
        fh.write(cavity._solver.kernel_set())
    return sim


if __name__ == "__main__":
    run(json.loads(sys.argv[1]), sys.argv[2]).close()
