"""Grid studies: the discretisation uncertainty of a result from three or
more grids, fitted with the error form the scheme has.

Grid 1 is the finest; h is the spacing (here 1/(m - 1), the cavity height
over the spacings between the walls). Every result carries a ``status``
and never raises on its numbers: close, noisy, oscillatory or diverging
grids give a flagged result, not a traceback.

Error forms (``form``)::

    "h^1", "h^2"  one term of fixed order, f = f0 + a h^p (the scheme's
                  formal order: 1 for the original insulated walls, whose
                  still conducting rows add a first-order term, 2 for a
                  second-order scheme)
    "h^p"         one term of free order (three grids: Celik et al. 2008,
                  J. Fluids Eng. 130, 078001; more: least squares)
    "h+h^2"       two terms, f = f0 + a h + b h^2 (four grids or more),
                  at formal order 1; at order P the terms h^P and h^(P+1)
                  ("h^2+h^3" at order 2)

The rule that chooses the form:

- Three grids (Roache's three-grid GCI, safety factor 1.25): the observed
  order p solves e32/e21 = r21^p (r32^p - 1)/(r21^p - 1) (bisection; the
  right side rises with p from ln r32/ln r21 at p = 0, so there is one
  root or none). The form is h^p with p = min(observed, formal) (Roache:
  an observed order above the scheme's is not trusted, one below it is),
  f0 = f1 + (f1 - f2)/(r21^p - 1), and the half-width of the band
  U = 1.25 ``|f0 - f1|``.
- Four grids or more (after Eca & Hoekstra 2014, J. Comput. Phys. 262,
  104, with the formal order P): weighted least squares (weights 1/h,
  the finer grids weigh more) of h^P, h^P+h^(P+1) and h^p, the last only with
  its p from the lower end of the order band to P + 0.1; the form with
  the smallest standard deviation s (over n minus the fitted
  parameters) is taken. With D the data range (f_max - f_min)/(n - 1), e = ``|f0 - f1|``
  and d = ``|f1 - f_fit(h1)|``: U = Fs e + s + d, Fs = 1.25, where s < D and
  the free order was in its band; else Fs = 3 and U = 3 (s/D) (e + s + d)
  when s >= D ("noisy fit").

The band is f0 +- U; ``gci`` = U / ``|f1|`` (relative, as GCI_fine is). The
``status`` says how far to trust it: "converged"; "too close to resolve"
(the grids differ by less than the noise of the results: U is then three
times the largest difference, plus the noise); "oscillatory" (the
differences change sign: U = 3 times the range); "divergent" (they grow
with refinement); "order out of band" (observed order outside the band of
the formal order, ORDER_BANDS); "not asymptotic" (GCI_32 / (r21^p GCI_fine)
more than 10 % from 1); "noisy fit"; "fewer than three grids". Only
"converged" results are answers to a stated accuracy.
"""

import math

import numpy as np

SAFETY = 1.25  # Fs where the grids confirm the form
SAFETY_DOUBT = 3.0  # Fs where they do not
FORMAL_ORDER = 1.0  # the original scheme's Nu: first order from the insulated walls
# observed orders taken as that of the formal order (an order far from it says
# the grids are not in the asymptotic range, and the band is no 95 % band)
ORDER_BANDS = {1.0: (0.5, 2.5), 2.0: (1.0, 3.0)}
ORDER_BAND = ORDER_BANDS[2.0]
RATIO_BAND = 0.1  # |GCI_32 / (r21^p GCI_fine) - 1| at most this
P_MAX = 8.0  # observed orders above this are not resolved
NOISE = 1e-5  # relative noise of a settled Nu: the float floor

STATUSES = ("converged", "too close to resolve", "oscillatory", "divergent",
            "order out of band", "not asymptotic", "noisy fit",
            "fewer than three grids")


def spacing(m, wall_at=0.5):
    """Relative grid spacing of an m-high grid: one over the spacings
    between the bottom and top walls."""
    return 1.0 / (m - 2.0 * wall_at)


def order_band(formal):
    lo, hi = ORDER_BANDS.get(float(formal), (0.5 * formal, formal + 1.0))
    return lo, hi


def _rp1(r, p):
    """r^p - 1 for r > 1, p > 0, without overflow (inf) or loss near 0."""
    x = p * math.log(r)
    return math.expm1(x) if x < 700.0 else math.inf


def _div(a, b):
    return a / b if b else math.nan


