"""Answers to a stated accuracy: for each case a ladder of grids, run coarse
to fine, each from the steady state of the one before, until the
extrapolated Nu and its band are within the target, or a limit is reached.

The ladder (``plan``):

- The first grid resolves the thinnest layer at the walls. Its thickness
  over the height is Ra^-1/4 for Pr >= 1 (the thermal layer) and
  Ra^-1/4 Pr^1/4 for Pr < 1 (the viscous layer inside the thermal one,
  Pr^1/2 of its Ra^-1/4 Pr^-1/4); the grid puts LAYER_SPACINGS spacings
  across it, m1 = 1 + LAYER_SPACINGS Ra^1/4 min(1, Pr)^-1/4, and at least
  M_MIN. LAYER_SPACINGS is measured: the smallest grid whose Nu already
  lies on the asymptotic fit of the finer ones (docs/target.md).
- Each next grid is RATIO times finer in spacing (m - 1 times RATIO,
  rounded).
- Tau_T is held on every grid (diffusive scaling): U_Ref falls as 1/m, the
  compressibility error falls with the grid and is inside the band. With
  U_Ref held instead (``hold`` = "mach") it does not, and the Tau_T
  study's bound at that Mach number is added to the budget.

The budget (``budget``), every part relative to Nu::

    discretisation   the band's half-width U (cavity.gci) over |Nu_ext|
    settle           A x the settle tolerance of each run
    float            A x the float floor (1e-5: a settled Nu wanders so much)
    compressibility  0 with Tau_T held, else the study's bound

where A is the sum of the absolute weights with which the extrapolated Nu
combines the grids' values (a settle error of TOL on each grid moves the
extrapolation by at most A TOL). The settle tolerance is the target over
SETTLE_SHARE (40: loose, so the runs are cheap; the settle part is then
about 15 % of the target), and at least SETTLE_MIN (a run whose Nu
wanders by 5e-6 never settles at 1e-5). The target is met when the grids'
status is "converged" and the parts add up to at most the target.

The runner (``main``) is what a sweep's back end starts in a case folder in
place of the solver (a local, ssh or Slurm job each case): it reads
``target.json`` there, runs the ladder's grids in the folders mMMM beside
it, writes ``target-result.json`` and ``ladder.csv`` after every grid (a
requeued job goes on from the grids done) and ends with a note on
standard error.
"""

import json
import math
import os
import resource
import shlex
import shutil
import subprocess
import sys
import time

from . import gci, grid_study, nanofluid, rayleigh, records, sweep

M_MIN = 8
# spacings across the thinnest wall layer on the first grid (measured:
# docs/target.md, "The first grid")
LAYER_SPACINGS = 2.0
# at second order (the bounce-back schemes) the grids' error falls fast
# enough that one spacing across the layer starts a ladder that meets 1 %
# in three grids at Ra 1e5 and 1e6 (docs/target.md, "The scheme")
LAYER_SPACINGS_SECOND_ORDER = 1.0


def layer_spacings_for(order):
    """The default spacings across the wall layer on the first grid of a
    scheme of this formal order."""
    return LAYER_SPACINGS_SECOND_ORDER if order >= 2 else LAYER_SPACINGS
# the grid ratio: the cost of a grid grows as m^4 with Tau_T held (nodes
# m^2, steps to settle m^2), so a ladder of ratio r costs 1/(1 - r^-4) of its
# finest grid (1.69 at 1.25, 1.35 at 1.4, 1.25 at 1.5), while the last step
# overshoots what the target needs by up to r^4 in cost and the
# extrapolation multiplies the runs' errors by 1 + 2/(r - 1) at order 1
# (9 at 1.25, 6 at 1.4, 5 at 1.5); 1.4 is near the least of their product
RATIO = 1.4
MAX_GRIDS = 6
# the settle tolerance of each run is the target over SETTLE_SHARE: at ratio
# 1.4 and order 1 the extrapolation weighs the runs by A = 1 + 2/0.4 = 6, so
# the settle part is 15 % of the target
SETTLE_SHARE = 40.0
SETTLE_MIN = 3e-5
FLOAT_FLOOR = 1e-5
LADDER_FILE = "target.json"
RESULT = "target-result.json"
LADDER_CSV = "ladder.csv"
CHECKPOINT = "chain.ckpt"
GRID_FOLDER = "m%03d"


class TargetError(ValueError):
    pass


