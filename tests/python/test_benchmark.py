import math

import numpy as np
import pytest

import fakesolver
from cavity import benchmark, records


class TestParabolicPeak:
    def test_recovers_a_parabola_exactly_on_any_spacing(self):
        f = lambda x: 5.0 - 3.0 * (x - 0.37) ** 2
        for x in (np.linspace(0, 1, 11), np.array([0, .1, .3, .34, .5, .8, 1.0])):
            xp, yp = benchmark.parabolic_peak(x, f(x))
            assert xp == pytest.approx(0.37, abs=1e-12)
            assert yp == pytest.approx(5.0, abs=1e-12)

    def test_refines_a_smooth_peak_beyond_the_samples(self):
        # peak of sin(pi x) at x = 0.5 falls between samples of a 10-cell grid
        x = np.linspace(0.03, 1.03, 11)
        y = np.sin(np.pi * x)
        xp, yp = benchmark.parabolic_peak(x, y)
        k = np.argmax(y)
        assert abs(xp - 0.5) < 0.1 * abs(x[k] - 0.5)
        assert abs(yp - 1.0) < 0.1 * abs(y[k] - 1.0)

    def test_decreasing_coordinates(self):
        x = np.linspace(1, 0, 21)
        xp, yp = benchmark.parabolic_peak(x, 2 - (x - 0.61) ** 2)
        assert (xp, yp) == pytest.approx((0.61, 2.0))

    def test_peak_at_an_end_is_the_end_sample(self):
        x = np.linspace(0, 1, 5)
        assert benchmark.parabolic_peak(x, x) == (1.0, 1.0)
        assert benchmark.parabolic_peak(x, -x) == (0.0, 0.0)

    def test_trough(self):
        x = np.linspace(0, 1, 9)
        xp, yp = benchmark.parabolic_trough(x, (x - 0.3) ** 2 - 4)
        assert (xp, yp) == pytest.approx((0.3, -4.0))

    @pytest.mark.parametrize("x, y", [([0, 1, 1, 2], [0, 1, 2, 0]),
                                      ([0, 2, 1], [0, 1, 0]),
                                      ([0, 1], [0, 1, 2])])
    def test_rejects_bad_samples(self, x, y):
        with pytest.raises(ValueError):
            benchmark.parabolic_peak(x, y)


def test_alpha_units_undo_the_solver_scaling():
    # a lattice velocity of u* alpha / m, written as U / U_Ref, must come
    # back as u* in units of alpha/L
    for pr, ra, tau_t, m in [(0.71, 1e5, 0.56, 128), (6.2, 1e4, 0.9, 40)]:
        params = dict(Pr=pr, Ra=ra, T_Hot=1, T_Cold=0, T_Init=0, Tau_T=tau_t)
        d = records.derived_constants(params, m)
        u_star = 34.73
        u_lattice = u_star * d["Diffusivity"] / m
        assert benchmark.to_alpha_units(u_lattice / d["U_Ref"], ra, pr) == \
            pytest.approx(u_star, rel=1e-12)
    with pytest.raises(ValueError):
        benchmark.velocity_scale(-1.0, 0.71)


def test_benchmark_case_recognition():
    assert benchmark.benchmark_case(0.71, 1e5, 64, 64)["nu"] == 4.509
    assert benchmark.benchmark_case(0.71, 1.0e6)["v_max"] == 219.36
    assert benchmark.benchmark_case(0.71, 1e5, 128, 64) is None
    assert benchmark.benchmark_case(0.7, 1e5) is None
    assert benchmark.benchmark_case(0.71, 2e5) is None


def write_field(folder, n, m, t_of_s, t_hot, t_cold):
    """Result files of a run whose temperature depends on the column only."""
    U = [[0.0] * (n + 1) for _ in range(m + 1)]
    R = [[1.0] * (n + 1) for _ in range(m + 1)]
    T = [[t_of_s(i) for i in range(n + 1)] for _ in range(m + 1)]
    fakesolver.write_run(str(folder), n, m, t_hot, t_cold, field=(U, U, R, T))
    return records.read_result(str(folder))


