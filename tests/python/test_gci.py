import csv
import json
import math
import os
import random
import subprocess

import pytest

from conftest import FAKE_SOLVER, tool
from cavity import gci, records


def test_three_grids_by_hand():
    # f = 1 - h^2 on h = 1/4, 1/3, 1/2: the ratios differ (4/3, 3/2), so
    # the order needs the iteration with q(p); the answers follow by hand:
    # p = 2, f_ext = 1, e_a = (1/9 - 1/16)/(15/16) = 7/135,
    # GCI = 1.25 e_a / (16/9 - 1) = 1/12, e_ext = 1/16, and the
    # asymptotic ratio is f1/f2 = (15/16)/(8/9) = 135/128
    r = gci.three_grid([1 / 3, 1 / 2, 1 / 4], [8 / 9, 0.75, 15 / 16], order=2)
    assert r["form"] == "h^2" and r["status"] == "converged"
    assert (r["r21"], r["r32"]) == (pytest.approx(4 / 3), pytest.approx(1.5))
    assert r["p"] == pytest.approx(2.0, abs=1e-9)
    assert r["f_ext"] == pytest.approx(1.0, abs=1e-12)
    assert r["e_a"] == pytest.approx(7 / 135)
    assert r["gci"] == pytest.approx(1 / 12)
    assert r["e_ext"] == pytest.approx(1 / 16)
    assert r["band"] == pytest.approx(15 / 16 / 12)
    assert r["ratio"] == pytest.approx(135 / 128)
    assert not r["oscillatory"] and r["flags"] == []  # ratio off by 5.5 %

    # the published worked example (Celik et al. 2008, Table 1, the
    # reattachment length on 18000, 8000 and 4500 cells: r21 = 1.5,
    # r32 = 4/3): p = 1.53, f_ext = 6.1685, e_a = 1.5 %, e_ext = 1.7 %,
    # GCI_fine = 2.2 %
    h = [(1.0 / cells) ** 0.5 for cells in (18000, 8000, 4500)]
    r = gci.three_grid(h, [6.063, 5.972, 5.863], order=2)
    assert r["form"] == "h^p" and r["p_used"] == r["p"]
    assert round(r["p"], 2) == 1.53 and round(r["f_ext"], 4) == 6.1685
    assert (round(100 * r["e_a"], 1), round(100 * r["e_ext"], 1),
            round(100 * r["gci"], 1)) == (1.5, 1.7, 2.2)


def test_grids_outside_the_asymptotic_range_are_flagged():
    # oscillatory: the differences change sign
    r = gci.three_grid([0.25, 0.5, 1.0], [1.0, 1.02, 0.9])
    assert r["oscillatory"] and "oscillatory convergence" in r["flags"]
    assert r["status"] == "oscillatory" and r["band"] == pytest.approx(3 * 0.12)
    # monotone but first order: 1 + h
    r = gci.three_grid([0.25, 0.5, 1.0], [1.25, 1.5, 2.0])
    assert r["p"] == pytest.approx(1.0) and r["f_ext"] == pytest.approx(1.0)
    # 1 is the edge of the order band; the grids change f by 20 %, and the
    # ratio GCI_32 / (r^p GCI_fine) = f1/f2 = 0.83 says so
    assert r["flags"] == ["GCI_32 / (r21^p GCI_fine) = 0.833"]
    r = gci.three_grid([0.25, 0.5, 1.0], [1.25 ** 0.5, 1.5 ** 0.5, 2.0 ** 0.5],
                       order=2)
    assert any(f.startswith("order 0.") for f in r["flags"])
    r = gci.three_grid([0.25, 0.5, 1.0], [1 + x ** 0.3 for x in (0.25, 0.5, 1)])
    assert r["status"] == "order out of band" and r["fs"] == 3
    # no order from two equal results
    r = gci.three_grid([0.25, 0.5, 1.0], [1.0, 1.0, 0.9])
    assert r["p"] != r["p"] and r["status"] == "too close to resolve"
    # differences that grow with refinement
    r = gci.three_grid([0.25, 0.5, 1.0], [1.3, 1.1, 1.0])
    assert r["status"] == "divergent" and r["p"] == 0.0
    # the three finest grids with a result are used, and a failed grid said
    r = gci.study([8, 64, 16, 32], [0.1, float("nan"), 0.75, 15 / 16],
                  wall_at=0.0)
    assert [m for m, _ in r["grids"]] == [8, 16, 32, 64]
    assert (r["h1"], r["h3"]) == (1 / 32, 1 / 8)
    assert "1 grid(s) without a result" in r["flags"]


