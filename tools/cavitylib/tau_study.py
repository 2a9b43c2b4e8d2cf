"""The measured study behind cavity-nanofluid's choice of Tau_T.

On one grid, each case runs at several reference velocities U_Ref (Mach
numbers U_Ref / c_s), that is at several Tau_T, until it settles. The Nu of
each run is compared with the case's Nu extrapolated to zero Mach number
(a fit Nu = Nu_0 + a Ma + b Ma^2), and the run time with the Mach number.
A larger Tau_T settles sooner (the diffusive time m^2 / alpha falls as
1 / (Tau_T - 1/2)) and costs accuracy; the study says how much.
"""

import csv
import math
import os

import numpy as np

from . import nanofluid as nf, rayleigh

GRID = 64
MACHS = (0.05, 0.075, 0.1, 0.15, 0.2, 0.3)
# (name, Pr, Ra of the cavity): water and Cu-water at phi = 0.2 from
# cavity-nanofluid at Ra_f = 1e5 (the ends of the Cu-water sweep), and a
# water-like Pr at a tenth of that Ra
CASES = (
    ("water", 5.828777, 1e5),
    ("cu20", 2.171922, 29825.5),
    ("pr62", 6.2, 1e4),
)
FIT_MACH = 0.2  # the Mach-zero fit uses the runs up to this Mach number


def tau_t(pr, ra, m, mach):
    """Tau_T that gives U_Ref = mach c_s on an m-high grid (Ra of the
    cavity, converted as for the parameter file)."""
    ra_s = rayleigh.to_solver(ra, m)
    return 0.5 + 3.0 * mach * nf.LATTICE_SOUND_SPEED * m / math.sqrt(ra_s * pr)


def case_rows(m=GRID, cases=CASES, machs=MACHS):
    rows = []
    for name, pr, ra in cases:
        for ma in machs:
            rows.append({"name": "%s_ma%g" % (name, ma), "n": m, "m": m,
                         "Pr": repr(pr), "Ra": repr(ra), "T_Hot": 1,
                         "T_Cold": 0, "T_Init": 0,
                         "Tau_T": "%.6f" % tau_t(pr, ra, m, ma)})
    return rows


def write_table(path, rows):
    with open(path, "w", newline="") as fh:
        w = csv.DictWriter(fh, fieldnames=list(rows[0]))
        w.writeheader()
        w.writerows(rows)


def mach_zero_fit(ma, nu, upto=FIT_MACH):
    """Nu_0, a, b of Nu = Nu_0 + a Ma + b Ma^2 over the runs up to ``upto``
    (a straight line with fewer than four of them)."""
    ma, nu = np.asarray(ma, dtype=float), np.asarray(nu, dtype=float)
    keep = ma <= upto + 1e-12
    deg = 2 if keep.sum() >= 4 else 1
    coef = np.polyfit(ma[keep], nu[keep], deg)
    if deg == 1:
        coef = np.concatenate(([0.0], coef))
    return float(coef[2]), float(coef[1]), float(coef[0])


def analyse(summary_rows, m=GRID, cases=CASES):
    """Per case: Nu_0 and, per Mach number, Tau_T, Tau_F, stop, steps, the
    steps in diffusive times (steps alpha / (m - 1)^2), wall and processor
    seconds and the Nu error against Nu_0."""
    by_name = {r["name"]: r for r in summary_rows}
    out = []
    for name, pr, ra in cases:
        runs = []
        for key, r in by_name.items():
            if not key.startswith(name + "_ma") or r["status"] != "ok":
                continue
            ma = float(key[len(name) + 3:])
            t = float(r["Tau_T"])
            alpha = (t - 0.5) / 3.0
            steps = int(r["end_step"] or r["last_reported_step"] or 0)
            runs.append({"mach": ma, "Tau_T": t, "Tau_F": 0.5 + pr * (t - 0.5),
                         "stop": r["stop"], "steps": steps,
                         "diffusive_times": steps * alpha / (m - 1.0) ** 2,
                         "wall_s": float(r["run_time_s"] or "nan"),
                         "cpu_s": float(r["cpu_time_s"] or "nan"),
                         "nu": float(r["Nu"])})
        runs.sort(key=lambda x: x["mach"])
        if len(runs) < 3:
            continue
        nu0, a, b = mach_zero_fit([x["mach"] for x in runs],
                                  [x["nu"] for x in runs])
        for x in runs:
            x["error"] = x["nu"] / nu0 - 1.0
        out.append({"name": name, "Pr": pr, "Ra": ra, "nu0": nu0, "a": a,
                    "b": b, "runs": runs})
    return out
