"""Sweeps on a cluster run by Slurm: one job array, one task a case.

The sweep folder (on a file system the nodes share) holds the case folders
as a local sweep writes them, the batch script ``slurm-task.sh``, the list
of case folders ``slurm-cases.txt`` (task K runs line K + 1) and the sweep's
record ``slurm-sweep.json`` (the cases, the solver's options, the jobs
submitted and the last state the scheduler gave each task). Each task runs
the solver as a local sweep does, with ``--checkpoint run.ckpt`` in its
case folder, so that a requeued or resubmitted task goes on where it
stopped, and appends what happened to ``slurm-task.txt`` there.
"""

import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import time

from . import provenance, rayleigh, sweep

SCRIPT = "slurm-task.sh"
CASE_LIST = "slurm-cases.txt"
STATE = "slurm-sweep.json"
LOGS = "slurm-logs"
CHECKPOINT = "run.ckpt"
TASK_RECORD = "slurm-task.txt"

# a task in one of these states will not run again by itself
FINAL = ("COMPLETED", "FAILED", "CANCELLED", "TIMEOUT", "NODE_FAIL",
         "PREEMPTED", "OUT_OF_MEMORY", "BOOT_FAIL", "DEADLINE")
WHY = {
    "FAILED": "the task ended with a non-zero exit status",
    "CANCELLED": "cancelled (scancel, or an administrator)",
    "TIMEOUT": "its time limit (--time) ran out",
    "NODE_FAIL": "its node failed",
    "PREEMPTED": "preempted by another job",
    "OUT_OF_MEMORY": "it ran out of memory",
    "BOOT_FAIL": "its node did not boot",
    "DEADLINE": "its deadline passed",
}
# node steps between two checkpoints: about a minute of one core
CHECKPOINT_NODE_STEPS = 2e9


class SlurmError(RuntimeError):
    pass


def add_arguments(ap):
    g = ap.add_argument_group(
        "on a Slurm cluster (python/README.md, \"Sweeps on a Slurm cluster\")")
    g.add_argument("--slurm", action="store_true",
                   help="submit the cases as one Slurm job array (one task a "
                   "case) instead of running them here; OUTDIR must be on a "
                   "file system the nodes share")
    g.add_argument("--partition", metavar="P", help="sbatch --partition=P")
    g.add_argument("--time", metavar="T",
                   help="sbatch --time=T, the limit of each task (e.g. 2:00:00)")
    g.add_argument("--cpus-per-case", type=int, default=1, metavar="C",
                   help="sbatch --cpus-per-task=C, and the solver's --threads C "
                   "(default 1)")
    g.add_argument("--array-limit", type=int, metavar="K",
                   help="at most K tasks running at once (sbatch --array=...%%K)")
    g.add_argument("--sbatch-arg", action="append", default=[], metavar="ARG",
                   help="one more sbatch option, as it is (repeatable; write "
                   "--sbatch-arg=--mem=2G)")
    g.add_argument("--checkpoint-every", type=int, metavar="STEPS",
                   help="the solver's --checkpoint-every (default: about one "
                   "checkpoint a minute of one core, by the grid)")
    g.add_argument("--no-wait", action="store_true",
                   help="submit and return; `cavity-sweep collect OUTDIR` "
                   "writes the summary later")
    g.add_argument("--resume", action="store_true",
                   help="resubmit only the cases of OUTDIR that did not end "
                   "well or have not run; each goes on from its checkpoint")


def check(args, passthrough):
    """A problem with the Slurm options, or None."""
    if not args.slurm:
        for opt in ("partition", "time", "array_limit", "checkpoint_every"):
            if getattr(args, opt) is not None:
                return "--%s needs --slurm" % opt.replace("_", "-")
        if args.sbatch_arg or args.no_wait or args.resume or args.cpus_per_case != 1:
            return ("--sbatch-arg, --cpus-per-case, --no-wait and --resume "
                    "need --slurm")
        return None
    if passthrough:
        return ("%s: not an option of a Slurm sweep (give sbatch options as "
                "--sbatch-arg=OPTION)" % passthrough[0])
    if args.sshlogin or args.sshloginfile or args.transfer or args.jobs:
        return "--jobs, --sshlogin and --transfer do not go with --slurm"
    if args.cpus_per_case < 1:
        return "--cpus-per-case must be at least 1"
    if args.threads not in (1, args.cpus_per_case):
        return ("with --slurm the solver's threads are --cpus-per-case; "
                "leave out --threads")
    if args.array_limit is not None and args.array_limit < 1:
        return "--array-limit must be at least 1"
    if args.checkpoint_every is not None and not 1 <= args.checkpoint_every <= 1000000:
        return "--checkpoint-every must be 1 to 1000000 steps"
    return None


