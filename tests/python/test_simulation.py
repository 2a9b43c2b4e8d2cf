"""cavity.Simulation: the solver run in this process makes the program's
bytes, survives its traps, interruptions and a second run beside it, and
its checkpoints and netCDF files go both ways."""

import builtins
import json
import os
import shutil
import signal
import subprocess
import sys
import threading

import numpy as np
import pytest

import cavity
from cavity import history, nanofluid, programs, records, sweep
from cavity.simulation import program_options

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import simulated  # noqa: E402

# the example case runs fast enough for the solver to warn of it
pytestmark = pytest.mark.filterwarnings("ignore:warning. the reference velocity")

with open(os.path.join(os.path.dirname(os.path.dirname(HERE)), "examples",
                       "Input_Parameters.Input")) as _fh:
    EXAMPLE = _fh.read()  # Pr 0.71, Ra 1e4, T_Init 0, Tau_T 0.65


def environment(**extra):
    env = {k: v for k, v in os.environ.items() if k != "CAVITY_KERNELS"}
    env.update(extra)
    return env


def program(folder, n, m, options=(), parameters=EXAMPLE):
    """The package's program run on the case in ``folder``."""
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, records.PARAM_FILE), "w") as fh:
        fh.write(parameters)
    proc = subprocess.run([programs.PACKAGED, *options], input=b"%d\n%d\n\n" % (n, m),
                          cwd=folder, capture_output=True, env=environment(), timeout=600)
    assert proc.returncode == 0, proc.stderr
    return proc


def after_banner(stdout):
    """The program's standard output from its first report on: what a
    simulation, which has no dialogue, writes."""
    return stdout[stdout.find(b"Step=="):]


def read(path):
    with open(path, "rb") as fh:
        return fh.read()


def same_files(a, b, names=records.RESULT_FILES):
    return [name for name in names
            if read(os.path.join(a, name)) != read(os.path.join(b, name))]


# (n, m, the simulation's options): a run to the solver's stop, and one
# with every option that carries state from step to step
CASES = {
    "stop": (16, 16, {}),
    "options": (24, 18, {"settle": 1e-5, "accelerate": True, "checkpoint": "run.ckpt",
                         "checkpoint_every": 500}),
    "scheme": (16, 12, {"scheme": "bounce-back-trt", "residual_stop": False, "settle": 1e-4}),
}


@pytest.mark.parametrize("name", sorted(CASES))
def test_simulation_makes_the_programs_bytes_on_every_kernel_set(tmp_path, name):
    """Reports, notes, the five files and the checkpoint, byte for byte,
    on one and two threads and with every set of kernels the processor
    runs; the report history is the printed one."""
    n, m, options = CASES[name]
    proc = program(str(tmp_path / "program"), n, m, program_options(**options))
    steps, nu, rt, rf = history.read_reports(proc.stdout.decode())
    compared = 0
    for kernels in cavity._solver.kernel_sets_built():
        for threads in (1, 2):
            job = {"n": n, "m": m, "parameters": EXAMPLE,
                    "options": dict(options, threads=threads)}
            folder = str(tmp_path / ("%s-%d" % (kernels, threads)))
            run = subprocess.run([sys.executable, simulated.__file__, json.dumps(job), folder],
                                 capture_output=True, env=environment(CAVITY_KERNELS=kernels),
                                 timeout=600)
            if b"does not run these kernels" in run.stderr:
                break
            assert run.returncode == 0, run.stderr.decode()
            assert read(os.path.join(folder, "kernels.txt")) == kernels.encode()
            assert read(os.path.join(folder, "output.txt")) == after_banner(proc.stdout)
            assert read(os.path.join(folder, "notes.txt")) == proc.stderr
            extra = ("run.ckpt",) if "checkpoint" in options else ()
            assert same_files(str(tmp_path / "program"), os.path.join(folder, "files"),
                              records.RESULT_FILES + extra) == []
            reports = np.loadtxt(os.path.join(folder, "reports.csv"), delimiter=",",
                                 skiprows=1, ndmin=2)
            assert list(reports[:, 0]) == list(steps)
            for k, printed in enumerate((nu, rt, rf), 1):
                np.testing.assert_allclose(reports[:, k], printed, rtol=6e-7)
            compared += 1
    assert compared >= 2