HEAD = "name,n,m,Pr,Ra,T_Hot,T_Cold,T_Init,Tau_T\n"


def sweep(tmp_path, *args):
    env = dict(os.environ, CAVITY_BIN=FAKE_SOLVER)
    return subprocess.run([tool("cavity-sweep")] + [str(a) for a in args],
                          env=env, capture_output=True, text=True, timeout=600,
                          cwd=tmp_path)


def test_grid_study_of_a_sweep(tmp_path):
    # The stand-in solver writes T = T_Hot - i/n: its second-order Nu (the
    # parabola through T_Hot at the wall half a spacing out and columns 1
    # and 2, times the width n - 1) is 7/3 (1 - 1/n), so the limit is 7/3
    (tmp_path / "c.csv").write_text(HEAD + "sq,8,8,0.71,1e3,1,0,0.5,0.8\n"
                                    "wide,15,8,0.71,1e3,1,0,0.5,0.8\n")
    proc = sweep(tmp_path, "c.csv", "-o", "out", "--grids", "16,8,12",
                 "--settle-window", "1000")
    assert proc.returncode == 0, proc.stderr
    out = tmp_path / "out"
    with open(out / "summary.csv", newline="") as fh:
        order = [r["name"] for r in csv.DictReader(fh)]
    # finest grids first; widths keep the aspect ratio between the walls
    assert order == ["sq_m016", "wide_m016", "sq_m012", "wide_m012",
                     "sq_m008", "wide_m008"]
    for name, n, m in (("wide_m012", 23, 12), ("wide_m016", 31, 16)):
        assert (out / name / "console.in").read_text() == "%d\n%d\n\n" % (n, m)
        p = records.read_parameters(str(out / name))
        assert p["Tau_T"] == 0.8  # the same Tau_T on every grid
        assert p["Ra"] == pytest.approx(1e3 * (m / (m - 1)) ** 3)
    with open(out / "grid_study.csv", newline="") as fh:
        rows = {r["name"]: r for r in csv.DictReader(fh)}
    for name, widths in (("sq", (8, 12, 16)), ("wide", (15, 23, 31))):
        r = rows[name]
        assert r["grids"] == "8;12;16"
        nus = [float(v) for v in r["Nu_per_grid"].split(";")]
        assert nus == pytest.approx([7 / 3 * (1 - 1 / n) for n in widths],
                                    rel=1e-5)
        # about first order in 1/(m - 1), the formal order: fitted so, and
        # the band holds the limit
        assert (r["status"], r["flags"]) == ("converged", "")
        assert r["form"] in ("h^1", "h^p") and float(r["order_used"]) <= 1
        assert abs(float(r["Nu_extrapolated"]) - 7 / 3) < float(r["GCI_band"])
    assert "sq  m=8: 2.04167  m=12: 2.13889  m=16: 2.18750" in proc.stdout
    # the report alone, from the runs made, is the same file
    first = (out / "grid_study.csv").read_bytes()
    (out / "grid_study.csv").unlink()
    again = sweep(tmp_path, "c.csv", "-o", "out", "--grids", "8,12,16",
                  "--report-only")
    assert again.returncode == 0, again.stderr
    assert (out / "grid_study.csv").read_bytes() == first
    for bad in ("8,12", "8,8,12", "8,x,12", "2,8,12"):
        proc = sweep(tmp_path, "c.csv", "-o", "bad", "--grids", bad)
        assert proc.returncode == 2 and "--grids" in proc.stderr
        assert not (tmp_path / "bad").exists()


def test_nanofluid_sweep_with_error_bars(tmp_path):
    env = dict(os.environ, CAVITY_BIN=FAKE_SOLVER)
    proc = subprocess.run(
        [tool("cavity-nanofluid"), "sweep", "--particle", "Cu", "--phi-list",
         "0,0.1", "--ra-f", "1e4", "--grid", "64x64", "--grids", "16,24,32",
         "-o", "sw", "--settle-window", "1000", "--t-init", "0.5"],
        env=env, capture_output=True, text=True, timeout=600, cwd=tmp_path)
    assert proc.returncode == 0, proc.stderr
    sw = tmp_path / "sw"
    # Tau_T chosen on the coarsest grid, where U_Ref is largest, and kept
    for phi in ("phi0", "phi0.1"):
        lats = [json.loads((sw / ("%s_m%03d" % (phi, m)) / "nanofluid.json")
                           .read_text())["lattice"] for m in (16, 24, 32)]
        assert len({lat["Tau_T"] for lat in lats}) == 1
        assert lats[0]["Mach"] == pytest.approx(0.15, rel=0.02)
        assert lats[2]["Mach"] < lats[1]["Mach"] < lats[0]["Mach"]
    with open(sw / "nanofluid_sweep.csv", newline="") as fh:
        rows = list(csv.DictReader(fh))
    assert [r["name"] for r in rows] == ["phi0_m032", "phi0.1_m032"]
    r = rows[1]  # the error bar referred to the base fluid scales with k_nf/k_f
    assert float(r["nu2_band_ref"]) == pytest.approx(
        float(r["nu2_band"]) * float(r["k_ratio"]), rel=1e-5)
    assert float(r["nu2_ext_ref"]) == pytest.approx(7 / 3 * float(r["k_ratio"]),
                                                    rel=0.02)
    assert "Grid study of the second-order Nu" in proc.stdout