def _log_g(p, lr21, lr32):
    """ln of r21^p (r32^p - 1)/(r21^p - 1), the ratio e32/e21 of a result
    f0 + C h^p on the three grids; finite for every p > 0."""
    def log_em1(x):  # ln(e^x - 1), x > 0
        return math.log(math.expm1(x)) if x < 30.0 else x + math.log1p(-math.exp(-x))
    return p * lr21 + log_em1(p * lr32) - log_em1(p * lr21)


def observed_order(r21, r32, e21, e32):
    """The order p > 0 with e32/e21 = r21^p (r32^p - 1)/(r21^p - 1), by
    bisection; 0.0 when the coarse pair's difference is too small for any
    positive order (divergent), math.inf above P_MAX, nan when the
    differences change sign or one is zero."""
    if not (e21 and e32) or (e21 > 0) != (e32 > 0):
        return math.nan
    lr21, lr32 = math.log(r21), math.log(r32)
    target = math.log(e32 / e21)
    if target <= math.log(lr32 / lr21):
        return 0.0
    if target > _log_g(P_MAX, lr21, lr32):
        return math.inf
    lo, hi = 0.0, P_MAX
    for _ in range(100):
        mid = 0.5 * (lo + hi)
        if _log_g(mid, lr21, lr32) < target:
            lo = mid
        else:
            hi = mid
    return 0.5 * (lo + hi)


def _empty(h, f, status, flag):
    nan = math.nan
    out = {"p": nan, "p_used": nan, "form": "", "fs": nan, "f_ext": nan,
           "e_a": nan, "e_ext": nan, "gci": nan, "gci_32": nan, "ratio": nan,
           "band": nan, "s": nan, "r21": nan, "r32": nan, "oscillatory": False,
           "fits": {}, "status": status, "flags": [flag]}
    for k in range(3):
        out["h%d" % (k + 1)] = h[k] if k < len(h) else nan
        out["f%d" % (k + 1)] = f[k] if k < len(f) else nan
    return out


def three_grid(h, f, order=FORMAL_ORDER, noise=NOISE):
    """The GCI of three results ``f`` on spacings ``h`` (any order; sorted
    here, finest first), for a scheme of formal order ``order``; ``noise``
    is the relative noise of each result. Returns a dict: h1..h3, f1..f3,
    r21, r32, p (observed), p_used, form, fs, f_ext, e_a, e_ext, gci
    (U / ``|f1|``), gci_32, ratio (GCI_32 / (r21^p GCI_fine)), band (U,
    absolute), s (nan: no residual), fits (f0 of each form), oscillatory,
    status and flags (reasons for a status other than "converged")."""
    if len(h) != 3 or len(f) != 3:
        raise ValueError("need three spacings and three results")
    pairs = sorted(zip((float(x) for x in h), (float(x) for x in f)))
    (h1, f1), (h2, f2), (h3, f3) = pairs
    hs, fs = [h1, h2, h3], [f1, f2, f3]
    if not all(math.isfinite(v) for v in hs + fs):
        return _empty(hs, fs, "fewer than three grids", "a result or a spacing is not finite")
    if not 0 < h1 < h2 < h3:
        raise ValueError("the spacings must be positive and differ")
    r21, r32 = h2 / h1, h3 / h2
    e21, e32 = f2 - f1, f3 - f2
    out = {"h1": h1, "h2": h2, "h3": h3, "f1": f1, "f2": f2, "f3": f3,
           "r21": r21, "r32": r32, "s": math.nan, "flags": [],
           "oscillatory": e21 * e32 < 0}
    out["e_a"] = abs(_div(e21, f1))
    p = observed_order(r21, r32, e21, e32)
    out["p"] = p
    out["fits"] = _three_grid_fits(hs, fs, r21, p)
    floor = 3.0 * noise * max(abs(f1), abs(f2), abs(f3))
    spread = max(fs) - min(fs)
    if abs(e21) <= floor:
        return _flagged(out, "too close to resolve", f1, SAFETY_DOUBT * spread + floor,
                        "the two finest grids differ by %.2g, within the "
                        "noise %.2g" % (abs(e21), floor))
    if out["oscillatory"]:
        return _flagged(out, "oscillatory", f1, SAFETY_DOUBT * spread,
                        "oscillatory convergence")
    if p == 0.0 or not e32:
        return _flagged(out, "divergent", f1, SAFETY_DOUBT * spread,
                        "the finer pair differs by %.2g, the coarser by %.2g: "
                        "no convergence" % (e21, e32))
    lo, hi = order_band(order)
    p_used = float(order) if p >= order - 1e-6 else p  # min(p, order)
    _richardson(out, p_used, SAFETY, "h^%g" % order if p_used == order else "h^p")
    out["ratio"] = _asymptotic_ratio(out, p) if p < math.inf else math.nan
    if not lo <= p <= hi:
        out["status"] = "order out of band"
        out["flags"].append("order %s far from %g" % (
            ">%g" % P_MAX if p == math.inf else "%.2f" % p, order))
        out["fs"] = SAFETY_DOUBT
        out["band"] = SAFETY_DOUBT * abs(out["f_ext"] - f1)
        out["gci"] = abs(_div(out["band"], f1))
    elif abs(out["ratio"] - 1.0) > RATIO_BAND:
        out["status"] = "not asymptotic"
        out["flags"].append("GCI_32 / (r21^p GCI_fine) = %.3f" % out["ratio"])
    else:
        out["status"] = "converged"
    return out


