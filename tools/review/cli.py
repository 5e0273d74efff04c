"""morvane-review: the command line, and the order of the steps."""

from __future__ import annotations

import argparse
import errno
import math
import os
import shutil
import sys
import tempfile

import numpy as np

from . import cloud, drawing, geometry, ply, readers, report, summary as verdict, views
from .readers import InputError, progress

PICTURES = ("scan", "plan", "attitude", "gps")
SKIPPABLE = PICTURES + ("ply",)
# Every file the review may write, in the order they are put in place: the page last, so a
# browser never finds it naming a picture that is not there yet.
OUTPUTS = ("summary.txt", "scan.png", "plan.png", "attitude.png", "gps.png", "scan.ply",
           "report.html")


class Parser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        self.exit(1, f"{self.prog}: {message}\n")


def finite_float(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"expected a number of degrees, found {text!r}")
    return value


def parse(argv):
    p = Parser(
        prog="morvane-review",
        description="Turns a run's laser, gyro and GPS files into pictures, a point cloud and a "
                    "verdict: report.html, summary.txt, scan.png, plan.png, attitude.png, "
                    "gps.png and scan.ply in the output folder.",
        epilog="Exit code 0: reviewed (the verdict may still name problems); 1: a file is not "
               "what the review expects, or the output cannot be written. A missing GPS file "
               "is no error: the review leaves GPS out. Frames and formulas: docs/geometry.md.")
    p.add_argument("laser", help="the laser file (tab-separated samples)")
    p.add_argument("gyro", help="the gyro file (one AHRS record per line)")
    p.add_argument("gps", nargs="?", help="the GPS file (one NMEA sentence per line); optional")
    p.add_argument("-o", "--output", metavar="DIR", default="review",
                   help="folder for the outputs, made when missing (default: review)")
    p.add_argument("-M", "--mode", choices=("a", "c", "r"),
                   help="the gyro file's mode, as given to morvane -M (default: told from the "
                        "records); a file of another mode is refused")
    p.add_argument("--no-level", action="store_true",
                   help="leave the point cloud in the scanner frame (x ahead, y left, z up) "
                        "instead of levelling it and turning it to north")
    p.add_argument("--declination", type=finite_float, default=0.0, metavar="DEG",
                   help="magnetic declination added to the heading, degrees east (default 0)")
    p.add_argument("--skip", default="", metavar="LIST",
                   help="comma-separated outputs to leave out: " + ", ".join(SKIPPABLE))
    args = p.parse_args(argv)
    skip = {s for s in args.skip.split(",") if s}
    unknown = skip - set(SKIPPABLE)
    if unknown:
        p.error(f"--skip: unknown {', '.join(sorted(unknown))} (choose from "
                f"{', '.join(SKIPPABLE)})")
    args.skip = skip
    return args


class Staging:
    """Outputs are written into a hidden folder beside their place and renamed into it only
    when all of them are complete; on any failure the folder goes and nothing is left half
    written."""

    def __init__(self, folder: str):
        if os.path.exists(folder) and not os.path.isdir(folder):
            raise NotADirectoryError(errno.ENOTDIR, "a file, not a folder", folder)
        os.makedirs(folder, exist_ok=True)
        self.folder = folder
        self.tmp = tempfile.mkdtemp(prefix=".morvane-review-", dir=folder)

    def path(self, name: str) -> str:
        return os.path.join(self.tmp, name)

    def commit(self) -> list[str]:
        made = []
        for name in OUTPUTS:
            staged, final = self.path(name), os.path.join(self.folder, name)
            if os.path.exists(staged):
                os.replace(staged, final)
                made.append(final)
            elif os.path.exists(final):
                # Left from an earlier review: it would not belong to this one.
                os.remove(final)
        os.rmdir(self.tmp)
        return made

    def abort(self):
        shutil.rmtree(self.tmp, ignore_errors=True)


