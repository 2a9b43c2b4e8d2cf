import struct
import subprocess

import matplotlib.image
import numpy as np
import pytest

import fakesolver
from conftest import tool
from cavitylib import records

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def png_size(path):
    data = path.read_bytes()
    assert data[:8] == PNG_SIGNATURE
    length, kind = struct.unpack(">I4s", data[8:16])
    assert kind == b"IHDR" and length == 13
    return struct.unpack(">II", data[16:24])


def make_run(folder, n=24, m=24, params=True):
    fakesolver.write_run(str(folder), n, m, u_ref=0.002)
    if params:
        records.write_parameters(str(folder), dict(
            Pr=0.71, Ra=1e4, T_Hot=1, T_Cold=0, T_Init=0, Tau_T=0.6))


def plot(*args):
    return subprocess.run([tool("cavity-plot")] + [str(a) for a in args],
                          capture_output=True, text=True, timeout=120)


@pytest.mark.parametrize("params, shape", [(True, (24, 24)), (False, (32, 16))])
def test_figures_are_pngs_of_the_asked_size(tmp_path, params, shape):
    run = tmp_path / "run"
    run.mkdir()
    make_run(run, *shape, params=params)
    out = tmp_path / "fig"
    proc = plot(run, "-o", out, "--dpi", 40, "--size", "5x4",
                "--profile-size", "10x3.5", "--prefix", "ra1e4_")
    assert proc.returncode == 0, proc.stderr
    sizes = {"isotherms": (200, 160), "streamlines": (200, 160),
             "midlines": (400, 140)}
    for name, (w, h) in sizes.items():
        path = out / ("ra1e4_%s.png" % name)
        assert png_size(path) == (w, h)
        img = matplotlib.image.imread(str(path))  # decodes the whole file
        assert img.shape[:2] == (h, w)
        assert np.ptp(img[..., :3]) > 0.5  # something was drawn
    assert sorted(p.name for p in out.iterdir()) == sorted(
        "ra1e4_%s.png" % k for k in sizes)


def test_field_at_rest_still_plots(tmp_path):
    # the state after one step of a run that stops at once: no flow at all
    n = m = 10
    zero = [[0.0] * (n + 1) for _ in range(m + 1)]
    one = [[1.0] * (n + 1) for _ in range(m + 1)]
    T = [[1.0] + [0.5] * (n - 1) + [0.0] for _ in range(m + 1)]
    fakesolver.write_run(str(tmp_path), n, m, field=(zero, zero, one, T))
    proc = plot(tmp_path, "--dpi", 30)
    assert proc.returncode == 0, proc.stderr
    assert png_size(tmp_path / "streamlines.png") == (150, 126)


def test_no_result_file(tmp_path):
    proc = plot(tmp_path)
    assert proc.returncode == 1 and "Result.dat" in proc.stderr


def test_wall_frame_positions_and_velocity_scale(tmp_path):
    from cavitylib import benchmark, plotting
    make_run(tmp_path, 24, 24)
    on_nodes = plotting.Run(str(tmp_path), wall_at=0.0)
    walls = plotting.Run(str(tmp_path), wall_at=0.5)
    (y0, u0), (x0, v0), _ = on_nodes.profiles()
    (y1, u1), (x1, v1), _ = walls.profiles()
    # node j sits at (j - 0.5) / 23 from the bottom wall; x likewise
    assert y1 == pytest.approx((np.arange(25) - 0.5) / 23, abs=1e-6)
    assert x1 == pytest.approx((np.arange(25) - 0.5) / 23, abs=1e-6)
    assert y0 == pytest.approx(np.arange(25) / 24, abs=1e-6)
    # alpha/L with L = 23 spacings instead of 24
    assert u1 == pytest.approx(u0 * 23 / 24) and v1 == pytest.approx(v0 * 23 / 24)
    assert u0 == pytest.approx(records.read_midlines(str(tmp_path))["u"][1]
                               * benchmark.velocity_scale(1e4, 0.71))
    # the cavity's Ra is the solver's referred to L; the benchmark points
    # are still found for a run given Ra = 1e4 itself
    assert walls.ra == pytest.approx(1e4 * (23 / 24) ** 3)
    assert walls.reference()["nu"] == 2.238
    assert walls.X[0, 1] == pytest.approx(0.5 / 23, abs=1e-6)
