"""Result.dat as a legacy VTK structured grid (ASCII).

The grid lies in the plane z = 0, points in the file's order (i fastest),
which is VTK's order for a structured grid. By default positions,
velocities and the stream function are in the scaling the figures use
(cavity.frame); P and T, and everything with ``as_written``, are copied as
the solver wrote them (no re-rounding).
"""

from . import records

SCALARS = ("U", "V", "P", "T", "Stream")


def _scaled(result, fr):
    """Text columns X, Y, U, V, Stream in the frame ``fr``."""
    def text(a):
        return ["%.7g" % v for v in a.ravel()]
    return {"X": text(fr.X), "Y": text(fr.Y),
            "U": text(result.U * fr.velocity), "V": text(result.V * fr.velocity),
            "Stream": text(result.Stream * fr.stream)}


def vtk_lines(result, title="cavity result", fr=None):
    """The file's lines; ``fr`` (a cavity.frame.Frame) scales positions,
    velocities and the stream function, None copies them as written."""
    ni, nj = result.ni, result.nj
    npts = ni * nj
    tok = result.tokens
    col = {name: tok[:, k] for k, name in enumerate(records.RESULT_COLUMNS)}
    if fr is not None:
        col.update(_scaled(result, fr))
    title = title.replace("\n", " ")[:255]
    yield "# vtk DataFile Version 3.0"
    yield title
    yield "ASCII"
    yield "DATASET STRUCTURED_GRID"
    yield "DIMENSIONS %d %d 1" % (ni, nj)
    yield "POINTS %d float" % npts
    cx, cy = col["X"], col["Y"]
    for k in range(npts):
        yield "%s %s 0" % (cx[k], cy[k])
    yield "POINT_DATA %d" % npts
    for name in SCALARS:
        c = col[name]
        yield "SCALARS %s float 1" % name
        yield "LOOKUP_TABLE default"
        for k in range(npts):
            yield c[k]
    # the same velocity as a vector, for glyphs and stream tracers
    yield "VECTORS Velocity float"
    cu, cv = col["U"], col["V"]
    for k in range(npts):
        yield "%s %s 0" % (cu[k], cv[k])


def write_vtk(result, path, title="cavity result", fr=None):
    with open(path, "w", newline="\n") as fh:
        for line in vtk_lines(result, title, fr):
            fh.write(line + "\n")
