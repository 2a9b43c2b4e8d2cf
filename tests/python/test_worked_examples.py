"""The worked examples of the README and docs/, run as they are written: the
figures the text quotes (steps, Nusselt numbers, console and file lines,
tool transcripts) are read from the Markdown itself and compared with what
the run gives, so that a change of the program that moves them fails here
until the text is mended."""

import glob
import os
import re
import shutil
import subprocess

import pytest

from conftest import tool

TOP = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", ".."))
EXAMPLE = os.path.join(TOP, "examples")


def manual():
    """The README and the pages of docs/, one text: a quote is found
    wherever a page holds it."""
    paths = [os.path.join(TOP, "README.md")]
    paths += sorted(glob.glob(os.path.join(TOP, "docs", "*.md")))
    return "\n".join(open(p, encoding="utf-8").read() for p in paths)


def flat(text):
    """Whitespace collapsed, so that a sentence matches across line breaks."""
    return re.sub(r"\s+", " ", text)


def quoted(pattern, text=None):
    """The groups of the one sentence of the manual that PATTERN matches
    (spaces in PATTERN match any whitespace)."""
    found = re.findall(pattern.replace(" ", r"\s+"), text or manual())
    assert len(found) == 1, "%r is quoted %d times" % (pattern, len(found))
    return found[0]


def number(text):
    """A quoted figure, its digits grouped by spaces or commas."""
    return float(re.sub(r"[ ,]", "", text))


def fenced_after(lead, which=0):
    """The lines of the ``` block WHICH (0: the first) after the sentence
    LEAD."""
    text = manual()
    at = re.search(r"\s+".join(map(re.escape, lead.split())), text)
    assert at, lead
    blocks = re.findall(r"```\w*\n(.*?)```", text[at.end():], re.S)
    return blocks[which].rstrip("\n").split("\n")


def indented_after(command):
    """The indented transcript lines after '$ COMMAND' up to the next
    prompt or the end of the indented block."""
    text = manual()
    start = text.index("    $ " + command + "\n") + len(command) + 7
    lines = []
    for line in text[start:].split("\n"):
        if not line.startswith("    ") or line.startswith("    $ "):
            break
        lines.append(line[4:])
    return lines


def run(solver, folder, answers, *options):
    proc = subprocess.run([solver] + list(options), input=answers.encode(),
                          cwd=folder, capture_output=True, timeout=600)
    assert proc.returncode == 0, proc.stderr.decode()
    return proc.stdout.decode().replace("\r", "").split("\n"), proc.stderr.decode().splitlines()


def note(err, lead):
    lines = [line for line in err if line.startswith(lead)]
    assert len(lines) == 1, err
    return lines[0]


@pytest.fixture
def real_solver(solver):
    path, real = solver
    if not real:
        pytest.skip("runs the real solver: set CAVITY_BIN")
    return path


def test_the_first_run_is_as_the_readme_quotes_it(real_solver, tmp_path):
    """The shipped example: its steps, Nu.dat, the wall-corrected Nu and the
    closing note, the first and the last report, the first lines of the
    files."""
    shutil.copy(os.path.join(EXAMPLE, "Input_Parameters.Input"), tmp_path)
    answers = open(os.path.join(EXAMPLE, "console-answers.txt")).read()
    out, err = run(real_solver, tmp_path, answers)
    steps, nu_dat, nu_wall = quoted(
        r"It converges after ([\d ]+) steps \(a few seconds\) with (\d+(?:\.\d+)?) in "
        r"`Nu.dat` and a wall-corrected hot-wall Nusselt number of (\d+(?:\.\d+)?)")
    reports = [int(line.split()[1]) for line in out if line.startswith("Step==")]
    assert reports[0] == 1 and number(steps) == 50 * reports[-1]
    report, at_step = quoted(r"its last report \(here report (\d+), at step ([\d ]+)\)")
    assert (int(report), number(at_step)) == (reports[-1], number(steps))

    closing = note(err, "note: wall-corrected mean Nu")
    assert quoted(r"`(note: wall-corrected mean Nu \(second order[^`]*)`") == closing
    hot = float(re.search(r"hot wall (\d+(?:\.\d+)?)", closing).group(1))
    nu = float(open(tmp_path / "Nu.dat").read())
    assert (nu_dat, nu_wall) == ("%.4f" % nu, "%.4f" % hot)
    assert quoted(r"`Nu.dat` holds the single line `( +\d+(?:\.\d+)?)`") == \
        open(tmp_path / "Nu.dat").read().rstrip("\r\n")

    # the first report in the dialogue, the last one and the closing lines
    first = out.index(next(line for line in out if line.startswith("Step==")))
    dialogue = fenced_after("The program asks for the grid size on the console:")
    at = dialogue.index(out[first])
    assert dialogue[at + 1] == out[first + 1]
    end = fenced_after("and the closing lines:")
    while out[-1] == "":
        out.pop()
    assert out[-len(end):] == end

    for which, name in enumerate(("Result.dat", "V_Velocity_MidLine.dat")):
        shown = fenced_after("What the files of the example look like", which)
        head = open(tmp_path / name).read().replace("\r", "").split("\n")
        assert head[:len(shown)] == shown, name


