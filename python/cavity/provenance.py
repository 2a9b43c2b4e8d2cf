"""Where a sweep's numbers come from: the solver and its version, the
kernel set, the options, the parameters, the host and the date, kept in
small JSON files beside the summary (SUMMARY.provenance.json) and in each
case folder (provenance.json), where CSV readers never meet them."""

import json
import os
import re
import socket
import subprocess
import sys
import time

from . import rayleigh

CASE_FILE = "provenance.json"


def _now():
    return time.strftime("%Y-%m-%dT%H:%M:%S%z")


def solver_version(binary):
    """(the line `BINARY --version` prints, the kernel set it names as the
    one it runs on this machine), or ("unknown: why", "")."""
    try:
        out = subprocess.run([binary, "--version"], capture_output=True,
                             stdin=subprocess.DEVNULL, text=True,
                             timeout=30).stdout.strip()
    except (OSError, subprocess.SubprocessError) as exc:
        return "unknown: %s" % exc, ""
    line = out.splitlines()[0] if out else ""
    if not line.startswith("cavity "):
        return "unknown: %s gave no version line" % binary, ""
    mt = re.search(r"\((\w+) kernels of ", line)
    return line, mt.group(1) if mt else ""


def _tools_version():
    try:
        from importlib import metadata
        return metadata.version("cavity")
    except Exception:  # a source tree without an installed package
        return "unknown"


def sweep_record(binary, options, back_end, argv=None):
    """What every case of a sweep shares: the command, the solver, its
    version and kernel set here, its options, the back end, host and date."""
    if os.sep in binary:
        version, kernels = solver_version(binary)
    else:  # --transfer --bin cavity: each host's own
        version, kernels = "unknown: the %s on each host's PATH" % binary, ""
    return {"command": ["cavity-sweep"] + list(sys.argv[1:] if argv is None else argv),
            "tools_version": _tools_version(), "program": binary,
            "program_version": version, "kernel_set": kernels,
            "solver_options": list(options), "back_end": back_end,
            "host": socket.gethostname(), "cwd": os.getcwd(), "date": _now()}


def write_case(folder, case, sweep, extra_options=()):
    """provenance.json of a case folder, written when the case is prepared.
    The kernel set is the one the solver takes on the preparing host; the
    summary's host column (and ``ran_on`` here, once the sweep has
    collected it) says where the case ran."""
    rec = dict(sweep)
    rec["solver_options"] = list(sweep["solver_options"]) + list(extra_options)
    rec["parameters"] = {k: case[k] for k in
                         ("n", "m", "Pr", "T_Hot", "T_Cold", "T_Init", "Tau_T")}
    rec["Ra"] = {"cavity_between_the_walls": case["Ra"],
                 "parameter_file": rayleigh.to_solver(case["Ra"], case["m"])}
    rec["case"] = case["name"]
    _write(os.path.join(folder, CASE_FILE), rec)


def note_where_run(rows):
    """Adds to each case folder's provenance.json the host the summary
    says the case ran on."""
    for r in rows:
        path = os.path.join(r.get("folder", ""), CASE_FILE)
        try:
            with open(path) as fh:
                rec = json.load(fh)
        except (OSError, ValueError):
            continue
        host = r.get("host")
        if host == ":":  # GNU parallel's name for this machine
            host = "%s (this machine)" % socket.gethostname()
        if host and rec.get("ran_on") != host:
            rec["ran_on"] = host
            _write(path, rec)


def write_summary(summary_path, sweep, rows):
    """SUMMARY.provenance.json beside the summary CSV."""
    rec = dict(sweep or {})
    rec.update(summary=os.path.basename(summary_path), summary_written=_now(),
               cases=len(rows), columns=os.path.basename(
                   os.path.splitext(summary_path)[0] + ".columns.txt"))
    _write(os.path.splitext(summary_path)[0] + ".provenance.json", rec)


def _write(path, rec):
    with open(path + ".tmp", "w") as fh:
        json.dump(rec, fh, indent=1)
        fh.write("\n")
    os.replace(path + ".tmp", path)
