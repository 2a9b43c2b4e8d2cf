"""The progress of a sweep on a terminal: cases done, running and failed,
and the time left expected from the cases done so far, on one line of
standard error rewritten in place (only where standard error is a
terminal)."""

import os
import shutil
import subprocess
import sys
import time

from . import sweep


class Progress:
    def __init__(self, total, jobs, stream=None):
        self.stream = stream or sys.stderr
        self.on = self.stream.isatty()
        self.total, self.jobs = total, max(1, jobs)
        self.done = self.failed = 0  # of the waves before the running one
        self.shown = False

    def line(self, done, failed, running, seconds):
        """The status text, for ``done`` finished cases taking ``seconds``
        of wall time each on average."""
        left = self.total - done
        text = "cavity-sweep: %d of %d cases done, %d running, %d failed" % (
            done, self.total, running, failed)
        if done and left:
            eta = seconds * left / min(self.jobs, left)
            text += ", about %s left" % _duration(eta)
        return text

    def show(self, text):
        width = shutil.get_terminal_size((80, 24)).columns - 1
        self.stream.write("\r" + text[:width] + "\x1b[K")
        self.stream.flush()
        self.shown = True

    def clear(self):
        if self.shown:
            self.stream.write("\r\x1b[K")
            self.stream.flush()
            self.shown = False


def _duration(s):
    if s < 90:
        return "%.0f s" % s
    if s < 5400:
        return "%.0f min" % (s / 60.0)
    return "%.1f h" % (s / 3600.0)


def run(argv, cwd, joblog, folders, progress, started_known=True):
    """Runs GNU parallel (``argv``) on ``folders`` and, on a terminal,
    shows its progress from the joblog and the case folders; returns
    parallel's exit status."""
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, cwd=cwd)
    try:
        while True:
            try:
                rc = proc.wait(timeout=1.0)
                break
            except subprocess.TimeoutExpired:
                if progress.on:
                    progress.show(_status(progress, joblog, folders, started_known))
    finally:
        progress.clear()
    rows = sweep.read_joblog(joblog).values()
    progress.done += len(rows)
    progress.failed += sum(1 for r in rows if _failed(r))
    return rc


def _failed(row):
    return (row.get("Exitval", "0") or "0") != "0" or (row.get("Signal", "0") or "0") != "0"


def _status(progress, joblog, folders, started_known):
    rows = list(sweep.read_joblog(joblog).values())
    done = progress.done + len(rows)
    failed = progress.failed + sum(1 for r in rows if _failed(r))
    if started_known:
        started = sum(1 for f in folders
                      if os.path.exists(os.path.join(f, sweep.CONSOLE_OUT)))
        running = max(0, started - len(rows))
    else:
        running = min(progress.jobs, len(folders) - len(rows))
    times = [float(r.get("JobRuntime", "0") or 0) for r in rows]
    mean = sum(times) / len(times) if times else 0.0
    return progress.line(done, failed, running, mean)
