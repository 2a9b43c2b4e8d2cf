import json
import shutil
import subprocess

import numpy as np
import pytest

import fakesolver
from conftest import tool
from cavity import records

N, M = 6, 4  # not square: X runs to n/m = 1.5


@pytest.fixture
def run(tmp_path):
    fakesolver.write_run(str(tmp_path), N, M)
    return tmp_path


def convert(*args):
    return subprocess.run([tool("cavity-to-vtk")] + [str(a) for a in args],
                          capture_output=True, text=True, timeout=60)


def sections(lines):
    """keyword line index -> line, for the VTK section headers."""
    return {k: ln for k, ln in enumerate(lines)
            if ln.split()[0] in ("POINTS", "POINT_DATA", "SCALARS", "VECTORS")}


def test_vtk_text(run):
    out = run / "field.vtk"
    proc = convert(run / "Result.dat", "-o", out, "--as-written")
    assert proc.returncode == 0, proc.stderr
    raw = out.read_bytes()
    assert b"\r" not in raw
    lines = raw.decode().splitlines()
    npts = (N + 1) * (M + 1)
    assert lines[:6] == ["# vtk DataFile Version 3.0", "cavity result n=6 m=4",
                         "ASCII", "DATASET STRUCTURED_GRID",
                         "DIMENSIONS 7 5 1", "POINTS %d float" % npts]
    # coordinates exactly as written in Result.dat, i fastest
    res = records.read_result(str(run))
    pts = lines[6:6 + npts]
    assert pts[1] == "2.500000E-01 0.000000E+00 0"
    assert pts[N] == "1.500000 0.000000E+00 0"
    assert pts[N + 1] == "0.000000E+00 2.500000E-01 0"
    # every array: header, lookup table, one value a point, in this order
    heads = sections(lines)
    names = [ln for ln in heads.values() if not ln.startswith("POINTS")]
    assert names == ["POINT_DATA %d" % npts] + [
        "SCALARS %s float 1" % v for v in ("U", "V", "P", "T", "Stream")] + [
        "VECTORS Velocity float"]
    for k, ln in heads.items():
        if ln.startswith("SCALARS"):
            name = ln.split()[1]
            assert lines[k + 1] == "LOOKUP_TABLE default"
            vals = np.array(lines[k + 2:k + 2 + npts], dtype=float)
            np.testing.assert_array_equal(vals, res.column(name).ravel())
    vec = lines[-npts:]
    assert len(lines) == max(heads) + 1 + npts
    np.testing.assert_array_equal([float(v.split()[1]) for v in vec], res.V.ravel())


def test_default_output_beside_the_run(run):
    assert convert(run).returncode == 0
    assert (run / "Result.vtk").read_text().startswith("# vtk DataFile")


def test_the_vtk_file_and_the_figures_share_one_scaling(run):
    from cavity import plotting
    records.write_parameters(str(run), dict(Pr=0.71, Ra=1e4, T_Hot=1, T_Cold=0,
                                            T_Init=0, Tau_T=0.6))
    proc = convert(run)
    assert proc.returncode == 0, proc.stderr
    lines = (run / "Result.vtk").read_text().splitlines()
    npts = (N + 1) * (M + 1)
    assert "x/H, y/H" in lines[1] and "u H/alpha" in lines[1]
    heads = {ln.split()[1]: k for k, ln in sections(lines).items()
             if ln.startswith("SCALARS")}

    def array(name):
        return np.array(lines[heads[name] + 2:heads[name] + 2 + npts], dtype=float)
    pts = np.array([ln.split()[:2] for ln in lines[6:6 + npts]], dtype=float)
    fig = plotting.Run(str(run), wall_at=0.5)
    # x/H, y/H from the hot and bottom walls, H = m - 1 spacings
    np.testing.assert_allclose(pts[:, 0], fig.X.ravel(), rtol=1e-6, atol=1e-7)
    np.testing.assert_allclose(pts[:, 1], fig.Y.ravel(), rtol=1e-6, atol=1e-7)
    assert pts[1, 0] == pytest.approx(0.5 / (M - 1), abs=1e-7)
    res = records.read_result(str(run))
    np.testing.assert_allclose(array("U"), (res.U * fig.vscale).ravel(), rtol=1e-6)
    np.testing.assert_allclose(array("V"), (res.V * fig.vscale).ravel(), rtol=1e-6)
    np.testing.assert_allclose(array("Stream"), (res.Stream * fig.psi_scale).ravel(),
                               rtol=1e-6, atol=1e-12)
    # u H/alpha = U/U_Ref sqrt(Ra Pr) (m - 1)/m; psi/alpha with alpha = 0.1/3
    assert fig.vscale == pytest.approx((1e4 * 0.71) ** 0.5 * (M - 1) / M)
    assert fig.psi_scale == pytest.approx(30.0)
    np.testing.assert_array_equal(array("T"), res.T.ravel())  # as written


@pytest.mark.parametrize("content", [None, " VARIABLES =X,Y,U,V,P,T,Stream\r\n"
                                     " ZONE I=          2J=          2\r\n 1 2 3\r\n"])
def test_missing_or_short_file(tmp_path, content):
    if content is not None:
        (tmp_path / "Result.dat").write_text(content)
    proc = convert(tmp_path)
    assert proc.returncode == 1
    assert "Result.dat" in proc.stderr
    assert not (tmp_path / "Result.vtk").exists()


PV_CHECK = """
import json, sys
from paraview.simple import LegacyVTKReader, servermanager
r = LegacyVTKReader(FileNames=[sys.argv[1]])
r.UpdatePipeline()
d = servermanager.Fetch(r)
pd = d.GetPointData()
print("RESULT " + json.dumps({
    "class": d.GetClassName(), "npts": d.GetNumberOfPoints(),
    "dims": [d.GetDimensions()[k] for k in range(3)],
    "arrays": [pd.GetArrayName(k) for k in range(pd.GetNumberOfArrays())],
    "p": [list(d.GetPoint(k)) for k in (0, 6, 7, 34)],
    "stream": [pd.GetArray("Stream").GetValue(k) for k in range(d.GetNumberOfPoints())]}))
"""


@pytest.mark.skipif(shutil.which("pvbatch") is None,
                    reason="pvbatch (python3-paraview) not installed")
def test_paraview_reads_the_file(run, tmp_path):
    assert convert(run, "--as-written").returncode == 0
    script = tmp_path / "check.py"
    script.write_text(PV_CHECK)
    proc = subprocess.run(["pvbatch", str(script), str(run / "Result.vtk")],
                          capture_output=True, text=True, timeout=300)
    line = [ln for ln in proc.stdout.splitlines() if ln.startswith("RESULT ")]
    assert line, proc.stdout + proc.stderr
    got = json.loads(line[0][7:])
    assert got["class"] == "vtkStructuredGrid"
    assert got["dims"] == [7, 5, 1] and got["npts"] == 35
    assert got["arrays"] == ["U", "V", "P", "T", "Stream", "Velocity"]
    assert got["p"] == [[0, 0, 0], [1.5, 0, 0], [0, 0.25, 0], [1.5, 1.0, 0]]
    res = records.read_result(str(run))
    np.testing.assert_allclose(got["stream"], res.Stream.ravel(), rtol=1e-6)
