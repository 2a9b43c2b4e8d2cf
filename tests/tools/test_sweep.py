import csv
import os
import subprocess

import pytest

from conftest import FAKE_SOLVER, tool
from cavitylib import records, sweep

HEAD = "name,n,m,Pr,Ra,T_Hot,T_Cold,T_Init,Tau_T\n"


def run_sweep(tmp_path, table, binary, *extra):
    cases = tmp_path / "cases.csv"
    cases.write_text(table)
    env = dict(os.environ, CAVITY_BIN=binary)
    proc = subprocess.run(
        [tool("cavity-sweep"), str(cases), "-o", str(tmp_path / "out"),
         "--timeout=120"] + list(extra),
        env=env, capture_output=True, text=True, timeout=600)
    rows = {}
    summary = tmp_path / "out" / "summary.csv"
    if summary.exists():
        with open(summary, newline="") as fh:
            rows = {r["name"]: r for r in csv.DictReader(fh)}
    return proc, rows


def test_sweep_with_stand_in_solver(tmp_path):
    table = (HEAD
             + "long,32,30,0.71,1e4,1,0,0,0.8\n"
             + "short,8,8,0.71,1e3,1,0,0,0.8\n"
             + "nodiff,20,20,0.71,1e4,1,0,0,0.5\n"
             + "blowup,20,20,0.71,1e10,1,0,0,0.8\n")
    proc, rows = run_sweep(tmp_path, table, FAKE_SOLVER, "--jobs", "2")
    assert proc.returncode == 1, proc.stderr  # some cases failed
    assert set(rows) == {"long", "short", "nodiff", "blowup"}

    r = rows["long"]  # stops on step 157: last report is number 3
    assert (r["status"], r["exit_code"], r["finished"]) == ("ok", "0", "yes")
    assert r["last_reported_step"] == "150"
    assert float(r["Nu"]) == pytest.approx(2 * 31 / 30, rel=1e-6)
    assert r["Ra"] == "1e4" and r["message"] == ""
    assert float(r["run_time_s"]) >= 0

    r = rows["short"]  # stops before step 50: no report at all
    assert r["status"] == "ok" and r["last_reported_step"] == ""
    assert float(r["Nu"]) == pytest.approx(2.25)

    r = rows["nodiff"]  # fails before any file is written
    assert (r["status"], r["exit_code"], r["Nu"]) == ("failed", "1", "")
    assert r["message"] == "floating-point error: invalid"
    assert r["finished"] == "no"

    r = rows["blowup"]  # fails after two reports; Nu.dat holds the last one
    assert r["status"] == "failed" and r["last_reported_step"] == "100"
    assert r["message"] == "floating-point error: overflow"
    assert r["Nu"] != ""

    # the case folder holds what the solver was given
    folder = tmp_path / "out" / "long"
    assert (folder / "console.in").read_bytes() == b"32\n30\n\n"
    assert records.read_parameters(str(folder)) == {
        "Pr": 0.71, "Ra": 1e4, "T_Hot": 1.0, "T_Cold": 0.0, "T_Init": 0.0,
        "Tau_T": 0.8}
    assert "last_reported_step" in (tmp_path / "out" / "summary.columns.txt").read_text()


def test_sweep_with_the_solver(tmp_path, solver):
    binary, real = solver
    if not real:
        pytest.skip("CAVITY_BIN not set")
    # A one-column grid (both columns walls) stops after the first step;
    # Tau_T = 0.5 is refused in the set-up. Both are quick.
    table = (HEAD + "rest,1,16,0.71,1e3,1,0,0.5,0.8\n"
             + "zero,16,16,0.71,1e3,1,0,0,0.5\n")
    proc, rows = run_sweep(tmp_path, table, binary)
    assert proc.returncode == 1, proc.stderr
    r = rows["rest"]
    assert (r["status"], r["finished"], r["last_reported_step"]) == ("ok", "yes", "")
    assert float(r["Nu"]) == records.read_nu(r["folder"])
    r = rows["zero"]
    assert r["status"] == "failed" and r["exit_code"] == "1"
    assert r["message"].startswith("parameter error: Tau_T")


@pytest.mark.parametrize("table, what", [
    ("n,m,Pr,Ra,T_Hot,T_Cold,T_Init\n8,8,0.71,1e3,1,0,0\n", "missing column"),
    (HEAD + "a,8.5,8,0.71,1e3,1,0,0,0.8\n", "whole number"),
    (HEAD + "a,8,8,x,1e3,1,0,0,0.8\n", "not a number"),
    (HEAD + "a,8,8,0.71,1e3,1,0,0,0.8\na,9,9,0.71,1e3,1,0,0,0.8\n", "twice"),
    (HEAD + "../x,8,8,0.71,1e3,1,0,0,0.8\n", "name"),
    (HEAD, "no cases"),
])
def test_bad_case_tables_run_nothing(tmp_path, table, what):
    proc, rows = run_sweep(tmp_path, table, FAKE_SOLVER)
    assert proc.returncode == 2
    assert what in proc.stderr
    assert not (tmp_path / "out").exists()


def test_case_table_defaults_and_comments(tmp_path):
    p = tmp_path / "c.csv"
    p.write_text("# grid study\nn,m,Pr,Ra,T_Hot,T_Cold,T_Init,Tau_T\n\n"
                 "64,64,0.71,1e5,1,0,0,0.55\n")
    (case,) = sweep.read_cases(str(p))
    assert case["name"] == "case001" and case["n"] == 64 and case["Tau_T"] == 0.55


def test_last_reported_step_reads_console_records():
    text = ("\r\nStep==          1           Nu On Hot Wall==       1.000000"
            "\r\n Step==         12           Nu On Hot Wall==       1.100000")
    assert sweep.last_reported_step(text) == 600
    assert sweep.last_reported_step("Solution Has Finished!") is None
