"""Chained cases of a sweep: a case whose ``start_from`` column names another
case starts from that case's steady fields (the solver's --start-from, from
the checkpoint the other case keeps with --checkpoint) instead of from rest,
which shortens the way to its own steady state when the two are neighbours
(Ra raised step by step, a volume fraction a little larger). The cases run
in waves: first those that start from rest, then those that start from a
case of the wave before, and so on."""

import os

from .sweep import CaseError

CHECKPOINT = "chain.ckpt"
# the per-case solver options, read by the job's shell from the case folder
OPTIONS_FILE = "chain-options.txt"
OPTIONS_SHELL = "$(cat %s)" % OPTIONS_FILE


def used(cases):
    return any(c.get("start_from") for c in cases)


def waves(cases, path="case table"):
    """Indices of ``cases`` in waves: each case after the one it starts
    from. A name that is no case of the table, a case that starts from
    itself and a loop are CaseErrors."""
    index = {c["name"]: k for k, c in enumerate(cases)}
    level = {}

    def depth(k, seen):
        if k in level:
            return level[k]
        src = cases[k].get("start_from")
        if not src:
            level[k] = 0
            return 0
        where = "%s: row %d (line %d), column start_from" % (
            path, k + 1, cases[k].get("line", 0))
        if src not in index:
            raise CaseError("%s: %r is not the name of a case of the table"
                            % (where, src))
        if index[src] in seen or src == cases[k]["name"]:
            raise CaseError("%s: %r starts, through its chain, from %s itself"
                            % (where, src, cases[k]["name"]))
        level[k] = depth(index[src], seen | {k}) + 1
        return level[k]

    for k in range(len(cases)):
        depth(k, {k})
    out = [[] for _ in range(max(level.values()) + 1)]
    for k in range(len(cases)):
        out[level[k]].append(k)
    return out


def write_options(folders, cases):
    """Each case folder's solver options: --checkpoint for a case another
    one starts from, --start-from that case's checkpoint for a chained
    case (an empty file for the others)."""
    sources = {c["start_from"] for c in cases if c.get("start_from")}
    for folder, case in zip(folders, cases):
        opts = []
        if case["name"] in sources:
            opts += ["--checkpoint", CHECKPOINT]
        if case.get("start_from"):
            opts += ["--start-from", os.path.join("..", case["start_from"], CHECKPOINT)]
        for stale in (CHECKPOINT,):
            path = os.path.join(folder, stale)
            if os.path.exists(path):
                os.remove(path)
        with open(os.path.join(folder, OPTIONS_FILE), "w") as fh:
            fh.write(" ".join(opts) + "\n")