def parse_target(text):
    """"1%" or "0.01" -> 0.01; between 1e-5 and 0.5."""
    t = str(text).strip()
    try:
        v = float(t[:-1]) / 100.0 if t.endswith("%") else float(t)
    except ValueError:
        raise TargetError("--target %r: give the accuracy as a percentage "
                          "(1%%) or a fraction (0.01)" % text)
    if not 1e-5 <= v <= 0.5:
        raise TargetError("--target %r: give an accuracy from 0.001%% to 50%%"
                          % text)
    return v


def layer_thickness(ra, pr):
    """The thinnest wall layer over the cavity height."""
    return float(ra) ** -0.25 * min(1.0, float(pr)) ** 0.25


def first_grid(ra, pr, spacings=LAYER_SPACINGS):
    return max(M_MIN, int(math.ceil(1.0 + spacings / layer_thickness(ra, pr))))


def next_grid(m, ratio=RATIO):
    return max(m + 1, int(round(1.0 + (m - 1.0) * ratio)))


def settle_tolerance(target):
    return max(SETTLE_MIN, target / SETTLE_SHARE)


def mach_error(mach):
    """The Tau_T study's largest move of Nu at this Mach number (linear
    between the Mach numbers measured; beyond them the last, grown as the
    square)."""
    pts = nanofluid.STUDY_ERROR
    if mach <= pts[0][0]:
        return pts[0][1]
    for (a, ea), (b, eb) in zip(pts, pts[1:]):
        if mach <= b:
            return ea + (eb - ea) * (mach - a) / (b - a)
    b, eb = pts[-1]
    return eb * (mach / b) ** 2


def weights(res, hs):
    """The weights with which the extrapolated Nu combines the grids'
    values (finest first), for the result's form."""
    hs = sorted(hs)
    form, q = res.get("form"), res.get("p_used")
    if not form:
        return [1.0]
    if res.get("n_grids", 3) == 3 and "+" not in form:
        d = math.expm1(q * math.log(hs[1] / hs[0]))
        return [1.0 + 1.0 / d, -1.0 / d]
    import numpy as np
    h = np.asarray(hs, float)
    hn = h / h.max()
    cols = [np.ones_like(h)] + [hn ** e for e in gci.form_exponents(form, q)]
    a = np.column_stack(cols)
    w = (1.0 / h) / np.sum(1.0 / h)
    pinv = np.linalg.pinv(a * np.sqrt(w)[:, None]) * np.sqrt(w)[None, :]
    return [float(x) for x in pinv[0]]


def budget(res, hs, target, settle, noise=FLOAT_FLOOR, compressibility=0.0):
    """The error budget of a grid study's answer, relative to Nu: a dict of
    the parts, their total, the amplification A and whether the target is
    met."""
    amp = sum(abs(x) for x in weights(res, hs)) if res.get("form") else 1.0
    nu = abs(res.get("f_ext", math.nan))
    disc = res.get("band", math.nan) / nu if nu else math.nan
    parts = {"discretisation": disc, "settle": amp * settle,
             "float": amp * noise, "compressibility": compressibility}
    total = sum(parts.values())
    return {"parts": parts, "total": total, "amplification": amp,
            "met": res.get("status") == "converged" and total <= target}


def plan(case, target, spacings=LAYER_SPACINGS, ratio=RATIO):
    """The first grid and the settle tolerance of a case (a dict of the
    case table)."""
    return {"m1": first_grid(case["Ra"], case["Pr"], spacings),
            "ratio": ratio, "settle": settle_tolerance(target)}


# -- the runner --------------------------------------------------------------


def _grid_case(ladder, m):
    """The case table row of grid m: the width from the aspect ratio between
    the walls; Tau_T held, or chosen for the held U_Ref."""
    n = max(4, int(round(ladder["aspect"] * (m - 1.0) + 1.0)))
    tau = ladder["Tau_T"]
    if ladder.get("hold") == "mach":
        alpha = ladder["U_Ref"] * m / math.sqrt(rayleigh.to_solver(ladder["Ra"], m) * ladder["Pr"])
        tau = float("%.6g" % (0.5 + 3.0 * alpha))
    c = {k: ladder[k] for k in ("Pr", "Ra", "T_Hot", "T_Cold", "T_Init")}
    c.update(name="%s_m%03d" % (ladder["name"], m), n=n, m=m, Tau_T=tau)
    return c


def _checkpoint_every(case, ladder):
    """About a twentieth of the steps the run is expected to take, so the
    next grid starts from a state near the end of this one."""
    steps, _ = nanofluid.expected_run(case["n"], case["m"], case["Tau_T"], case["Ra"])
    return int(min(1000000, max(50, 50 * round(steps / 20.0 / 50.0))))


