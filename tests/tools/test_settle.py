"""Ending runs whose Nusselt number has settled (cavity-sweep --settle)."""

import csv
import os
import subprocess

import pytest

from conftest import FAKE_SOLVER, tool
from cavitylib import records, watch

HEAD = "name,n,m,Pr,Ra,T_Hot,T_Cold,T_Init,Tau_T\n"


class TestSettleRule:
    def test_compares_the_means_of_two_half_windows(self):
        rule = watch.SettleRule(tol=1e-3, window=200)  # two reports a half
        # a decaying approach: settles once the mean of the last two values
        # is within 0.1 % of the mean of the two before
        values = [2.0, 1.5, 1.2, 1.1, 1.05, 1.02, 1.0004, 1.0002, 1.0001, 1.0]
        got = [rule.add(50 * (k + 1), v) for k, v in enumerate(values)]
        assert got == [False] * 9 + [True]
        assert rule.change() == pytest.approx((1.0003 - 1.00005) / 1.00005)

    def test_noise_without_a_trend_settles_and_a_slow_trend_does_not(self):
        # noise of +-3e-5 about a steady value: the range is 6e-5, but the
        # half-window means agree to within 1e-5
        noisy = watch.SettleRule(tol=1e-5, window=20000)
        values = [1.1377 * (1 + 3e-5 * (-1) ** k) for k in range(400)]
        assert [noisy.add(50 * (k + 1), v) for k, v in enumerate(values)][-1]
        # a drift of 1e-5 per 10000 steps never settles at tol 5e-6
        drift = watch.SettleRule(tol=5e-6, window=20000)
        assert not any(drift.add(50 * (k + 1), 2.0 * (1 + 1e-5 * k / 200))
                       for k in range(2000))

    def test_min_steps_and_bad_settings(self):
        rule = watch.SettleRule(tol=1e-2, window=100, min_steps=500)
        assert not any(rule.add(s, 3.0) for s in range(50, 500, 50))
        assert rule.add(500, 3.0)
        for tol, window in ((0, 1000), (-1e-3, 1000), (1e-3, 50)):
            with pytest.raises(ValueError):
                watch.SettleRule(tol, window)

    def test_reports_split_across_reads(self):
        text = (b"\r\nStep==         12           Nu On Hot Wall==       4.549329"
                b"\r\nResidual of Th==  1.088275E-07           Residual of Flow=="
                b"  5.500113E-06\r\n" + b"*" * 78
                + b"\r\nStep==         13           Nu On Hot Wall==       4.54")
        got, rest = watch.parse_reports(text[:40])
        assert got == []
        got, rest = watch.parse_reports(rest + text[40:])
        assert got == [(600, 4.549329)]
        # the last report line is not ended yet: kept for the next read
        assert rest.endswith(b"4.54")
        got, rest = watch.parse_reports(rest + b"9330\r\nResidual")
        assert got == [(650, 4.549330)]


def sweep(tmp_path, table, binary, *extra, delay=None):
    cases = tmp_path / "cases.csv"
    cases.write_text(table)
    env = dict(os.environ, CAVITY_BIN=binary)
    if delay:
        env["FAKESOLVER_REPORT_DELAY"] = str(delay)
    proc = subprocess.run(
        [tool("cavity-sweep"), str(cases), "-o", str(tmp_path / "out"),
         "--timeout=300"] + list(extra),
        env=env, capture_output=True, text=True, timeout=900)
    rows = {}
    path = tmp_path / "out" / "summary.csv"
    if path.exists():
        with open(path, newline="") as fh:
            rows = {r["name"]: r for r in csv.DictReader(fh)}
    return proc, rows


def test_settle_with_the_stand_in_solver(tmp_path):
    # the stand-in reports the same Nu every 50 steps, here slowly: with a
    # window of 200 steps (two reports a half) the fourth report settles a
    # run; a run that stops before it ends by its own rule, and one that
    # fails before a window is full stays failed
    table = (HEAD + "long,50,30,0.71,1e4,1,0,0,0.8\n"
             + "short,16,16,0.71,1e3,1,0,0,0.8\n"
             + "blowup,20,20,0.71,1e10,1,0,0,0.8\n")
    proc, rows = sweep(tmp_path, table, FAKE_SOLVER, "--settle", "1e-6",
                       "--settle-window", "200", delay=0.3)
    assert proc.returncode == 1, proc.stderr  # blowup
    r = rows["long"]
    assert (r["status"], r["stop"], r["last_reported_step"]) == ("ok", "settled", "200")
    note = (tmp_path / "out" / "long" / "settled.txt").read_text()
    assert note.startswith("settled at step 200") and "last 100 steps" in note
    assert "settled at step 200" in r["message"]
    r = rows["short"]  # no report at all
    assert (r["status"], r["stop"]) == ("ok", "residual")
    assert not (tmp_path / "out" / "short" / "settled.txt").exists()
    r = rows["blowup"]  # two reports, then the overflow
    assert (r["status"], r["stop"]) == ("failed", "")
    assert r["message"] == "floating-point error: overflow"
    # the console is copied as the solver wrote it
    out = (tmp_path / "out" / "long" / "console.out").read_bytes()
    assert out.startswith(b"* Please Enter Dimensions") and b"\r\n" in out


def test_settle_option_is_checked(tmp_path):
    proc, _ = sweep(tmp_path, HEAD + "a,8,8,0.71,1e3,1,0,0,0.8\n", FAKE_SOLVER,
                    "--settle", "0")
    assert proc.returncode == 2 and "--settle" in proc.stderr


def test_settle_ends_the_real_solver_on_a_whole_snapshot(tmp_path, solver):
    binary, real = solver
    if not real:
        pytest.skip("CAVITY_BIN not set")
    # a 20 x 20 Ra 1e4 run whose Nu settles to 1e-3 over 500 steps long
    # before a residual reaches 1e-7
    table = HEAD + "c,20,20,0.71,1e4,1,0,0.6,0.56\n"
    proc, rows = sweep(tmp_path, table, binary, "--settle", "1e-3",
                       "--settle-window", "500")
    assert proc.returncode == 0, proc.stderr
    r = rows["c"]
    assert (r["status"], r["stop"], r["finished"]) == ("ok", "settled", "no")
    folder = tmp_path / "out" / "c"
    # the files hold the snapshot of the report the run was ended on
    note = (folder / "settled.txt").read_text()
    nu_reported = float(note.split("Nu = ")[1].split(";")[0])
    assert records.read_nu(str(folder)) == pytest.approx(nu_reported, abs=1e-6)
    assert int(r["last_reported_step"]) == int(note.split()[3].rstrip(":"))
    assert not list(folder.glob("*.tmp"))
    res = records.read_result(str(folder))
    assert res.n == 20 and res.m == 20
