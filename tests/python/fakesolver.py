#!/usr/bin/python3
"""A stand-in for the cavity solver, for testing the tools without it.

Run as a program it answers the console dialogue like the solver (n, m,
pause line), reads Input_Parameters.Input, prints progress reports and
writes the five result files in the solver's byte layout, from a synthetic
field. Imported, it offers the record writer and write_run() for fixtures.

Behaviour of the program, chosen so tests know the answer:
- the run stops on step 50 * (n // 10) + 7, so the last report is number
  n // 10 (none for n < 10), unless Pr >= 100: then it never meets the stop
  and runs to the step limit (reports only; files at the end);
- it takes the solver's options --settle TOL, --settle-window STEPS and
  --threads N, --checkpoint FILE (writes FILE at once) and --start-from
  FILE (ends with the solver's error when FILE is not there), settles as the solver does (its Nu is the same at every
  report, so after a full window) and ends with the solver's notes, the
  one on the wall-corrected Nu last;
- Tau_T = 0.5 ends it with "floating-point error: invalid" before any step,
  T_Hot = T_Cold with "floating-point error: divide by zero";
- Ra >= 1e9 ends it with "floating-point error: overflow" after two reports;
- a missing parameter file ends it with a message naming the file;
- with FAKESOLVER_REPORT_DELAY=SECONDS in the environment it flushes each
  report and waits that long after it, as a slow run would.
"""

import math
import os
import sys
import time

PARAM_NAMES = ("Pr", "Ra", "T_Hot", "T_Cold", "T_Init", "Tau_T")


def real_text(x):
    """A single-precision real as the solver's record writer lays it out
    (without the field padding)."""
    x = float(x)
    if x == 0.0:
        return "0.000000E+00"
    sign = "-" if x < 0 else ""
    a = abs(x)
    e = math.floor(math.log10(a)) + 1  # magnitude is 0.d1d2.. * 10^e
    if 1 <= e <= 7:
        txt = "%.*f" % (7 - e, a)
        whole, _, frac = txt.partition(".")
        return sign + whole + "." + (frac + "000000")[:6]
    return sign + "%.6E" % a


def real_line(values):
    """One record of reals: leading blank, 15 columns for the first, 16 for
    the rest, at most four a line. Returns the list of lines."""
    lines, cur = [], ""
    for k, v in enumerate(values):
        t = real_text(v)
        if k % 4 == 0:
            if cur:
                lines.append(cur)
            cur = (" " + t.rjust(15)) if k == 0 else t.rjust(16)
        else:
            cur += t.rjust(16)
    lines.append(cur)
    return lines


def _write(path, lines):
    with open(path, "w", newline="") as fh:
        fh.write("".join(line + "\r\n" for line in lines))


def synthetic_field(n, m, t_hot, t_cold, amp=0.05):
    """A conduction profile with a circulating velocity, indexed [j][i]."""
    U, V, R, T = [], [], [], []
    for j in range(m + 1):
        y = j / m
        U.append([amp * math.sin(math.pi * i / n) * math.sin(2 * math.pi * y)
                  for i in range(n + 1)])
        V.append([-amp * math.sin(2 * math.pi * i / n) * math.sin(math.pi * y)
                  for i in range(n + 1)])
        R.append([1.0 + 1e-3 * (i - j) / (n + m) for i in range(n + 1)])
        T.append([t_hot + (t_cold - t_hot) * i / n for i in range(n + 1)])
    return U, V, R, T


def stream_function(n, m, U, V, R):
    S = [[0.0] * (n + 1) for _ in range(m + 1)]
    for i in range(1, n + 1):
        ra = (R[0][i] + R[0][i - 1]) * 0.5
        S[0][i] = S[0][i - 1] - (V[0][i - 1] + V[0][i]) * ra * 0.5
        for j in range(1, m + 1):
            ra = (R[j - 1][i] + R[j][i]) * 0.5
            S[j][i] = (U[j - 1][i] + U[j][i]) * ra * 0.5 + S[j - 1][i]
    return S


def hot_wall_nu(n, m, T, t_hot):
    s = 0.0
    for j in range(m + 1):
        s += (t_hot - T[j][1]) * n * 2.0
    return s / m


def write_run(folder, n, m, t_hot=1.0, t_cold=0.0, u_ref=0.01, field=None):
    """Write the five result files of a synthetic run into folder; returns
    (field, Nu)."""
    U, V, R, T = field or synthetic_field(n, m, t_hot, t_cold)
    S = stream_function(n, m, U, V, R)
    lines = [" VARIABLES =X,Y,U,V,P,T,Stream",
             " ZONE I=%11dJ=%11d" % (n + 1, m + 1)]
    for j in range(m + 1):
        for i in range(n + 1):
            lines += real_line([i / m, j / m, U[j][i] / u_ref, V[j][i] / u_ref,
                                R[j][i] / 3.0, T[j][i], S[j][i]])
    _write(os.path.join(folder, "Result.dat"), lines)
    nu = hot_wall_nu(n, m, T, t_hot)
    _write(os.path.join(folder, "Nu.dat"), real_line([nu]))
    jm, im = m // 2, n // 2
    _write(os.path.join(folder, "V_Velocity_MidLine.dat"),
           [" VARIABLES =X,V"]
           + [real_line([i / n, V[jm][i] / u_ref])[0] for i in range(n + 1)])
    _write(os.path.join(folder, "TEMPERATURE_MidLine.dat"),
           [" VARIABLES =X,T"]
           + [real_line([i / n, T[jm][i]])[0] for i in range(n + 1)])
    _write(os.path.join(folder, "U_Velocity_Vertical_MidLine.dat"),
           [" VARIABLES =U,Y"]
           + [real_line([U[j][im] / u_ref, j / m])[0] for j in range(m + 1)])
    return (U, V, R, T), nu