def test_the_first_shell_run_settles_where_the_text_says(real_solver, tmp_path):
    """The README's first run from the shell, its parameter file and options
    as its commands give them: the step it settles at, its Nu.dat, its
    wall-corrected Nu and the cavity's Ra, as the README quotes them, and
    the step as the options page quotes it (64 x 64 at Ra 1e5, Tau_T 0.55)."""
    block = fenced_after("## A first run from the shell")
    (tmp_path / "Input_Parameters.Input").write_text(re.search(
        r"^printf '(.*)' > Input_Parameters.Input$", "\n".join(block), re.M)
        .group(1).replace("\\n", "\n"))
    answers, options = re.search(r"^printf '(.*)' \| cavity (.*) > console.txt$",
                                 "\n".join(block), re.M).groups()
    _, err = run(real_solver, tmp_path, answers.replace("\\n", "\n"), *options.split())
    step, note_step, nu_dat, nu_hot, nu_file = quoted(
        r"This one ends at step ([\d ]+), and its notes on standard error say so "
        r"\(`note: settled at step (\d+): Nu = (\d+\.\d+), \.\.\.`\) and give, last, the "
        r"wall-corrected hot-wall Nu (\d+\.\d+) to quote: `Nu.dat` holds (\d+\.\d+),")
    ra = quoted(r"its own Rayleigh number, which the same note gives, is ([\d ]+),")
    assert number(step) == int(note_step) == number(quoted(
        r"64 x 64 at `Ra` = 1e5, `Tau_T` = 0.55 settles at step ([\d ]+) "))
    assert note(err, "note: settled at step ").startswith(
        "note: settled at step %s: Nu = %s," % (note_step, nu_dat))
    closing = note(err, "note: wall-corrected mean Nu")
    assert "hot wall %s," % nu_hot in closing
    assert nu_file == nu_dat == open(tmp_path / "Nu.dat").read().strip()
    cavity_ra = float(re.search(r"Ra = ([\d.]+) for the cavity between the walls", closing).group(1))
    assert round(cavity_ra) == number(ra)


def test_the_nanofluid_example_is_as_written(real_solver, tmp_path):
    """Cu-water at phi = 0.1 and its base fluid: the transcript of write, the
    step it settles at, its Nu, and the transcript of nusselt; the README's
    summary of it."""
    nf = tool("cavity-nanofluid")
    command = "cavity-nanofluid write --particle Cu --phi 0.1 --ra-f 1e5 --grid 64x64 -o cu10"
    written = subprocess.run([nf] + command.split()[1:], cwd=tmp_path, check=True,
                             capture_output=True, text=True).stdout
    assert written.rstrip("\n").split("\n") == indented_after(command)
    subprocess.run([nf, "write", "--phi", "0", "--ra-f", "1e5", "--grid", "64x64",
                    "-o", "water0"], cwd=tmp_path, check=True, capture_output=True)
    err = {}
    for case in ("cu10", "water0"):
        _, err[case] = run(real_solver, tmp_path / case, "64\n64\n\n", "--settle", "1e-05")

    step, nu_dat, nu_wall = quoted(
        r"`cu10` settles at step ([\d,]+) with `Nu.dat` (\d+(?:\.\d+)?) and the "
        r"wall-corrected Nu (\d+(?:\.\d+)?) of its closing note")
    assert note(err["cu10"], "note: settled at step ").startswith(
        "note: settled at step %d: Nu = %s," % (number(step), nu_dat))
    assert "hot wall %s," % nu_wall in note(err["cu10"], "note: wall-corrected")
    assert quoted(r"`cavity --settle 1e-05` there; it settles at step ([\d,]+)\)") == step

    told = subprocess.run([nf, "nusselt", "cu10", "--base", "water0"], cwd=tmp_path,
                          check=True, capture_output=True, text=True).stdout
    assert told.rstrip("\n").split("\n") == indented_after(
        "cavity-nanofluid nusselt cu10 --base water0")
    nu, nu_file, referred, more, water = quoted(
        r"reports the wall-corrected Nu = (\d+(?:\.\d+)?) first \(`Nu.dat`, the file's "
        r"first-order value, is (\d+(?:\.\d+)?)\), (\d+(?:\.\d+)?) referred to the base fluid's "
        r"conductivity, (\d+(?:\.\d+)?) % above water's (\d+(?:\.\d+)?)")
    value = {k: float(v) for k, v in re.findall(r"^ *([\w.-]+) += (\d+(?:\.\d+)?)", told, re.M)}
    assert (nu, nu_file, referred, more, water) == (
        "%.3f" % value["Nu"], "%.3f" % value["Nu.dat"], "%.3f" % value["Nu_f-ref"],
        "%.1f" % value["enhancement"], "%.3f" % value["Nu_f"])


