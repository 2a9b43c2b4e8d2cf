"""Parameter sweeps: one folder a case, run in parallel by GNU parallel,
one summary row a case."""

import csv
import math
import os
import re
import shlex
import shutil
import sys

from . import records, watch

CASE_COLUMNS = ("n", "m") + records.PARAM_NAMES
CONSOLE_IN = "console.in"
CONSOLE_OUT = "console.out"
CONSOLE_ERR = "console.err"

SUMMARY_COLUMNS = (
    "name", "n", "m", "Pr", "Ra", "T_Hot", "T_Cold", "T_Init", "Tau_T",
    "status", "exit_code", "last_reported_step", "finished", "stop", "Nu",
    "run_time_s", "host", "message", "folder",
)

SUMMARY_LEGEND = """\
name                case name (the name column of the case table, or caseNNN)
n, m, Pr ... Tau_T  the case as given
status              ok (exit status 0), failed (non-zero exit status),
                    killed (ended by a signal, e.g. a --timeout of parallel),
                    not-run (no job record: the sweep was interrupted)
exit_code           exit status of the solver (empty when killed or not run)
last_reported_step  50 x the number of the last progress report printed on the
                    console ("Step==  N"); the solver reports every 50 steps and
                    does not print the step on which it stopped, so the run
                    went on for at most 49 steps after this; empty when no
                    report was printed (a run that stopped before step 50)
finished            yes when the solver printed its closing lines
stop                why the run ended: residual (a residual fell below 1e-7),
                    step-limit (the solver's 1,000,000 steps ran out), settled
                    (ended by --settle once Nu had stopped changing; see
                    settled.txt in the folder), empty after a failure
Nu                  the number in Nu.dat when the run ended: the final snapshot
                    after a normal end, the last report's snapshot after a
                    failure; empty when there is no Nu.dat
run_time_s          wall-clock time of the job, seconds, as GNU parallel measured it
host                where the job ran (":" is this machine)
message             the solver's error message (last line on stderr) for a failed
                    case, or a note on the run
folder              the case folder, with console.out and console.err
"""

_STEP_RE = re.compile(r"Step==\s*(-?\d+)")
_NAME_RE = re.compile(r"^[A-Za-z0-9_.+-]+$")
REPORT_INTERVAL = 50
MAX_STEPS = 1000000
WATCH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "watch.py")


class CaseError(ValueError):
    pass


def _int(text, what):
    try:
        v = float(text)
    except ValueError:
        raise CaseError("%s: %r is not a number" % (what, text))
    if v != int(v) or v < 1:
        raise CaseError("%s: %r is not a positive whole number" % (what, text))
    return int(v)


def read_cases(path):
    """Cases of a CSV table: columns n, m, Pr, Ra, T_Hot, T_Cold, T_Init,
    Tau_T and an optional name; blank lines and lines starting with # are
    skipped."""
    with open(path, newline="") as fh:
        lines = [ln for ln in fh if ln.strip() and not ln.lstrip().startswith("#")]
    reader = csv.DictReader(lines)
    if reader.fieldnames is None:
        raise CaseError("%s: empty case table" % path)
    fields = [f.strip() for f in reader.fieldnames]
    missing = [c for c in CASE_COLUMNS if c not in fields]
    if missing:
        raise CaseError("%s: missing column(s) %s" % (path, ", ".join(missing)))
    cases = []
    names = set()
    for k, row in enumerate(reader, start=1):
        row = {(key or "").strip(): (val or "").strip() for key, val in row.items()}
        where = "%s: case %d" % (path, k)
        case = {"n": _int(row["n"], where + " n"), "m": _int(row["m"], where + " m")}
        for p in records.PARAM_NAMES:
            try:
                case[p] = float(row[p])
            except ValueError:
                raise CaseError("%s %s: %r is not a number" % (where, p, row[p]))
            if not math.isfinite(case[p]):
                raise CaseError("%s %s: not finite" % (where, p))
        name = row.get("name") or "case%03d" % k
        if not _NAME_RE.match(name) or name in (".", ".."):
            raise CaseError("%s: name %r: use letters, digits and _ . + - only"
                            % (where, name))
        if name in names:
            raise CaseError("%s: name %r used twice" % (where, name))
        names.add(name)
        case["name"] = name
        # the numbers as typed, for the summary
        case["text"] = {c: row[c] for c in CASE_COLUMNS}
        cases.append(case)
    if not cases:
        raise CaseError("%s: no cases" % path)
    return cases


def case_warnings(case):
    """Set-ups that run but do not do what is likely meant."""
    out = []
    t_ref = 0.5 * (case["T_Hot"] + case["T_Cold"])
    if case["T_Init"] == t_ref:
        out.append("T_Init equals (T_Hot + T_Cold) / 2: the first step sees "
                   "no buoyancy, the flow residual is 0 and the run stops "
                   "after one step")
    if case["T_Hot"] == case["T_Cold"]:
        out.append("T_Hot equals T_Cold: the set-up divides by zero")
    elif case["T_Hot"] - case["T_Cold"] != 1.0:
        out.append("T_Hot - T_Cold is not 1: Nu.dat is not normalised by the "
                   "temperature difference")
    if case["Tau_T"] <= 0.5:
        out.append("Tau_T <= 0.5 gives no positive diffusivity")
    return out