def checkpoint_every(case):
    steps = CHECKPOINT_NODE_STEPS / ((case["n"] + 1) * (case["m"] + 1))
    return int(min(1000000, max(50, 50 * round(steps / 50))))


def array_ranges(indices):
    """0,1,2,5,7,8 -> '0-2,5,7-8'."""
    parts, k = [], 0
    indices = sorted(indices)
    while k < len(indices):
        j = k
        while j + 1 < len(indices) and indices[j + 1] == indices[j] + 1:
            j += 1
        parts.append("%d" % indices[k] if j == k
                     else "%d-%d" % (indices[k], indices[j]))
        k = j + 1
    return ",".join(parts)


def task_script(outdir, binary, options):
    """The batch script: task K runs the case folder on line K + 1 of the
    case list, as a local sweep runs it, with the checkpoint in the folder.
    Slurm sends SIGTERM to the whole task when it cancels, times out,
    preempts or requeues it; the shell passes it on to the solver, waits for
    it and notes how it ended."""
    solver = " ".join(shlex.quote(a) for a in [binary] + options)
    return """#!/bin/bash
# One case of a cavity sweep: written by cavity-sweep --slurm, submitted as a
# job array; task K runs the case folder on line K + 1 of %(list)s.
set -u
line=$(sed -n "$((SLURM_ARRAY_TASK_ID + 1))p" %(cases)s)
folder=${line%%%%	*}
every=${line##*	}
cd "$folder" || { echo "cavity-sweep task: cannot enter $folder" >&2; exit 1; }
job=${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}
note() { printf '%%s\\tjob=%%s\\ttime=%%s%%s\\n' "$1" "$job" "$EPOCHREALTIME" "$2" >> %(record)s; }
note start "$(printf '\\trestart=%%s\\thost=%%s' "${SLURM_RESTART_COUNT:-0}" "${SLURMD_NODENAME:-$(hostname)}")"
sig= pid=
trap 'sig=TERM; [ -n "$pid" ] && kill -TERM $pid 2>/dev/null' TERM
trap 'sig=INT; [ -n "$pid" ] && kill -INT $pid 2>/dev/null' INT
%(solver)s --checkpoint %(ckpt)s --checkpoint-every "$every" \\
  < %(cin)s >> %(cout)s 2>> %(cerr)s &
pid=$!
[ -n "$sig" ] && kill -$sig $pid 2>/dev/null
wait $pid
rc=$?
# a signal ends the first wait early; the second gives the solver's status
[ -n "$sig" ] && { wait $pid; again=$?; [ $again -ne 127 ] && rc=$again; }
times > %(cpu)s
note end "$(printf '\\texit=%%s\\tsignal=%%s\\tcpu=%%s' "$rc" "$sig" "$(sed -n 2p %(cpu)s)")"
exit $rc
""" % {"list": CASE_LIST, "cases": shlex.quote(os.path.join(outdir, CASE_LIST)),
       "record": TASK_RECORD, "solver": solver, "ckpt": CHECKPOINT,
       "cin": sweep.CONSOLE_IN, "cout": sweep.CONSOLE_OUT,
       "cerr": sweep.CONSOLE_ERR, "cpu": sweep.CPU_TIME}


def sbatch_argv(args, outdir, indices):
    ranges = array_ranges(indices)
    if args.array_limit:
        ranges += "%%%d" % args.array_limit
    argv = ["sbatch", "--parsable", "--array=" + ranges,
            "--job-name=" + os.path.basename(outdir),
            "--ntasks=1", "--cpus-per-task=%d" % args.cpus_per_case,
            "--requeue", "--open-mode=append",
            "--output=" + os.path.join(outdir, LOGS, "%A_%a.out"),
            "--chdir=" + outdir]
    if args.partition:
        argv.append("--partition=" + args.partition)
    if args.time:
        argv.append("--time=" + args.time)
    return argv + list(args.sbatch_arg) + [os.path.join(outdir, SCRIPT)]


