import json
import math
import os
import subprocess

import pytest

import fakesolver
from conftest import tool
from cavity import benchmark, nanofluid as nf
from cavity import records

TABLE = nf.load_table()
WATER = TABLE["water"]
CU = TABLE["Cu"]


class TestModels:
    def test_zero_fraction_is_the_base_fluid_exactly(self):
        for particle in ("Cu", "Ag", "Al2O3", "TiO2", "CuO"):
            for k_model in ("maxwell", "hamilton-crosser"):
                p, _ = nf.mixture(WATER, TABLE[particle], 0.0, k_model, 5.0)
                assert (p["rho"], p["k"], p["mu"], p["beta"]) == (
                    WATER.rho, WATER.k, WATER.mu, WATER.beta)
                assert p["cp"] == WATER.cp
                assert p["k_ratio"] == 1.0 and p["mu_ratio"] == 1.0
                assert p["Pr"] == WATER.mu / WATER.rho / (WATER.k / (WATER.rho * WATER.cp))
                base = nf.base_properties(WATER)
                assert nf.rayleigh_from_base(1e5, base, p) == 1e5

    def test_conductivity_formulas_by_hand(self):
        # k_f = 1, k_p = 4, phi = 0.1:
        # Maxwell (6 + 0.6) / (6 - 0.3) = 22/19
        # Hamilton-Crosser n = 6: (9 + 1.5) / (9 - 0.3) = 35/29
        assert nf.maxwell_ratio(1.0, 4.0, 0.1) == pytest.approx(22 / 19, rel=1e-15)
        assert nf.hamilton_crosser_ratio(1.0, 4.0, 0.1, 3.0) == pytest.approx(22 / 19)
        assert nf.hamilton_crosser_ratio(1.0, 4.0, 0.1, 6.0) == pytest.approx(35 / 29)
        # an insulating particle lowers k
        assert nf.maxwell_ratio(1.0, 0.0, 0.1) == pytest.approx(1.8 / 2.1)

    def test_brinkman_by_hand(self):
        # 1 / 0.81^2.5 = 1 / 0.9^5
        assert nf.brinkman_ratio(0.19) == pytest.approx(1 / 0.59049, rel=1e-14)

    def test_cu_water_at_ten_percent(self):
        p, models = nf.mixture(WATER, CU, 0.1)
        assert p["rho"] == pytest.approx(0.9 * 997.1 + 0.1 * 8933)
        assert p["rho_cp"] == pytest.approx(0.9 * 997.1 * 4179 + 0.1 * 8933 * 385)
        assert p["beta"] == pytest.approx(
            (0.9 * 997.1 * 2.1e-4 + 0.1 * 8933 * 1.67e-5) / 1790.69)
        k = 0.613 * (401 + 1.226 - 0.2 * (0.613 - 401)) / (401 + 1.226 + 0.1 * (0.613 - 401))
        assert p["k"] == pytest.approx(k)
        assert p["mu"] == pytest.approx(8.55e-4 / 0.9 ** 2.5)
        assert models["k"] == "Maxwell" and models["mu"] == "Brinkman"

    def test_user_ratio_and_bad_input(self):
        p, models = nf.mixture(WATER, CU, 0.05, mu_model="ratio", mu_ratio=1.5)
        assert p["mu"] == pytest.approx(1.5 * WATER.mu)
        assert "1.5" in models["mu"]
        with pytest.raises(ValueError):
            nf.mixture(WATER, CU, 1.0)
        with pytest.raises(ValueError):
            nf.mixture(WATER, CU, 0.1, mu_model="ratio")

    def test_rayleigh_physical(self):
        base = nf.base_properties(WATER)
        ra = nf.rayleigh_physical(base, 0.01, 1.0)
        assert ra == pytest.approx(9.81 * 2.1e-4 * 1e-6 / (base["nu"] * base["alpha"]))

    def test_table_rows_cite_sources(self):
        assert {"water", "ethylene_glycol", "Cu", "Ag", "Al2O3", "TiO2",
                "CuO"} <= set(TABLE)
        assert all(len(m.source) > 10 for m in TABLE.values())
        assert all(m.mu > 0 for m in TABLE.values() if m.kind == "fluid")