def test_trap_is_an_exception_and_the_interpreter_goes_on(tmp_path):
    """A run that blows up raises cavity.FloatingPointError with the
    program's line (kind, step, cause); the interpreter's floating-point
    environment is its own again, and another simulation runs as before."""
    wild = cavity.Case(12, 12, Pr=0.71, Ra=1e9, Tau_T=0.51)
    folder = str(tmp_path / "program")
    wild.write(folder)
    proc = subprocess.run([programs.PACKAGED], input=b"12\n12\n\n", cwd=folder,
                          capture_output=True, env=environment(), timeout=60)
    assert proc.returncode == 1
    with pytest.warns(RuntimeWarning, match="reference velocity"):
        sim = cavity.Simulation(wild)
    with pytest.raises(cavity.FloatingPointError) as caught:
        sim.run(progress=None)
    assert proc.stderr.decode().splitlines()[-1] == str(caught.value)
    assert isinstance(caught.value, builtins.FloatingPointError)
    assert caught.value.kind in ("overflow", "invalid", "divide by zero")
    assert caught.value.step == sim.step > 0
    assert sim.ending == "trapped"
    with pytest.raises(cavity.FloatingPointError):
        sim.advance(1, progress=None)  # the state of the fault stays
    with np.errstate(all="ignore"):  # untrapped here: inf and nan, no signal
        assert np.isinf(np.float32(3e38) * np.float32(10))
        assert np.isnan(np.float64(np.inf) - np.inf)
    calm = cavity.Simulation(cavity.Case.read(write_example(), 16, 16))
    assert calm.run(progress=None) == "residual" and calm.step == 3409  # as the program


def write_example(folder=None):
    """A folder holding the example's parameter file."""
    import tempfile
    folder = folder or tempfile.mkdtemp()
    with open(os.path.join(folder, records.PARAM_FILE), "w") as fh:
        fh.write(EXAMPLE)
    return folder


def test_ctrl_c_ends_a_call_between_steps_and_the_run_goes_on(tmp_path):
    """SIGINT while the solver steps: KeyboardInterrupt between two chunks
    with the state whole; going on makes the bytes of a run never
    interrupted."""
    case = cavity.Case.read(write_example(str(tmp_path)), 48, 48)
    whole = cavity.Simulation(case, folder=str(tmp_path / "whole"), settle=1e-5,
                               threads=2)
    whole.run(progress=None)
    cut = cavity.Simulation(case, folder=str(tmp_path / "cut"), settle=1e-5, threads=2)

    def interrupt():
        while cut.step < 2000:  # between chunks: the run's lock is free
            pass
        os.kill(os.getpid(), signal.SIGINT)

    sender = threading.Thread(target=interrupt)
    sender.start()
    with pytest.raises(KeyboardInterrupt):
        cut.run(progress=None)
    sender.join()
    assert cut.ending == "running" and 2000 <= cut.step < whole.step
    assert cut.run(progress=None) == whole.ending
    assert (cut.step, cut.output, cut.notes) == (whole.step, whole.output, whole.notes)
    assert same_files(whole.folder, cut.folder) == []
    assert cut.field("T").tobytes() == whole.field("T").tobytes()


def test_two_simulations_in_two_threads_make_their_own_bytes(tmp_path):
    """Two simulations stepped at once from two threads (the solver runs
    without the interpreter's lock) each make what they make alone."""
    base = write_example(str(tmp_path))
    cases = [cavity.Case.read(base, 40, 30), cavity.Case.read(base, 26, 26)]
    alone = []
    for k, case in enumerate(cases):
        sim = cavity.Simulation(case, folder=str(tmp_path / ("alone%d" % k)), threads=2)
        sim.run(progress=None)
        alone.append(sim)
    together = [cavity.Simulation(case, folder=str(tmp_path / ("together%d" % k)), threads=2)
                for k, case in enumerate(cases)]
    workers = [threading.Thread(target=sim.run, kwargs={"progress": None})
               for sim in together]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    for a, t in zip(alone, together):
        assert (t.ending, t.step, t.output, t.notes) == (a.ending, a.step, a.output, a.notes)
        assert same_files(a.folder, t.folder) == []
        assert t.field("U").tobytes() == a.field("U").tobytes()


