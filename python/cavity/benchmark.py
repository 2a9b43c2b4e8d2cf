"""Helpers for comparing a run with the classical square-cavity benchmark.

Reference: G. de Vahl Davis, "Natural convection of air in a square cavity:
a bench mark numerical solution", Int. J. Numer. Methods Fluids 3 (1983)
249-264. Pr = 0.71; velocities in units of alpha/L, positions in units of L.
"""

import math

import numpy as np

from . import records

BENCHMARK_PR = 0.71

# Ra -> published values.  nu: mean Nusselt number on the hot wall (the
# paper's Nu_0); u_max on the vertical mid-line at height y; v_max on the
# horizontal mid-line at distance x from the hot wall; nu_max and nu_min:
# the largest and smallest local Nusselt number on the hot wall, at the
# heights y_nu_max and y_nu_min.
DE_VAHL_DAVIS = {
    1e3: {"nu": 1.117, "u_max": 3.649, "y": 0.813, "v_max": 3.697, "x": 0.178,
          "nu_max": 1.505, "y_nu_max": 0.092, "nu_min": 0.692, "y_nu_min": 1.0},
    1e4: {"nu": 2.238, "u_max": 16.178, "y": 0.823, "v_max": 19.617, "x": 0.119,
          "nu_max": 3.528, "y_nu_max": 0.143, "nu_min": 0.586, "y_nu_min": 1.0},
    1e5: {"nu": 4.509, "u_max": 34.73, "y": 0.855, "v_max": 68.59, "x": 0.066,
          "nu_max": 7.717, "y_nu_max": 0.081, "nu_min": 0.729, "y_nu_min": 1.0},
    1e6: {"nu": 8.817, "u_max": 64.63, "y": 0.850, "v_max": 219.36, "x": 0.0379,
          "nu_max": 17.925, "y_nu_max": 0.0378, "nu_min": 0.989, "y_nu_min": 1.0},
}


def benchmark_case(pr, ra, n=None, m=None, rel=1e-3):
    """The published values when (Pr, Ra) is one of the standard cases on a
    square grid, else None."""
    if n is not None and m is not None and n != m:
        return None
    if abs(pr - BENCHMARK_PR) > rel * BENCHMARK_PR:
        return None
    for key, vals in DE_VAHL_DAVIS.items():
        if abs(ra - key) <= rel * key:
            return dict(vals, ra=key)
    return None


def velocity_scale(ra, pr):
    """Factor from the file velocities (U / U_Ref) to units of alpha/L.

    U_Ref = sqrt(Ra * alpha / nu) * nu / m = sqrt(Ra * Pr) * alpha / m, so a
    lattice velocity U in units of alpha / m is U / U_Ref * sqrt(Ra * Pr).
    """
    if ra < 0 or pr < 0:
        raise ValueError("Ra and Pr must not be negative")
    return math.sqrt(ra * pr)


def to_alpha_units(u_file, ra, pr):
    return np.asarray(u_file, dtype=float) * velocity_scale(ra, pr)


def parabolic_peak(x, y):
    """Maximum of sampled data, refined by the parabola through the largest
    sample and its two neighbours.

    ``x`` must be strictly monotonic (spacing may vary). Returns
    (position, value). A maximum at either end sample is returned as it is,
    since there is no neighbour on one side to fit.
    """
    x = np.asarray(x, dtype=float)
    y = np.asarray(y, dtype=float)
    if x.shape != y.shape or x.ndim != 1 or x.size == 0:
        raise ValueError("x and y must be 1-D arrays of one length")
    dx = np.diff(x)
    if not (np.all(dx > 0) or np.all(dx < 0)):
        raise ValueError("x must be strictly monotonic")
    k = int(np.argmax(y))
    if k == 0 or k == x.size - 1:
        return float(x[k]), float(y[k])
    x0, x1, x2 = x[k - 1], x[k], x[k + 1]
    y0, y1, y2 = y[k - 1], y[k], y[k + 1]
    # Newton form: y = y1 + d1 (x - x1) + c (x - x1)(x - x0)
    d1 = (y1 - y0) / (x1 - x0)
    d2 = (y2 - y1) / (x2 - x1)
    c = (d2 - d1) / (x2 - x0)
    if c >= 0:  # flat or not concave: nothing to refine
        return float(x1), float(y1)
    # derivative d1 + c (2x - x1 - x0) = 0
    xp = 0.5 * (x1 + x0) - d1 / (2.0 * c)
    yp = y1 + d1 * (xp - x1) + c * (xp - x1) * (xp - x0)
    return float(xp), float(yp)