def _command(argv, what):
    if shutil.which(argv[0]) is None:
        raise SlurmError("%s not found: --slurm needs Slurm's commands (sbatch, "
                         "scontrol, squeue) on the PATH; run the sweep on the "
                         "cluster's login node" % argv[0])
    proc = subprocess.run(argv, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)
    if proc.returncode != 0:
        lines = [ln.strip() for ln in (proc.stderr or proc.stdout).splitlines()
                 if ln.strip()]
        msg = lines[-1] if lines else "exit status %d" % proc.returncode
        hint = ("the cluster's MaxArraySize (scontrol show config) caps the "
                "task numbers; split the table into smaller sweeps"
                if "array" in msg.lower() else "is this a login node of the "
                "cluster, with its Slurm set-up?")
        raise SlurmError("%s failed: %s (%s)" % (what, msg, hint))
    return proc.stdout


# -- the scheduler's view ------------------------------------------------------

def _expand(tasks):
    """'0-3,7%2' -> [0, 1, 2, 3, 7]."""
    out = []
    for part in tasks.split("%")[0].split(","):
        if "-" in part:
            a, b = part.split("-", 1)
            out.extend(range(int(a), int(b) + 1))
        elif part.isdigit():
            out.append(int(part))
    return out


def parse_scontrol(text):
    """'ARRAYJOB_TASK' -> {state, exit, reason, restarts} from the one-line
    records of ``scontrol -o show job``; a pending part of an array not
    yet split into tasks gives each of its tasks."""
    out = {}
    for line in text.splitlines():
        f = dict(kv.split("=", 1) for kv in line.split() if "=" in kv)
        if "ArrayJobId" not in f or "ArrayTaskId" not in f:
            continue
        rec = {"state": f.get("JobState", ""), "exit": f.get("ExitCode", ""),
               "reason": f.get("Reason", ""), "restarts": f.get("Restarts", "")}
        for t in _expand(f["ArrayTaskId"]):
            out["%s_%d" % (f["ArrayJobId"], t)] = dict(rec)
    return out


def parse_sacct(text):
    """'ARRAYJOB_TASK' -> {state, exit} from ``sacct -X -n -P -o
    JobID,State,ExitCode``; a pending range 'J_[0-3%2]' gives each task."""
    out = {}
    for line in text.splitlines():
        cols = line.split("|")
        if len(cols) < 3 or "_" not in cols[0]:
            continue
        job, tasks = cols[0].split("_", 1)
        for t in _expand(tasks.strip("[]")):
            out["%s_%d" % (job, t)] = {"state": cols[1].strip(),
                                       "exit": cols[2].strip()}
    return out


def scheduler_states(jobs):
    """What the scheduler says of the tasks of these array jobs: sacct where
    accounting is on, else scontrol (which keeps a finished task for
    MinJobAge, 300 s by default); tasks it no longer knows are left out.
    None when neither command answers."""
    out, answered = {}, False
    if not jobs:
        return out
    if shutil.which("sacct"):
        proc = subprocess.run(["sacct", "-X", "-n", "-P", "-j", ",".join(jobs),
                               "-o", "JobID,State,ExitCode"],
                              capture_output=True, text=True,
                              stdin=subprocess.DEVNULL)
        if proc.returncode == 0:
            out, answered = parse_sacct(proc.stdout), True
    for job in jobs:
        # accounting may not have the job yet; the controller has
        if any(t.startswith(job + "_") for t in out) or not shutil.which("scontrol"):
            continue
        proc = subprocess.run(["scontrol", "-o", "show", "job", job],
                              capture_output=True, text=True,
                              stdin=subprocess.DEVNULL)
        if proc.returncode == 0:
            out.update(parse_scontrol(proc.stdout))
            answered = True
        elif "invalid job id" in proc.stderr.lower():
            answered = True
    return out if answered else None


