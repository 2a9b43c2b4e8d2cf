import csv
import os
import subprocess

import pytest

from conftest import FAKE_SOLVER, tool
from cavity import target

HEAD = "name,n,m,Pr,Ra,T_Hot,T_Cold,T_Init,Tau_T\n"


def run_target(tmp_path, binary, table, *args, out="out"):
    (tmp_path / "cases.csv").write_text(HEAD + table)
    env = dict(os.environ, CAVITY_BIN=binary)
    proc = subprocess.run([tool("cavity-sweep"), "cases.csv", "-o", out, "--target"]
                          + [str(a) for a in args], env=env, capture_output=True,
                          text=True, timeout=600, cwd=tmp_path)
    rows = {}
    if (tmp_path / out / "target.csv").exists():
        with open(tmp_path / out / "target.csv", newline="") as fh:
            rows = {r["name"]: r for r in csv.DictReader(fh)}
    return proc, rows


def test_a_ladder_runs_chained_grids_with_the_tolerance_of_its_target(tmp_path):
    # The stand-in's Nu is 7/3 (1 - 1/n): first order, limit 7/3
    proc, rows = run_target(tmp_path, FAKE_SOLVER, "sq,8,8,0.71,1e3,1,0,0.5,0.8\n",
                            "10%", "--scheme", "copy")
    assert proc.returncode == 0, proc.stderr
    r = rows["sq"]
    m1 = target.first_grid(1e3, 0.71)  # 1 + 2 Ra^1/4 Pr^-1/4 spacings: 14
    assert r["grids"] == "%d;%d;%d" % (m1, 19, 26) and m1 == 14
    assert (r["met"], r["status"], r["scheme"], r["hold"]) == (
        "yes", "converged", "copy", "tau")
    assert float(r["order"]) == 1  # the copy scheme's first-order walls
    assert abs(float(r["Nu"]) - 7 / 3) <= float(r["U"])
    # every part of the budget counted; the settle part is A x the target / 40
    assert float(r["settle_tolerance"]) == 0.1 / 40
    parts = [float(r[k]) for k in ("discretisation", "settle_part", "float_part",
                                   "compressibility")]
    assert sum(parts) == pytest.approx(float(r["U_rel"]), rel=5e-3)
    assert float(r["settle_part"]) == pytest.approx(
        float(r["amplification"]) * 0.1 / 40, rel=5e-3)
    case = tmp_path / "out" / "sq"
    cmds = [(case / ("m%03d" % m) / "command.txt").read_text() for m in (14, 19, 26)]
    assert all("--settle 0.0025 " in c for c in cmds)
    assert "--start-from" not in cmds[0]
    assert "--start-from ../m014/chain.ckpt" in cmds[1]
    assert "--start-from ../m019/chain.ckpt" in cmds[2]
    # the back end's summary row is the ladder's, with its closing note
    with open(tmp_path / "out" / "summary.csv", newline="") as fh:
        row = next(csv.DictReader(fh))
    assert row["status"] == "ok" and row["message"].startswith("note: target met")


def test_ladders_of_the_solver_meet_the_target_or_stop_at_a_limit(tmp_path, solver):
    binary, real = solver
    if not real:
        pytest.skip("runs the solver: set CAVITY_BIN")
    proc, rows = run_target(tmp_path, binary, "three,8,8,0.71,1e3,1,0,0.5,0.8\n"
                            "four,15,8,0.71,1e3,1,0,0.5,0.8\n", "2%", "--jobs", "2")
    assert proc.returncode == 0, proc.stderr
    # the default scheme: bounce-back walls, second order, from one spacing
    # across the wall layer (the least grid, 8, at Ra 1e3)
    r = rows["three"]
    assert (r["met"], r["scheme"], float(r["order"])) == ("yes", "bounce-back-trt", 2)
    # not yet asymptotic on 8: a fourth grid, fitted by least squares
    assert r["grids"] == "8;11;15;21" and r["form"] in ("h+h^2", "h^2", "h^p")
    assert rows["four"]["met"] == "yes"
    # de Vahl Davis's 1.118 at Ra 1e3 is inside the answer's uncertainty
    assert abs(float(r["Nu"]) - 1.118) <= float(r["U"])
    with open(tmp_path / "out" / "three" / "ladder.csv", newline="") as fh:
        assert [g["chained"] for g in csv.DictReader(fh)] == ["no", "yes", "yes", "yes"]
    assert (tmp_path / "out" / "target.png").stat().st_size > 0

    # a target three grids cannot give: the limit said, the answer kept
    proc, rows = run_target(tmp_path, binary, "tight,8,8,0.71,1e3,1,0,0.5,0.8\n",
                            "0.3%", "--max-grids", "3", out="tight")
    assert proc.returncode == 1
    r = rows["tight"]
    assert (r["met"], r["grids"]) == ("no", "8;11;15")
    assert r["reason"].startswith("limit: 3 grids") and float(r["Nu"]) > 1
    assert "target NOT met; limit: 3 grids" in proc.stdout