def parabolic_trough(x, y):
    """Minimum counterpart of parabolic_peak."""
    xp, yp = parabolic_peak(x, -np.asarray(y, dtype=float))
    return xp, -yp


def to_wall_frame(pos, count, wall_at):
    """Positions written as index / (count - 1) mapped to the frame whose
    walls lie ``wall_at`` spacings inside the end nodes (0 and 1 there)."""
    cells = count - 1.0
    return (np.asarray(pos, dtype=float) * cells - wall_at) / (cells - 2.0 * wall_at)


def profile_maxima(folder, ra=None, pr=None, wall_at=0.0):
    """u_max on the vertical mid-line and v_max on the horizontal mid-line
    of a run folder, in units of alpha/L, each with its interpolated
    position. Ra and Pr default to the folder's parameter file (the Ra the
    solver was given). Positions are as the files write them (j/m, i/n)
    and L is the lattice height m, unless ``wall_at`` puts the walls that
    many spacings inside the end nodes: positions are then measured between
    those walls and L is the height between them, m - 2 wall_at (see
    hot_wall_nusselt)."""
    if ra is None or pr is None:
        p = records.read_parameters(folder)
        ra = p["Ra"] if ra is None else ra
        pr = p["Pr"] if pr is None else pr
    prof = records.read_midlines(folder)
    y, u = prof["u"]
    x, v = prof["v"]
    m = y.size - 1
    scale = (m - 2.0 * wall_at) / m
    if wall_at:
        y = to_wall_frame(y, y.size, wall_at)
        x = to_wall_frame(x, x.size, wall_at)
    yu, umax = parabolic_peak(y, to_alpha_units(u, ra, pr) * scale)
    xv, vmax = parabolic_peak(x, to_alpha_units(v, ra, pr) * scale)
    return {"u_max": umax, "y": yu, "v_max": vmax, "x": xv}


def hot_wall_nusselt(result, t_hot, t_cold, wall_at=0.5):
    """Mean hot-wall Nusselt number of a Result, second order in space.

    The wall carrying t_hot is taken ``wall_at`` lattice spacings from node
    column 0, and likewise the cold wall from column n and the bottom and
    top walls from rows 0 and m. The default 0.5 is where the solver's
    walls act: its temperature held on the wall nodes extrapolates from the
    fluid columns to T_Hot half a spacing out, not at column 0 (checked on
    a 16 x 16 run: T = 1, 0.964, 0.892, 0.821 on columns 0 to 3). Give 0 to
    put the wall on the nodes.

    The wall gradient is the derivative at the wall of the parabola through
    the wall value and the temperatures of columns 1 and 2; the local value
    is scaled by the cavity width (distance between the hot and cold walls,
    n - 2 wall_at) over T_Hot - T_Cold and averaged over the wall's height
    (m - 2 wall_at) with the trapezoid rule, the local values at the wall
    ends interpolated linearly between rows.

    Returns (mean Nu, local Nu per node row).
    """
    dt = float(t_hot) - float(t_cold)
    if dt == 0:
        raise ValueError("T_Hot equals T_Cold: no Nusselt number")
    if result.n < 3 or result.m < 2:
        raise ValueError("need at least 4 node columns and 3 rows")
    if not 0.0 <= wall_at < 1.0:
        raise ValueError("wall_at must be in [0, 1)")
    T = result.T
    # positions in lattice spacings
    s0, s1, s2 = float(wall_at), 1.0, 2.0
    t0 = float(t_hot)
    t1, t2 = T[:, 1], T[:, 2]
    # derivative of the Lagrange parabola at s0
    dT = (t0 * ((s0 - s1) + (s0 - s2)) / ((s0 - s1) * (s0 - s2))
          + t1 * (s0 - s2) / ((s1 - s0) * (s1 - s2))
          + t2 * (s0 - s1) / ((s2 - s0) * (s2 - s1)))
    width = result.n - 2.0 * wall_at
    local = -dT * width / dt
    return wall_mean(local, wall_at), local


def wall_mean(local, wall_at=0.5):
    """Mean over the wall height of values given on the node rows 0..m: the
    trapezoid rule over [wall_at, m - wall_at], the values at the two ends
    interpolated linearly between rows."""
    local = np.asarray(local, dtype=float)
    m = local.size - 1
    lo, hi = float(wall_at), m - float(wall_at)
    rows = np.arange(m + 1, dtype=float)
    inner = (rows > lo) & (rows < hi)
    ys = np.concatenate(([lo], rows[inner], [hi]))
    vals = np.concatenate(([np.interp(lo, rows, local)], local[inner],
                           [np.interp(hi, rows, local)]))
    return float(np.trapz(vals, ys) / (hi - lo))
