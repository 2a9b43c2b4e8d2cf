"""A sweep through Slurm gives what a sweep on this machine gives, and a task
cancelled or requeued mid-run ends as it should: a one-node cluster runs on
this machine (tests/python/slurm_cluster.sh; tests/run_all.sh starts it and
names its folder in CAVITY_SLURM_CLUSTER, else this test starts its own where
slurm-wlm and munge are installed)."""

import csv
import os
import shutil
import subprocess
import time

import pytest

from conftest import HERE, tool

# b and c, the first two tasks, run long enough to be caught mid-run
TABLE = ("name,n,m,Pr,Ra,T_Hot,T_Cold,T_Init,Tau_T\n"
         "b,24,24,0.71,1e5,1,0,0.6,0.505\n"
         "c,32,16,0.71,1e5,1,0,0.6,0.505\n"
         "a,12,8,0.71,1e4,1,0,0.6,0.51\n"
         "d,16,16,6.2,1e4,1,0,0.6,0.52\n"
         "e,10,10,0.71,1e9,1,0,0.6,0.52\n")  # overflows
OPTIONS = ["--settle", "1e-6"]
SAME = ("status", "exit_code", "stop", "end_step", "last_reported_step",
        "finished", "Nu", "Ra_parameter_file", "threads")
RESULTS = ("Result.dat", "Nu.dat", "V_Velocity_MidLine.dat",
           "TEMPERATURE_MidLine.dat", "U_Velocity_Vertical_MidLine.dat",
           "Input_Parameters.Input")


@pytest.fixture(scope="module")
def slurm_env(tmp_path_factory):
    given = os.environ.get("CAVITY_SLURM_CLUSTER")
    env = dict(os.environ)
    if given:
        env["SLURM_CONF"] = os.path.join(given, "slurm.conf")
        yield env
        return
    if not (os.path.exists("/usr/sbin/slurmctld") and shutil.which("munged")
            or os.path.exists("/usr/sbin/munged")):
        pytest.skip("slurm-wlm or munge not installed")
    if os.geteuid() != 0:
        pytest.skip("the test cluster's daemons run as root")
    folder = str(tmp_path_factory.mktemp("slurm"))
    script = os.path.join(HERE, "slurm_cluster.sh")
    proc = subprocess.run(["bash", script, "start", folder],
                          capture_output=True, text=True, timeout=120)
    if proc.returncode != 0:
        pytest.skip("the Slurm daemons cannot start here: %s"
                    % proc.stderr.strip())
    env["SLURM_CONF"] = os.path.join(folder, "slurm.conf")
    try:
        yield env
    finally:
        subprocess.run(["bash", script, "stop", folder], timeout=120)


def summary(folder):
    with open(folder / "summary.csv", newline="") as fh:
        return {r["name"]: r for r in csv.DictReader(fh)}


def task_when_checkpointed(case, proc):
    """The job id of the case's task once it has written a checkpoint."""
    record = case / "slurm-task.txt"
    for _ in range(1200):
        if (case / "run.ckpt").exists() and record.exists():
            return record.read_text().split("\t")[1].split("=")[1]
        assert proc.poll() is None, proc.communicate()
        time.sleep(0.05)
    raise AssertionError("%s never wrote a checkpoint" % case)


