"""A sweep spread over two ssh hosts gives what a sweep on this machine
gives: two sshd daemons on loopback addresses stand in for the machines
(tests/python/ssh_hosts.sh; tests/run_all.sh starts them and names their
folder in CAVITY_SSH_HOSTS, else this test starts its own where sshd is
installed)."""

import csv
import os
import shutil
import subprocess

import pytest

from conftest import HERE, tool

HOSTS = ("cavity-host-a", "cavity-host-b")
TABLE = ("name,n,m,Pr,Ra,T_Hot,T_Cold,T_Init,Tau_T\n"
         "a,12,12,0.71,1e3,1,0,0.6,0.8\n"
         "b,14,10,0.71,1e4,1,0,0.6,0.7\n"
         "c,16,16,6.2,1e4,1,0,0.6,0.6\n"
         "d,10,10,0.71,1e9,1,0,0.6,0.52\n")  # overflows
SAME = ("status", "exit_code", "stop", "end_step", "last_reported_step",
        "finished", "Nu", "Nu_last_report_before_failure", "Ra_parameter_file",
        "message")
FILES = ("Result.dat", "Nu.dat", "V_Velocity_MidLine.dat",
         "TEMPERATURE_MidLine.dat", "U_Velocity_Vertical_MidLine.dat",
         "console.out", "console.err", "Input_Parameters.Input")


@pytest.fixture(scope="module")
def ssh_config(tmp_path_factory):
    given = os.environ.get("CAVITY_SSH_HOSTS")
    if given:
        yield os.path.join(given, "ssh_config")
        return
    if not (os.path.exists("/usr/sbin/sshd") and shutil.which("rsync")):
        pytest.skip("openssh-server or rsync not installed")
    folder = str(tmp_path_factory.mktemp("ssh"))
    script = os.path.join(HERE, "ssh_hosts.sh")
    subprocess.run(["bash", script, "start", folder], check=True, timeout=60)
    try:
        yield os.path.join(folder, "ssh_config")
    finally:
        subprocess.run(["bash", script, "stop", folder], timeout=60)


def sweep(tmp_path, name, binary, *extra):
    table = tmp_path / "cases.csv"
    table.write_text(TABLE)
    proc = subprocess.run([tool("cavity-sweep"), str(table), "-o",
                           str(tmp_path / name), "--bin", binary,
                           "--settle-window", "1000", "--timeout=300"]
                          + list(extra), capture_output=True, text=True,
                          timeout=600)
    with open(tmp_path / name / "summary.csv", newline="") as fh:
        return proc, {r["name"]: r for r in csv.DictReader(fh)}


@pytest.mark.parametrize("mode", ["shared", "transfer"])
def test_sweep_over_two_ssh_hosts_matches_a_local_sweep(tmp_path, solver,
                                                         ssh_config, mode):
    binary, _ = solver
    local_proc, local = sweep(tmp_path, "local", binary)
    assert local_proc.returncode == 1, local_proc.stderr  # case d fails
    extra = ["--jobs", "1", "--ssh=ssh -F %s" % ssh_config]
    for host in HOSTS:
        extra += ["--sshlogin", host]
    if mode == "transfer":
        extra.append("--transfer")
    proc, remote = sweep(tmp_path, mode, binary, *extra)
    assert proc.returncode == 1, proc.stderr
    assert set(remote) == set(local) == {"a", "b", "c", "d"}
    assert {r["host"] for r in remote.values()} == set(HOSTS)
    for name, row in local.items():
        assert row["host"] == ":"
        for col in SAME:
            assert remote[name][col] == row[col], (name, col)
        for f in FILES:
            a, b = tmp_path / "local" / name / f, tmp_path / mode / name / f
            assert a.exists() == b.exists(), (name, f)
            if a.exists():
                assert a.read_bytes() == b.read_bytes(), (name, f)
    assert remote["d"]["stop"] == "failed" and remote["a"]["Nu"]