def test_checkpoints_go_both_ways_with_the_program(tmp_path):
    """A checkpoint the simulation keeps, the program goes on from; one the
    program keeps, Simulation.resume goes on from; either way the end is
    the bytes of the run never stopped."""
    whole = program(str(tmp_path / "whole"), 16, 16)
    case = cavity.Case.read(str(tmp_path / "whole"), 16, 16)
    sim = cavity.Simulation(case)
    sim.advance(430, progress=None)
    assert sim.save_checkpoint(str(tmp_path / "python.ckpt")) == 450
    on = str(tmp_path / "program_goes_on")
    os.makedirs(on)
    shutil.copy(str(tmp_path / "python.ckpt"), os.path.join(on, "run.ckpt"))
    going_on = program(on, 16, 16, ["--checkpoint", "run.ckpt"])
    assert whole.stdout.endswith(after_banner(going_on.stdout))
    assert same_files(str(tmp_path / "whole"), on) == []
    sim.run(progress=None)
    assert sim.output.encode("latin-1") == after_banner(whole.stdout)

    kept = program(str(tmp_path / "kept"), 16, 16, ["--checkpoint", "run.ckpt",
                                                     "--checkpoint-every", "1000"])
    resumed = cavity.Simulation.resume(str(tmp_path / "kept" / "run.ckpt"),
                                       folder=str(tmp_path / "resumed"),
                                       checkpoint_every=1000)
    assert resumed.step == 3409  # the program keeps its end: the residual stop
    resumed.run(progress=None)
    assert kept.stdout.endswith(resumed.output.encode("latin-1"))
    assert same_files(str(tmp_path / "kept"), resumed.folder) == []


def test_netcdf_file_reads_back_as_the_dataset(tmp_path):
    """The fields as a CF netCDF file: xarray reads back the dataset, with
    the cavity's coordinates and the case in the attributes."""
    import xarray as xr
    case = cavity.Case.read(write_example(str(tmp_path)), 16, 12)
    sim = cavity.Simulation(case)
    sim.advance(500, progress=None)
    ds = sim.fields()
    path = sim.to_netcdf(str(tmp_path / "fields.nc"))
    with xr.open_dataset(path) as back:
        xr.testing.assert_identical(back, ds)
        assert back.attrs["Conventions"].startswith("CF-")
        assert back["x"].attrs["units"] == "1" and back["T"].dtype == np.float32
    # the walls half a spacing inside the end nodes: x/H = 0 at i = 1/2
    assert ds["x"].values[1] == pytest.approx(0.5 / 11)
    assert ds.attrs["Ra_file"] == pytest.approx(1e4)
    assert ds.attrs["Ra"] == pytest.approx(1e4 * (11 / 12) ** 3)
    assert ds.attrs["step"] == 500
    assert ds["T"].values.tobytes() == sim.field("T").tobytes()
    # the files asked for are those a run with a folder wrote at this report
    sim.write_results(str(tmp_path / "asked"))
    kept = cavity.Simulation(case, folder=str(tmp_path / "kept"))
    kept.advance(500, progress=None)
    assert same_files(str(tmp_path / "asked"), kept.folder) == []


PARAVIEW_CHECK = """
import json, sys
from paraview.simple import NetCDFReader
from paraview import servermanager
data = servermanager.Fetch(NetCDFReader(FileName=[sys.argv[1]]))
points = data.GetPointData()
print("RESULT " + json.dumps({
    "points": data.GetNumberOfPoints(), "bounds": list(data.GetBounds()),
    "arrays": sorted(points.GetArrayName(k) for k in range(points.GetNumberOfArrays())),
    "T": [points.GetArray("T").GetValue(k) for k in range(data.GetNumberOfPoints())]}))
"""


@pytest.mark.skipif(shutil.which("pvbatch") is None,
                    reason="pvbatch (python3-paraview) not installed")