class TestTauChoice:
    def test_accuracy_sets_the_mach_limit_and_the_run_time_follows(self):
        # a looser accuracy never gives a smaller Mach limit; a larger Tau_T
        # is expected to settle sooner, in proportion to 1 / (Tau_T - 0.5)
        limits = [nf.mach_for_accuracy(a) for a in (0.0, 0.0006, 0.0025, 0.05)]
        assert limits == sorted(limits) and limits[0] == nf.STUDY_ERROR[0][0]
        assert limits[-1] == max(ma for ma, _ in nf.STUDY_ERROR)
        s1, t1 = nf.expected_run(64, 64, 0.52, 1e5)
        s2, t2 = nf.expected_run(64, 64, 0.54, 1e5)
        assert s1 == pytest.approx(2 * s2, rel=1e-5) and t1 > t2 > 0
        # the study's water case at U_Ref = 0.05 c_s settled in 647,600 steps;
        # the estimate is the upper envelope of the study
        assert 647600 <= nf.expected_run(64, 64, 0.50709, 1e5)[0] < 1.5 * 647600
        assert nf.expected_run(1024, 1024, 0.5001, 1e5)[0] == nf.MAX_STEPS

    @pytest.mark.parametrize("pr, ra, m", [(0.71, 1e6, 256), (6.2, 1e5, 128),
                                           (3.1, 5.5e4, 64), (100.0, 1e3, 64)])
    def test_choice_is_safe_and_not_timid(self, pr, ra, m):
        tau_t, limit = nf.choose_tau_t(pr, ra, m)
        lat = nf.lattice_for(tau_t, pr, ra, m)
        mach = nf.mach_for_accuracy()  # from the measured study
        assert lat["Mach"] <= mach + 1e-12
        lo = nf.TAU_MIN
        assert lo <= lat["Tau_T"] <= 2.0 and lo <= lat["Tau_F"] <= 2.0
        if limit == "U_Ref":
            assert lat["Mach"] > 0.98 * mach  # only rounded down a little
        else:
            assert max(lat["Tau_T"], lat["Tau_F"]) > 1.98

    def test_no_fit_names_the_grid_that_fits(self):
        with pytest.raises(nf.NoFit) as err:
            nf.choose_tau_t(0.71, 1e8, 64)
        m_needed = err.value.m_needed
        assert "m >= %d" % m_needed in str(err.value)
        nf.choose_tau_t(0.71, 1e8, m_needed)  # fits
        with pytest.raises(nf.NoFit):
            nf.choose_tau_t(0.71, 1e8, m_needed - 1)

    def test_no_grid_helps_a_prandtl_number_outside_the_window(self):
        with pytest.raises(nf.NoFit) as err:
            nf.choose_tau_t(500.0, 1e3, 1000)
        assert err.value.m_needed is None
        assert "no grid" in str(err.value)


def cli(*args, cwd=None):
    return subprocess.run([tool("cavity-nanofluid")] + [str(a) for a in args],
                          capture_output=True, text=True, timeout=60, cwd=cwd)


