#!/usr/bin/python3
"""The order of accuracy and the bias of the wall-corrected Nusselt number,
scheme by scheme (--scheme), on grid sequences of the side-heated square
cavity.

Each series is one case (Ra of the cavity between the walls, Pr), one scheme
and one rule for Tau_T: held fixed on every grid ("tau 0.6"), or chosen on
each grid so that U_Ref is a given fraction of the lattice sound speed
("mach 0.1", the tools' accuracy policy). Every run starts at the mean wall
temperature and ends by `--settle 2e-6` with the residual stop off, so that
it is steady to the figures the fits need. Ra is written as the tools write
it, Ra (m/(m-1))^3: every wall of the bounce-back schemes acts half a
spacing inside the end nodes, and so do the flow's walls in the copy scheme.

The Nu of a run is the hot-wall value of the note the run ends with (second
order, walls half a spacing inside the end nodes); h = 1/(m - 1). Fits: a
least-squares Nu = Nu0 + a h^p over all grids, the observed order and the
Richardson limit of the three finest (the three-grid procedure of
cavity.gci), and Nu = Nu0 + b h^2 over the three finest. At Pr 0.71 the
limits are set against the benchmark of the square cavity (extrapolated
multigrid values).

    PYTHONPATH=python bench/order_study.py --work /tmp/order --jobs 2 \\
        --markdown order.md --csv order.csv [--set ra1e4 ...]

Runs already made in the work folder are read back, not run again.
"""

import argparse
import csv
import json
import math
import os
import re
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
from cavity import gci, nanofluid, rayleigh  # noqa: E402

# Pr 0.71: Nu of the square cavity, extrapolated multigrid values.
BENCHMARK = {1e4: 2.24475, 1e5: 4.52164, 1e6: 8.82513}
SCHEMES = ("copy", "bounce-back", "bounce-back-trt")
SETTLE = "2e-6"

ALL = SCHEMES
BGK = SCHEMES[:2]  # where Tau_T stays at or below 0.6 the TRT scheme is BGK's
# name: (Ra, Pr, [(policy, schemes)], grids)
SETS = {
    "ra1e4": (1e4, 0.71, [("tau 0.6", BGK), ("tau 1.0", ALL), ("mach 0.1", ALL)],
              (16, 24, 32, 48, 64, 96)),
    "ra1e5": (1e5, 0.71, [("mach 0.1", BGK)], (32, 48, 64, 96, 128)),
    "ra1e6": (1e6, 0.71, [("mach 0.2", BGK)], (48, 64, 80, 96, 128)),
    "pr62_ra1e4": (1e4, 6.2, [("mach 0.1", BGK)], (24, 32, 48, 64, 96)),
    "pr62_ra1e5": (1e5, 6.2, [("mach 0.1", BGK)], (32, 48, 64, 96)),
}


def tau_t(policy, ra, pr, m):
    kind, value = policy.split()
    if kind == "tau":
        return float(value)
    ra_s = rayleigh.to_solver(ra, m)
    return 0.5 + 3.0 * float(value) * nanofluid.LATTICE_SOUND_SPEED * m / math.sqrt(ra_s * pr)


def run_case(binary, folder, ra, pr, scheme, tau, m):
    """One run in `folder` (kept); its record, read back if made before."""
    record = os.path.join(folder, "record.json")
    if os.path.exists(record):
        with open(record) as fh:
            return json.load(fh)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Input_Parameters.Input"), "w") as fh:
        fh.write("Pr\n%r\nRa\n%.10g\nT_Hot\n1\nT_Cold\n0\nT_Init\n0.5\nTau_T\n%.8g\n"
                 % (pr, rayleigh.to_solver(ra, m), tau))
    args = ["nice", "-n", "19", binary, "--threads", "1", "--scheme", scheme,
            "--no-residual-stop", "--settle", SETTLE, "--files-every", "1000000"]
    with open(os.path.join(folder, "console.out"), "w") as out, \
            open(os.path.join(folder, "console.err"), "w") as err:
        child = subprocess.Popen(args, cwd=folder, stdin=subprocess.PIPE, stdout=out,
                                 stderr=err)
        child.stdin.write(("%d\n%d\n\n" % (m, m)).encode())
        child.stdin.close()
        _, status, usage = os.wait4(child.pid, 0)
    with open(os.path.join(folder, "console.err")) as fh:
        notes = fh.read()
    wall = re.search(r"hot wall ([-0-9.e+]+), cold wall ([-0-9.e+]+)", notes)
    end = re.search(r"note: (settled|converged) at step (\d+)", notes)
    result = {"m": m, "tau": tau, "status": os.waitstatus_to_exitcode(status),
              "end": end.group(1) if end else ("step limit" if "step limit" in notes
                                              else "failed"),
              "steps": int(end.group(2)) if end else None,
              "nu_hot": float(wall.group(1)) if wall else None,
              "nu_cold": float(wall.group(2)) if wall else None,
              "cpu": usage.ru_utime + usage.ru_stime}
    with open(record, "w") as fh:
        json.dump(result, fh)
    return result


