import os
import struct
import subprocess

import matplotlib.image
import numpy as np
import pytest

import fakesolver
from conftest import tool
from cavity import records

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
             "midlines": (400, 140), "hotwall_nusselt": (200, 176)}
    for name, (w, h) in sizes.items():
        path = out / ("ra1e4_%s.png" % name)
        assert png_size(path) == (w, h)
        img = matplotlib.image.imread(str(path))  # decodes the whole file
        assert img.shape[:2] == (h, w)
        assert np.ptp(img[..., :3]) > 0.5  # something was drawn
    assert sorted(p.name for p in out.iterdir()) == sorted(
        ["ra1e4_%s.png" % k for k in sizes] + ["ra1e4_hotwall_nusselt.csv"])


def test_field_figures_follow_the_aspect_ratio(tmp_path):
    # a cavity twice as high as wide gives a figure higher than wide, and a
    # wide one a figure wider than high, with no blank beside the axes
    for n, m in ((16, 32), (32, 16)):
        run = tmp_path / ("r%dx%d" % (n, m))
        run.mkdir()
        make_run(run, n, m)
        assert plot(run, "--dpi", 50).returncode == 0
        w, h = png_size(run / "isotherms.png")
        assert (h > 1.2 * w) if m > n else (w > 1.3 * h), (n, m, w, h)


def test_field_at_rest_still_plots(tmp_path):
    # the state after one step of a run that stops at once: no flow at all
    n = m = 10
    zero = [[0.0] * (n + 1) for _ in range(m + 1)]
    one = [[1.0] * (n + 1) for _ in range(m + 1)]
    T = [[1.0] + [0.5] * (n - 1) + [0.0] for _ in range(m + 1)]
    fakesolver.write_run(str(tmp_path), n, m, field=(zero, zero, one, T))
    proc = plot(tmp_path, "--dpi", 30)
    assert proc.returncode == 0, proc.stderr
    assert png_size(tmp_path / "streamlines.png")[0] > 50


def test_no_result_file(tmp_path):
    proc = plot(tmp_path)
    assert proc.returncode == 1 and "Result.dat" in proc.stderr


def test_local_nusselt_of_conduction_is_one_along_the_wall(tmp_path):
    import csv
    from test_validation import conduction_run
    n, m = 20, 16
    conduction_run(tmp_path, n, m)
    records.write_parameters(str(tmp_path), dict(
        Pr=0.71, Ra=10, T_Hot=1, T_Cold=0, T_Init=0, Tau_T=0.8))
    proc = plot(tmp_path, "--dpi", 30)
    assert proc.returncode == 0, proc.stderr
    with open(tmp_path / "hotwall_nusselt.csv", newline="") as fh:
        rows = list(csv.DictReader(fh))
    # the node rows between the walls, j = 1 .. m - 1, from the bottom wall
    assert [int(r["j"]) for r in rows] == list(range(1, m))
    assert float(rows[0]["y_over_H"]) == pytest.approx(0.5 / (m - 1), abs=1e-6)
    for r in rows:
        assert float(r["Nu_local_2nd_order"]) == pytest.approx(1.0, rel=5e-5)
        # the solver's formula scales by n, not by the width n - 1
        assert float(r["Nu_local_1st_order"]) == pytest.approx(n / (n - 1.0),
                                                               rel=5e-5)
    assert ("the cavity's Ra between the walls, Ra = %.6g, from the parameter "
            "file's Ra = 10 " % (10 * (15 / 16) ** 3)) in proc.stderr


def test_wall_frame_positions_and_velocity_scale(tmp_path):
    from cavity import benchmark, plotting
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
    # the cavity's Ra is the file's read back by the tools' convention; a
    # file with Ra = 1e4 itself is a cavity at a lower Ra, not the benchmark
    assert walls.ra == pytest.approx(1e4 * (23 / 24) ** 3)
    assert walls.title() == "Ra = 8801.36, Pr = 0.71, 24 x 24"
    assert walls.reference() is None
    records.write_parameters(str(tmp_path), dict(
        Pr=0.71, Ra=1e4 * (24 / 23) ** 3, T_Hot=1, T_Cold=0, T_Init=0, Tau_T=0.6))
    walls = plotting.Run(str(tmp_path), wall_at=0.5)
    assert walls.title().startswith("Ra = $10^{4}$, Pr = 0.71")
    assert walls.reference()["nu"] == 2.238
    assert walls.X[0, 1] == pytest.approx(0.5 / 23, abs=1e-6)


def test_figures_for_papers_titles_fit_formats_and_suspension(tmp_path, monkeypatch):
    import json
    from cavity import figures, plotting
    make_run(tmp_path, 12, 40)  # slender: the narrowest field figures
    (tmp_path / "nanofluid.json").write_text(json.dumps({"suspension": {
        "fluid": {"name": "ethylene_glycol"}, "particle": {"name": "Al2O3"},
        "phi": 0.05}}))
    saved = []

    def save(fig, path, style, **kw):
        fig.canvas.draw()
        titles = [t for t in [getattr(fig, "_suptitle", None)]
                  + [ax.title for ax in fig.axes] if t is not None and t.get_text()]
        for t in titles:  # inside the figure, not cut at either side
            box = t.get_window_extent()
            assert fig.bbox.x0 - 1 <= box.x0 and box.x1 <= fig.bbox.x1 + 1, path
        saved.append((os.path.basename(path), [t.get_text() for t in titles]))
        real_save(fig, path, style, **kw)

    real_save = figures.save
    monkeypatch.setattr(figures, "save", save)
    plotting.plot_run(str(tmp_path), str(tmp_path / "a"), wall_at=0.5,
                      style=figures.Style(dpi=40))
    assert len(saved) == 4
    for name, titles in saved:
        assert titles and all("Al2O3-ethylene_glycol, $\\phi$ = 0.05"
                              in t.replace("\n", " ") for t in titles), name
    saved.clear()
    plotting.plot_run(str(tmp_path), str(tmp_path / "b"), wall_at=0.5,
                      style=figures.Style("svg", 40, title=False))
    assert [n for n, _ in saved] == ["isotherms.svg", "streamlines.svg",
                                     "midlines.svg", "hotwall_nusselt.svg"]
    assert all(t == [] for _, t in saved)
    proc = plot(tmp_path, "-o", tmp_path / "c", "--format", "pdf", "--dpi", 30)
    assert proc.returncode == 0, proc.stderr
    for name in ("isotherms", "streamlines", "midlines", "hotwall_nusselt"):
        assert (tmp_path / "c" / (name + ".pdf")).read_bytes()[:5] == b"%PDF-"