def state_word(rec):
    """'CANCELLED by 0' -> 'CANCELLED'."""
    return (rec or {}).get("state", "").split(" ")[0]


# -- the sweep's record --------------------------------------------------------

def load(outdir):
    path = os.path.join(outdir, STATE)
    try:
        with open(path) as fh:
            return json.load(fh)
    except FileNotFoundError:
        raise SlurmError("%s: no Slurm sweep here (no %s); start one with "
                         "cavity-sweep CASES.csv -o %s --slurm"
                         % (outdir, STATE, outdir))
    except (OSError, ValueError) as exc:
        raise SlurmError("%s: cannot read %s: %s" % (outdir, STATE, exc))


def save(outdir, state):
    path = os.path.join(outdir, STATE)
    with open(path + ".tmp", "w") as fh:
        json.dump(state, fh, indent=1)
    os.replace(path + ".tmp", path)


def task_of(state, index):
    """The job id of the latest task submitted for case ``index``, or None."""
    for sub in reversed(state.get("jobs", [])):
        if index in sub["indices"]:
            return "%s_%d" % (sub["job"], index)
    return None


def refresh(state):
    """Asks the scheduler about the sweep's jobs and keeps what it says in
    the record, so that a task it has since forgotten keeps its last state;
    returns what it said now, or None when it did not answer."""
    jobs = [str(sub["job"]) for sub in state.get("jobs", [])]
    seen = scheduler_states(jobs)
    state.setdefault("states", {}).update(seen or {})
    return seen


def read_record(folder):
    """The attempts of a case folder's task record: a list of dicts with
    job, host, restart, start and, once ended, end, exit, signal, cpu."""
    attempts = []
    try:
        with open(os.path.join(folder, TASK_RECORD)) as fh:
            lines = fh.read().splitlines()
    except OSError:
        return attempts
    for line in lines:
        cols = line.split("\t")
        f = dict(c.split("=", 1) for c in cols[1:] if "=" in c)
        if cols[0] == "start":
            attempts.append({"job": f.get("job"), "host": f.get("host", ""),
                             "restart": f.get("restart", "0"),
                             "start": float(f.get("time", "nan"))})
        elif cols[0] == "end" and attempts and attempts[-1]["job"] == f.get("job"):
            attempts[-1].update(end=float(f.get("time", "nan")),
                                exit=int(f.get("exit", "1")),
                                signal=f.get("signal", ""), cpu=f.get("cpu", ""))
    return attempts


def _cpu(text):
    total = 0.0
    for tok in (text or "").split():
        mt = re.fullmatch(r"(\d+)m([\d.]+)s", tok)
        if not mt:
            return None
        total += 60.0 * int(mt.group(1)) + float(mt.group(2))
    return total


def collect_case(folder, case, task, sched, threads, gone=False):
    """One summary row, as a local sweep's, from the case folder, its task
    record (``task`` is the job id of its latest task) and what the
    scheduler said of that task (``sched``); ``gone``: the scheduler
    answered and no longer knows the task."""
    attempts = [a for a in read_record(folder) if a["job"] == task] if task else []
    last = attempts[-1] if attempts else None
    word = state_word(sched)
    if gone and word not in FINAL:
        word = ""  # last seen queued or running, since forgotten
    job = None
    if last is not None and "end" in last:
        job = {"Host": last["host"], "Exitval": str(last["exit"]),
               "JobRuntime": "%.3f" % sum(a["end"] - a["start"]
                                          for a in attempts if "end" in a)}
    elif last is not None and (word in FINAL or not word and gone):
        # ended without a word from its shell: killed outright
        job = {"Host": last["host"], "Signal": "9", "JobRuntime": "nan"}
    row = sweep.collect_case(folder, case, job, threads)
    cpus = [_cpu(a.get("cpu")) for a in attempts if "end" in a]
    if cpus and None not in cpus:
        row["cpu_time_s"] = "%.2f" % sum(cpus)
    if row["run_time_s"] == "nan":
        row["run_time_s"] = ""
    notes = [row["message"]] if row["message"] else []
    if word == "FAILED" and job and "Exitval" in job:
        pass  # the solver's own failure, told as a local sweep tells it
    elif word in FINAL and word != "COMPLETED":
        row.update(status="failed", stop="failed", exit_code=row["exit_code"]
                   if row["status"] == "failed" else "")
        what = "cancelled before it started" if last is None else WHY.get(word, "")
        notes.append("scheduler: %s, %s (task %s)"
                     % (sched["state"], what, task))
    elif word and word not in FINAL:
        row["status"] = "not-run"
        notes.append("scheduler: %s (task %s)" % (word, task))
    elif not word and row["status"] == "killed":
        # the scheduler has forgotten the task; its own record says it was
        # stopped, which only the scheduler does to a task
        row.update(status="failed", stop="failed")
        notes.append("the scheduler stopped task %s (cancelled, out of time, "
                     "preempted or its node lost; the scheduler no longer "
                     "says which)" % task)
    elif not word and row["status"] == "not-run" and task:
        notes.append("task %s has not started%s" % (task, "" if gone else
                     " (the scheduler did not answer)"))
    if len(attempts) > 1:
        notes.append("ran %d times (requeued)" % len(attempts))
    row["message"] = "; ".join(notes)
    return row