def test_a_start_from_a_neighbour_is_as_quoted(real_solver, tmp_path):
    """Ra 1e5 on 64 x 64 from the steady fields of Ra 1e4, and from rest:
    the steps each settles at and their Nu."""
    options = quoted(r"64 x 64 \(Pr = 0.71, Tau_T = 0.6, `([^`]*)`\) the run at Ra = 1e5")
    near, rest, nu_near, nu_rest = quoted(
        r"settled after ([\d ]+) steps from the steady fields of Ra = 1e4 \([^)]*\), "
        r"against ([\d ]+) steps from rest, with Nu = (\d+\.\d+) against (\d+\.\d+)\.")
    text = open(os.path.join(EXAMPLE, "Input_Parameters.Input")).read()
    settled = {}
    for name, ra, start in (("ra1e4", "1e4", ["--checkpoint", "run.ckpt"]),
                            ("near", "1e5", ["--start-from", "../ra1e4/run.ckpt"]),
                            ("rest", "1e5", [])):
        folder = tmp_path / name
        folder.mkdir()
        (folder / "Input_Parameters.Input").write_text(
            re.sub(r"\n0\.65\n", "\n0.6\n", re.sub(r"\n1\.0E4\n", "\n%s\n" % ra, text)))
        _, err = run(real_solver, folder, "64\n64\n\n", *(options.split() + start))
        settled[name] = re.match(r"note: settled at step (\d+): Nu = ([\d.]+),",
                                 note(err, "note: settled at step ")).groups()
    assert (int(settled["near"][0]), int(settled["rest"][0])) == (number(near), number(rest))
    assert (float(settled["near"][1]), float(settled["rest"][1])) == (
        float(nu_near), float(nu_rest))


def test_the_accelerated_run_is_as_its_note_and_row_quote_it(real_solver, tmp_path):
    """--accelerate on 56 x 56 at Ra 1e5 (the benchmark's case: Ra written
    as the tools write it, T_Init 0.5, one thread): its closing note on the
    extrapolations, and the steps and Nu of its row of the table."""
    steps, nu = quoted(r"\| 1e5 \| 56 \| 0.5531 \|[^|\n]*\|[^|\n]*\|[^|\n]*\| (\d+) \|"
                       r"[^|\n]*\|[^|\n]*\| (\d+\.\d+) \|")
    (tmp_path / "Input_Parameters.Input").write_text(
        "Pr\n0.71\nRa\n%.10g\nT_Hot\n1\nT_Cold\n0\nT_Init\n0.5\nTau_T\n0.5531\n"
        % (1e5 * (56 / 55) ** 3))
    _, err = run(real_solver, tmp_path, "56\n56\n\n",
                 "--threads", "1", "--accelerate", "--settle", "1e-5")
    told = [line for line in err if re.match(r"note: --accelerate: \d+ extrapolations", line)]
    assert [flat(quoted(r"`(note: --accelerate: \d+ extrapolations[^`]*)`"))] == told
    assert note(err, "note: settled at step ").startswith(
        "note: settled at step %s: Nu = %s," % (steps, nu))


def test_the_python_first_run_is_as_the_readme_quotes_it(tmp_path, monkeypatch):
    """The README's first run in Python, its lines up to sim.run() executed
    as written: the step it stops at and the Nu its comments quote."""
    block = fenced_after("The first also makes the solver a Python library.")
    lines = block[:next(k for k, line in enumerate(block) if line.startswith("sim.run()")) + 1]
    step = quoted(r"# to its stop \(step ([\d ]+)\)")
    nu_dat, nu_hot = quoted(r"# Nu.dat's (\d+\.\d+), wall-corrected (\d+\.\d+)")
    monkeypatch.chdir(tmp_path)
    scope = {}
    exec("\n".join(lines), scope)
    nu = scope["sim"].nusselt()
    assert nu["step"] == number(step)
    assert abs(nu["Nu_dat_first_order"] - float(nu_dat)) <= 5e-7
    assert abs(nu["Nu_wall_corrected_hot"] - float(nu_hot)) <= 5e-7
