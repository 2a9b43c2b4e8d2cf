"""Grid studies: the discretisation uncertainty of a result from three or
more grids, by Roache's Grid Convergence Index in the three-grid form of
ASME V&V 20 (Celik et al. 2008, J. Fluids Eng. 130, 078001).

Grid 1 is the finest, grid 3 the coarsest of the three; h is the spacing
(here the cavity height over the height between the walls, 1/(m - 1)).
With r21 = h2/h1, r32 = h3/h2 (either may differ from the other),
e21 = f2 - f1 and e32 = f3 - f2, s = sign(e32/e21):

    p   = |ln|e32/e21| + q(p)| / ln r21,   q(p) = ln((r21^p - s)/(r32^p - s))

solved by fixed-point iteration from q = 0; then

    f_ext    = (r21^p f1 - f2) / (r21^p - 1)
    e_a      = |(f1 - f2) / f1|              (approximate relative error)
    e_ext    = |(f_ext - f1) / f_ext|        (extrapolated relative error)
    GCI_fine = 1.25 e_a / (r21^p - 1)

and the coarse pair's GCI_32 = 1.25 |(f2 - f3)/f2| / (r32^p - 1); in the
asymptotic range GCI_32 / (r21^p GCI_fine) is near 1.
"""

import math

SAFETY = 1.25
FORMAL_ORDER = 2.0
# the band of observed orders taken as the formal order 2 (Celik's and
# Roache's judgement: an order far from the scheme's says the grids are not
# yet in the asymptotic range, and the GCI then is no 95 % band)
ORDER_BAND = (1.0, 3.0)
RATIO_BAND = 0.1  # |GCI_32 / (r21^p GCI_fine) - 1| at most this


def spacing(m, wall_at=0.5):
    """Relative grid spacing of an m-high grid: one over the spacings
    between the bottom and top walls."""
    return 1.0 / (m - 2.0 * wall_at)


def apparent_order(r21, r32, e21, e32, tol=1e-12, iterations=200):
    """(p, converged) by the fixed-point iteration with the sign term."""
    s = 1.0 if e32 / e21 > 0 else -1.0
    base = math.log(abs(e32 / e21))
    lr = math.log(r21)
    p = abs(base) / lr
    for _ in range(iterations):
        num, den = r21 ** p - s, r32 ** p - s
        if num <= 0 or den <= 0:
            return p, False
        nxt = abs(base + math.log(num / den)) / lr
        if abs(nxt - p) <= tol * max(1.0, p):
            return nxt, True
        p = nxt
    return p, False


def three_grid(h, f):
    """The GCI of three results ``f`` on spacings ``h`` (any order; sorted
    here, finest first). Returns a dict: h1..h3, f1..f3, r21, r32, p,
    f_ext, e_a, e_ext, gci (GCI_fine, relative), gci_32, ratio
    (GCI_32 / (r21^p GCI_fine)), band (gci |f1|, absolute), oscillatory,
    flags (reasons the grids look outside the asymptotic range; empty when
    none)."""
    if len(h) != 3 or len(f) != 3:
        raise ValueError("need three spacings and three results")
    pairs = sorted(zip((float(x) for x in h), (float(x) for x in f)))
    (h1, f1), (h2, f2), (h3, f3) = pairs
    if not 0 < h1 < h2 < h3:
        raise ValueError("the spacings must be positive and differ")
    r21, r32 = h2 / h1, h3 / h2
    e21, e32 = f2 - f1, f3 - f2
    out = {"h1": h1, "h2": h2, "h3": h3, "f1": f1, "f2": f2, "f3": f3,
           "r21": r21, "r32": r32, "flags": []}
    nan = math.nan
    if e21 == 0 or e32 == 0:
        out.update(p=nan, f_ext=nan, e_a=abs(e21 / f1) if f1 else nan,
                   e_ext=nan, gci=nan, gci_32=nan, ratio=nan, band=nan,
                   oscillatory=False)
        out["flags"].append("two grids give the same value: no order")
        return out
    p, converged = apparent_order(r21, r32, e21, e32)
    out["oscillatory"] = e32 / e21 < 0
    rp21, rp32 = r21 ** p, r32 ** p
    f_ext = (rp21 * f1 - f2) / (rp21 - 1.0)
    e_a = abs((f1 - f2) / f1)
    gci = SAFETY * e_a / (rp21 - 1.0)
    gci_32 = SAFETY * abs((f2 - f3) / f2) / (rp32 - 1.0)
    out.update(p=p, f_ext=f_ext, e_a=e_a, e_ext=abs((f_ext - f1) / f_ext),
               gci=gci, gci_32=gci_32, ratio=gci_32 / (rp21 * gci),
               band=gci * abs(f1))
    if out["oscillatory"]:
        out["flags"].append("oscillatory convergence")
    if not converged:
        out["flags"].append("the order iteration did not converge")
    if not ORDER_BAND[0] <= p <= ORDER_BAND[1]:
        out["flags"].append("order %.2f far from %g" % (p, FORMAL_ORDER))
    if abs(out["ratio"] - 1.0) > RATIO_BAND:
        out["flags"].append("GCI_32 / (r21^p GCI_fine) = %.3f" % out["ratio"])
    return out


def study(ms, values, wall_at=0.5):
    """Grid study of one case: ``values`` on the grid heights ``ms``
    (three or more; the three finest give the GCI). Returns the three_grid
    dict with ``grids`` [(m, value)] coarse to fine added, and a flag when
    a grid's value is missing."""
    pts = sorted((int(m), float(v)) for m, v in zip(ms, values))
    good = [(m, v) for m, v in pts if v == v]
    if len(good) < 3:
        out = {"grids": pts, "p": math.nan, "f_ext": math.nan,
               "gci": math.nan, "band": math.nan, "e_a": math.nan,
               "e_ext": math.nan, "ratio": math.nan, "gci_32": math.nan,
               "r21": math.nan, "r32": math.nan, "oscillatory": False,
               "flags": ["fewer than three grids with a result"]}
        return out
    fine = good[-3:]
    out = three_grid([spacing(m, wall_at) for m, _ in fine],
                     [v for _, v in fine])
    out["grids"] = pts
    if len(good) < len(pts):
        out["flags"].append("%d grid(s) without a result"
                            % (len(pts) - len(good)))
    return out


def in_band(res, value):
    """Whether ``value`` lies within the GCI band around the extrapolated
    result: |value - f_ext| <= GCI_fine |f1|."""
    return abs(float(value) - res["f_ext"]) <= res["band"]
