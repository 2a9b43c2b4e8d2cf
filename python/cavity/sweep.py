"""Parameter sweeps: one folder a case, run in parallel by GNU parallel,
one summary row a case."""

import csv
import math
import os
import re
import shlex
import shutil

from . import rayleigh, records

CASE_COLUMNS = ("n", "m") + records.PARAM_NAMES
CONSOLE_IN = "console.in"
CONSOLE_OUT = "console.out"
CONSOLE_ERR = "console.err"
CPU_TIME = "cpu-time.txt"
# what a case folder holds besides the result files, removed before a run
RUN_FILES = (CONSOLE_OUT, CONSOLE_ERR, CPU_TIME)

SETTLE_TOL = 1e-5
SETTLE_WINDOW = None  # the solver's own window, which follows the case
REPORT_INTERVAL = 50
MAX_STEPS = 1000000

SUMMARY_COLUMNS = (
    "name", "n", "m", "Pr", "Ra", "T_Hot", "T_Cold", "T_Init", "Tau_T",
    "Ra_parameter_file", "status", "exit_code", "stop", "end_step",
    "last_reported_step", "finished", "Nu", "Nu_2nd_order_hot",
    "Nu_2nd_order_cold", "Nu_last_report_before_failure",
    "run_time_s", "cpu_time_s", "threads", "host", "message", "folder",
    "Nu_wall_corrected", "Nu_dat_first_order",
)

SUMMARY_LEGEND = """\
name                case name (the name column of the case table, or caseNNN)
n, m, Pr ... Tau_T  the case as given; Ra is the Rayleigh number of the cavity
                    between the walls (see python/README.md, "The Rayleigh number")
Ra_parameter_file   the Ra written into Input_Parameters.Input: Ra (m/(m-1))^3
status              ok (exit status 0), failed (non-zero exit status, or on
                    Slurm a task the scheduler ended: cancelled, out of time),
                    killed (ended by a signal, e.g. a --timeout of parallel),
                    not-run (no job record: the sweep was interrupted; on
                    Slurm also a task still queued or running)
exit_code           exit status of the solver (empty when killed or not run)
stop                why the run ended: residual (a residual fell below 1e-7),
                    settled (its Nu had stopped changing: the solver's --settle),
                    step-limit (the solver's 1,000,000 steps ran out), failed
                    (status failed or killed); empty when not run
end_step            the step the run ended on, from the solver's closing note
                    (empty when the note gives none: a run without --settle that
                    met the residual stop, or a failed run)
last_reported_step  50 x the number of the last progress report printed on the
                    console ("Step==  N"); empty when no report was printed
finished            yes when the solver printed its closing lines
Nu                  the number in Nu.dat at the end of a run that ended normally;
                    empty for a failed case, whose files hold a snapshot of an
                    unfinished run
Nu_2nd_order_hot, Nu_2nd_order_cold
                    the wall-corrected mean Nu of the hot and of the cold wall
                    from the solver's last note (second order, the walls half a
                    spacing inside the end nodes; docs/messages.md, "What the program
                    says on standard error"): the number to quote; Nu.dat reads
                    above it (by about 1/m); empty when the note gives none
Nu_last_report_before_failure
                    for a failed or killed case only: the Nu of its last progress
                    report (not a result; where the run was when it failed)
run_time_s          wall-clock time of the job, seconds, as GNU parallel measured it
                    (on Slurm: the task's, summed over its runs)
cpu_time_s          processor time of the solver, user + system, seconds
threads             threads the solver was given (--threads)
host                where the job ran (":" is this machine; on Slurm the node)
message             the solver's closing note (how it ended), or its error
                    message (last line on standard error) for a failed case
folder              the case folder, with console.out and console.err
Nu_wall_corrected   the mean Nu of the hot wall to quote: Nu_2nd_order_hot, under a
                    name that says what it is
Nu_dat_first_order  the number in Nu.dat (the file's first-order value): Nu, under
                    a name that says what it is; it reads above Nu_wall_corrected
                    by about 1/m
"""

_STEP_RE = re.compile(r"Step==\s*(-?\d+)")
_REPORT_NU_RE = re.compile(r"Nu On Hot Wall==\s*(\S+)")
_NAME_RE = re.compile(r"^[A-Za-z0-9_.+-]+$")
# the solver's closing notes; only the words up to the step are relied on
_END_NOTE_RE = re.compile(r"^note: (settled|converged) at step (\d+)")
_LIMIT_NOTE_RE = re.compile(r"^note: step limit: all (\d+) steps")
_WALL_NU_RE = re.compile(r"^note: wall-corrected mean Nu .*?: hot wall (\S+), "
                         r"cold wall ([^,\s]+)")


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


