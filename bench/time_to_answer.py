"""Time to an answer of stated accuracy: cavity-sweep --target against a
finite-volume code (Debian's openfoam, bench/fv_cavity.py) on the same
cavities, each code's grids chosen by the same ladder rule (cavity.target:
first grid from the wall layer, ratio 1.4) and judged by the same grid
study (cavity.gci, formal order 2 for the finite-volume code's central
scheme, the scheme's own order for ours) and the same stop rule (status
converged and every part of the budget within the target).

Run by bench/time_to_answer.sh, which installs what it needs.
"""

import argparse
import csv
import math
import os
import platform
import subprocess
import sys
import time

from cavity import gci, target

import fv_cavity

HERE = os.path.dirname(os.path.abspath(__file__))
# accurate values: Hortmann, Peric & Scheuerer (1990), Int. J. Numer. Meth.
# Fluids 11, 189, extrapolated from 640 x 640 finite volumes
ACCURATE = {1e4: 2.24475, 1e5: 4.52164, 1e6: 8.82513}
WATER = "rho=997.1,cp=4179,k=0.613,beta=2.1e-4,mu=9.095e-4"  # Pr 6.2
# how far the finite-volume Nu still moves below the residual stop 1e-6
# (64 x 64 at Ra 1e6: 2.9e-5 between 1e-6 and 1e-8), its "settle" part
FV_TOL = 1e-6
FV_STEADY = 3e-5


def cases(tool_dir):
    """(name, Pr, Ra, accurate Nu or None); the suspensions' Pr and Ra from
    cavity-nanofluid's models (Maxwell, Brinkman, mixing)."""
    out = [("ra1e4", 0.71, 1e4, ACCURATE[1e4]), ("ra1e5", 0.71, 1e5, ACCURATE[1e5]),
           ("ra1e6", 0.71, 1e6, ACCURATE[1e6])]
    text = subprocess.run(
        [os.path.join(tool_dir, "cavity-nanofluid"), "cases", "--fluid-props", WATER,
         "--particle", "Cu", "--phi-list", "0,0.1", "--ra-f", "1e5", "--grid",
         "64x64"], capture_output=True, text=True, check=True).stdout
    for row in csv.DictReader(text.splitlines()):
        name = "water" if float(row["phi"]) == 0 else "cu10"
        out.append((name, float(row["Pr"]), float(row["Ra"]), None))
    return out


def fv_ladder(folder, name, pr, ra, acc, max_grids, extra=1, spacings=target.LAYER_SPACINGS):
    """The finite-volume code's ladder: cells = m - 1 of our ladder's grids
    (even), until the band and the steadiness part are within ``acc``;
    ``extra`` grids more for a reference. Returns (answer dict, reference
    dict or None)."""
    m = target.first_grid(ra, pr, spacings)
    done, answer, cpu = [], None, 0.0
    while len(done) < max_grids + extra:
        cells = 2 * int(round((m - 1) / 2.0))
        nu, sec, iters = fv_cavity.run_case(
            os.path.join(folder, "%s_%03d_s%g" % (name, cells, spacings)), cells, pr, ra,
            tol=FV_TOL, max_iter=10000)
        steady = iters < 10000
        done.append({"m": cells + 1, "cells": cells, "Nu": nu if steady else math.nan,
                     "cpu_s": sec, "iterations": iters})
        if answer is None:
            cpu += sec
        print("  fv %s %d cells: Nu %.6f, %d iterations, %.2f s CPU%s"
              % (name, cells, nu, iters, sec, "" if steady else " (not converged)"),
              flush=True)
        res = study(done, 2.0, acc, FV_STEADY)
        if answer is None and (res["met"] or len(done) >= max_grids):
            answer = dict(res, cpu_s=cpu, grids=[g["cells"] for g in done])
            if extra == 0:
                break
        elif answer is not None:
            return answer, dict(res, grids=[g["cells"] for g in done])
        m = target.next_grid(m)
    return answer, None


def study(done, order, acc, steady):
    good = [g for g in done if g["Nu"] == g["Nu"]]
    if len(good) < 3:
        return {"met": False, "status": "fewer than three grids", "Nu": math.nan,
                "U": math.nan}
    res = gci.study([g["m"] for g in good], [g["Nu"] for g in good], 0.5, order)
    b = target.budget(res, [gci.spacing(g["m"]) for g in good], acc, steady, 0.0)
    return {"met": b["met"], "status": res["status"], "Nu": res["f_ext"],
            "U": b["total"] * abs(res["f_ext"]), "form": res["form"], "p": res["p"]}