def prepare_case(folder, case):
    """Fresh case folder: parameter file and the console answers."""
    os.makedirs(folder, exist_ok=True)
    for name in records.RESULT_FILES + (CONSOLE_OUT, CONSOLE_ERR,
                                         watch.SETTLED_FILE):
        p = os.path.join(folder, name)
        if os.path.exists(p):
            os.remove(p)
    labels = tuple("%s  (case %s, grid %d x %d)" % (lab, case["name"], case["n"],
                                                      case["m"])
                   for lab in records.DEFAULT_LABELS)
    records.write_parameters(folder, case, labels)
    # n, m, then an empty line for the pause
    with open(os.path.join(folder, CONSOLE_IN), "w") as fh:
        fh.write("%d\n%d\n\n" % (case["n"], case["m"]))


def job_command(binary, settle=None):
    """The shell command GNU parallel runs for one case folder ({}).

    ``settle`` = (tol, window steps) runs the solver under watch.py, which
    ends it once Nu has stayed within the relative band tol over the window.
    """
    if settle is None:
        return ("cd {} && exec %s < %s > %s 2> %s"
                % (shlex.quote(binary), CONSOLE_IN, CONSOLE_OUT, CONSOLE_ERR))
    tol, window = settle
    return ("cd {} && exec %s %s --tol %r --window %d %s"
            % (shlex.quote(sys.executable), shlex.quote(WATCH), float(tol),
               int(window), shlex.quote(binary)))


def parallel_argv(binary, joblog, jobfile, extra, settle=None):
    exe = shutil.which("parallel")
    if exe is None:
        raise RuntimeError("GNU parallel is not installed (Debian package "
                           "'parallel')")
    return ([exe, "--joblog", joblog] + list(extra)
            + ["-a", jobfile, job_command(binary, settle)])


def read_joblog(path):
    """Seq -> dict of the joblog columns (Host, JobRuntime, Exitval, ...)."""
    out = {}
    if not os.path.exists(path):
        return out
    with open(path) as fh:
        head = fh.readline().rstrip("\n").split("\t")
        for line in fh:
            cols = line.rstrip("\n").split("\t")
            if len(cols) < len(head):
                continue
            row = dict(zip(head, cols))
            try:
                out[int(row["Seq"])] = row
            except (KeyError, ValueError):
                continue
    return out


def last_reported_step(console_text):
    nums = [int(x) for x in _STEP_RE.findall(console_text)]
    if not nums:
        return None
    return nums[-1] * REPORT_INTERVAL


def _read(path):
    try:
        with open(path, errors="replace") as fh:
            return fh.read()
    except OSError:
        return None


def _last_line(text):
    for line in reversed((text or "").splitlines()):
        if line.strip():
            return line.strip()
    return ""


def collect_case(folder, case, job):
    """One summary row from the case folder and its joblog record."""
    text = case.get("text", {})
    row = {k: text.get(k, case[k]) for k in CASE_COLUMNS}
    row["name"] = case["name"]
    row["folder"] = folder
    out = _read(os.path.join(folder, CONSOLE_OUT))
    err = _read(os.path.join(folder, CONSOLE_ERR))
    notes = []
    if job is None:
        row.update(status="not-run", exit_code="", host="", run_time_s="")
    else:
        sig = int(job.get("Signal", "0") or 0)
        code = int(job.get("Exitval", "0") or 0)
        row["host"] = job.get("Host", "")
        row["run_time_s"] = "%.3f" % float(job.get("JobRuntime", "nan"))
        if sig:
            row.update(status="killed", exit_code="")
            notes.append("killed by signal %d" % sig)
        else:
            row.update(status="ok" if code == 0 else "failed", exit_code=code)
    step = last_reported_step(out or "")
    row["last_reported_step"] = "" if step is None else step
    row["finished"] = "yes" if out and "Solution Has Finished!" in out else "no"
    settled = watch.read_settled(folder)
    if row["status"] != "ok":
        row["stop"] = ""
    elif settled:
        row["stop"] = "settled"
        notes.append(settled)
    elif row["finished"] == "yes":
        row["stop"] = "step-limit" if step == MAX_STEPS else "residual"
    else:
        row["stop"] = ""
    try:
        row["Nu"] = repr(records.read_nu(folder))
    except (OSError, records.FormatError) as exc:
        row["Nu"] = ""
        if row["status"] == "ok":
            notes.append("no readable Nu.dat: %s" % exc)
    if row["status"] in ("failed", "killed"):
        msg = _last_line(err) or _last_line(out)
        if msg:
            notes.insert(0, msg)
    elif row["status"] == "ok" and row["finished"] == "no" and not settled:
        notes.append("exit status 0 but no closing lines on the console")
    row["message"] = "; ".join(notes)
    return row


def write_summary(path, rows):
    with open(path, "w", newline="") as fh:
        w = csv.DictWriter(fh, fieldnames=SUMMARY_COLUMNS)
        w.writeheader()
        for r in rows:
            w.writerow(r)
