#!/usr/bin/env python3
"""What stepping the solver from Python (cavity.Simulation) costs against
the program, at 256 x 256 on one and two threads.

The same case (Pr 0.71, Ra 1e5 between the walls, Tau_T as the tools choose
it) runs as the program (cavity --threads N in a folder, its files written
at every report) and as a Simulation with a folder of its own (the same
files at the same reports), each timed over the same window of steps, from
step WARM to step WARM + STEPS: the program from the report of the first to
that of the last as its standard output shows them (wall-clock, and its CPU
time from /proc), the Simulation around its advance() call (wall-clock, and
the CPU time of the process: its threads, and the one that reads the
program's reports). In each round the two run at the same time, so that the
machine's other work falls on both alike (on one thread each on a core of
its own, the cores swapped from round to round); the figures are the
medians over the rounds, and the median and mean of the rounds' ratios.
Then what a call of advance() costs beyond its steps. Run it with the
interpreter of the package's environment:

    nice build/venv/bin/python bench/python_overhead.py [rounds (8)] [steps (2000)] [apart]

With "apart" (for a quiet machine) the two threads' runs are timed one after
the other, in turn first, so that neither takes the other's cores.
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import cavity
import cavity.simulation
from cavity import programs

GRID = 256
WARM = 500  # steps before the window (a multiple of the report interval)
TICKS = os.sysconf("SC_CLK_TCK")
ALL_CORES = os.sched_getaffinity(0)


def process_cpu(pid):
    """User and system seconds of a process, all its threads."""
    with open("/proc/%d/stat" % pid) as fh:
        fields = fh.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def time_program(case, threads, steps, folder):
    """(wall, CPU) seconds of the program from the report of step WARM to
    that of step WARM + steps."""
    os.makedirs(folder)
    case.write(folder)
    marks = {WARM // 50: None, (WARM + steps) // 50: None}
    proc = subprocess.Popen([programs.PACKAGED, "--threads", str(threads)], cwd=folder,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    proc.stdin.write(b"%d\n%d\n\n" % (case.n, case.m))
    proc.stdin.close()
    try:
        for line in proc.stdout:
            if line.startswith(b"Step=="):
                report = int(line.split()[1])
                if report in marks:
                    marks[report] = (time.perf_counter(), process_cpu(proc.pid))
                    if all(marks.values()):
                        break
    finally:
        proc.kill()
        proc.wait()
    (w0, c0), (w1, c1) = (marks[k] for k in sorted(marks))
    return w1 - w0, c1 - c0


def time_simulation(case, threads, steps, folder):
    """(wall, CPU) seconds of a Simulation from step WARM to WARM + steps."""
    sim = cavity.Simulation(case, threads=threads, folder=folder)
    sim.advance(WARM, progress=None)
    w0, c0 = time.perf_counter(), time.process_time()
    sim.advance(steps, progress=None)
    w1, c1 = time.perf_counter(), time.process_time()
    sim.close()
    return w1 - w0, c1 - c0


def call_cost(calls=5000, rounds=5):
    """Microseconds a call of advance() costs beyond its steps: calls of one
    step each against one call of as many steps, on a grid small enough for
    the call to show (24 x 24, a case that runs on through them all). A
    Simulation makes one call a chunk, about a tenth of a second of steps."""
    import warnings
    case = cavity.Case(24, 24, Pr=0.71, Ra=1e5, Tau_T=0.52, T_Init=0)
    one = many = float("inf")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # the case runs fast for its grid
        for _ in range(rounds):
            run = cavity.Simulation(case, threads=1)._run
            started = time.perf_counter()
            for _ in range(calls):
                run.advance(1)
            one = min(one, (time.perf_counter() - started) / calls)
            run = cavity.Simulation(case, threads=1)._run
            started = time.perf_counter()
            run.advance(calls)
            many = min(many, (time.perf_counter() - started) / calls)
    return (one - many) * 1e6, many * 1e6


def machine():
    with open("/proc/cpuinfo") as fh:
        info = fh.read()
    model = next((line.split(":", 1)[1].strip() for line in info.splitlines()
                  if line.startswith("model name")), "unknown")
    sets = [s for s in ("avx512f", "avx2") if " %s " % s in info.replace("\n", " ")]
    return "%s, %s, %d cores; kernels %s; load average %s" % (
        model, "+".join(sets) or "no AVX2", os.cpu_count(), cavity._solver.kernel_set(),
        " ".join("%.2f" % x for x in os.getloadavg()))


def time_pair(case, threads, steps, folder, cores):
    """(program, simulation) times of one round, both run at the same time,
    so that the machine's other work falls on both alike; on one thread each
    pinned to a core of its own (``cores``: the program's, the
    simulation's)."""
    times = {}

    def program():
        if cores:
            os.sched_setaffinity(0, cores[0])  # this thread, and the program it starts
        times["program"] = time_program(case, threads, steps, os.path.join(folder, "p"))

    other = threading.Thread(target=program)
    other.start()
    try:
        if cores:
            os.sched_setaffinity(0, cores[1])
        times["python"] = time_simulation(case, threads, steps, os.path.join(folder, "s"))
    finally:
        other.join()
        os.sched_setaffinity(0, ALL_CORES)
    return times["program"], times["python"]


def time_apart(case, threads, steps, folder, first_python):
    """(program, simulation) times of one round, one after the other."""
    order = [("python", time_simulation, "s"), ("program", time_program, "p")]
    times = {}
    for who, timer, sub in (order if first_python else order[::-1]):
        times[who] = timer(case, threads, steps, os.path.join(folder, sub))
    return times["program"], times["python"]


def main(argv):
    rounds = int(argv[1]) if len(argv) > 1 else 8
    steps = int(argv[2]) if len(argv) > 2 else 2000
    apart = len(argv) > 3 and argv[3] == "apart"
    case = cavity.Case(GRID, GRID, Pr=0.71, Ra=1e5, name="bench")
    print("== %s" % machine())
    print("== %r, steps %d to %d, %d rounds" % (case, WARM, WARM + steps, rounds))
    pinned = len(ALL_CORES) >= 2
    print("ms a step over the rounds (median); Python against the program: median and mean "
          "of the rounds' ratios")
    print("threads   program wall    CPU   Python wall    CPU   CPU median  mean   wall median")
    work = tempfile.mkdtemp()
    try:
        for threads in (1, 2):
            got = []
            for r in range(rounds):
                folder = os.path.join(work, "%d-%d" % (threads, r))
                cores = None
                if threads == 1 and pinned:  # each on a core of its own, swapped each round
                    a, b = sorted(ALL_CORES)[:2]
                    cores = ({a}, {b}) if r % 2 == 0 else ({b}, {a})
                if apart and threads > 1:
                    got.append(time_apart(case, threads, steps, folder, r % 2 == 0))
                else:
                    got.append(time_pair(case, threads, steps, folder, cores))
            ms = [[statistics.median(g[who][k] for g in got) / steps * 1e3 for k in (0, 1)]
                  for who in (0, 1)]
            cpu = [g[1][1] / g[0][1] for g in got]
            wall = [g[1][0] / g[0][0] for g in got]
            print("%7d   %12.3f %6.3f  %11.3f %6.3f   %+9.2f %% %+5.2f %%  %+9.2f %%"
                  % (threads, ms[0][0], ms[0][1], ms[1][0], ms[1][1],
                     100 * (statistics.median(cpu) - 1), 100 * (statistics.mean(cpu) - 1),
                     100 * (statistics.median(wall) - 1)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    extra, step = call_cost()
    print("== a call of advance() costs %.2f us beyond its steps (a 24 x 24 step: %.2f us); "
          "one call a chunk of %.1f s of steps: %.4f %% of them"
          % (extra, step, cavity.simulation.CHUNK_SECONDS,
             100 * extra * 1e-6 / cavity.simulation.CHUNK_SECONDS))
    print("== load average after: %s" % " ".join("%.2f" % x for x in os.getloadavg()))


if __name__ == "__main__":
    main(sys.argv)
