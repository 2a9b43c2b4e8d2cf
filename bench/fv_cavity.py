"""The square side-heated cavity for Debian's openfoam (a finite-volume
code, used here only as the peer of the time-to-answer benchmark): a case
folder written from scratch for a graded grid, its steady SIMPLE run with
buoyantBoussinesqSimpleFoam, and the hot-wall Nusselt number of the result.

Dimensionless set-up: height H = 1, T_hot = 1, T_cold = 0, g = 1, beta = 1,
so Ra = 1/(nu alpha) and nu = sqrt(Pr/Ra), alpha = nu/Pr.

Nu: the temperature gradient at the hot wall from the cell-centre values,
second order (the parabola through the wall temperature and the two cells
next to the wall in each row), integrated over the wall by the cells'
heights and divided by k dT/H (here 1).
"""

import math
import os
import re
import resource
import subprocess

HEADER = """FoamFile
{
    version 2.0;
    format ascii;
    class %s;
    object %s;
}
"""

WALLS = ("hot", "cold", "bottom", "top")


def _write(folder, rel, cls, body):
    path = os.path.join(folder, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as fh:
        fh.write(HEADER % (cls, os.path.basename(rel)) + body)


def _field(folder, name, cls, dims, internal, walls):
    bc = "".join("    %s\n    {\n%s    }\n" % (w, walls[w]) for w in WALLS)
    bc += "    frontAndBack\n    {\n        type empty;\n    }\n"
    _write(folder, "0/" + name, cls,
           "dimensions %s;\ninternalField uniform %s;\nboundaryField\n{\n%s}\n"
           % (dims, internal, bc))


# SIMPLE: consistent (SIMPLEC) or not, and the relaxation of p_rgh, U, T
RELAX = ("no", 0.3, 0.7, 0.7)


def write_case(folder, cells, pr, ra, grading=3.0, tol=1e-6, max_iter=20000,
               relax=RELAX, psolver="GAMG; smoother GaussSeidel"):
    """A case of cells x cells, graded toward every wall (the cells in each
    half grow by ``grading`` from the wall to the middle)."""
    nu = math.sqrt(pr / ra)
    g = "((0.5 0.5 %g) (0.5 0.5 %g))" % (grading, 1.0 / grading)
    _write(folder, "system/blockMeshDict", "dictionary", """convertToMeters 1;
vertices ((0 0 0) (1 0 0) (1 1 0) (0 1 0) (0 0 0.1) (1 0 0.1) (1 1 0.1) (0 1 0.1));
blocks (hex (0 1 2 3 4 5 6 7) (%d %d 1) simpleGrading (%s %s 1));
edges ();
boundary
(
    hot { type wall; faces ((0 4 7 3)); }
    cold { type wall; faces ((1 2 6 5)); }
    bottom { type wall; faces ((0 1 5 4)); }
    top { type wall; faces ((3 7 6 2)); }
    frontAndBack { type empty; faces ((0 3 2 1) (4 5 6 7)); }
);
mergePatchPairs ();
""" % (cells, cells, g, g))
    _write(folder, "system/controlDict", "dictionary", """application buoyantBoussinesqSimpleFoam;
startFrom startTime;
startTime 0;
stopAt endTime;
endTime %d;
deltaT 1;
writeControl timeStep;
writeInterval %d;
purgeWrite 0;
writeFormat ascii;
writePrecision 12;
writeCompression off;
timeFormat general;
timePrecision 8;
runTimeModifiable false;
""" % (max_iter, max_iter))
    _write(folder, "system/fvSchemes", "dictionary", """ddtSchemes { default steadyState; }
gradSchemes { default Gauss linear; }
divSchemes
{
    default none;
    div(phi,U) bounded Gauss linear;
    div(phi,T) bounded Gauss linear;
    div((nuEff*dev2(T(grad(U))))) Gauss linear;
}
laplacianSchemes { default Gauss linear corrected; }
interpolationSchemes { default linear; }
snGradSchemes { default corrected; }
""")
    _write(folder, "system/fvSolution", "dictionary", """solvers
{
    p_rgh { solver %s; tolerance 1e-12; relTol 0.01; }
    "(U|T)" { solver PBiCGStab; preconditioner DILU; tolerance 1e-12; relTol 0.1; }
}
SIMPLE
{
    nNonOrthogonalCorrectors 0;
    consistent %s;
    pRefCell 0;
    pRefValue 0;
    residualControl { p_rgh %g; U %g; T %g; }
}
relaxationFactors
{
    fields { p_rgh %g; }
    equations { U %g; T %g; }
}
""" % ((psolver, relax[0]) + (tol, tol, tol) + relax[1:]))
    _write(folder, "constant/transportProperties", "dictionary",
           "transportModel Newtonian;\nnu %.12g;\nbeta 1;\nTRef 0.5;\nPr %.12g;\n"
           "Prt 0.85;\n" % (nu, pr))
    _write(folder, "constant/turbulenceProperties", "dictionary",
           "simulationType laminar;\n")
    _write(folder, "constant/g", "uniformDimensionedVectorField",
           "dimensions [0 1 -2 0 0 0 0];\nvalue (0 -1 0);\n")
    noslip = {w: "        type noSlip;\n" for w in WALLS}
    _field(folder, "U", "volVectorField", "[0 1 -1 0 0 0 0]", "(0 0 0)", noslip)
    t = {"hot": "        type fixedValue;\n        value uniform 1;\n",
         "cold": "        type fixedValue;\n        value uniform 0;\n",
         "bottom": "        type zeroGradient;\n", "top": "        type zeroGradient;\n"}
    _field(folder, "T", "volScalarField", "[0 0 0 1 0 0 0]", "0.5", t)
    ffp = {w: "        type fixedFluxPressure;\n        value uniform 0;\n" for w in WALLS}
    _field(folder, "p_rgh", "volScalarField", "[0 2 -2 0 0 0 0]", "0", ffp)
    calc = {w: "        type calculated;\n        value uniform 0;\n" for w in WALLS}
    _field(folder, "p", "volScalarField", "[0 2 -2 0 0 0 0]", "0", calc)
    _field(folder, "alphat", "volScalarField", "[0 2 -1 0 0 0 0]", "0", calc)


# Debian's build finds its etc/ through this
ENV = dict(os.environ, WM_PROJECT_DIR="/usr/share/openfoam")


def _run(argv, folder, log):
    """Runs one program of the code; returns its CPU seconds."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    with open(os.path.join(folder, log), "w") as fh:
        rc = subprocess.call(argv, cwd=folder, stdout=fh, stderr=subprocess.STDOUT,
                             env=ENV)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if rc:
        raise RuntimeError("%s failed in %s (exit %d); see %s"
                           % (argv[0], folder, rc, log))
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def latest_time(folder):
    times = [d for d in os.listdir(folder) if re.fullmatch(r"[0-9.e+-]+", d)
             and d != "0"]
    if not times:
        raise RuntimeError("%s: no solution was written" % folder)
    return max(times, key=float)


def _list(path):
    """The values of a field's internalField (scalars, or vectors as
    tuples)."""
    with open(path) as fh:
        text = fh.read()
    body = text[text.index("internalField"):]
    n = int(re.search(r"nonuniform\s+List<\w+>\s*(\d+)", body).group(1))
    start = body.index("(", body.index("List<")) + 1
    out = []
    for tok in re.finditer(r"\(([^()]*)\)|([-+0-9.eE]+)", body[start:]):
        if len(out) == n:
            break
        if tok.group(1) is not None:
            out.append(tuple(float(v) for v in tok.group(1).split()))
        else:
            out.append(float(tok.group(2)))
    return out


def hot_wall_nusselt(folder, cells):
    t = latest_time(folder)
    T = _list(os.path.join(folder, t, "T"))
    C = _list(os.path.join(folder, t, "C"))
    V = _list(os.path.join(folder, t, "V"))
    total = 0.0
    for j in range(cells):
        k = j * cells  # blockMesh numbers the cells x first
        x1, x2 = C[k][0], C[k + 1][0]
        t1, t2 = T[k], T[k + 1]
        # the parabola through (0, 1), (x1, t1), (x2, t2): its slope at 0
        d1, d2 = (t1 - 1.0) / x1, (t2 - 1.0) / x2
        slope = (d1 * x2 - d2 * x1) / (x2 - x1)
        dy = V[k] / (2.0 * x1 * 0.1)
        total += -slope * dy
    return total


def run_case(folder, cells, pr, ra, **kw):
    """Writes, meshes and runs the case; returns (Nu, CPU seconds of
    blockMesh and the solver, iterations)."""
    write_case(folder, cells, pr, ra, **kw)
    cpu = _run(["blockMesh"], folder, "log.blockMesh")
    cpu += _run(["buoyantBoussinesqSimpleFoam"], folder, "log.solver")
    _run(["postProcess", "-func", "writeCellCentres", "-latestTime"], folder, "log.C")
    _run(["postProcess", "-func", "writeCellVolumes", "-latestTime"], folder, "log.V")
    iters = int(float(latest_time(folder)))
    return hot_wall_nusselt(folder, cells), cpu, iters
