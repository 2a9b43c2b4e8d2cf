"""Result.dat as a legacy VTK structured grid (ASCII).

The numbers are copied as the solver wrote them (no re-rounding); the grid
lies in the plane z = 0, points in the file's order (i fastest), which is
VTK's order for a structured grid.
"""

from . import records

SCALARS = ("U", "V", "P", "T", "Stream")


def vtk_lines(result, title="cavity result"):
    ni, nj = result.ni, result.nj
    npts = ni * nj
    tok = result.tokens
    col = {name: k for k, name in enumerate(records.RESULT_COLUMNS)}
    title = title.replace("\n", " ")[:255]
    yield "# vtk DataFile Version 3.0"
    yield title
    yield "ASCII"
    yield "DATASET STRUCTURED_GRID"
    yield "DIMENSIONS %d %d 1" % (ni, nj)
    yield "POINTS %d float" % npts
    cx, cy = col["X"], col["Y"]
    for k in range(npts):
        yield "%s %s 0" % (tok[k, cx], tok[k, cy])
    yield "POINT_DATA %d" % npts
    for name in SCALARS:
        c = col[name]
        yield "SCALARS %s float 1" % name
        yield "LOOKUP_TABLE default"
        for k in range(npts):
            yield tok[k, c]
    # the same velocity as a vector, for glyphs and stream tracers
    yield "VECTORS Velocity float"
    cu, cv = col["U"], col["V"]
    for k in range(npts):
        yield "%s %s 0" % (tok[k, cu], tok[k, cv])


def write_vtk(result, path, title="cavity result"):
    with open(path, "w", newline="\n") as fh:
        for line in vtk_lines(result, title):
            fh.write(line + "\n")
