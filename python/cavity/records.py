"""Readers for the files the solver reads and writes.

The solver writes every number as a free-standing token (fixed or exponent
form, always separated by at least one blank), so a whitespace split is an
exact reader for the data records. Line ends are CR LF; Python's universal
newlines take care of them.
"""

import math
import os
import re

import numpy as np

PARAM_FILE = "Input_Parameters.Input"
RESULT_FILE = "Result.dat"
NU_FILE = "Nu.dat"
V_MIDLINE_FILE = "V_Velocity_MidLine.dat"
T_MIDLINE_FILE = "TEMPERATURE_MidLine.dat"
U_MIDLINE_FILE = "U_Velocity_Vertical_MidLine.dat"
RESULT_FILES = (RESULT_FILE, NU_FILE, V_MIDLINE_FILE, T_MIDLINE_FILE,
                U_MIDLINE_FILE)

RESULT_COLUMNS = ("X", "Y", "U", "V", "P", "T", "Stream")
PARAM_NAMES = ("Pr", "Ra", "T_Hot", "T_Cold", "T_Init", "Tau_T")

_ZONE_RE = re.compile(r"ZONE\s+I=\s*(\d+)\s*J=\s*(\d+)")


class FormatError(ValueError):
    """A file does not have the layout the solver writes."""


def _path(folder_or_file, name):
    if os.path.isdir(folder_or_file):
        return os.path.join(folder_or_file, name)
    return folder_or_file


class Result:
    """The whole field of one "Result.dat".

    Each array has the shape (J, I) = (m+1, n+1) and is indexed [j, i], so
    rows run along x (i fastest, as in the file). ``tokens`` keeps the
    numbers' text exactly as written, shape (J*I, 7), for converters that
    must not re-round them.
    """

    def __init__(self, ni, nj, values, tokens):
        self.ni = ni  # I = n + 1
        self.nj = nj  # J = m + 1
        self.tokens = tokens
        for k, name in enumerate(RESULT_COLUMNS):
            setattr(self, name, values[:, k].reshape(nj, ni))

    @property
    def n(self):
        return self.ni - 1

    @property
    def m(self):
        return self.nj - 1

    def column(self, name):
        return getattr(self, name)


def read_result(path):
    """Read "Result.dat" (a run folder or the file itself)."""
    path = _path(path, RESULT_FILE)
    with open(path, "r", newline=None) as fh:
        head = fh.readline()
        zone = fh.readline()
        body = fh.read()
    if "VARIABLES" not in head:
        raise FormatError("%s: first line is not a VARIABLES header" % path)
    names = head.split("=", 1)[1].strip().split(",")
    if tuple(v.strip() for v in names) != RESULT_COLUMNS:
        raise FormatError("%s: unexpected variables %r" % (path, names))
    mt = _ZONE_RE.search(zone)
    if not mt:
        raise FormatError("%s: second line is not a ZONE I= J= record" % path)
    ni, nj = int(mt.group(1)), int(mt.group(2))
    toks = body.split()
    want = ni * nj * len(RESULT_COLUMNS)
    if len(toks) != want:
        raise FormatError("%s: %d numbers for a %d x %d zone, expected %d"
                          % (path, len(toks), ni, nj, want))
    try:
        values = np.array(toks, dtype=float).reshape(ni * nj, 7)
    except ValueError as exc:
        raise FormatError("%s: %s" % (path, exc))
    return Result(ni, nj, values, np.array(toks, dtype=object).reshape(-1, 7))


def read_nu(path):
    """The single number of "Nu.dat"."""
    path = _path(path, NU_FILE)
    with open(path) as fh:
        toks = fh.read().split()
    if len(toks) != 1:
        raise FormatError("%s: expected one number, found %d items"
                          % (path, len(toks)))
    try:
        return float(toks[0])
    except ValueError:
        raise FormatError("%s: %r is not a number" % (path, toks[0]))


def read_profile(path, name=None):
    """A mid-line file: returns (header names, column 1, column 2).

    ``path`` is either the file or a run folder with ``name`` given.
    """
    if name is not None:
        path = _path(path, name)
    with open(path) as fh:
        head = fh.readline()
        toks = fh.read().split()
    if "VARIABLES" not in head:
        raise FormatError("%s: first line is not a VARIABLES header" % path)
    names = tuple(v.strip() for v in head.split("=", 1)[1].split(","))
    if len(names) != 2 or len(toks) % 2:
        raise FormatError("%s: not a two-column profile" % path)
    a = np.array(toks, dtype=float).reshape(-1, 2)
    return names, a[:, 0], a[:, 1]