def _run_grid(ladder, folder, case, start_from, cpu_left):
    """Runs one grid in ``folder``; returns its record."""
    sweep.prepare_case(folder, case)
    for stale in (CHECKPOINT, CHECKPOINT + ".prev", CHECKPOINT + ".tmp"):
        if os.path.exists(os.path.join(folder, stale)):
            os.remove(os.path.join(folder, stale))
    opts = [ladder["solver"]] + sweep.solver_options((ladder["settle"], None), ladder["threads"])
    opts += list(ladder.get("scheme_args", []))
    opts += ["--checkpoint", CHECKPOINT, "--checkpoint-every",
             "%d" % _checkpoint_every(case, ladder)]
    if start_from:
        opts += ["--start-from", start_from]
    limit = None
    if cpu_left is not None:
        limit = max(1, int(math.ceil(cpu_left)))

    def cap():
        if limit is not None:
            resource.setrlimit(resource.RLIMIT_CPU, (limit, limit + 10))

    with open(os.path.join(folder, "command.txt"), "w") as fh:
        fh.write(" ".join(shlex.quote(a) for a in opts) + "\n")
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.time()
    with open(os.path.join(folder, sweep.CONSOLE_IN)) as fin, \
            open(os.path.join(folder, sweep.CONSOLE_OUT), "w") as fout, \
            open(os.path.join(folder, sweep.CONSOLE_ERR), "w") as ferr:
        try:
            rc = subprocess.call(opts, cwd=folder, stdin=fin, stdout=fout,
                                 stderr=ferr, preexec_fn=cap)
        except OSError as exc:
            ferr.write("cannot start the solver %s: %s\n" % (ladder["solver"], exc))
            rc = 127
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    with open(os.path.join(folder, sweep.CONSOLE_ERR), errors="replace") as fh:
        err = fh.read()
    stop, step, note = sweep.end_note(err)
    why = []
    nu = grid_study.case_nusselt(folder, why) if rc == 0 else math.nan
    last = err.strip().splitlines()[-1] if err.strip() else ""
    return {"m": case["m"], "n": case["n"], "Tau_T": case["Tau_T"],
            "Mach": nanofluid.lattice_for(case["Tau_T"], case["Pr"], case["Ra"],
                                          case["m"])["Mach"],
            "exit": rc, "cpu_s": cpu, "wall_s": time.time() - t0,
            "steps": step, "stop": stop or "", "Nu": nu,
            "chained": bool(start_from),
            "message": "; ".join(why) or (last if rc else (note or ""))}


def _limit_reason(ladder, done, cpu_spent):
    """Why no further grid runs (None while one may)."""
    if len(done) >= ladder["max_grids"]:
        return "limit: %d grids (--max-grids)" % ladder["max_grids"]
    if ladder.get("max_cpu") is None:
        return None
    nxt = next_grid(done[-1]["m"], ladder["ratio"])
    # the cost of a grid grows as m^k: k from the last two grids, 2 to 5
    k = 4.0
    if len(done) >= 2 and done[-1]["cpu_s"] > 0 and done[-2]["cpu_s"] > 0:
        k = math.log(done[-1]["cpu_s"] / done[-2]["cpu_s"]) / \
            math.log((done[-1]["m"] - 1.0) / (done[-2]["m"] - 1.0))
        k = min(5.0, max(2.0, k))
    expect = done[-1]["cpu_s"] * ((nxt - 1.0) / (done[-1]["m"] - 1.0)) ** k
    if cpu_spent + expect > ladder["max_cpu"]:
        return ("limit: CPU time (--max-cpu %g s): %.1f s spent, grid %d "
                "expected to take %.1f s more" % (ladder["max_cpu"], cpu_spent, nxt, expect))
    return None


def analyse(ladder, done):
    """The grid study and budget of the grids done (a dict)."""
    good = [g for g in done if g["exit"] == 0 and g["Nu"] == g["Nu"]]
    out = {"grids": [g["m"] for g in done], "status": "fewer than three grids",
           "met": False}
    if len(good) < 3:
        return out
    ms, nus = [g["m"] for g in good], [g["Nu"] for g in good]
    res = grid_study.safe_study(ms, nus, ladder["order"])
    hs = [gci.spacing(m) for m in ms]
    b = budget(res, hs, ladder["target"], ladder["settle"], ladder.get("noise", FLOAT_FLOOR),
               ladder.get("compressibility", 0.0))
    out.update(status=res["status"], flags=res["flags"], form=res["form"],
               p=res["p"], p_used=res["p_used"], fs=res["fs"], Nu=res["f_ext"],
               band=res["band"], gci=res["gci"], s=res["s"],
               fits=res.get("fits", {}), budget=b["parts"], total=b["total"],
               amplification=b["amplification"], met=b["met"],
               U_total=b["total"] * abs(res["f_ext"]))
    return out


