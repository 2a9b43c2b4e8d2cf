#!/usr/bin/python3
"""The order of the libraries, checked on the sources: every #include "x/..."
under src/ names the library's own folder or one it may include; no two
files (a header and its source counting as one) include each other, even
through others; every folder under src/ is declared here, and each
cavity_library() of CMakeLists.txt links exactly the libraries it may
include. Usage: layering.py SOURCE_ROOT"""

import pathlib
import re
import sys

# Each library and those below it whose headers it may include.
MAY_INCLUDE = {
    "lattice": [],
    "textio": [],
    "setup": ["lattice", "textio"],
    "flow": ["lattice"],
    "thermal": ["lattice"],
    "results": ["lattice", "textio"],
    "restart": ["setup", "results", "textio", "lattice"],
    "process": ["results", "textio", "lattice"],
    "step": ["process", "flow", "thermal", "results", "lattice"],
    "convergence": ["step", "process", "setup", "flow", "thermal", "results", "lattice"],
    "driver": ["convergence", "step", "process", "restart", "setup", "flow", "thermal",
               "results", "textio", "lattice"],
    # The Python module (src/python/CMakeLists.txt, not a cavity_library).
    "python": ["driver", "convergence", "step", "process", "restart", "setup", "flow", "thermal",
               "results", "textio", "lattice"],
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([A-Za-z0-9_]+)/([^"]+)"')


def Includes(path):
    """(line number, library, rest of the path) of each quoted include."""
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        match = INCLUDE.match(line)
        if match:
            yield number, match.group(1), match.group(2)


def Order_Faults():
    """A library that may include itself, directly or through others."""
    faults = []
    for library in MAY_INCLUDE:
        seen, todo = set(), list(MAY_INCLUDE[library])
        while todo:
            below = todo.pop()
            if below == library:
                faults.append(f"the order lets {library} include itself through others")
                break
            if below not in seen and below in MAY_INCLUDE:
                seen.add(below)
                todo.extend(MAY_INCLUDE[below])
        faults += [f"{library} may include {below}, which is not declared"
                   for below in MAY_INCLUDE[library] if below not in MAY_INCLUDE]
    return faults


def Folder_Faults(src):
    folders = {p.name for p in src.iterdir() if p.is_dir()}
    return ([f"src/{f}/ is not in the order of tests/layering.py: declare what it may include"
             for f in sorted(folders - MAY_INCLUDE.keys())] +
            [f"{f} is in the order of tests/layering.py but src/{f}/ does not exist"
             for f in sorted(MAY_INCLUDE.keys() - folders)])


def Link_Faults(root):
    """Each cavity_library() links the libraries it may include, no more."""
    text = (root / "CMakeLists.txt").read_text(encoding="utf-8")
    faults = []
    for name, body in re.findall(r"^cavity_library\((\w+)([^)]*)\)", text, re.M):
        links = re.search(r"\bLINKS\b(.*?)(?:\b(?:SOURCES|KERNELS|DISPATCH|TABLE|SETS)\b|$)",
                          body, re.S)
        linked = set(re.findall(r"\bcavity_(\w+)", links.group(1))) if links else set()
        if name in MAY_INCLUDE and linked != set(MAY_INCLUDE[name]):
            faults.append(f"CMakeLists.txt: cavity_library({name}) links "
                          f"{', '.join(sorted(linked)) or 'nothing'}, but the order lets it "
                          f"include {', '.join(sorted(MAY_INCLUDE[name])) or 'nothing'}")
    return faults


def Cycle_From(unit, graph, state, path):
    """The first cycle through the includes from `unit`, as a list, or None."""
    state[unit] = "open"
    path.append(unit)
    for other in sorted(graph.get(unit, ())):
        if state.get(other) == "open":
            return path[path.index(other):] + [other]
        if other not in state:
            cycle = Cycle_From(other, graph, state, path)
            if cycle:
                return cycle
    state[unit] = "done"
    path.pop()
    return None


def Main(root):
    src = root / "src"
    faults = Order_Faults() + Folder_Faults(src) + Link_Faults(root)
    graph = {}  # "library/name" (header and source as one) -> those it includes
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".hpp", ".cpp", ".h") or not path.is_file():
            continue
        relative = path.relative_to(src)
        library, unit = relative.parts[0], str(relative.with_suffix(""))
        for number, included, rest in Includes(path):
            where = f"src/{relative}:{number}"
            if included not in MAY_INCLUDE:
                faults.append(f'{where}: "{included}/{rest}" is of no library in the order')
            elif library in MAY_INCLUDE and included != library and \
                    included not in MAY_INCLUDE[library]:
                faults.append(f'{where}: {library} includes "{included}/{rest}", '
                              f"which is not below it")
            other = str(pathlib.PurePath(included, rest).with_suffix(""))
            if other != unit:
                graph.setdefault(unit, set()).add(other)
    state = {}
    for unit in sorted(graph):
        cycle = Cycle_From(unit, graph, state, []) if unit not in state else None
        if cycle:  # the first one found; the search stops there
            faults.append("files that include each other: " + " -> ".join(cycle))
            break
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(Main(pathlib.Path(sys.argv[1])))