def read_midlines(folder):
    """The three mid-line profiles of a run folder, velocities as written
    (divided by U_Ref).

    Returns a dict with (x, v) of the horizontal mid-line, (x, t) of the
    horizontal mid-line and (y, u) of the vertical mid-line.
    """
    _, x, v = read_profile(folder, V_MIDLINE_FILE)
    _, xt, t = read_profile(folder, T_MIDLINE_FILE)
    _, u, y = read_profile(folder, U_MIDLINE_FILE)
    return {"v": (x, v), "t": (xt, t), "u": (y, u)}


# -- parameter file ---------------------------------------------------------

DEFAULT_LABELS = (
    "Prandtl number Pr",
    "Rayleigh number Ra",
    "hot wall temperature T_Hot",
    "cold wall temperature T_Cold",
    "initial fluid temperature T_Init",
    "thermal relaxation time Tau_T",
)


def format_value(x):
    """Shortest text that reads back as the same double; the solver reads
    integer, decimal and exponent forms alike."""
    x = float(x)
    if not math.isfinite(x):
        raise ValueError("parameter value %r is not finite" % x)
    return repr(x)


def parameter_text(values, labels=DEFAULT_LABELS):
    """Text of a parameter file: twelve lines, a label line before each
    value. ``values`` maps the names of PARAM_NAMES to numbers."""
    lines = []
    for name, label in zip(PARAM_NAMES, labels):
        label = label.replace("\r", " ").replace("\n", " ")
        lines.append(label)
        lines.append(format_value(values[name]))
    return "\n".join(lines) + "\n"


def write_parameters(folder, values, labels=DEFAULT_LABELS):
    path = os.path.join(folder, PARAM_FILE)
    with open(path, "w") as fh:
        fh.write(parameter_text(values, labels))
    return path


def read_parameters(path):
    """Read a parameter file as the solver does: odd lines are labels,
    the first item of each even line is the value."""
    path = _path(path, PARAM_FILE)
    with open(path) as fh:
        lines = fh.read().splitlines()
    out = {}
    for k, name in enumerate(PARAM_NAMES):
        idx = 2 * k + 1
        if idx >= len(lines) or not lines[idx].split():
            raise FormatError("%s: no value for %s on line %d"
                              % (path, name, idx + 1))
        tok = lines[idx].split()[0]
        try:
            out[name] = float(tok.replace("d", "e").replace("D", "E"))
        except ValueError:
            raise FormatError("%s: line %d: %r is not a number for %s"
                              % (path, idx + 1, tok, name))
    return out


def derived_constants(params, m):
    """The lattice constants the solver derives from its parameter file.

    Evaluated in double precision; the solver stores them in single
    precision, which changes them in the 7th or 8th digit at most.
    """
    pr, ra = params["Pr"], params["Ra"]
    diff = (params["Tau_T"] - 0.5) / 3.0
    visc = diff * pr
    tau_f = visc * 3.0 + 0.5
    dt = params["T_Hot"] - params["T_Cold"]
    g_beta = ra * visc * diff / (dt * float(m) ** 3) if dt else math.nan
    ratio = ra * diff / visc if visc else math.nan
    u_ref = math.sqrt(ratio) * visc / m if ratio >= 0 else math.nan
    return {
        "Diffusivity": diff,
        "Viscosity": visc,
        "Tau_F": tau_f,
        "G_Beta": g_beta,
        "U_Ref": u_ref,
        "T_Ref": 0.5 * (params["T_Cold"] + params["T_Hot"]),
    }


def write_table(path, columns, rows, legend):
    """A CSV table of ``rows`` (dicts) in ``columns``, and its legend in
    PATH's name with .columns.txt."""
    import csv
    with open(path, "w", newline="") as fh:
        w = csv.DictWriter(fh, fieldnames=columns)
        w.writeheader()
        w.writerows(rows)
    with open(os.path.splitext(path)[0] + ".columns.txt", "w") as fh:
        fh.write(legend)
