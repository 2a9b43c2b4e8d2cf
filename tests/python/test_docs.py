import glob
import os
import subprocess
import sys

TOP = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", ".."))


def test_the_manual_builds_without_a_warning(tmp_path):
    """The manual (docs/, the READMEs it includes, the package's docstrings)
    builds as HTML with every warning an error: a link to a heading that was
    renamed, a docstring that is not valid markup, a page left out of the
    contents."""
    proc = subprocess.run(
        [sys.executable, "-m", "sphinx", "-W", "--keep-going", "-q", "-b", "html",
         "-d", str(tmp_path / "doctrees"), os.path.join(TOP, "docs"),
         str(tmp_path / "html")],
        capture_output=True, text=True, timeout=600)
    assert proc.returncode == 0, proc.stderr + proc.stdout
    assert os.path.exists(tmp_path / "html" / "api.html")


def test_the_readmes_give_the_solver_search_order_the_tools_follow():
    """The order in which the tools look for the solver, as the READMEs
    state it, is that of cavity.programs (which every --bin help prints)."""
    import re
    from cavity import programs

    marks = ("CAVITY_BIN", "installed with", "build/cavity", "on the PATH")

    def order(text):
        text = re.sub(r"\s+", " ", text.replace("`", ""))
        at = text.index("CAVITY_BIN, else")
        window = text[at:at + 300]
        return sorted(marks, key=window.index)

    assert order(programs.SEARCH.replace("$", "")) == list(marks)
    stated = [path for path in glob.glob(os.path.join(TOP, "docs", "*.md")) + [
        os.path.join(TOP, "README.md"), os.path.join(TOP, "python", "README.md")]
        if "CAVITY_BIN`, else" in open(path).read()]
    assert len(stated) >= 2, stated  # the tools' overview and their README
    for path in stated:
        assert order(open(path).read()) == list(marks), path
