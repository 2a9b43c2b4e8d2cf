"""The table of CSV columns in python/README.md against the headers the
tools write: every column has its line, and no line names a column that
is no longer written."""

import csv
import os
import re
import subprocess

from conftest import tool
from cavity import grid_study, nanofluid_sweep, plotting, sweep, target_sweep, tau_study
from cavity import validation as va
from cavity.cli import validate

README = os.path.join(os.path.dirname(__file__), "..", "..", "python", "README.md")


def documented():
    """heading of each ### section under "## CSV columns" -> the column
    names its table's first cells give (in backticks)."""
    text = open(README).read()
    part = text.split("\n## CSV columns\n", 1)[1].split("\n## ", 1)[0]
    out = {}
    for block in part.split("\n### ")[1:]:
        head, _, body = block.partition("\n")
        names = set()
        for line in body.splitlines():
            if line.startswith("| `"):
                names |= set(re.findall(r"`([^`]+)`", line.split("|")[1]))
        out[head] = names
    return out


def header(path):
    with open(path, newline="") as fh:
        return next(csv.reader(fh))


def written(tmp_path):
    """section heading (its start) -> the columns the tools write there."""
    p = str(tmp_path / "x.csv")
    out = {}
    sweep.write_summary(p, [])
    out["`summary.csv`"] = header(p)
    grid_study.write_csv(p, [])
    out["`grid_study.csv`"] = header(p)
    every = nanofluid_sweep.CSV_COLUMNS + nanofluid_sweep.GRID_COLUMNS + tuple(
        k for _, k in nanofluid_sweep.NAMED_COLUMNS)
    nanofluid_sweep.write_csv(p, [])
    plain = header(p)
    nanofluid_sweep.write_csv(p, [dict(dict.fromkeys(every, ""), gs=None)])
    out["`nanofluid_sweep.csv`"] = plain + header(p)
    out["`hotwall_nusselt.csv`"] = list(plotting.LOCAL_NU_COLUMNS)
    target_sweep.write_csv(p, [])
    out["`target.csv`"] = header(p)
    out["`nanofluid_target.csv`"] = list(target_sweep.NANOFLUID_COLUMNS)
    tau_study.write_csv(p, [])
    out["`cavity-nanofluid tau-study --csv`"] = header(p)
    validate.write_csv(p, {}, [])
    out["`cavity-validate report --csv`"] = header(p)
    cases = subprocess.run([tool("cavity-nanofluid"), "cases", "--particle", "Cu",
                            "--phi-list", "0,0.1", "--ra-f", "1e4", "--grid",
                            "32x32"], capture_output=True, text=True, timeout=60)
    tau_study.write_table(p, tau_study.case_rows())
    out["Case tables"] = (cases.stdout.splitlines()[0].split(",") + header(p)
                          + va.case_table(va.SETS["quick"]).splitlines()[0].split(","))
    return out


def test_every_csv_column_the_tools_write_is_documented(tmp_path):
    doc = documented()
    for start, cols in written(tmp_path).items():
        (section,) = [h for h in doc if h.startswith(start)]
        assert set(cols) - doc[section] == set(), (section, "not documented")
        assert doc[section] - set(cols) == set(), (section, "no longer written")