def ply_comments(args, laser, att, cloud_, gps_figures) -> list[str]:
    deg = np.degrees
    comments = [f"morvane-review point cloud of {os.path.basename(args.laser)}, "
                f"{laser.samples} samples"]
    if args.no_level:
        comments.append("frame scanner: x ahead, y left, z up, metres, origin at the scanner "
                        "(not levelled)")
    else:
        comments.append("frame east north up, metres, origin at the scanner")
        comments.append(f"levelled roll {deg(att.mean_roll):+.4f} pitch {deg(att.mean_pitch):+.4f} "
                        f"heading {deg(att.mean_heading) % 360:.4f} deg: {att.method}")
    for k, row in enumerate(cloud_.transform, start=1):
        comments.append(f"transform row{k} " + " ".join(f"{v:.9f}" for v in row))
    comments.append("transform: point = M . (distance x 0.0254 m) . (cos a1 cos a2, cos a1 sin a2, "
                    "sin a1), M by rows above; see docs/geometry.md")
    if gps_figures is not None:
        comments.append(f"gps mean latitude {gps_figures.mean_lat:.8f} longitude "
                        f"{gps_figures.mean_lon:.8f} altitude "
                        + verdict.altitude(gps_figures.mean_alt, "{:.3f} m"))
    else:
        comments.append("gps none")
    comments.append("amplitude 0 to 4095; distance in metres; line: the laser line of 5000 "
                    "samples, from 0")
    return comments


def review(args) -> list[str]:
    # The pictures are drawn by processes of their own as the data for each is ready: the
    # gyro's and the GPS's while the laser file is read, the scan's while the PLY is written.
    drawers = drawing.Drawers(fork=bool(set(PICTURES) - args.skip))
    try:
        return _review(args, drawers)
    finally:
        drawers.close()


def _review(args, drawers: drawing.Drawers) -> list[str]:
    summary = verdict.Summary()
    gyro = readers.read_gyro(args.gyro, args.mode)
    gps = readers.read_gps(args.gps)
    att = geometry.attitude(gyro, args.declination)
    gyro_figures = verdict.review_gyro(gyro, att, summary)
    gps_figures = verdict.review_gps(gps, summary)
    if "attitude" not in args.skip:
        drawers.draw("attitude.png", "attitude", views.attitude(gyro, att, gyro_figures.gaps))
    if gps_figures is not None and "gps" not in args.skip:
        drawers.draw("gps.png", "gps", gps, gps_figures)

    laser = readers.read_laser(args.laser)
    transform = np.eye(3) if args.no_level else \
        geometry.scanner_to_enu(att.mean_roll, att.mean_pitch, att.mean_heading)
    with progress(laser.samples, "computing the points", "samples") as bar:
        points = cloud.build(laser, transform, bar)
    laser_figures = verdict.review_laser(laser, points.azimuth, points.elevation, summary)
    if laser_figures is not None and "scan" not in args.skip:
        drawers.draw("scan.png", "scan", views.panorama(laser, points.azimuth, points.elevation,
                                                        laser_figures.pan_step))
    if laser_figures is not None and "plan" not in args.skip:
        drawers.draw("plan.png", "plan", views.plan(points.points, not args.no_level))
    if args.no_level:
        summary.note(NOTE_FRAME, "the point cloud is left in the scanner frame (--no-level)")

    images = [name for name in OUTPUTS if name in drawers.names]
    files = ["summary.txt"]
    write_ply = laser_figures is not None and "ply" not in args.skip
    if write_ply:
        files.append("scan.ply")
    staging = Staging(args.output)
    try:
        if write_ply:
            with open(staging.path("scan.ply"), "wb") as f, \
                    progress(laser.samples, "writing scan.ply", "samples") as bar:
                ply.write(f, points.points, laser.amplitude, laser.distance,
                          geometry.METRES_PER_INCH, laser.line,
                          ply_comments(args, laser, att, points, gps_figures), bar)
        with open(staging.path("summary.txt"), "w", encoding="utf-8") as f:
            f.write(summary.text())
        inputs = [args.laser, args.gyro] + ([args.gps] if args.gps else [])
        with open(staging.path("report.html"), "w", encoding="utf-8") as f:
            f.write(report.page(summary, images, images + files, inputs))
        for name, path in drawers.finish().items():
            shutil.move(path, staging.path(name))
        made = staging.commit()
    except BaseException:
        staging.abort()
        raise
    return [summary.headline] + made


NOTE_FRAME = 90


def main(argv=None) -> int:
    args = parse(sys.argv[1:] if argv is None else argv)
    try:
        headline, *made = review(args)
    except InputError as error:
        print(f"morvane-review: {error}", file=sys.stderr)
        return 1
    except OSError as error:
        where = f" {error.filename}" if error.filename else ""
        print(f"morvane-review: cannot write the outputs{where}: {error.strerror}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("morvane-review: interrupted; no outputs written", file=sys.stderr)
        return 130
    print(f"morvane-review: {headline}")
    for path in made:
        print(f"morvane-review: wrote {path}")
    return 0