class TestHotWallNusselt:
    def test_conduction_gives_one_on_any_aspect_ratio(self, tmp_path):
        for n, m in [(10, 10), (24, 12), (8, 20)]:
            res = write_field(tmp_path, n, m, lambda i: 1.0 - i / n, 1.0, 0.0)
            nu, local = benchmark.hot_wall_nusselt(res, 1.0, 0.0, wall_at=0.0)
            assert nu == pytest.approx(1.0, rel=1e-5)  # 7 digits in the file
            assert local.shape == (m + 1,)

    def test_exact_for_a_quadratic_wall_layer(self, tmp_path):
        # T = 3 - a s + b s^2 (s in lattice spacings), dT = 3 - 1 = 2:
        # Nu = a * n / 2, whatever b is
        n, m, a, b = 16, 16, 0.2, 0.004
        res = write_field(tmp_path, n, m, lambda i: 3.0 - a * i + b * i * i,
                          3.0, 1.0)
        nu, _ = benchmark.hot_wall_nusselt(res, 3.0, 1.0, wall_at=0.0)
        assert nu == pytest.approx(a * n / 2.0, rel=1e-5)

    def test_wall_half_a_spacing_out(self, tmp_path):
        # the default: linear through T_Hot at s = 0.5 and T_Cold at
        # s = n - 0.5 is pure conduction over the width n - 1
        n, m = 10, 10
        res = write_field(tmp_path, n, m,
                          lambda i: 1.0 - (i - 0.5) / (n - 1.0), 1.0, 0.0)
        nu, _ = benchmark.hot_wall_nusselt(res, 1.0, 0.0)
        assert nu == pytest.approx(1.0, rel=1e-5)  # 7 digits in the file
        # the same field read with the wall on the nodes is not conduction
        assert benchmark.hot_wall_nusselt(res, 1.0, 0.0, wall_at=0.0)[0] < 0.9

    def test_mean_over_the_wall_height_only(self, tmp_path):
        # gradient growing linearly with the row: the mean over the wall
        # height [0.5, m - 0.5] is the value at mid-height
        n, m, a0, c = 12, 9, 0.05, 0.1
        U = [[0.0] * (n + 1) for _ in range(m + 1)]
        R = [[1.0] * (n + 1) for _ in range(m + 1)]
        T = [[1.0] + [1.0 - a0 * (1 + c * j) * (i - 0.5) for i in range(1, n + 1)]
             for j in range(m + 1)]
        fakesolver.write_run(str(tmp_path), n, m, field=(U, U, R, T))
        res = records.read_result(str(tmp_path))
        nu, local = benchmark.hot_wall_nusselt(res, 1.0, 0.0)
        assert local[0] == pytest.approx(a0 * (n - 1), rel=1e-5)
        assert nu == pytest.approx(a0 * (1 + c * m / 2) * (n - 1), rel=1e-5)

    def test_equal_wall_temperatures(self, tmp_path):
        res = write_field(tmp_path, 8, 8, lambda i: 1.0, 1.0, 0.0)
        with pytest.raises(ValueError):
            benchmark.hot_wall_nusselt(res, 1.0, 1.0)


def test_profile_maxima_of_a_run_folder(tmp_path):
    # u = A sin(2 pi y) on the vertical mid-line, v = -A sin(2 pi x) on the
    # horizontal one: maxima A at y = 0.25 and x = 0.75
    n = m = 30
    u_ref, amp = 0.02, 0.01
    fakesolver.write_run(str(tmp_path), n, m, 1.0, 0.0, u_ref=u_ref,
                         field=fakesolver.synthetic_field(n, m, 1.0, 0.0, amp))
    ra, pr = 1e4, 0.71
    got = benchmark.profile_maxima(str(tmp_path), ra=ra, pr=pr)
    scale = amp / u_ref * math.sqrt(ra * pr)
    assert got["y"] == pytest.approx(0.25, abs=2e-3)
    assert got["u_max"] == pytest.approx(scale, rel=2e-3)
    assert got["x"] == pytest.approx(0.75, abs=2e-3)
    # v on the mid-row y = 0.5 carries the factor sin(pi/2) = 1
    assert got["v_max"] == pytest.approx(scale, rel=2e-3)


def test_positions_in_the_frame_of_walls_inside_the_end_nodes():
    # 11 nodes written as i/10; walls at nodes 0.5 and 9.5
    pos = np.arange(11) / 10.0
    got = benchmark.to_wall_frame(pos, 11, 0.5)
    assert got[0] == pytest.approx(-0.5 / 9) and got[-1] == pytest.approx(1 + 0.5 / 9)
    assert benchmark.to_wall_frame([0.05, 0.95], 11, 0.5) == pytest.approx([0.0, 1.0])
    assert benchmark.to_wall_frame(pos, 11, 0.0) == pytest.approx(pos)