def run_ladder(folder, ladder, say=print):
    """Runs (or goes on with) the ladder of the case in ``folder``; returns
    the result dict, also written to RESULT."""
    state = _load(os.path.join(folder, RESULT)) or {}
    done = [g for g in state.get("done", []) if g["exit"] == 0]
    m = done[-1]["m"] if done else ladder["m1"]
    if done:
        m = next_grid(m, ladder["ratio"])
    reason = None
    while True:
        cpu_spent = sum(g["cpu_s"] for g in done)
        if done:
            result = analyse(ladder, done)
            if result["met"]:
                reason = "met"
                break
            reason = _limit_reason(ladder, done, cpu_spent)
            if reason:
                break
        gfolder = os.path.join(folder, GRID_FOLDER % m)
        prev = os.path.join("..", GRID_FOLDER % done[-1]["m"], CHECKPOINT) if done else None
        if prev and not os.path.exists(os.path.join(folder, prev[3:])):
            say("grid %d: no checkpoint of grid %d to start from; from rest"
                % (m, done[-1]["m"]))
            prev = None
        left = None if ladder.get("max_cpu") is None else ladder["max_cpu"] - cpu_spent
        rec = _run_grid(ladder, gfolder, _grid_case(ladder, m), prev, left)
        done.append(rec)
        say("grid %d x %d: Nu %.6g, %s at step %s, %.1f s CPU%s"
            % (rec["n"], rec["m"], rec["Nu"], rec["stop"] or "failed",
               rec["steps"] if rec["steps"] is not None else "-", rec["cpu_s"],
               ", from grid %d" % done[-2]["m"] if rec["chained"] else ""))
        _save(folder, ladder, done, None)
        if rec["exit"]:
            limit = rec["exit"] in (-24, 128 + 24, 152) or "CPU" in rec["message"]
            reason = ("limit: CPU time (--max-cpu %g s): grid %d was stopped"
                      % (ladder["max_cpu"], m) if limit and ladder.get("max_cpu")
                      else "grid %d failed: %s" % (m, rec["message"]))
            state_failed = done.pop()
            _save(folder, ladder, done, reason, state_failed)
            return _load(os.path.join(folder, RESULT))
        result = analyse(ladder, done)
        if result["met"]:
            reason = "met"
            break
        m = next_grid(m, ladder["ratio"])
    return _save(folder, ladder, done, reason)


def _save(folder, ladder, done, reason, failed=None):
    result = analyse(ladder, done)
    result.update(name=ladder["name"], done=done, reason=reason, failed=failed,
                  cpu_s=sum(g["cpu_s"] for g in done + ([failed] if failed else [])),
                  steps=sum(g["steps"] or 0 for g in done),
                  target=ladder["target"], settle=ladder["settle"],
                  scheme=ladder.get("scheme", "copy"), order=ladder["order"],
                  ratio=ladder["ratio"], m1=ladder["m1"], hold=ladder.get("hold", "tau"))
    tmp = os.path.join(folder, RESULT + ".tmp")
    with open(tmp, "w") as fh:
        json.dump(result, fh, indent=1, default=_nan_safe)
        fh.write("\n")
    os.replace(tmp, os.path.join(folder, RESULT))
    with open(os.path.join(folder, LADDER_CSV), "w") as fh:
        fh.write("m,n,Tau_T,Mach,Nu_2nd_order,steps,stop,cpu_s,wall_s,chained,exit\n")
        for g in done + ([failed] if failed else []):
            fh.write("%d,%d,%r,%.4g,%.7g,%s,%s,%.2f,%.1f,%s,%d\n"
                     % (g["m"], g["n"], g["Tau_T"], g["Mach"], g["Nu"],
                        "" if g["steps"] is None else g["steps"], g["stop"],
                        g["cpu_s"], g["wall_s"], "yes" if g["chained"] else "no",
                        g["exit"]))
    return result


def _nan_safe(x):
    return float(x)  # numpy scalars


def _load(path):
    try:
        with open(path) as fh:
            return json.load(fh)
    except (OSError, ValueError):
        return None


def closing_note(result):
    """The runner's last lines on standard error."""
    if result.get("Nu") is None or result.get("Nu") != result.get("Nu"):
        return ("note: target: no answer (%s); grids %s"
                % (result.get("reason") or result.get("status"),
                   ", ".join("%d" % m for m in result["grids"]) or "none"))
    head = "target met" if result["met"] else "target not met"
    return ("note: %s: Nu = %.6g +- %.3g (%.3g %% of it, all parts; the grids' "
            "band %.3g %%), form %s, status %s, grids %s, %.1f s CPU, scheme %s%s"
            % (head, result["Nu"], result["U_total"], 100 * result["total"],
               100 * result["budget"]["discretisation"], result["form"] or "none",
               result["status"], ", ".join("%d" % m for m in result["grids"]),
               result["cpu_s"], result["scheme"],
               "" if result["met"] else "; " + (result.get("reason") or "")))


