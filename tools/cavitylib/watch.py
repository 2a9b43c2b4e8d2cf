#!/usr/bin/python3
"""Run the solver in a case folder and end it once its Nusselt number has
settled.

The solver stops on its own when a residual falls below 1e-7, or after
1,000,000 steps. On some grids and relaxation times the single-precision
rounding noise keeps the temperature residual just above 1e-7, so such a
run goes on for the full million steps long after its fields have stopped
changing. This wrapper reads the progress reports as the solver prints them
and, once the mean of the reported Nusselt number over the last half of a
window of ``window`` steps differs from its mean over the first half by at
most ``tol`` (relative), ends the solver (SIGTERM, right
after a report, when all five result files hold that report's snapshot)
and writes "settled.txt" saying so.

usage: watch.py --tol REL [--window STEPS] [--min-steps STEPS] SOLVER

Run in the case folder: stdin from console.in, stdout copied byte for byte
to console.out, stderr to console.err (the names cavity-sweep uses). The
exit status is 0 when the run settled, else the solver's own (128 + signal
number after a signal).
"""

import argparse
import collections
import os
import re
import signal
import subprocess
import sys

CONSOLE_IN = "console.in"
CONSOLE_OUT = "console.out"
CONSOLE_ERR = "console.err"
SETTLED_FILE = "settled.txt"
REPORT_INTERVAL = 50
# the solver's result files; it keeps "NAME.tmp" beside each while it runs
# and removes them when it finishes, so an ended run has them removed here
RESULT_FILES = ("Result.dat", "Nu.dat", "V_Velocity_MidLine.dat",
                "TEMPERATURE_MidLine.dat", "U_Velocity_Vertical_MidLine.dat")

_REPORT_RE = re.compile(rb"Step==\s*(-?\d+)\s+Nu On Hot Wall==\s*(\S+)")


class SettleRule:
    """True once the mean of the reported values over the last half of a
    window of ``window`` steps differs from their mean over its first half
    by at most ``tol`` relative to the last mean, and at least
    ``min_steps`` steps were run.

    Means, not the range: the reported Nu carries rounding noise (a few
    1e-5 relative at Ra 1e3 on some grids) that a band around the last
    values would mistake for a trend.
    """

    def __init__(self, tol, window, min_steps=0, interval=REPORT_INTERVAL):
        if tol <= 0 or window < 2 * interval:
            raise ValueError("need tol > 0 and a window of at least two reports")
        self.tol = float(tol)
        self.window = int(window)
        self.min_steps = int(min_steps)
        self.interval = interval
        self.half = max(1, self.window // (2 * interval))  # reports a half
        self.values = collections.deque(maxlen=2 * self.half)
        self.step = 0

    def add(self, step, value):
        self.step = step
        self.values.append(float(value))
        return self.settled()

    def change(self):
        """Relative change of the half-window mean, or None before a full
        window."""
        if len(self.values) < 2 * self.half:
            return None
        v = list(self.values)
        first = sum(v[:self.half]) / self.half
        last = sum(v[self.half:]) / self.half
        return abs(last - first) / (abs(last) or 1.0)

    def settled(self):
        if self.step < self.min_steps:
            return False
        c = self.change()
        return c is not None and c <= self.tol


def parse_reports(buf):
    """Complete report lines of ``buf``: ([(step, Nu)], rest of buf)."""
    out = []
    while b"\n" in buf:
        line, buf = buf.split(b"\n", 1)
        mt = _REPORT_RE.search(line)
        if mt:
            try:
                out.append((int(mt.group(1)) * REPORT_INTERVAL, float(mt.group(2))))
            except ValueError:
                pass
    return out, buf


def run(solver, rule, folder="."):
    """Run ``solver`` in ``folder`` under ``rule``; returns the exit status."""
    settled = None
    with open(os.path.join(folder, CONSOLE_IN), "rb") as fin, \
            open(os.path.join(folder, CONSOLE_OUT), "wb") as fout, \
            open(os.path.join(folder, CONSOLE_ERR), "wb") as ferr:
        proc = subprocess.Popen([solver], stdin=fin, stdout=subprocess.PIPE,
                                stderr=ferr, cwd=folder)
        buf = b""
        try:
            while True:
                chunk = proc.stdout.read1(65536)
                if not chunk:
                    break
                fout.write(chunk)
                fout.flush()
                reports, buf = parse_reports(buf + chunk)
                for step, nu in reports:
                    if rule.add(step, nu):
                        settled = (step, nu, rule.change())
                        break
                if settled:
                    if proc.poll() is not None:
                        # it had ended on its own: its own end stands
                        settled = None
                    else:
                        proc.send_signal(signal.SIGTERM)
                    break
            for chunk in iter(lambda: proc.stdout.read1(65536), b""):
                fout.write(chunk)
        finally:
            code = proc.wait()
    if settled:
        for name in RESULT_FILES:
            tmp = os.path.join(folder, name + ".tmp")
            if os.path.exists(tmp):
                os.remove(tmp)
        step, nu, band = settled
        with open(os.path.join(folder, SETTLED_FILE), "w") as fh:
            fh.write("settled at step %d: Nu = %r; its mean over the last %d "
                     "steps differs from the mean over the %d before by %.3g "
                     "(relative; limit %g); the solver was ended there\n"
                     % (step, nu, rule.window // 2, rule.window // 2, band,
                        rule.tol))
        return 0
    return code if code >= 0 else 128 - code


def read_settled(folder):
    """The note of a settled run, or None."""
    try:
        with open(os.path.join(folder, SETTLED_FILE)) as fh:
            return fh.read().strip()
    except OSError:
        return None


def main(argv=None):
    ap = argparse.ArgumentParser(prog="watch.py", description=__doc__.split("\n\n")[0])
    ap.add_argument("--tol", type=float, required=True,
                    help="relative change of the half-window mean of Nu that "
                    "counts as settled")
    ap.add_argument("--window", type=int, default=20000,
                    help="steps of the window (default 20000)")
    ap.add_argument("--min-steps", type=int, default=0,
                    help="never end a run before this step")
    ap.add_argument("solver")
    args = ap.parse_args(argv)
    try:
        rule = SettleRule(args.tol, args.window, args.min_steps)
    except ValueError as exc:
        ap.error(str(exc))
    if os.path.exists(SETTLED_FILE):
        os.remove(SETTLED_FILE)
    return run(args.solver, rule)


if __name__ == "__main__":
    sys.exit(main())