def _die(msg):
    sys.stdout.flush()
    sys.stderr.write(msg + "\n")
    sys.exit(1)


def _read_int(what):
    while True:
        line = sys.stdin.readline()
        if not line:
            _die("input error: end of input while reading %s" % what)
        if line.strip():
            try:
                return int(line.split()[0])
            except ValueError:
                _die("input error: %s: %r is not an integer" % (what, line.strip()))


def options(argv):
    """(settle tol or None, window) from the solver's options."""
    tol, window, k = None, 20000, 0
    while k < len(argv):
        opt, val = argv[k], argv[k + 1] if k + 1 < len(argv) else ""
        if opt == "--settle":
            tol = float(val)
        elif opt == "--settle-window":
            window = int(val)
        elif opt == "--checkpoint":
            with open(val, "w") as fh:
                fh.write("checkpoint of the stand-in\n")
        elif opt == "--start-from":
            if not os.path.exists(val):
                _die("input error: cannot open --start-from %s: No such file "
                     "or directory" % val)
        elif opt == "--scheme":
            pass  # the stand-in's Nu is the same in every scheme
        elif opt == "--checkpoint-every":
            int(val)
        elif opt == "--threads":
            if int(val) < 1:
                _die("usage error: --threads needs a whole number from 1")
        else:
            _die("usage error: unknown option %s" % opt)
        k += 2
    return tol, window


def main():
    tol, window = options(sys.argv[1:])
    out = sys.stdout
    out.write("* Please Enter Dimensions(n And m Respectively).*\r\nn=")
    out.flush()
    n = _read_int("n")
    out.write("m=")
    out.flush()
    m = _read_int("m")
    try:
        with open("Input_Parameters.Input") as fh:
            lines = fh.read().splitlines()
    except OSError:
        _die("cannot open Input_Parameters.Input for reading")
    p = {}
    for k, name in enumerate(PARAM_NAMES):
        try:
            p[name] = float(lines[2 * k + 1].split()[0])
        except (IndexError, ValueError):
            _die("input error: Input_Parameters.Input line %d: no number for %s"
                 % (2 * k + 2, name))
    if p["T_Hot"] == p["T_Cold"]:
        _die("floating-point error: divide by zero")
    if p["Tau_T"] == 0.5:
        _die("floating-point error: invalid")
    out.write("Pause - Please enter a blank line (to continue) or a DOS command.\r\n")
    out.flush()
    sys.stdin.readline()
    out.write("*************************\r\n* Please Waite...       *\r\n"
              + "*" * 78)
    diff = (p["Tau_T"] - 0.5) / 3.0
    u_ref = math.sqrt(p["Ra"] / p["Pr"]) * diff * p["Pr"] / m
    max_steps = 1000000
    stop = 50 * (n // 10) + 7 if p["Pr"] < 100 else max_steps
    delay = float(os.environ.get("FAKESOLVER_REPORT_DELAY", "0") or 0)
    overflow = p["Ra"] >= 1e9
    if overflow:
        stop = 120
    half = max(1, window // 100)
    history, note, nu = [], None, None
    for step in range(1, stop + 1):
        if step % 50:
            continue
        if nu is None or stop < max_steps:
            _, nu = write_run(".", n, m, p["T_Hot"], p["T_Cold"], u_ref)
        out.write("\r\nStep==%11d           Nu On Hot Wall==%15s"
                  % (step // 50, real_text(nu)))
        out.write("\r\nResidual of Th==%15s           Residual of Flow==%15s"
                  % (real_text(1e-3 / step), real_text(2e-3 / step)))
        out.write("\r\n" + "*" * 78)
        if delay:
            out.flush()
            time.sleep(delay)
        history.append(float(real_text(nu)))
        if tol is not None and len(history) >= 2 * half and not overflow:
            a = sum(history[-2 * half:-half]) / half
            b = sum(history[-half:]) / half
            change = abs(b - a) / abs(b)
            if change <= tol:
                note = ("note: settled at step %d: Nu = %s; its mean over the "
                        "last %d steps differs from its mean over the %d "
                        "before by %.3g, relative (--settle %g)"
                        % (step, real_text(nu), 50 * half, 50 * half, change,
                           tol))
                break
    if overflow:
        _die("floating-point error: overflow")
    _, nu = write_run(".", n, m, p["T_Hot"], p["T_Cold"], u_ref)
    if note is None and stop == max_steps:
        note = ("note: step limit: all 1000000 steps were made without meeting "
                "the stop rule (a residual below 1e-07)")
    elif note is None and tol is not None:
        note = ("note: converged at step %d: the temperature residual 9e-08 "
                "is below the stop at 1e-07" % stop)
    out.write("\r\n\r\nSolution Has Finished!\r\n\r\nThanks For Using This Code.\r\n\r\n")
    out.flush()
    if note:
        sys.stderr.write(note + "\n")
    # the solver's last note, on every run that ends normally
    sys.stderr.write("note: wall-corrected mean Nu (second order, walls half a "
                     "spacing inside the end nodes): hot wall 1, cold wall 1, "
                     "0 %% apart (the heat balance); Nu.dat %s is +0 %% from "
                     "the hot-wall value; Ra = 1 for the cavity between the "
                     "walls, m - 1 = 1 spacings high, where the file's Ra = 1 "
                     "is for the height m = 2\n" % real_text(nu))
    return 0


if __name__ == "__main__":
    sys.exit(main())
