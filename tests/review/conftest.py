"""Shared pieces of the review tool's tests: the repository's paths, the review run as the
program it is, and the files of a run written the way the logger writes them."""

import os
import subprocess
import sys
from functools import reduce
from operator import xor
from pathlib import Path

import numpy as np
import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
sys.path.insert(0, str(Path(__file__).resolve().parent))
BUILD = Path(os.environ.get("MORVANE_BUILD", ROOT / "build"))
LAUNCHER = ROOT / "tools" / "morvane-review"

LASER_HEADER = ("Distance(inches)\tRaw Range(bits)\tAmplitude\tTemp(F)\tAngle1(radins)\t"
                "Angle2(radins\tIndex1\tIndex2\t")


def laser_text(rows, crlf=False) -> str:
    """A laser file of (distance inches, amplitude, angle1, angle2) rows, as the logger writes
    them: each row introduced by the line end, every row ending in a tab."""
    end = "\r\n" if crlf else "\n"
    out = [LASER_HEADER]
    for distance, amplitude, angle1, angle2 in rows:
        out.append(f"{end}{distance:.2f}\t{distance * 1000:.0f}\t{amplitude:.1f}\t70.1\t"
                   f"{angle1:.4f}\t{angle2:.4f}\t0\t0\t")
    return "".join(out)


def gyro_text(values, mode="a", times=None) -> str:
    """A gyro file of records (mode a: roll pitch yaw and the nine channels; c and r: the nine
    channels), counts from 1, TAIL_WORD from 0, optionally a time column."""
    lines = []
    for k, row in enumerate(values):
        time = f" {times[k]:f}" if times is not None else ""
        lines.append(f"{k + 1}{time} " + " ".join(f"{v:f}" for v in row) + f" 25.000000 {k}\n")
    return "".join(lines)


def nmea(body: str) -> str:
    return f"${body}*{reduce(xor, body.encode(), 0):02X}"


def gga(lat: float, lon: float, quality=1, hdop=0.9, alt=545.4) -> str:
    def dm(value, width):
        value = abs(value)
        return f"{int(value):0{width}d}{(value - int(value)) * 60:07.4f}"
    return nmea(f"GPGGA,123519.00,{dm(lat, 2)},{'N' if lat >= 0 else 'S'},{dm(lon, 3)},"
                f"{'E' if lon >= 0 else 'W'},{quality},08,{hdop},{alt},M,46.9,M,,")


def run_review(*args, cwd=None) -> subprocess.CompletedProcess:
    return subprocess.run([str(LAUNCHER), *map(str, args)], capture_output=True, text=True,
                          cwd=cwd, timeout=300, env=review_env(cwd))


def review_env(cwd) -> dict:
    """The review's environment: its private folders under cwd/tmp, where left_behind finds
    any it leaves."""
    env = dict(os.environ)
    if cwd is not None:
        os.makedirs(Path(cwd) / "tmp", exist_ok=True)
        env["TMPDIR"] = str(Path(cwd) / "tmp")
    return env


def left_behind(cwd) -> list[str]:
    """What a review run in cwd left: processes still working there, private folders."""
    here = os.path.realpath(cwd)
    running = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink(f"/proc/{pid}/cwd") == here:
                running.append(f"process {pid}")
        except OSError:
            pass  # ended meanwhile, or not ours to look at
    return running + [f"folder {name}" for name in os.listdir(Path(cwd) / "tmp")]


def read_ply(path):
    """The PLY's header comments and its vertices, read back by Open3D (another reader than
    the one that wrote them)."""
    import open3d as o3d
    comments = []
    with open(path, "rb") as f:
        for line in f:
            if line.startswith(b"comment "):
                comments.append(line[8:].decode().strip())
            if line.strip() == b"end_header":
                break
    cloud = o3d.t.io.read_point_cloud(str(path))
    return comments, {k: cloud.point[k].numpy() for k in cloud.point}


def transform_of(comments) -> np.ndarray:
    rows = [c.split()[2:] for c in comments if c.startswith("transform row")]
    return np.array(rows, dtype=float)


@pytest.fixture(scope="session")
def build():
    for name in ("morvane", "ahrs-sim", "sim/libhsif.so"):
        if not (BUILD / name).exists():
            pytest.fail(f"{BUILD / name} is missing: run make first")
    return BUILD
