import importlib.metadata
import re
import subprocess

import pytest

from conftest import tool

# Every console script the installed package declares.
TOOLS = sorted(e.name for e in importlib.metadata.distribution("cavity").entry_points
               if e.group == "console_scripts")


def help_text(*argv):
    proc = subprocess.run([tool(argv[0])] + list(argv[1:]) + ["--help"],
                          capture_output=True, text=True, timeout=60)
    assert proc.returncode == 0 and proc.stderr == "", (argv, proc.stderr)
    assert proc.stdout.startswith("usage: " + argv[0]), (argv, proc.stdout)
    return proc.stdout


@pytest.mark.parametrize("name", TOOLS)
def test_every_command_and_subcommand_has_its_help(name):
    """--help of each console script (exit status 0), and of each
    subcommand its help lists (argparse formats a help text only when asked:
    a stray % in one ends in a traceback)."""
    text = help_text(name)
    listed = re.search(r"^usage: \S+ .*?\{([\w,-]+)\}", text, re.M | re.S)
    for sub in (listed.group(1).split(",") if listed else []):
        help_text(name, sub)
