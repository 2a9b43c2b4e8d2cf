import csv
import json
import os
import re
import subprocess
import time

import pytest

from conftest import FAKE_SOLVER, tool
from cavity import rayleigh, records, sweep

HEAD = "name,n,m,Pr,Ra,T_Hot,T_Cold,T_Init,Tau_T\n"


def run_sweep(tmp_path, table, binary, *extra, out="out"):
    cases = tmp_path / "cases.csv"
    cases.write_text(table)
    env = dict(os.environ, CAVITY_BIN=binary)
    proc = subprocess.run(
        [tool("cavity-sweep"), str(cases), "-o", str(tmp_path / out),
         "--timeout=120"] + list(extra),
        env=env, capture_output=True, text=True, timeout=600)
    rows = {}
    summary = tmp_path / out / "summary.csv"
    if summary.exists():
        with open(summary, newline="") as fh:
            rows = {r["name"]: r for r in csv.DictReader(fh)}
    return proc, rows


def test_sweep_with_stand_in_solver(tmp_path):
    table = (HEAD
             + "long,32,30,0.71,1e4,1,0,0,0.8\n"
             + "short,8,8,0.71,1e3,1,0,0,0.8\n"
             + "never,12,12,200,1e4,1,0,0,0.8\n"
             + "nodiff,20,20,0.71,1e4,1,0,0,0.5\n"
             + "blowup,20,20,0.71,1e10,1,0,0,0.8\n")
    proc, rows = run_sweep(tmp_path, table, FAKE_SOLVER, "--jobs", "2",
                           "--settle-window", "1000")
    assert proc.returncode == 1, proc.stderr  # some cases failed
    assert set(rows) == {"long", "short", "never", "nodiff", "blowup"}
    # said once: the Ra convention, and how jobs and threads share the cores
    assert proc.stderr.count("between the walls") == 1
    assert "2 job(s) at once, 1 solver thread each" in proc.stderr

    r = rows["long"]  # stops on step 157, before a 1000-step window is full
    assert (r["status"], r["stop"], r["end_step"]) == ("ok", "residual", "157")
    assert r["last_reported_step"] == "150" and r["finished"] == "yes"
    assert float(r["Nu"]) == pytest.approx(2 * 31 / 30, rel=1e-6)
    assert r["Ra"] == "1e4" and r["threads"] == "1"
    assert float(r["Ra_parameter_file"]) == pytest.approx(1e4 * (30 / 29) ** 3)
    assert r["message"].startswith("note: converged at step 157")
    assert float(r["run_time_s"]) >= 0 and float(r["cpu_time_s"]) >= 0

    r = rows["never"]  # never meets the stop: settled after a full window
    assert (r["status"], r["stop"], r["end_step"]) == ("ok", "settled", "1000")

    r = rows["short"]  # stops before step 50: no report at all
    assert r["status"] == "ok" and r["last_reported_step"] == ""
    assert float(r["Nu"]) == pytest.approx(2.25)

    r = rows["nodiff"]  # fails before any file is written
    assert (r["status"], r["exit_code"], r["stop"], r["Nu"]) == (
        "failed", "1", "failed", "")
    assert r["message"] == "floating-point error: invalid"
    assert r["Nu_last_report_before_failure"] == ""

    r = rows["blowup"]  # fails after two reports: no Nu, the last report's
    assert (r["status"], r["stop"], r["Nu"]) == ("failed", "failed", "")
    assert r["last_reported_step"] == "100"
    assert float(r["Nu_last_report_before_failure"]) == pytest.approx(2.1)
    assert r["message"] == "floating-point error: overflow"

    # the case folder holds what the solver was given: the Ra of the cavity
    # between the walls, converted for the solver's m
    folder = tmp_path / "out" / "long"
    assert (folder / "console.in").read_bytes() == b"32\n30\n\n"
    assert records.read_parameters(str(folder)) == {
        "Pr": 0.71, "Ra": rayleigh.to_solver(1e4, 30), "T_Hot": 1.0,
        "T_Cold": 0.0, "T_Init": 0.0, "Tau_T": 0.8}
    assert "Nu_last_report_before_failure" in (
        tmp_path / "out" / "summary.columns.txt").read_text()
    # the Nu to quote under a name that says so, Nu.dat's beside it
    assert rows["long"]["Nu_dat_first_order"] == rows["long"]["Nu"]
    assert rows["long"]["Nu_wall_corrected"] == rows["long"]["Nu_2nd_order_hot"] != ""
    assert rows["blowup"]["Nu_wall_corrected"] == ""
    # where the numbers come from: beside the summary and in each case folder
    sweep_prov = json.loads((tmp_path / "out" / "summary.provenance.json").read_text())
    case_prov = json.loads((folder / "provenance.json").read_text())
    for rec in (sweep_prov, case_prov):
        assert rec["program"] == FAKE_SOLVER and rec["back_end"] == "this machine"
        assert rec["solver_options"][:4] == ["--threads", "1", "--settle", "1e-05"]
        assert "--settle-window" in rec["command"] and rec["date"][:2] == "20"
    assert sweep_prov["cases"] == 5
    assert case_prov["Ra"] == {"cavity_between_the_walls": 1e4,
                               "parameter_file": rayleigh.to_solver(1e4, 30)}
    assert case_prov["parameters"]["m"] == 30 and case_prov["ran_on"].endswith(
        "(this machine)")