def collect(state):
    seen = refresh(state)
    if seen is None:
        print("cavity-sweep: warning: the scheduler did not answer (sacct, "
              "scontrol); the rows come from the tasks' own records and the "
              "states last seen", file=sys.stderr)
    known = state["states"]
    rows = []
    for k, case in enumerate(state["cases"]):
        task = task_of(state, k)
        rows.append(collect_case(case["folder"], case, task, known.get(task),
                                 state["threads"],
                                 seen is not None and task not in seen))
    return rows


# -- submitting and waiting ----------------------------------------------------

def progress(state, indices, known):
    counts = {}
    for k in indices:
        word = state_word(known.get(task_of(state, k))) or "PENDING"
        if word in FINAL:
            word = "done" if word == "COMPLETED" else "failed"
        counts[word.lower()] = counts.get(word.lower(), 0) + 1
    order = ["done", "failed", "running", "pending"]
    keys = order + sorted(k for k in counts if k not in order)
    return ", ".join("%d %s" % (counts[k], k) for k in keys if k in counts)


def wait(state, outdir, indices, job):
    """Waits until every task of ``indices`` has ended (or the scheduler,
    answering, no longer knows it), printing the counts whenever they
    change."""
    shown, start, told = None, time.time(), set()
    while True:
        seen = refresh(state)
        known = state["states"]
        save(outdir, state)
        for k in indices:
            task = task_of(state, k)
            word = state_word(known.get(task))
            if word in FINAL and word != "COMPLETED" and task not in told:
                told.add(task)
                print("cavity-sweep: case %s (task %s): %s"
                      % (state["cases"][k]["name"], task, known[task]["state"]),
                      file=sys.stderr)
        line = progress(state, indices, known)
        if line != shown:
            print("cavity-sweep: job %s: %s (%s)"
                  % (job, line, time.strftime("%H:%M:%S")), file=sys.stderr)
            shown = line
        # a task just submitted may not be known yet: a minute's grace
        late = seen is not None and time.time() - start > 60
        if all(state_word(known.get(t)) in FINAL or late and t not in seen
               for t in (task_of(state, k) for k in indices)):
            return
        time.sleep(min(30.0, 1.0 + (time.time() - start) / 20.0))


