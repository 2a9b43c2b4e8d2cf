"""Reading the solver's checkpoints (cavity.checkpoint)."""

import subprocess

import numpy as np
import pytest

from cavity import checkpoint, records


@pytest.fixture
def kept(solver, tmp_path):
    """The checkpoint a real 12 x 8 run keeps at its end (the residual stop at
    step 379, between reports)."""
    path, real = solver
    if not real:
        pytest.skip("needs the real solver (CAVITY_BIN)")
    records.write_parameters(str(tmp_path), {
        "Pr": 0.71, "Ra": 1000, "T_Hot": 1, "T_Cold": 0, "T_Init": 0,
        "Tau_T": 1.5})
    subprocess.run([path, "--checkpoint", "run.ckpt"], input=b"12\n8\n\n",
                   cwd=tmp_path, check=True, capture_output=True)
    return tmp_path / "run.ckpt"


def running_sum(a):
    """Sum over the last axis, rounded to float32 after every addition as
    the solver sums."""
    s = a[..., 0].copy()
    for k in range(1, a.shape[-1]):
        s = (s + a[..., k]).astype(np.float32)
    return s


def test_fields_and_distributions_are_where_the_layout_says(kept):
    c = checkpoint.read_checkpoint(str(kept))
    assert (c.n, c.m, c.step, c.from_file) == (12, 8, 379, False)
    assert c.parameters["Ra"] == 1000.0
    assert c.parameters["Pr"] == pytest.approx(0.71)
    assert c.Rho.shape == (9, 13) and c.F.shape == (9, 13, 9)
    # the density of an interior node is the sum of its nine F, and the
    # temperature off the side walls the sum of its nine G, bit for bit
    assert np.array_equal(running_sum(c.F)[1:-1, 1:-1], c.Rho[1:-1, 1:-1])
    assert np.array_equal(running_sum(c.G)[:, 1:-1], c.T[:, 1:-1])
    assert (c.T[:, 0] == 1.0).all() and (c.T[:, -1] == 0.0).all()
    assert c.Residual_T > 0 and c.Nu_Hot == pytest.approx(1.327, abs=1e-3)


def test_a_scheme_other_than_copy_is_named(solver, kept, tmp_path):
    assert checkpoint.read_checkpoint(str(kept)).scheme == "copy"
    path, _ = solver
    subprocess.run([path, "--scheme", "bounce-back-trt", "--checkpoint", "trt.ckpt"],
                   input=b"12\n8\n\n", cwd=tmp_path, check=True, capture_output=True)
    c = checkpoint.read_checkpoint(str(tmp_path / "trt.ckpt"))
    assert (c.version, c.scheme) == (2, "bounce-back-trt")
    # the walls' rows take the temperature of the rows beside them
    assert np.array_equal(c.T[0], c.T[1]) and np.array_equal(c.T[-1], c.T[-2])


def test_damage_and_truncation_are_refused(kept, tmp_path):
    good = kept.read_bytes()
    for name, data, words in (
            ("flipped", good[:3000] + bytes([good[3000] ^ 1]) + good[3001:],
             "checksum"),
            ("short", good[:5000], "bytes"),
            ("other", b"VARIABLES =X,Y\r\n", "not a checkpoint")):
        path = tmp_path / name
        path.write_bytes(data)
        with pytest.raises(records.FormatError, match=words):
            checkpoint.read_checkpoint(str(path))