def test_write_gives_a_parameter_file_with_the_intended_values(tmp_path, solver):
    run = tmp_path / "cu10"
    proc = cli("write", "--particle", "Cu", "--phi", "0.1", "--ra-f", "1e4",
               "--grid", "16x16", "-o", run)
    assert proc.returncode == 0, proc.stderr
    for word in ("Maxwell", "Brinkman", "volume-fraction mixing", "kg/m^3",
                 "W/(m K)", "Pa s", "m^2/s", "[dx^2/dt]", "c_s"):
        assert word in proc.stdout
    p, _ = nf.mixture(WATER, CU, 0.1)
    ra = nf.rayleigh_from_base(1e4, nf.base_properties(WATER), p)
    got = records.read_parameters(str(run))
    # the parameter file gets the cavity's Ra converted for the solver
    assert got["Pr"] == p["Pr"] and got["Ra"] == ra * (16 / 15) ** 3
    assert "between the walls" in proc.stdout
    assert (got["T_Hot"], got["T_Cold"], got["T_Init"]) == (1.0, 0.0, 0.5)
    d = records.derived_constants(got, 16)
    assert d["Diffusivity"] == pytest.approx((got["Tau_T"] - 0.5) / 3)
    assert d["Viscosity"] == pytest.approx(p["Pr"] * d["Diffusivity"])
    assert d["U_Ref"] <= nf.mach_for_accuracy() / math.sqrt(3)
    assert "expected run: about" in proc.stdout
    text = (run / "Input_Parameters.Input").read_text().splitlines()
    assert len(text) == 12 and "Cu-water" in text[0]
    side = json.loads((run / "nanofluid.json").read_text())
    assert side["suspension"]["phi"] == 0.1
    # not replaced without --force
    assert cli("write", "--particle", "Cu", "--phi", "0.1", "--ra-f", "1e4",
               "--grid", "16x16", "-o", run).returncode == 2

    binary, real = solver
    if real:
        # the solver takes the file: it gets past the set-up into the steps
        try:
            out = subprocess.run([binary], input=b"16\n16\n\n", cwd=run,
                                 capture_output=True, timeout=5)
            assert out.returncode == 0, out.stderr
            stdout = out.stdout
        except subprocess.TimeoutExpired as exc:  # still stepping: fine
            stdout = exc.stdout or b""
        assert b"Please Waite" in stdout


def test_write_refuses_when_no_tau_fits(tmp_path):
    proc = cli("write", "--particle", "Cu", "--phi", "0.1", "--ra-f", "1e8",
               "--grid", "128x64", "-o", tmp_path)
    assert proc.returncode == 3
    assert "no safe Tau_T" in proc.stderr and "--grid" in proc.stderr
    assert not (tmp_path / records.PARAM_FILE).exists()


def test_nusselt_referred_to_the_base_fluid(tmp_path):
    nano, base = tmp_path / "nano", tmp_path / "base"
    for folder, phi in ((nano, "0.1"), (base, "0")):
        assert cli("write", "--particle", "Cu", "--phi", phi, "--ra-f", "1e4",
                   "--grid", "32x32", "-o", folder).returncode == 0
    # stand-in results: Nu.dat = 2 (m+1)/m for a conduction field
    fakesolver.write_run(str(nano), 10, 10)  # Nu = 2.2
    fakesolver.write_run(str(base), 20, 20)  # Nu = 2.1
    proc = cli("nusselt", nano, "--base", base)
    assert proc.returncode == 0, proc.stderr
    kr = nf.mixture(WATER, CU, 0.1)[0]["k_ratio"]
    lines = proc.stdout.splitlines()
    value = {ln.split("=")[0].strip(): float(ln.split("=")[1].split()[0])
             for ln in lines if "=" in ln and "[" in ln}
    # the wall-corrected Nu first, the one to quote; Nu.dat after it, named
    # as the file's first-order value
    nu, nu_f = (benchmark.hot_wall_nusselt(records.read_result(str(f)), 1, 0)[0]
                for f in (nano, base))
    assert lines[1].split()[:3] == ["Nu", "=", "%.6g" % nu]
    assert "wall-corrected" in lines[1] and "to quote" in lines[1]
    assert value["Nu.dat"] == 2.2 and "the file's first-order value" in lines[2]
    assert value["k_nf/k_f"] == pytest.approx(kr, rel=1e-5)
    assert value["Nu_f-ref"] == pytest.approx(nu * kr, rel=1e-5)
    assert value["Nu_f"] == pytest.approx(nu_f, rel=1e-5)
    assert value["enhancement"] == pytest.approx(100 * (nu * kr / nu_f - 1), rel=1e-3)
    assert value["enhancement (Nu.dat)"] == pytest.approx(
        100 * (2.2 * kr / 2.1 - 1), rel=1e-3)
    assert "[%]" in proc.stdout


