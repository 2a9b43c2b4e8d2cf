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