def _table_rows(path):
    """(line number, fields) of the header and of each row, blank lines and
    lines starting with # passed over."""
    with open(path, newline="") as fh:
        numbered = [(k, ln) for k, ln in enumerate(fh, start=1)
                    if ln.strip() and not ln.lstrip().startswith("#")]
    return [(k, [f.strip() for f in next(csv.reader([ln]))])
            for k, ln in numbered]


def _decimal_comma(header, fields):
    """(column, "0,71") for the first parameter column whose value, joined
    to the next field by a decimal point, leaves one field a column and
    every parameter a number; None when no such column exists."""
    def number(text):
        try:
            return math.isfinite(float(text))
        except ValueError:
            return False
    for i, col in enumerate(header):
        if col not in records.PARAM_NAMES or i + 1 >= len(fields) or \
                not re.fullmatch(r"[+-]?\d+", fields[i]) or \
                not re.fullmatch(r"\d+([eE][+-]?\d+)?", fields[i + 1]):
            continue
        joined = fields[:i] + [fields[i] + "." + fields[i + 1]] + fields[i + 2:]
        if len(joined) == len(header) and all(
                number(v) for c, v in zip(header, joined)
                if c in records.PARAM_NAMES):
            return col, "%s,%s" % (fields[i], fields[i + 1])
    return None


def _row_fields(header, fields, where):
    """A row's fields by column; a row with more or fewer fields than the
    header is refused, naming the column a decimal comma split."""
    if len(fields) > len(header):
        comma = _decimal_comma(header, fields)
        if comma:
            raise CaseError("%s, column %s: \"%s\" has a decimal comma, which "
                            "splits it into two columns (%d values for %d "
                            "columns); write a decimal point"
                            % (where, comma[0], comma[1], len(fields),
                               len(header)))
        raise CaseError("%s: %d values for the %d columns %s; a value with "
                        "a comma in it? write decimals with a point"
                        % (where, len(fields), len(header), ",".join(header)))
    if len(fields) < len(header):
        raise CaseError("%s, column %s: no value (%d values for the %d "
                        "columns %s)" % (where, header[len(fields)], len(fields),
                                         len(header), ",".join(header)))
    return dict(zip(header, fields))


def read_cases(path):
    """Cases of a CSV table: columns n, m, Pr, Ra, T_Hot, T_Cold, Tau_T,
    optional T_Init (default (T_Hot + T_Cold)/2, the quickest start), an
    optional name and start_from (cavity.chain); blank lines and lines
    starting with # are skipped. A bad table is a CaseError of one line
    naming the row, its line and the column."""
    rows = _table_rows(path)
    if not rows:
        raise CaseError("%s: empty case table" % path)
    header = rows[0][1]
    missing = [c for c in CASE_COLUMNS if c not in header and c != "T_Init"]
    if missing:
        raise CaseError("%s: missing column(s) %s" % (path, ", ".join(missing)))
    cases = []
    names = set()
    for k, (line, fields) in enumerate(rows[1:], start=1):
        where = "%s: row %d (line %d)" % (path, k, line)
        row = _row_fields(header, fields, where)
        case = {"n": _int(row["n"], where + ", column n"),
                "m": _int(row["m"], where + ", column m")}
        # the walls sit half a spacing inside the end nodes (the solver
        # warns of such a grid for the same reason)
        if case["m"] < 2:
            raise CaseError("%s, column m: the cavity between the walls is "
                            "m - 1 spacings high; m must be at least 2" % where)
        for p in records.PARAM_NAMES:
            if p == "T_Init" and not row.get(p):
                continue
            try:
                case[p] = float(row[p])
            except ValueError:
                raise CaseError("%s, column %s: %r is not a number"
                                % (where, p, row[p]))
            if not math.isfinite(case[p]):
                raise CaseError("%s, column %s: not finite" % (where, p))
        if "T_Init" not in case:
            case["T_Init"] = 0.5 * (case["T_Hot"] + case["T_Cold"])
            row["T_Init"] = "%.9g" % case["T_Init"]
        name = row.get("name") or "case%03d" % k
        if not _NAME_RE.match(name) or name in (".", ".."):
            raise CaseError("%s: name %r: use letters, digits and _ . + - only"
                            % (where, name))
        if name in names:
            raise CaseError("%s: name %r used twice" % (where, name))
        names.add(name)
        case["name"] = name
        case["start_from"] = row.get("start_from", "")
        case["line"] = line
        # the numbers as typed, for the summary
        case["text"] = {c: row[c] for c in CASE_COLUMNS}
        cases.append(case)
    if not cases:
        raise CaseError("%s: no cases" % path)
    return cases