def test_slurm_sweep_matches_a_local_sweep_through_cancel_requeue_and_resume(
        tmp_path, solver, slurm_env):
    binary, real = solver
    if not real:
        pytest.skip("needs the real solver (CAVITY_BIN): tasks are caught "
                    "mid-run and go on from its checkpoints")
    table = tmp_path / "cases.csv"
    table.write_text(TABLE)
    base = [tool("cavity-sweep"), str(table), "--bin", binary] + OPTIONS
    local = subprocess.run(base + ["-o", str(tmp_path / "local"), "--jobs", "2"],
                           capture_output=True, text=True, timeout=600)
    assert local.returncode == 1, local.stderr
    want = summary(tmp_path / "local")

    out = tmp_path / "slurm"
    cmd = base + ["-o", str(out), "--slurm", "--array-limit", "2",
                  "--checkpoint-every", "2000"]
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, env=slurm_env)
    try:
        cancelled = task_when_checkpointed(out / "b", proc)
        requeued = task_when_checkpointed(out / "c", proc)
        for argv in (["scancel", cancelled], ["scontrol", "requeue", requeued]):
            subprocess.run(argv, check=True, env=slurm_env, timeout=60)
        # the waiting sweep holds its folder: collect is refused meanwhile
        busy = subprocess.run([tool("cavity-sweep"), "collect", str(out)],
                              capture_output=True, text=True, timeout=60,
                              env=slurm_env)
        assert busy.returncode == 2, busy.stderr
        assert "in use by another sweep (process id %d " % proc.pid in busy.stderr
        _, err = proc.communicate(timeout=600)
    finally:
        if proc.poll() is None:
            proc.kill()
    assert proc.returncode == 1, err
    got = summary(out)
    assert got["b"]["status"] == "failed" and got["b"]["Nu"] == ""
    assert "scheduler: CANCELLED" in got["b"]["message"], got["b"]
    assert got["b"]["Nu_last_report_before_failure"]
    assert "going on from step" in (out / "c" / "console.err").read_text()
    assert got["c"]["message"].startswith(want["c"]["message"])
    for name in "acde":
        for col in SAME:
            assert got[name][col] == want[name][col], (name, col)
        assert got[name]["host"] not in ("", ":")
    for name in "ade":
        assert got[name]["message"] == want[name]["message"]
        for f in ("console.out", "console.err"):
            assert (out / name / f).read_bytes() == \
                (tmp_path / "local" / name / f).read_bytes(), (name, f)

    # --resume submits b and e (which fails again) and returns; collect
    # writes the summary, b's row once it has gone on from its checkpoint
    c_err = (out / "c" / "console.err").read_bytes()
    resumed = subprocess.run(cmd + ["--resume", "--no-wait"], capture_output=True,
                             text=True, timeout=600, env=slurm_env)
    assert resumed.returncode == 0, resumed.stderr
    assert "submitted 2 case(s)" in resumed.stderr
    for _ in range(600):
        collected = subprocess.run([tool("cavity-sweep"), "collect", str(out)],
                                   capture_output=True, text=True,
                                   timeout=600, env=slurm_env)
        if summary(out)["b"]["status"] != "not-run":
            break
        time.sleep(0.5)
    assert collected.returncode == 1, collected.stderr
    assert "going on from step" in (out / "b" / "console.err").read_text()
    assert (out / "c" / "console.err").read_bytes() == c_err
    got = summary(out)
    for name, row in want.items():
        for col in SAME:
            assert got[name][col] == row[col], (name, col)
        for f in RESULTS:
            a, b = out / name / f, tmp_path / "local" / name / f
            assert a.exists() == b.exists(), (name, f)
            assert not a.exists() or a.read_bytes() == b.read_bytes(), (name, f)


def test_scheduler_answers_are_read_task_by_task():
    """A pending part of an array comes as one range; sacct names the state
    with who cancelled it."""
    from cavity import slurm
    sacct = slurm.parse_sacct("12_3|CANCELLED by 0|0:15\n12_[5-7,9%2]|PENDING|0:0\n")
    assert sacct["12_3"]["state"] == "CANCELLED by 0"
    assert sorted(sacct) == ["12_3", "12_5", "12_6", "12_7", "12_9"]
    assert slurm.state_word(sacct["12_3"]) == "CANCELLED"
    sc = slurm.parse_scontrol(
        "JobId=14 ArrayJobId=12 ArrayTaskId=2 JobState=TIMEOUT Reason=TimeLimit "
        "ExitCode=0:15\nJobId=12 ArrayJobId=12 ArrayTaskId=10-11%2 "
        "JobState=PENDING Reason=JobArrayTaskLimit ExitCode=0:0\n")
    assert sc["12_2"]["state"] == "TIMEOUT"
    assert sorted(sc) == ["12_10", "12_11", "12_2"]
    assert slurm.array_ranges([7, 0, 1, 2, 5, 8]) == "0-2,5,7-8"