def fit_power(h, f):
    """Least squares f = f0 + a h^p: (p, f0, a), p searched on [0.3, 4]."""
    best = None
    for p in np.arange(0.3, 4.0001, 0.005):
        A = np.vstack([np.ones_like(h), h ** p]).T
        c = np.linalg.lstsq(A, f, rcond=None)[0]
        r = float(np.sum((A @ c - f) ** 2))
        if best is None or r < best[0]:
            best = (r, p, c[0], c[1])
    return best[1], best[2], best[3]


def analyse(ra, pr, runs):
    good = [r for r in runs if r["nu_hot"] is not None and r["status"] == 0]
    good.sort(key=lambda r: r["m"])
    out = {"grids": [r["m"] for r in good], "nu": [r["nu_hot"] for r in good],
           "taus": [r["tau"] for r in good], "cpu": sum(r["cpu"] for r in runs),
           "ends": sorted({r["end"] for r in runs})}
    if len(good) < 3:
        return out
    h = np.array([1.0 / (r["m"] - 1) for r in good])
    f = np.array(out["nu"])
    out["p_all"], out["nu0_all"], _ = fit_power(h, f)
    three = gci.three_grid(h[-3:], f[-3:])
    out["p_three"], out["nu0_three"] = three["p"], three["f_ext"]
    A = np.vstack([np.ones(3), h[-3:] ** 2]).T
    out["nu0_h2"] = float(np.linalg.lstsq(A, f[-3:], rcond=None)[0][0])
    fine = good[-1]
    out["balance"] = (fine["nu_hot"] - fine["nu_cold"]) / fine["nu_hot"]
    out["benchmark"] = BENCHMARK.get(ra) if pr == 0.71 else None
    return out


def series_list(sets):
    for name in sets:
        ra, pr, policies, grids = SETS[name]
        for policy, schemes in policies:
            for scheme in schemes:
                yield name, ra, pr, policy, scheme, grids


def table(rows):
    head = ("| Ra | Pr | Tau_T | scheme | grids m | Nu, finest | p (all) | Nu0 (all) "
            "| p (3 finest) | Nu0 (3 finest) | Nu0 (b h^2, 3 finest) | Nu0 (all) vs benchmark "
            "| hot - cold, finest | CPU s |")
    lines = [head, "|" + "---|" * 14]
    for name, ra, pr, policy, scheme, a in rows:
        def g(key, fmt):
            v = a.get(key)
            return fmt % v if isinstance(v, float) and math.isfinite(v) else "-"
        bench = a.get("benchmark")
        off = ("%+.3f %%" % (100 * (a["nu0_all"] / bench - 1))
               if bench and "nu0_all" in a else "-")
        taus = a["taus"]
        tau = policy if policy.startswith("tau") else "%s (%.4g-%.4g)" % (
            policy, min(taus), max(taus)) if taus else policy
        lines.append("| %g | %g | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %.0f |"
                     % (ra, pr, tau, scheme, ", ".join(map(str, a["grids"])),
                        "%.5f" % a["nu"][-1] if a["nu"] else "-", g("p_all", "%.2f"),
                        g("nu0_all", "%.5f"), g("p_three", "%.2f"), g("nu0_three", "%.5f"),
                        g("nu0_h2", "%.5f"), off, g("balance", "%+.1e"), a["cpu"]))
    return "\n".join(lines) + "\n"


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--cavity", default=os.path.join(os.path.dirname(__file__), "..", "build",
                                                     "cavity"))
    ap.add_argument("--work", required=True, help="folder of the runs (kept, reused)")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--set", action="append", choices=sorted(SETS),
                    help="a set of series (default: all)")
    ap.add_argument("--markdown")
    ap.add_argument("--csv")
    a = ap.parse_args(argv)
    binary = os.path.realpath(a.cavity)
    sets = a.set or list(SETS)
    cases = []
    for name, ra, pr, policy, scheme, grids in series_list(sets):
        for m in grids:
            folder = os.path.join(a.work, name, policy.replace(" ", ""), scheme, "m%03d" % m)
            cases.append((folder, ra, pr, scheme, tau_t(policy, ra, pr, m), m))
    # The smallest runs first: the coarse grids of every series are in hand
    # early.
    order = sorted(range(len(cases)), key=lambda k: cases[k][5] ** 3 / (cases[k][4] - 0.5))
    results = [None] * len(cases)
    with ThreadPoolExecutor(a.jobs) as pool:
        futures = {k: pool.submit(run_case, binary, *cases[k]) for k in order}
        for k, fut in futures.items():
            results[k] = fut.result()
    rows, flat, at = [], [], 0
    for name, ra, pr, policy, scheme, grids in series_list(sets):
        runs = results[at:at + len(grids)]
        at += len(grids)
        rows.append((name, ra, pr, policy, scheme, analyse(ra, pr, runs)))
        flat += [dict(set=name, Ra=ra, Pr=pr, policy=policy, scheme=scheme, **r) for r in runs]
    text = table(rows)
    sys.stdout.write(text)
    if a.markdown:
        with open(a.markdown, "w") as fh:
            fh.write(text)
    if a.csv:
        with open(a.csv, "w", newline="") as fh:
            w = csv.DictWriter(fh, fieldnames=list(flat[0]))
            w.writeheader()
            w.writerows(flat)


if __name__ == "__main__":
    main()