def case_warnings(case):
    """Set-ups that run but do not do what is likely meant."""
    out = []
    if case["T_Hot"] == case["T_Cold"]:
        out.append("T_Hot equals T_Cold: the set-up divides by zero")
    elif case["T_Hot"] - case["T_Cold"] != 1.0:
        out.append("T_Hot - T_Cold is not 1: Nu.dat is not normalised by the "
                   "temperature difference")
    if case["Tau_T"] <= 0.5:
        out.append("Tau_T <= 0.5 gives no positive diffusivity")
    return out


def parameter_text(case, ra_file=None):
    """The parameter file of a case: each label names the case and its
    grid, Ra is converted for the solver (``ra_file``, where given, is
    written as it stands)."""
    where = "  (case %s, grid %d x %d)" % (case["name"], case["n"], case["m"])
    labels = list(records.DEFAULT_LABELS)
    labels[1] = rayleigh.label(case["Ra"], case["m"])
    if ra_file is None:
        ra_file = rayleigh.to_solver(case["Ra"], case["m"])
    values = dict(case, Ra=ra_file)
    return records.parameter_text(values, [lab + where for lab in labels])


def prepare_case(folder, case):
    """Fresh case folder: parameter file (Ra converted for the solver) and
    the console answers."""
    os.makedirs(folder, exist_ok=True)
    for name in records.RESULT_FILES + RUN_FILES:
        p = os.path.join(folder, name)
        if os.path.exists(p):
            os.remove(p)
    with open(os.path.join(folder, records.PARAM_FILE), "w") as fh:
        fh.write(parameter_text(case))
    # n, m, then an empty line for the pause
    with open(os.path.join(folder, CONSOLE_IN), "w") as fh:
        fh.write("%d\n%d\n\n" % (case["n"], case["m"]))


def solver_options(settle=(SETTLE_TOL, SETTLE_WINDOW), threads=1, scheme=()):
    """The solver's options for every case: ``settle`` = (tolerance, window
    in steps or None for the solver's own), or None for the solver's own
    stop alone; ``scheme``: the options that choose the scheme."""
    opts = ["--threads", "%d" % threads] + list(scheme)
    if settle is not None:
        opts += ["--settle", "%r" % float(settle[0])]
        if settle[1] is not None:
            opts += ["--settle-window", "%d" % settle[1]]
    return opts


def job_command(binary, options, folder="{}", shell_options=""):
    """The shell command GNU parallel runs for one case folder: the solver
    with the folder's console answers, its output kept beside them, and its
    processor time (the shell's ``times``, portable to any remote shell).
    ``shell_options``: more options as shell text, expanded in the folder
    (a chained case's, cavity.chain)."""
    solver = " ".join(shlex.quote(a) for a in [binary] + options)
    if shell_options:
        solver += " " + shell_options
    return ("cd %s && { %s < %s > %s 2> %s; rc=$?; times > %s; exit $rc; }"
            % (folder, solver, CONSOLE_IN, CONSOLE_OUT, CONSOLE_ERR, CPU_TIME))


def transfer_options():
    """GNU parallel options that copy a case folder to the host that runs
    it (into a fresh folder under ~/.parallel/tmp there), bring the folder
    back and remove the copy; the job argument is then the folder's name
    relative to the sweep folder. One copy each way keeps the ssh
    connections of a job to a few."""
    return ["--workdir", "...", "--transferfile", "{}", "--return", "{}",
            "--cleanup"]


def parallel_argv(command, joblog, jobfile, extra):
    exe = shutil.which("parallel")
    if exe is None:
        raise RuntimeError("GNU parallel is not installed (Debian package "
                           "'parallel')")
    return [exe, "--joblog", joblog] + list(extra) + ["-a", jobfile, command]


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


def last_reported_nu(console_text):
    """The Nu text of the last progress report, or None."""
    found = _REPORT_NU_RE.findall(console_text)
    return found[-1] if found else None