def ours(folder, tool_dir, rows, acc, max_cpu, jobs):
    table = os.path.join(folder, "cases.csv")
    with open(table, "w") as fh:
        fh.write("name,n,m,Pr,Ra,T_Hot,T_Cold,T_Init,Tau_T\n")
        for name, pr, ra, _ in rows:
            fh.write("%s,64,64,%r,%r,1,0,0.5,0.6\n" % (name, pr, ra))
    cmd = [os.path.join(tool_dir, "cavity-sweep"), table, "-o",
           os.path.join(folder, "ours"), "--target", "%g%%" % (100 * acc),
           "--choose-tau", "--threads", "1", "--jobs", str(jobs)]
    if max_cpu:
        cmd += ["--max-cpu", str(max_cpu)]
    print(" ".join(cmd), flush=True)
    subprocess.run(cmd)
    with open(os.path.join(folder, "ours", "target.csv"), newline="") as fh:
        return {r["name"]: r for r in csv.DictReader(fh)}


def machine():
    model = "?"
    flags = set()
    with open("/proc/cpuinfo") as fh:
        for line in fh:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
            if line.startswith("flags"):
                flags |= set(line.split(":", 1)[1].split())
    isa = ", ".join(f for f in ("avx2", "avx512f") if f in flags) or "neither AVX2 nor AVX-512"
    return "%s, %d cores (%s), load average %.1f at the start" % (
        model, os.cpu_count() or 0, isa, os.getloadavg()[0])


def _f(x, fmt="%.5f"):
    try:
        x = float(x)
    except (TypeError, ValueError):
        return "-"
    return "-" if x != x else fmt % x


HEAD = ("case", "Pr", "Ra", "reference Nu", "FV grids (cells a side)", "FV Nu +- U",
        "FV band holds the reference", "FV CPU s", "our grids (m)", "our Nu +- U",
        "our band holds the reference", "our CPU s", "CPU ratio ours/FV")


def table(rows, fv, ref, mine):
    lines = ["| " + " | ".join(HEAD) + " |", "|" + "|".join("---" for _ in HEAD) + "|"]
    for name, pr, ra, accurate in rows:
        a, r = fv[name], ref.get(name)
        refnu = accurate if accurate else (r["Nu"] if r else math.nan)
        o = mine.get(name, {})
        onu, ou = float(o.get("Nu") or "nan"), float(o.get("U") or "nan")
        ocpu = float(o.get("cpu_time_s") or "nan")

        def holds(nu, u):
            if nu != nu or refnu != refnu:
                return "-"
            return "yes" if abs(nu - refnu) <= u else "no"
        cells = [name, "%.4g" % pr, "%.4g" % ra,
                 _f(refnu) + ("" if accurate else " (FV, one grid finer)"),
                 "/".join("%d" % c for c in a["grids"]) + ("" if a["met"] else " (not met)"),
                 "%s +- %s" % (_f(a["Nu"]), _f(a["U"], "%.4f")), holds(a["Nu"], a["U"]),
                 "%.2f" % a["cpu_s"],
                 o.get("grids", "-").replace(";", "/")
                 + ("" if o.get("met") == "yes" else " (not met: %s)" % o.get("reason", "")),
                 "%s +- %s" % (_f(onu), _f(ou, "%.4f")), holds(onu, ou), _f(ocpu, "%.1f"),
                 _f(ocpu / a["cpu_s"], "%.1f") if a["cpu_s"] else "-"]
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines) + "\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("-o", "--out", default="build/bench-time-to-answer")
    ap.add_argument("--target", default="1%")
    ap.add_argument("--max-grids", type=int, default=6)
    ap.add_argument("--max-cpu", type=float, default=900.0,
                    help="our CPU limit a case (seconds)")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--only", help="comma-separated case names")
    ap.add_argument("--skip-ours", action="store_true")
    ap.add_argument("--fv-layer-spacings", type=float, default=target.LAYER_SPACINGS,
                    help="the finite-volume ladder's first grid (default: ours, 2)")
    args = ap.parse_args()
    acc = target.parse_target(args.target)
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    tool_dir = os.path.dirname(sys.executable)
    rows = cases(tool_dir)
    if args.only:
        rows = [r for r in rows if r[0] in args.only.split(",")]
    print("machine: %s; %s" % (machine(), platform.platform()), flush=True)
    fv, ref = {}, {}
    for name, pr, ra, accurate in rows:
        fv[name], ref[name] = fv_ladder(os.path.join(out, "fv"), name, pr, ra, acc,
                                        args.max_grids, 0 if accurate else 1,
                                        args.fv_layer_spacings)
    t0 = time.time()
    mine = {} if args.skip_ours else ours(out, tool_dir, rows, acc, args.max_cpu, args.jobs)
    text = ("machine: %s\nours: %.0f s wall time for the cases, %d at a time\n\n"
            % (machine(), time.time() - t0, args.jobs) + table(rows, fv, ref, mine))
    with open(os.path.join(out, "table.md"), "w") as fh:
        fh.write(text)
    print(text)


if __name__ == "__main__":
    main()