def test_nusselt_needs_the_suspension(tmp_path):
    fakesolver.write_run(str(tmp_path), 10, 10)
    proc = cli("nusselt", tmp_path)
    assert proc.returncode == 2 and "nanofluid.json" in proc.stderr
    proc = cli("nusselt", tmp_path, "--particle", "Al2O3", "--phi", "0.05")
    assert proc.returncode == 0 and "Al2O3-water" in proc.stdout


def test_cases_table_feeds_the_sweep(tmp_path):
    from cavity import sweep
    out = tmp_path / "cu.csv"
    proc = cli("cases", "--particle", "Cu", "--phi-list", "0,0.05,0.1,0.15,0.2",
               "--ra-f", "1e5", "--grid", "96x96", "-o", out)
    assert proc.returncode == 0, proc.stderr
    cases = sweep.read_cases(str(out))
    assert [c["name"] for c in cases] == ["phi0", "phi0.05", "phi0.1", "phi0.15", "phi0.2"]
    assert cases[0]["Pr"] == pytest.approx(WATER.mu * WATER.cp / WATER.k)
    assert cases[0]["Ra"] == 1e5  # the cavity's: cavity-sweep converts it
    for c in cases:
        lat = nf.lattice_for(c["Tau_T"], c["Pr"], c["Ra"], c["m"])
        assert lat["Mach"] <= nf.mach_for_accuracy() and lat["Tau_F"] >= nf.TAU_MIN
    # Pr falls and k rises with phi
    assert all(a["Pr"] > b["Pr"] for a, b in zip(cases, cases[1:]))


def test_sweep_runs_the_cases_and_refers_nu_to_the_base_fluid(tmp_path):
    import csv
    from conftest import FAKE_SOLVER
    out = tmp_path / "sw"
    proc = subprocess.run(
        [tool("cavity-nanofluid"), "sweep", "--particle", "Cu", "--phi-list",
         "0,0.1", "--ra-f", "1e5", "--grid", "48x48", "-o", str(out),
         "--jobs", "2", "--timeout=120"],
        env=dict(os.environ, CAVITY_BIN=FAKE_SOLVER), capture_output=True,
        text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    with open(out / "nanofluid_sweep.csv", newline="") as fh:
        rows = {r["name"]: r for r in csv.DictReader(fh)}
    assert set(rows) == {"phi0", "phi0.1"}
    kr = nf.mixture(WATER, CU, 0.1)[0]["k_ratio"]
    # the stand-in writes a conduction field: Nu.dat = 2 (m + 1) / m for
    # every phi, so the enhancement is the conductivity ratio alone
    nu = 2.0 * 49 / 48
    for name, k in (("phi0", 1.0), ("phi0.1", kr)):
        r = rows[name]
        assert (r["status"], r["stop"]) == ("ok", "residual")
        assert float(r["nu"]) == pytest.approx(nu, rel=1e-5)
        assert float(r["nu_ref"]) == pytest.approx(nu * k, rel=1e-5)
        assert float(r["enh_nu_ref"]) == pytest.approx(k - 1.0, abs=1e-5)
        assert float(r["k_ratio"]) == pytest.approx(k, rel=1e-5)
    assert float(rows["phi0.1"]["Pr"]) < float(rows["phi0"]["Pr"])
    assert (out / "nusselt_vs_phi.png").read_bytes()[:4] == b"\x89PNG"
    # the report names the models and gives the properties with units
    assert "Maxwell" in proc.stdout and "Brinkman" in proc.stdout
    assert "k W/(m K)" in proc.stdout and "Sweep wall time" in proc.stdout
    # each folder can be read back by the nusselt mode
    back = cli("nusselt", out / "phi0.1", "--base", out / "phi0")
    assert back.returncode == 0, back.stderr
    assert "Cu-water, phi = 0.1" in back.stdout


def test_sweep_refuses_when_no_tau_fits(tmp_path):
    proc = cli("sweep", "--particle", "Cu", "--phi-list", "0,0.1", "--ra-f",
               "1e8", "--grid", "64x64", "-o", tmp_path / "sw")
    assert proc.returncode == 3 and "phi = 0" in proc.stderr
    assert not (tmp_path / "sw").exists()