def prepare(args, cases, binary, options, prepare_case=sweep.prepare_case):
    """Writes the case folders (a fresh sweep) or picks the cases to run
    again (--resume); returns (state, indices to submit)."""
    outdir = os.path.abspath(args.outdir)
    os.makedirs(os.path.join(outdir, LOGS), exist_ok=True)
    old = None
    if os.path.exists(os.path.join(outdir, STATE)):
        old = load(outdir)
        busy = sorted(t for t, r in (refresh(old) or {}).items()
                      if state_word(r) not in FINAL)
        if busy:
            raise SlurmError("%s: task(s) %s of this sweep are still queued or "
                             "running; wait for them (cavity-sweep collect %s) "
                             "or scancel them first"
                             % (outdir, ", ".join(busy[:5]), outdir))
    elif args.resume:
        raise SlurmError("--resume: %s holds no Slurm sweep (no %s)"
                         % (outdir, STATE))
    done = set()
    if args.resume:
        was = [(c["name"], c.get("text")) for c in old["cases"]]
        if was != [(c["name"], c.get("text")) for c in cases]:
            raise SlurmError("--resume: the case table is not the one %s was "
                             "run with; resume with that table, or start "
                             "afresh without --resume" % outdir)
        rows = collect(old)
        done = {r["name"] for r in rows if r["status"] == "ok"}
    state = {"cases": [], "threads": args.cpus_per_case,
             "jobs": old["jobs"] if args.resume else [],
             "states": old.get("states", {}) if args.resume else {},
             "summary": args.summary or os.path.join(outdir, "summary.csv"),
             "provenance": getattr(args, "provenance", None)}
    lines, indices = [], []
    for k, case in enumerate(cases):
        folder = os.path.join(outdir, case["name"])
        every = args.checkpoint_every or checkpoint_every(case)
        lines.append("%s\t%d\n" % (folder, every))
        state["cases"].append(dict(case, folder=folder))
        if case["name"] in done:
            continue
        indices.append(k)
        if not args.resume:
            for f in (CHECKPOINT, CHECKPOINT + ".tmp", CHECKPOINT + ".prev",
                      TASK_RECORD):
                if os.path.exists(os.path.join(folder, f)):
                    os.remove(os.path.join(folder, f))
        prepare_case(folder, case)
        if getattr(args, "provenance", None):
            provenance.write_case(folder, case, args.provenance,
                                  ["--checkpoint", CHECKPOINT,
                                   "--checkpoint-every", "%d" % every])
        for w in sweep.case_warnings(case):
            print("cavity-sweep: warning: %s: %s" % (case["name"], w),
                  file=sys.stderr)
    with open(os.path.join(outdir, CASE_LIST), "w") as fh:
        fh.write("".join(lines))
    with open(os.path.join(outdir, SCRIPT), "w") as fh:
        fh.write(task_script(outdir, binary, options))
    os.chmod(os.path.join(outdir, SCRIPT), 0o755)
    return state, indices


def run(args, cases, binary, settle, job=None):
    """The Slurm sweep of cavity-sweep: summary rows, or None when it does
    not wait (--no-wait, --dry-run). ``job`` = (prepare, binary, options):
    another program each task runs in its case folder (cli.sweep.run)."""
    outdir = os.path.abspath(args.outdir)
    options = sweep.solver_options(settle, args.cpus_per_case,
                                   getattr(args, "scheme_options", ()))
    if job:
        state, indices = prepare(args, cases, job[1], job[2], job[0])
    else:
        state, indices = prepare(args, cases, os.path.abspath(binary), options)
    argv = sbatch_argv(args, outdir, indices)
    if args.dry_run or not indices:
        print(" ".join(shlex.quote(a) for a in argv) if indices else
              "cavity-sweep: every case of %s has ended well; nothing to "
              "resubmit" % outdir, file=sys.stdout if args.dry_run else sys.stderr)
        save(outdir, state)
        return None if args.dry_run else collect(state)
    out = _command(argv, "sbatch")
    job = out.strip().split(";")[0]
    if not job.isdigit():
        raise SlurmError("sbatch answered %r, not a job id" % out.strip())
    state["jobs"].append({"job": job, "indices": indices})
    save(outdir, state)
    print("cavity-sweep: %s" % rayleigh.NOTE, file=sys.stderr)
    print("cavity-sweep: submitted %d case(s) as job array %s (tasks %s; "
          "squeue -j %s shows them)" % (len(indices), job, array_ranges(indices),
                                        job), file=sys.stderr)
    if args.no_wait:
        print("cavity-sweep: not waiting; cavity-sweep collect %s writes the "
              "summary" % outdir, file=sys.stderr)
        return None
    try:
        wait(state, outdir, indices, job)
    except KeyboardInterrupt:
        print("\ncavity-sweep: stopped waiting; job %s goes on (scancel %s "
              "stops it); cavity-sweep collect %s writes the summary"
              % (job, job, outdir), file=sys.stderr)
        raise SystemExit(130)
    return collect(state)