def test_no_settle_runs_to_the_solver_stop(tmp_path):
    table = HEAD + "never,12,12,200,1e4,1,0,0,0.8\n"
    proc, rows = run_sweep(tmp_path, table, FAKE_SOLVER, "--no-settle",
                           "--threads", "3", "--jobs", "1")
    assert proc.returncode == 0, proc.stderr
    r = rows["never"]
    assert (r["stop"], r["end_step"], r["threads"]) == ("step-limit", "1000000", "3")
    assert "3 solver threads each" in proc.stderr
    assert "3 threads on" not in proc.stderr or "slow each other" in proc.stderr


def test_the_command_gives_each_job_its_threads_and_settle_rule(tmp_path):
    p = tmp_path / "c.csv"
    p.write_text(HEAD + "a,8,8,0.71,1e3,1,0,0,0.8\n")
    proc = subprocess.run([tool("cavity-sweep"), str(p), "-o", str(tmp_path / "o"),
                           "--bin", FAKE_SOLVER, "--dry-run"],
                          capture_output=True, text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr
    assert "--threads 1 --settle 1e-05 " in proc.stdout
    assert "--settle-window" not in proc.stdout  # the solver's window
    for bad in (["--settle", "0"], ["--threads", "0"], ["--settle-window", "50"]):
        proc = subprocess.run([tool("cavity-sweep"), str(p), "--bin", FAKE_SOLVER]
                              + bad, capture_output=True, text=True, timeout=60)
        assert proc.returncode == 2 and bad[0] in proc.stderr


def test_settled_sweep_of_a_run_that_never_stops_matches_its_step_limit(
        tmp_path, solver):
    """8 x 8 at Tau_T = 0.51: rounding noise keeps the temperature residual
    near 8e-7, so the solver alone runs its 1,000,000 steps (a few seconds
    here); the default sweep ends it settled, with the same Nu to 0.1 %."""
    binary, real = solver
    if not real:
        pytest.skip("CAVITY_BIN not set")
    table = HEAD + "noisy,8,8,0.71,1e3,1,0,0,0.51\n"
    proc, full = run_sweep(tmp_path, table, binary, "--no-settle", out="full")
    assert proc.returncode == 0, proc.stderr
    proc, settled = run_sweep(tmp_path, table, binary, out="settled")
    assert proc.returncode == 0, proc.stderr
    a, b = full["noisy"], settled["noisy"]
    assert (a["stop"], a["end_step"]) == ("step-limit", "1000000")
    assert b["stop"] == "settled" and int(b["end_step"]) < 100000
    assert float(b["Nu"]) == pytest.approx(float(a["Nu"]), rel=1e-3)
    # the files hold the snapshot of the step the run settled on
    folder = tmp_path / "settled" / "noisy"
    assert b["message"].startswith("note: settled at step %s: Nu = " % b["end_step"])
    settled_nu = re.match(r"[-+0-9.eE]+", b["message"].split("Nu = ")[1]).group(0)
    assert records.read_nu(str(folder)) == float(settled_nu)
    assert not list(folder.glob("*.tmp"))


def test_sweep_with_the_solver(tmp_path, solver):
    binary, real = solver
    if not real:
        pytest.skip("CAVITY_BIN not set")
    # A one-column grid has no fluid: it ends on the temperature residual
    # alone, at step 2; Tau_T = 0.5 is refused in the set-up; Ra 1e8 on
    # 16 x 16 overflows after some reports
    table = (HEAD + "rest,1,16,0.71,1e3,1,0,0.5,0.8\n"
             + "zero,16,16,0.71,1e3,1,0,0,0.5\n"
             + "boom,16,16,0.71,1e8,1,0,0,0.6\n")
    proc, rows = run_sweep(tmp_path, table, binary)
    assert proc.returncode == 1, proc.stderr
    version = subprocess.run([binary, "--version"], capture_output=True,
                             text=True).stdout.splitlines()[0]
    prov = json.loads((tmp_path / "out" / "rest" / "provenance.json").read_text())
    assert prov["program_version"] == version and prov["kernel_set"] in version
    r = rows["rest"]
    assert (r["status"], r["stop"], r["end_step"]) == ("ok", "residual", "2")
    assert float(r["Nu"]) == records.read_nu(r["folder"])
    assert r["Nu_2nd_order_hot"] == ""  # one column wide: the note has none
    r = rows["zero"]
    assert (r["status"], r["exit_code"], r["stop"]) == ("failed", "1", "failed")
    assert r["message"].startswith("parameter error: Tau_T")
    r = rows["boom"]
    assert (r["stop"], r["Nu"]) == ("failed", "")
    assert r["message"].startswith("floating-point error")
    if r["last_reported_step"]:
        assert r["Nu_last_report_before_failure"] != ""


def test_a_second_sweep_into_a_busy_folder_is_refused(tmp_path, solver):
    """Two sweeps started into one folder: the second is refused before it
    writes anything, naming the first's process id, and the first's results
    stay whole; once the first has ended the folder takes a sweep again."""
    binary, real = solver
    cases = tmp_path / "t.csv"
    # a few seconds either way, for the second to start meanwhile
    cases.write_text(HEAD + ("c1,64,64,0.71,1e5,1,0,0.5,0.55\n" if real
                             else "c1,40,40,0.71,1e4,1,0,0,0.8\n"))
    env = dict(os.environ, CAVITY_BIN=binary, FAKESOLVER_REPORT_DELAY="0.5")
    argv = [tool("cavity-sweep"), str(cases), "-o", str(tmp_path / "same"),
            "--jobs", "1"]
    first = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    case = tmp_path / "same" / "c1"
    while not (case / "console.out").exists() and first.poll() is None:
        time.sleep(0.05)
    second = subprocess.run(argv, env=env, capture_output=True, text=True,
                            timeout=60)
    assert first.poll() is None, "the first sweep ended too soon for the test"
    first.communicate(timeout=300)
    assert second.returncode == 2 and second.stdout == ""
    assert second.stderr.count("\n") == 1, second.stderr
    assert "in use by another sweep (process id %d " % first.pid in second.stderr
    assert first.returncode == 0
    with open(tmp_path / "same" / "summary.csv", newline="") as fh:
        (row,) = csv.DictReader(fh)
    assert (row["status"], row["finished"]) == ("ok", "yes")
    assert float(row["Nu"]) == records.read_nu(str(case))
    assert "Solution Has Finished!" in (case / "console.out").read_text()
    assert (case / "console.err").read_text().startswith(
        "note: " if real else "note: converged")
    proc = subprocess.run(argv + ["--dry-run"], env=env, capture_output=True,
                          text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr


@pytest.mark.parametrize("table, what", [
    ("n,m,Pr,Ra,T_Hot,T_Cold,T_Init\n8,8,0.71,1e3,1,0,0\n", "missing column"),
    (HEAD + "a,8.5,8,0.71,1e3,1,0,0,0.8\n", "whole number"),
    (HEAD + "a,8,1,0.71,1e3,1,0,0,0.8\n", "column m: the cavity between the walls is m - 1"),
    (HEAD + "a,8,8,x,1e3,1,0,0,0.8\n", "not a number"),
    (HEAD + "a,8,8,0.71,1e3,1,0,0,0.8\na,9,9,0.71,1e3,1,0,0,0.8\n", "twice"),
    (HEAD + "../x,8,8,0.71,1e3,1,0,0,0.8\n", "name"),
    (HEAD, "no cases"),
    (HEAD + "c1,32,32,0,71,1e4,1,0,0.5,0.6\n",
     'row 1 (line 2), column Pr: "0,71" has a decimal comma'),
    (HEAD + "c1,32,32,0.71,1e4,1,0,0.5\n", "row 1 (line 2), column Tau_T: no value"),
    ("# a comment\n" + HEAD + "c1,8,8,0.71,1e3,1,0,0,0.8\nc2,8,8,0.71,1e3,1,0,0,0.8,x\n",
     "row 2 (line 4): 10 values for the 9 columns"),
])
def test_bad_case_tables_run_nothing(tmp_path, table, what):
    proc, rows = run_sweep(tmp_path, table, FAKE_SOLVER)
    assert proc.returncode == 2
    assert what in proc.stderr
    assert proc.stderr.count("\n") == 1, proc.stderr  # one line, no traceback
    assert not (tmp_path / "out").exists()


def test_case_table_defaults_and_comments(tmp_path):
    p = tmp_path / "c.csv"
    p.write_text("# grid study\nn,m,Pr,Ra,T_Hot,T_Cold,T_Init,Tau_T\n\n"
                 "64,64,0.71,1e5,1,0,0,0.55\n")
    (case,) = sweep.read_cases(str(p))
    assert case["name"] == "case001" and case["n"] == 64 and case["Tau_T"] == 0.55
    # without T_Init (or with it empty) the start is the mean wall temperature
    p.write_text("n,m,Pr,Ra,T_Hot,T_Cold,Tau_T\n64,64,0.71,1e5,1,-0.5,0.55\n")
    (case,) = sweep.read_cases(str(p))
    assert case["T_Init"] == 0.25 and case["text"]["T_Init"] == "0.25"


def test_console_and_notes_are_read_as_the_solver_writes_them(tmp_path):
    text = ("\r\nStep==          1           Nu On Hot Wall==       1.000000"
            "\r\n Step==         12           Nu On Hot Wall==       1.100000")
    assert sweep.last_reported_step(text) == 600
    assert sweep.last_reported_nu(text) == "1.100000"
    assert sweep.last_reported_step("Solution Has Finished!") is None
    err = ("warning: something\nnote: settled at step 5600: Nu = 2.2; ...\n"
           "note: wall-corrected mean Nu (second order, walls half a spacing "
           "inside the end nodes): hot wall 2.1, cold wall 2.125, 1.2 % apart "
           "(the heat balance); Nu.dat 2.2 is +4.8 % from the hot-wall value; "
           "Ra = 95385.4 for the cavity between the walls, m - 1 = 63 spacings "
           "high, where the file's Ra = 100000 is for the height m = 64\n")
    assert sweep.end_note(err)[:2] == ("settled", 5600)
    assert sweep.wall_nusselt(err) == ("2.1", "2.125")
    assert sweep.end_note("note: converged at step 7: the flow residual 0 is "
                          "below")[:2] == ("residual", 7)
    assert sweep.end_note("note: step limit: all 1000000 steps were made")[:2] \
        == ("step-limit", 1000000)
    assert sweep.end_note("floating-point error: overflow") == (None, None, None)
    (tmp_path / sweep.CPU_TIME).write_text("0m0.010s 0m0.002s\n1m2.500s 0m0.250s\n")
    assert sweep.cpu_seconds(str(tmp_path)) == pytest.approx(62.75)


def test_chained_cases_run_after_the_case_they_start_from(tmp_path, solver):
    binary, real = solver
    head = "name,n,m,Pr,Ra,T_Hot,T_Cold,Tau_T,start_from\n"
    # listed before their sources: the waves put each after its own
    table = (head + "c,12,12,0.71,3e3,1,0,0.8,b\n" + "b,12,12,0.71,2e3,1,0,0.8,a\n"
             + "a,12,12,0.71,1e3,1,0,0.8,\n" + "lone,12,12,0.71,1e3,1,0,0.8,\n")
    proc, rows = run_sweep(tmp_path, table, binary)
    assert proc.returncode == 0, proc.stderr
    assert all(r["status"] == "ok" for r in rows.values()), rows
    out = tmp_path / "out"
    assert (out / "c" / "chain-options.txt").read_text() == \
        "--start-from ../b/chain.ckpt\n"
    assert (out / "lone" / "chain-options.txt").read_text() == "\n"
    if real:
        assert "note: --start-from ../b/chain.ckpt: starting from the fields" \
            in (out / "c" / "console.err").read_text()
    for bad, what in (("a,12,12,0.71,1e3,1,0,0.8,b\nb,12,12,0.71,1e3,1,0,0.8,a\n",
                       "row 2 (line 3), column start_from: 'a' starts, through "
                       "its chain, from b itself"),
                      ("a,12,12,0.71,1e3,1,0,0.8,z\n",
                       "'z' is not the name of a case")):
        proc, _ = run_sweep(tmp_path, head + bad, binary, out="bad")
        assert proc.returncode == 2 and what in proc.stderr, proc.stderr
        assert proc.stderr.count("\n") == 1


def test_progress_line_counts_cases_and_the_time_left():
    import io
    from cavity import sweep_progress

    class Terminal(io.StringIO):
        def isatty(self):
            return True
    p = sweep_progress.Progress(10, 2, stream=Terminal())
    # three done at 80 s each, seven left two at a time
    assert p.line(3, 1, 2, 80.0) == ("cavity-sweep: 3 of 10 cases done, "
                                     "2 running, 1 failed, about 5 min left")
    assert p.line(0, 0, 2, 0.0) == ("cavity-sweep: 0 of 10 cases done, "
                                    "2 running, 0 failed")
    p.show("x" * 500)
    p.clear()
    assert p.stream.getvalue().startswith("\rxxx") and p.stream.getvalue().endswith("\r\x1b[K")
    assert not sweep_progress.Progress(10, 2, stream=io.StringIO()).on