def test_paraview_reads_the_netcdf_file_on_the_cavitys_coordinates(tmp_path):
    """ParaView's netCDF reader takes the file as a flat grid of points
    over x/H, y/H with every field on its nodes."""
    case = cavity.Case.read(write_example(str(tmp_path)), 16, 12)
    sim = cavity.Simulation(case)
    sim.advance(500, progress=None)
    path = sim.to_netcdf(str(tmp_path / "fields.nc"))
    script = tmp_path / "check.py"
    script.write_text(PARAVIEW_CHECK)
    proc = subprocess.run(["pvbatch", str(script), path], capture_output=True, text=True,
                          timeout=300)
    line = [ln for ln in proc.stdout.splitlines() if ln.startswith("RESULT ")]
    assert line, proc.stdout + proc.stderr
    got = json.loads(line[0][7:])
    assert got["points"] == 17 * 13
    assert got["bounds"][:4] == pytest.approx([-0.5 / 11, 15.5 / 11, -0.5 / 11, 11.5 / 11])
    assert got["arrays"] == ["Rho", "Stream", "T", "U", "V", "psi", "u", "v"]
    np.testing.assert_array_equal(np.float32(got["T"]), sim.field("T").ravel())


def test_grid_study_from_python_is_that_of_the_simulations(tmp_path):
    """cavity.run_grid_study runs the program through cavity-sweep; its Nu
    on each grid is the wall-corrected Nu of the same case simulated here,
    and its table has the GCI columns."""
    case = cavity.Case(16, 16, Pr=0.71, Ra=1e4, Tau_T=0.65, name="air")
    study = cavity.run_grid_study([case], [8, 12, 16], str(tmp_path / "study"), jobs=2)
    assert {"p", "Nu_extrapolated", "GCI_fine", "GCI_band"} <= set(study.columns)
    nus = [float(x) for x in study["Nu_per_grid"][0].split(";")]
    for m, nu in zip((8, 12, 16), nus):
        sim = cavity.Simulation(case.on_grid(m), settle=1e-5)
        sim.run(progress=None)
        assert sim.nusselt()["Nu_wall_corrected_hot"] == pytest.approx(nu, rel=1e-5)


def test_case_labels_both_rayleigh_numbers_and_writes_the_tools_file(tmp_path):
    """Ra of the cavity or of the file, each labelled; Tau_T by the tools'
    policy; the parameter file cavity-sweep writes; read back as the
    program reads it."""
    case = cavity.Case(64, 64, Pr=0.71, Ra=1e5, name="air")
    assert case.Ra == 1e5 and case.Ra_file == pytest.approx(1e5 * (64 / 63) ** 3)
    assert case.Tau_T == nanofluid.choose_tau_t(0.71, 1e5, 64)[0]
    assert case.T_Init == 0.5 and case.T_Ref == 0.5
    case.write(str(tmp_path / "case"))
    sweep.prepare_case(str(tmp_path / "sweep"), dict(case.row()))
    assert read(str(tmp_path / "case" / records.PARAM_FILE)) == \
        read(str(tmp_path / "sweep" / records.PARAM_FILE))
    back = cavity.Case.read(str(tmp_path / "case"), 64, 64)
    assert back.solver_values == case.solver_values and back.Ra_file == case.Ra_file
    assert back.U_Ref == case.U_Ref < 0.15 * nanofluid.LATTICE_SOUND_SPEED
    with pytest.raises(cavity.CaseError, match="Tau_T"):
        cavity.Case(16, 16, Pr=0.71, Ra=1e4, Tau_T=0.5)


def test_dropped_simulations_give_their_memory_back():
    """Many simulations made and dropped: the process's resident memory
    stays within a few of them."""
    case = cavity.Case.read(write_example(), 128, 128)

    def resident():
        with open("/proc/self/statm") as fh:
            return int(fh.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    cavity.Simulation(case).advance(2, progress=None)
    before = resident()
    for _ in range(40):  # each holds some 6 MB
        sim = cavity.Simulation(case, threads=2)
        sim.advance(2, progress=None)
        sim.fields()
        del sim
    assert resident() - before < 60e6