def test_first_order_grids_are_extrapolated_with_their_own_order():
    # The three grids of the Ra 1e6 study of docs/validation.md: the free
    # order (1.57) puts Nu 0.36 % below the accurate 8.8251, the scheme's
    # first order 0.1 % above it
    ms, nus = [56, 80, 112], [8.63153, 8.70195, 8.73995]
    free = gci.study(ms, nus, order=2)
    first = gci.study(ms, nus)
    assert free["form"] == "h^p" and free["f_ext"] < 8.8251 - 0.03
    assert (first["form"], first["status"]) == ("h^1", "converged")
    assert first["f_ext"] == pytest.approx(8.83376, abs=1e-5)
    assert gci.in_band(first, 8.8251)
    # five grids at Ra 1e4: the least-squares rule takes two terms
    r = gci.study([32, 48, 64, 96, 128],
                  [2.20065, 2.21575, 2.22311, 2.23022, 2.2333])
    assert (r["form"], r["status"], r["n_grids"]) == ("h+h^2", "converged", 5)
    assert r["s"] > 0 and gci.in_band(r, 2.2448) and r["gci"] < 0.01
    # f0 + a h + b h^2 on four grids is recovered exactly
    h = [1 / 15, 1 / 21, 1 / 29, 1 / 41]
    r = gci.many_grids(h, [2 - 3 * x + 10 * x * x for x in h])
    assert r["form"] == "h+h^2" and r["f_ext"] == pytest.approx(2.0, abs=1e-9)
    # at order 2 the two terms are h^2 and h^3: a water ladder of the
    # bounce-back scheme whose h+h^2 fit fell below its finest grid
    r = gci.study([19, 26, 36, 50], [4.56474, 4.65569, 4.6917, 4.70613], order=2)
    assert r["form"] == "h^2+h^3" and r["f_ext"] > 4.70613
    assert gci.in_band(r, 4.7249)  # the finite-volume code's limit


def test_close_noisy_and_random_triples_never_raise():
    # grids 40, 46, 48 of a user's study raised OverflowError
    r = gci.study([40, 46, 48], [2.212326, 2.216649, 2.217793])
    assert r["status"] in gci.STATUSES and r["band"] == r["band"]
    rng = random.Random(20261208)
    seen = set()
    for k in range(600):
        h = sorted(rng.uniform(1e-3, 0.2) * rng.choice((1, 1e-2, 1))
                   for _ in range(3))
        if len(set(h)) < 3:
            continue
        base = rng.uniform(-5, 10)
        f = [base + rng.choice((0, 1e-7, 1e-3, 1)) * rng.gauss(0, 1)
             for _ in h]
        r = gci.three_grid(h, f, order=rng.choice((1, 2)))
        seen.add(r["status"])
        assert r["status"] in gci.STATUSES
        assert (r["status"] == "converged") == (r["flags"] == [])
        assert r["oscillatory"] == (r["status"] == "oscillatory") or \
            r["status"] == "too close to resolve"
        if r["status"] != "fewer than three grids":
            assert r["band"] >= 0 and math.isfinite(r["f_ext"])
        if r["status"] == "converged":
            assert gci.in_band(r, r["f1"])
            lo, hi = gci.order_band(r["p_used"] if r["form"] == "h^p" else 1)
            assert r["p"] >= r["p_used"] > 0
        if k % 5 == 0:  # four and five grids through the least squares
            more = h + [h[-1] * rng.uniform(1.2, 2)]
            r = gci.many_grids(more, f + [f[-1] + rng.gauss(0, 1e-3)])
            assert r["status"] in gci.STATUSES and r["band"] >= 0
    assert {"converged", "oscillatory", "divergent", "too close to resolve",
            "order out of band"} <= seen