def _three_grid_fits(h, f, r21, p):
    """f0 of each form through three grids, for the report."""
    fits = {}
    for name, q in (("h^1", 1.0), ("h^2", 2.0), ("h^p", p)):
        if q == q and 0 < q < math.inf:
            fits[name] = f[0] + _div(f[0] - f[1], _rp1(r21, q))
    try:
        a = np.array([[1.0, x, x * x] for x in h])
        with np.errstate(all="ignore"):
            fits["h+h^2"] = float(np.linalg.solve(a, np.array(f))[0])
    except np.linalg.LinAlgError:
        pass
    return {k: v for k, v in fits.items() if v == v and abs(v) < math.inf}


def _asymptotic_ratio(out, p):
    """GCI_32 / (r21^p GCI_fine) at the observed order: f1/f2 where the
    form fits, so it says how much the grids still move the result."""
    d21, d32 = _rp1(out["r21"], p), _rp1(out["r32"], p)
    return _div(abs(_div(out["f2"] - out["f3"], out["f2"])) / d32,
                (d21 + 1.0) * abs(_div(out["f1"] - out["f2"], out["f1"])) / d21)


def _richardson(out, p, fs, form):
    f1, f2, f3 = out["f1"], out["f2"], out["f3"]
    d21, d32 = _rp1(out["r21"], p), _rp1(out["r32"], p)
    f_ext = f1 + _div(f1 - f2, d21)
    gci = fs * abs(_div(f1 - f2, f1)) / d21
    gci_32 = fs * abs(_div(f2 - f3, f2)) / d32
    out.update(p_used=p, form=form, fs=fs, f_ext=f_ext,
               e_ext=abs(_div(f_ext - f1, f_ext)), gci=gci, gci_32=gci_32,
               band=fs * abs(f_ext - f1))


def _flagged(out, status, centre, band, flag):
    """A result whose form the grids do not show: the finest value with a
    wide band."""
    out.update(status=status, p_used=math.nan, form="", fs=SAFETY_DOUBT,
               f_ext=centre, e_ext=0.0, band=band, gci_32=math.nan,
               ratio=math.nan, gci=abs(_div(band, centre)))
    out["flags"].append(flag)
    return out


# -- four grids or more: least squares -------------------------------------


def _wlsq(cols, f, w):
    """Weighted least squares: (coefficients, fitted values, standard
    deviation of the residuals over n - k)."""
    a = np.column_stack(cols)
    sw = np.sqrt(w)
    with np.errstate(all="ignore"):
        coef, _, rank, _ = np.linalg.lstsq(a * sw[:, None], f * sw, rcond=None)
    fit = a @ coef
    dof = len(f) - a.shape[1]
    s = math.sqrt(float(np.sum(w * (f - fit) ** 2)) * len(f) / dof) if dof > 0 else 0.0
    if rank < a.shape[1] or not np.all(np.isfinite(coef)):
        return None
    return coef, fit, s


def two_term_form(order):
    """The two-term form of a scheme of formal order P: f0 + a h^P +
    b h^(P+1), named "h+h^2" at order 1."""
    q = float(order)
    return "h+h^2" if q == 1.0 else "h^%g+h^%g" % (q, q + 1.0)


def form_exponents(form, p_used=None):
    """The powers of h of a fitted form: [1, 2] for "h+h^2", [2, 3] for
    "h^2+h^3", [p_used] for a one-term form."""
    if "+" in form:
        return [1.0 if t == "h" else float(t[2:]) for t in form.split("+")]
    return [float(p_used)]


