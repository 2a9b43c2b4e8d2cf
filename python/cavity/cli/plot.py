"""Figures of a run folder: isotherms, streamlines over the speed, the
mid-line profiles (with the de Vahl Davis 1983 points for the standard
square-cavity cases at Pr = 0.71) and the local Nusselt number along the
hot wall.

usage: cavity-plot [RUN_FOLDER] [-o OUTDIR] [--format png|pdf|svg] [--dpi N]
                   [--no-title] [--size WxH] [--profile-size WxH] [--prefix P]
                   [--no-benchmark] [--wall-at S] [--ra RA]
"""

import argparse
import sys

from cavity import figures, frame


def size(text):
    try:
        w, h = (float(v) for v in text.lower().split("x"))
    except ValueError:
        raise argparse.ArgumentTypeError("%r: give WIDTHxHEIGHT in inches" % text)
    if w <= 0 or h <= 0:
        raise argparse.ArgumentTypeError("%r: sizes must be positive" % text)
    return w, h


def main(argv=None):
    ap = argparse.ArgumentParser(
        prog="cavity-plot",
        description="Figures of a run folder holding Result.dat (and, if "
        "present, Input_Parameters.Input, Nu.dat, the mid-line files and "
        "nanofluid.json, whose suspension the titles name). The scaling is "
        "the one cavity-to-vtk writes: %s; %s." % (frame.LENGTH_TEXT,
                                                   frame.VELOCITY_TEXT))
    ap.add_argument("folder", nargs="?", default=".", help="run folder (default: .)")
    ap.add_argument("-o", "--outdir", help="where to write (default: the run folder)")
    ap.add_argument("--prefix", default="", help="prefix of the file names")
    ap.add_argument("--size", type=size, default=None,
                    help="isotherm and streamline figures, inches (default: "
                    "axes of the cavity's aspect ratio, cut to what is drawn); "
                    "a PNG is then exactly size times dpi pixels")
    ap.add_argument("--profile-size", type=size, default=(11.0, 4.0),
                    help="mid-line figure, inches (default 11x4)")
    ap.add_argument("--no-benchmark", action="store_true",
                    help="leave out the benchmark points")
    ap.add_argument("--wall-at", type=float, default=0.5,
                    help="lattice spacings from the end node lines to the "
                    "walls (default 0.5, where the solver's walls act, as "
                    "in the VTK file); positions are measured from the walls "
                    "and velocities scaled with the height between them; 0 "
                    "shows positions as the files write them (H = m)")
    ap.add_argument("--ra", type=float,
                    help="Rayleigh number of the cavity between the walls, for "
                    "the titles and the benchmark points (default: the "
                    "parameter file's Ra referred to that height)")
    figures.add_arguments(ap, dpi=200)
    args = ap.parse_args(argv)
    if figures.check(args):
        ap.error(figures.check(args))
    if not 0 <= args.wall_at < 1:
        ap.error("--wall-at must be in [0, 1)")

    from cavity import plotting, rayleigh, records
    try:
        paths = plotting.plot_run(args.folder, args.outdir, args.prefix,
                                  figures.Style.of(args),
                                  args.size, args.profile_size,
                                  not args.no_benchmark, args.wall_at, args.ra)
    except (OSError, records.FormatError, ValueError) as exc:
        print("cavity-plot: %s" % exc, file=sys.stderr)
        return 1
    for p in paths:
        print(p)
    try:
        ra_file = records.read_parameters(args.folder)["Ra"]
        m = records.read_profile(args.folder, records.U_MIDLINE_FILE)[1].size - 1
    except (OSError, records.FormatError, ValueError):
        return 0
    ra = args.ra if args.ra is not None else rayleigh.from_solver(ra_file, m)
    print("cavity-plot: the titles give the cavity's Ra between the walls, "
          "Ra = %.6g, from the parameter file's Ra = %.10g (the file's times "
          "((m-1)/m)^3, m = %d; python/README.md, \"The Rayleigh number\")"
          % (ra, ra_file, m), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