def end_note(err_text):
    """(stop, step, line) from the solver's closing note on standard error:
    ("settled" | "residual" | "step-limit", the step, the note), or
    (None, None, None) when there is none."""
    for line in reversed((err_text or "").splitlines()):
        mt = _END_NOTE_RE.match(line)
        if mt:
            stop = "settled" if mt.group(1) == "settled" else "residual"
            return stop, int(mt.group(2)), line.strip()
        mt = _LIMIT_NOTE_RE.match(line)
        if mt:
            return "step-limit", int(mt.group(1)), line.strip()
    return None, None, None


def wall_nusselt(err_text):
    """(hot, cold) text of the solver's last note on the wall-corrected
    mean Nu, or ("", "")."""
    for line in reversed((err_text or "").splitlines()):
        mt = _WALL_NU_RE.match(line)
        if mt:
            return mt.group(1), mt.group(2)
    return "", ""


def cpu_seconds(folder):
    """User + system time of the solver from the shell's ``times`` (its
    second line: the children's), or None."""
    text = _read(os.path.join(folder, CPU_TIME))
    lines = (text or "").split("\n")
    if len(lines) < 2:
        return None
    total = 0.0
    for tok in lines[1].split():
        mt = re.fullmatch(r"(\d+)m([\d.]+)s", tok)
        if not mt:
            return None
        total += 60.0 * int(mt.group(1)) + float(mt.group(2))
    return total


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


def _job_status(row, job):
    """Fills status, exit_code, host, run_time_s; returns a note or None.
    A solver ended by a signal exits (through the job's shell) with
    128 + the signal's number."""
    if job is None:
        row.update(status="not-run", exit_code="", host="", run_time_s="")
        return None
    sig = int(job.get("Signal", "0") or 0)
    code = int(job.get("Exitval", "0") or 0)
    row["host"] = job.get("Host", "")
    row["run_time_s"] = "%.3f" % float(job.get("JobRuntime", "nan"))
    if not sig and code > 128:
        sig = code - 128
    if sig:
        row.update(status="killed", exit_code="")
        return "killed by signal %d" % sig
    row.update(status="ok" if code == 0 else "failed", exit_code=code)
    return None


def collect_case(folder, case, job, threads=""):
    """One summary row from the case folder and its joblog record."""
    text = case.get("text", {})
    row = {k: text.get(k, case[k]) for k in CASE_COLUMNS}
    row.update(name=case["name"], folder=folder, threads=threads,
               Ra_parameter_file="%r" % rayleigh.to_solver(case["Ra"], case["m"]))
    out = _read(os.path.join(folder, CONSOLE_OUT)) or ""
    err = _read(os.path.join(folder, CONSOLE_ERR))
    notes = []
    killed = _job_status(row, job)
    step = last_reported_step(out)
    row["last_reported_step"] = "" if step is None else step
    row["finished"] = "yes" if "Solution Has Finished!" in out else "no"
    cpu = cpu_seconds(folder) if job is not None else None
    row["cpu_time_s"] = "" if cpu is None else "%.2f" % cpu
    stop, end_step, note = end_note(err)
    row.update(stop="", end_step="", Nu="", Nu_last_report_before_failure="",
               Nu_2nd_order_hot="", Nu_2nd_order_cold="", Nu_wall_corrected="",
               Nu_dat_first_order="")
    if row["status"] == "ok":
        if stop is None and row["finished"] == "yes":
            stop = "residual"  # without --settle a converged run names no step
        row["stop"] = stop or ""
        row["end_step"] = "" if end_step is None else end_step
        if note:
            notes.append(note)
        try:
            row["Nu"] = repr(records.read_nu(folder))
            row["Nu_2nd_order_hot"], row["Nu_2nd_order_cold"] = wall_nusselt(err)
            row["Nu_dat_first_order"] = row["Nu"]
            row["Nu_wall_corrected"] = row["Nu_2nd_order_hot"]
        except (OSError, records.FormatError) as exc:
            notes.append("no readable Nu.dat: %s" % exc)
        if row["finished"] == "no":
            notes.append("exit status 0 but no closing lines on the console")
    elif row["status"] in ("failed", "killed"):
        row["stop"] = "failed"
        row["Nu_last_report_before_failure"] = last_reported_nu(out) or ""
        msg = _last_line(err) or _last_line(out)
        if msg:
            notes.append(msg)
        if killed:
            notes.append(killed)
    row["message"] = "; ".join(notes)
    return row


def write_summary(path, rows):
    with open(path, "w", newline="") as fh:
        w = csv.DictWriter(fh, fieldnames=SUMMARY_COLUMNS)
        w.writeheader()
        for r in rows:
            w.writerow(r)
