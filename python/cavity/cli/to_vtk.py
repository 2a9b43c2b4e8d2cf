"""Convert a run's Result.dat into a legacy VTK file (structured grid,
ASCII) with the point arrays U, V, P, T, Stream and the vector Velocity.

usage: cavity-to-vtk [RUN_FOLDER_OR_Result.dat] [-o OUT.vtk]
"""

import argparse
import os
import sys

from cavity import records, vtk


def main(argv=None):
    ap = argparse.ArgumentParser(
        prog="cavity-to-vtk",
        description="Write Result.dat as a VTK structured grid that ParaView "
        "and other VTK readers open as it is. Coordinates are X = i/m and "
        "Y = j/m as in Result.dat; U, V are divided by U_Ref; P, T, Stream "
        "are in lattice units.")
    ap.add_argument("source", nargs="?", default=".",
                    help="run folder or Result.dat (default: .)")
    ap.add_argument("-o", "--output",
                    help="output file (default: Result.vtk beside the input)")
    args = ap.parse_args(argv)
    try:
        res = records.read_result(args.source)
    except (OSError, records.FormatError) as exc:
        print("cavity-to-vtk: %s" % exc, file=sys.stderr)
        return 1
    src = args.source
    folder = src if os.path.isdir(src) else os.path.dirname(src) or "."
    out = args.output or os.path.join(folder, "Result.vtk")
    title = "cavity result n=%d m=%d" % (res.n, res.m)
    try:
        vtk.write_vtk(res, out, title)
    except OSError as exc:
        print("cavity-to-vtk: %s" % exc, file=sys.stderr)
        return 1
    print("cavity-to-vtk: wrote %s (%d x %d points)" % (out, res.ni, res.nj),
          file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