def main(argv=None):
    """python -m cavity.target [--checkpoint F --checkpoint-every N ...]:
    run the ladder of the case folder this is started in. The back end's
    options (a Slurm task adds --checkpoint) are taken and passed over: the
    runner keeps a checkpoint a grid, and goes on from the grids done."""
    folder = os.getcwd()
    ladder = _load(os.path.join(folder, LADDER_FILE))
    if ladder is None:
        sys.stderr.write("target error: cannot read %s in %s; prepare the "
                         "folder with cavity-sweep --target\n" % (LADDER_FILE, folder))
        return 1
    print("ladder of %s: first grid %d, ratio %g, target %g %%, settle %g, "
          "scheme %s (formal order %g)" % (ladder["name"], ladder["m1"], ladder["ratio"],
                                           100 * ladder["target"], ladder["settle"],
                                           ladder.get("scheme", "copy"), ladder["order"]))
    sys.stdout.flush()

    def say(line):
        print(line)
        sys.stdout.flush()

    result = run_ladder(folder, ladder, say)
    finest = [g for g in result["done"] if g["exit"] == 0]
    if finest:
        src = os.path.join(folder, GRID_FOLDER % finest[-1]["m"])
        for name in records.RESULT_FILES:
            if os.path.exists(os.path.join(src, name)):
                shutil.copyfile(os.path.join(src, name), os.path.join(folder, name))
        with open(os.path.join(src, sweep.CONSOLE_ERR), errors="replace") as fh:
            wall = [ln for ln in fh.read().splitlines()
                    if ln.startswith("note: wall-corrected")]
    else:
        wall = []
    sys.stderr.write(closing_note(result) + "\n")
    for line in wall[-1:]:
        sys.stderr.write(line + "\n")
    return 0 if result.get("Nu") == result.get("Nu") and result.get("Nu") is not None else 1


def write_ladder(folder, case, target, args):
    """The case folder of a ladder: target.json and the (unused) console
    answers the back end feeds every job."""
    os.makedirs(folder, exist_ok=True)
    for name in (RESULT, LADDER_CSV) + records.RESULT_FILES + sweep.RUN_FILES:
        if os.path.exists(os.path.join(folder, name)) and not args.get("resume"):
            os.remove(os.path.join(folder, name))
    p = plan(case, target, args.get("layer_spacings", LAYER_SPACINGS),
             args.get("ratio", RATIO))
    ladder = {"name": case["name"], "aspect": (case["n"] - 1.0) / (case["m"] - 1.0),
            "target": target, "solver": args["solver"], "threads": args.get("threads", 1),
            "max_grids": args.get("max_grids", MAX_GRIDS), "max_cpu": args.get("max_cpu"),
            "order": args.get("order", gci.FORMAL_ORDER),
            "scheme": args.get("scheme") or "copy",
            "scheme_args": shlex.split(args.get("scheme_args") or ""),
            "hold": args.get("hold", "tau"), "noise": FLOAT_FLOOR}
    ladder.update(p)
    if args.get("settle"):
        ladder["settle"] = args["settle"]
    for k in ("Pr", "Ra", "T_Hot", "T_Cold", "T_Init", "Tau_T"):
        ladder[k] = case[k]
    lat = nanofluid.lattice_for(case["Tau_T"], case["Pr"], case["Ra"], ladder["m1"])
    ladder["compressibility"] = 0.0
    if ladder["hold"] == "mach":
        ladder["U_Ref"] = lat["U_Ref"]
        ladder["compressibility"] = mach_error(lat["Mach"])
    with open(os.path.join(folder, LADDER_FILE), "w") as fh:
        json.dump(ladder, fh, indent=1)
        fh.write("\n")
    with open(os.path.join(folder, sweep.CONSOLE_IN), "w") as fh:
        fh.write("\n")
    return ladder


def choose_tau(case, target, mach, spacings=LAYER_SPACINGS):
    """Tau_T by the accuracy policy for the ladder's first grid, where U_Ref
    is largest (cavity.nanofluid.choose_tau_t)."""
    m1 = first_grid(case["Ra"], case["Pr"], spacings)
    return nanofluid.choose_tau_t(case["Pr"], case["Ra"], m1, mach=mach)[0]


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