def least_squares(h, f, order=FORMAL_ORDER):
    """Fits of the forms over four grids or more: {form: (f0, p, s, fit
    values)}; the free order by a scan of p over (0, P_MAX]."""
    h, f = np.asarray(h, float), np.asarray(f, float)
    w = (1.0 / h) / np.sum(1.0 / h)  # the finer grids weigh more
    one = np.ones_like(h)
    hn = h / h.max()  # scaled, so that h^p stays in range
    out = {}
    for q in sorted({1.0, 2.0, float(order)}):
        r = _wlsq([one, hn ** q], f, w)
        if r:
            out["h^%g" % q] = (float(r[0][0]), q, r[2], r[1])
    if len(h) >= 4:
        name = two_term_form(order)
        r = _wlsq([one] + [hn ** q for q in form_exponents(name)], f, w)
        if r:
            out[name] = (float(r[0][0]), math.nan, r[2], r[1])
    best = None
    for step, qs in ((0.05, np.arange(0.05, P_MAX + 1e-9, 0.05)), (0.002, None)):
        if qs is None:  # refine around the coarse scan's best
            if best is None:
                break
            qs = np.arange(max(0.01, best[1] - 0.05), min(P_MAX, best[1] + 0.05), step)
        for q in qs:
            r = _wlsq([one, hn ** q], f, w)
            if r and (best is None or r[2] < best[2]):
                best = (float(r[0][0]), float(q), r[2], r[1])
    if best:
        out["h^p"] = best
    return out


def many_grids(h, f, order=FORMAL_ORDER, noise=NOISE):
    """Four grids or more: the three-grid result of the finest three with
    the band, form and status of the least-squares rule (module text)."""
    pairs = sorted(zip((float(x) for x in h), (float(x) for x in f)))
    h = [a for a, _ in pairs]
    f = [b for _, b in pairs]
    out = three_grid(h[:3], f[:3], order, noise)
    if out["status"] == "too close to resolve":
        return out
    fits = least_squares(h, f, order)
    out["fits"] = {k: v[0] for k, v in fits.items()}
    free = fits.get("h^p")
    lo = order_band(order)[0]
    pool = ["h^%g" % order, two_term_form(order)]
    if free and lo <= free[1] < order + 0.1:
        pool.append("h^p")
    name = min((k for k in pool if k in fits), key=lambda k: fits[k][2])
    f0, p, s, fit = fits[name]
    data_range = (max(f) - min(f)) / (len(f) - 1)
    e, d = abs(f0 - f[0]), abs(f[0] - float(fit[0]))
    s = max(s, noise * abs(f[0]))
    out["flags"] = []
    if not s < data_range:
        out["status"] = "noisy fit"
        out["flags"].append("the fit's residual %.2g is not below the data "
                            "range %.2g" % (s, data_range))
    elif free and free[1] < lo:
        out["status"] = "order out of band"
        out["flags"].append("order %.2f far from %g" % (free[1], order))
    else:
        out["status"] = "converged"
    fs = SAFETY if out["status"] == "converged" else SAFETY_DOUBT
    band = fs * e + s + d
    if not s < data_range:
        band = SAFETY_DOUBT * _div(s, data_range) * (e + s + d) if data_range else 3 * s
    out.update(form=name, p_used=p, fs=fs, f_ext=f0, s=s, band=band,
               gci=abs(_div(band, f[0])), e_ext=abs(_div(f0 - f[0], f0)),
               p=free[1] if free else out["p"])
    return out


def study(ms, values, wall_at=0.5, order=FORMAL_ORDER, noise=NOISE):
    """Grid study of one case: ``values`` on the grid heights ``ms``
    (three or more with a result; four or more are fitted by least
    squares). Returns the result dict with ``grids`` [(m, value)] coarse
    to fine added, and a flag when a grid's value is missing."""
    pts = sorted((int(m), float(v)) for m, v in zip(ms, values))
    good = [(m, v) for m, v in pts if math.isfinite(v)]
    if len(good) < 3:
        out = _empty([], [], "fewer than three grids",
                     "fewer than three grids with a result")
        out["grids"] = pts
        return out
    h = [spacing(m, wall_at) for m, _ in good]
    f = [v for _, v in good]
    if len(good) == 3:
        out = three_grid(h, f, order, noise)
    else:
        out = many_grids(h, f, order, noise)
    out["grids"] = pts
    out["n_grids"] = len(good)
    if len(good) < len(pts):
        out["flags"].append("%d grid(s) without a result"
                            % (len(pts) - len(good)))
    return out


def in_band(res, value):
    """Whether ``value`` lies within the band around the extrapolated
    result: ``|value - f_ext| <= U``."""
    return abs(float(value) - res["f_ext"]) <= res["band"]
