"""The progress reports a run printed on the console, and what they say
about how far from steady the run was when it ended."""

import math
import re

import numpy as np

REPORT_INTERVAL = 50

_NU_RE = re.compile(r"Step==\s*(-?\d+)\s+Nu On Hot Wall==\s*(\S+)")
_RES_RE = re.compile(r"Residual of Th==\s*(\S+)\s+Residual of Flow==\s*(\S+)")


def read_reports(text):
    """(steps, Nu, temperature residual, flow residual) as arrays, one entry
    a progress report. A residual line lost at the end (a run ended between
    the two lines) leaves the residual arrays one shorter."""
    steps, nus = [], []
    for mt in _NU_RE.finditer(text):
        try:
            nus.append(float(mt.group(2)))
        except ValueError:
            break
        steps.append(int(mt.group(1)) * REPORT_INTERVAL)
    res = [(float(a), float(b)) for a, b in _RES_RE.findall(text)]
    rt = np.array([r[0] for r in res], dtype=float)
    rf = np.array([r[1] for r in res], dtype=float)
    return np.array(steps, dtype=int), np.array(nus, dtype=float), rt, rf


def read_console(folder, name="console.out"):
    import os
    with open(os.path.join(folder, name), errors="replace") as fh:
        return read_reports(fh.read())


def tail_fit(steps, values, fraction=0.4, taus=None):
    """Fit values = a + b exp(-step / tau) to the last ``fraction`` of a
    history and return a dict: ``limit`` (a, the value the run was heading
    for), ``tau`` (steps), ``remaining`` (a minus the last value),
    ``last``, ``drifting`` (True when the best tau is the longest tried:
    the tail is still a straight line and the limit is a lower bound on the
    distance). With too few points, or a tail flat within rounding, the
    limit is the last value and tau is nan.

    tau is searched on a logarithmic grid from 1/30 to 50 times the tail's
    length; a and b come from linear least squares for
    each tau, and the tau with the smallest residual wins.
    """
    steps = np.asarray(steps, dtype=float)
    values = np.asarray(values, dtype=float)
    if steps.shape != values.shape or steps.ndim != 1:
        raise ValueError("steps and values must be 1-D arrays of one length")
    out = {"last": float(values[-1]) if values.size else math.nan,
           "limit": float(values[-1]) if values.size else math.nan,
           "tau": math.nan, "remaining": 0.0, "drifting": False,
           "flat": False, "scatter": 0.0}
    k = int(round(values.size * fraction))
    if k < 6:
        return out
    s, v = steps[-k:], values[-k:]
    span = s[-1] - s[0]
    if span <= 0 or np.ptp(v) <= 4e-7 * max(abs(v[-1]), 1e-30):
        return out
    # a tail whose trend is lost in its scatter (rounding noise around a
    # steady state) has nothing to extrapolate
    lin = np.polyfit(s - s[-1], v, 1)
    scatter = float(np.std(v - np.polyval(lin, s - s[-1])))
    out["scatter"] = scatter
    if abs(lin[0]) * span <= 3.0 * scatter:
        out["limit"] = float(np.mean(v))
        out["flat"] = True
        return out
    if taus is None:
        taus = np.geomspace(span / 30.0, 50.0 * span, 200)
    x = s - s[-1]

    def fit(tau):
        e = np.exp(-x / tau)  # 1 at the last point, growing backwards
        a = np.column_stack([np.ones_like(e), e])
        coef, _, _, _ = np.linalg.lstsq(a, v, rcond=None)
        return float(np.sum((a @ coef - v) ** 2)), tau, coef

    best = min((fit(t) for t in taus), key=lambda b: b[0])
    # refine between the neighbours of the best grid point
    k = int(np.argmin(np.abs(np.asarray(taus) - best[1])))
    lo_t = taus[max(k - 1, 0)]
    hi_t = taus[min(k + 1, len(taus) - 1)]
    fine = min((fit(t) for t in np.geomspace(lo_t, hi_t, 101)),
               key=lambda b: b[0])
    if fine[0] <= best[0]:
        best = fine
    _, tau, (lim, amp) = best
    out.update(limit=float(lim), tau=float(tau), remaining=float(-amp),
               drifting=bool(tau >= 0.99 * taus[-1]))
    return out
