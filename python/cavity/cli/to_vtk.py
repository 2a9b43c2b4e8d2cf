"""Convert a run's Result.dat into a legacy VTK file (structured grid,
ASCII) with the point arrays U, V, P, T, Stream and the vector Velocity,
in the scaling of cavity-plot's figures.

usage: cavity-to-vtk [RUN_FOLDER_OR_Result.dat] [-o OUT.vtk] [--as-written]
"""

import argparse
import os
import sys

from cavity import frame, records, vtk


def main(argv=None):
    ap = argparse.ArgumentParser(
        prog="cavity-to-vtk",
        description="Write Result.dat as a VTK structured grid that ParaView "
        "and other VTK readers open as it is, in the scaling cavity-plot "
        "draws: %s; %s. P and T are copied as Result.dat wrote them (the "
        "lattice pressure and the temperature)." % (frame.LENGTH_TEXT,
                                                     frame.VELOCITY_TEXT))
    ap.add_argument("source", nargs="?", default=".",
                    help="run folder or Result.dat (default: .)")
    ap.add_argument("-o", "--output",
                    help="output file (default: Result.vtk beside the input)")
    ap.add_argument("--as-written", action="store_true",
                    help="copy every number as Result.dat wrote it instead: "
                    "X = i/m, Y = j/m, U and V over U_Ref, the stream "
                    "function in lattice units")
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
    fr = None
    if not args.as_written:
        try:
            params = records.read_parameters(folder)
        except (OSError, records.FormatError):
            params = None
            print("cavity-to-vtk: no readable %s beside the results: "
                  "velocities stay U/U_Ref and the stream function in lattice "
                  "units" % records.PARAM_FILE, file=sys.stderr)
        fr = frame.Frame(res, params)
        title += ("; x/H, y/H from the hot and bottom walls, H = m - 1; %s"
                  % ("u H/alpha, Stream/alpha" if params else
                     "U/U_Ref, Stream in lattice units"))
    try:
        vtk.write_vtk(res, out, title, fr)
    except OSError as exc:
        print("cavity-to-vtk: %s" % exc, file=sys.stderr)
        return 1
    print("cavity-to-vtk: wrote %s (%d x %d points)" % (out, res.ni, res.nj),
          file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
