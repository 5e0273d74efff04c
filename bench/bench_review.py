#!/usr/bin/python3
"""Speed and memory of the review on a full run, against numpy.loadtxt of the laser file alone,
side by side in one run.

The run: 200 laser lines of 5000 samples from the logger against hsif-sim (a full pan turn of
the simulated room), a gyro file of 10 minutes at 100 packets/s in mode a with the clock column
and an hour of GPS at 1 Hz (GGA and RMC). The gyro and GPS files are made here: ahrs-sim would
need the 10 minutes in real time, and the GPS simulator is not part of the tree yet.

Prints the best of three rounds of each (interleaved), their ratio (goal at most 2) and the
review's peak memory against the laser file's size (goal at most 4). Reports, never fails on a
goal. Needs the native build (make) and Debian's python3-numpy, -matplotlib and -tqdm."""

import os
import resource
import subprocess
import sys
import tempfile
import time
from functools import reduce
from operator import xor
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "review"))
from simulated import simulated_run  # noqa: E402

BUILD = Path(os.environ.get("MORVANE_BUILD", ROOT / "build"))
ROUNDS = 3
GOAL_TIME = 2.0
GOAL_MEMORY = 4.0


def gyro_file(path: Path, seconds=600, rate=100):
    """Mode a records with the clock column: a rig that rolls and pitches a little."""
    n = seconds * rate
    t = np.arange(n) / rate
    rng = np.random.default_rng(1)
    roll = 0.8 * np.sin(2 * np.pi * t / 7.0) + rng.normal(0, 0.02, n)
    pitch = 0.5 + 0.3 * np.sin(2 * np.pi * t / 5.0) + rng.normal(0, 0.02, n)
    yaw = 30.0 + 0.5 * np.sin(2 * np.pi * t / 11.0)
    r, p = np.radians(roll), np.radians(pitch)
    columns = [np.arange(1, n + 1), t, roll, pitch, yaw,
               rng.normal(0, 0.05, n), rng.normal(0, 0.05, n), rng.normal(0, 0.05, n),
               np.sin(p), -np.sin(r) * np.cos(p), -np.cos(r) * np.cos(p),
               np.full(n, 0.17), np.full(n, -0.1), np.full(n, 0.45),
               25 + 0.5 * (1 - np.exp(-t / 300)), np.arange(n) % 65536]
    table = np.column_stack(columns)
    np.savetxt(path, table, fmt=["%d"] + ["%f"] * 14 + ["%d"], delimiter=" ")


def gps_file(path: Path, seconds=3600):
    def sentence(body):
        return f"${body}*{reduce(xor, body.encode(), 0):02X}"
    rng = np.random.default_rng(2)
    lines = []
    for t in range(seconds):
        lat = 4807.0381 + rng.normal(0, 0.0002)
        lon = 1131.0002 + rng.normal(0, 0.0002)
        hms = f"{12 + t // 3600:02d}{t // 60 % 60:02d}{t % 60:02d}.00"
        lines.append(f"{t + 0.2:.6f} " + sentence(
            f"GPGGA,{hms},{lat:.4f},N,{lon:010.4f},E,1,08,0.9,545.4,M,46.9,M,,"))
        lines.append(f"{t + 0.3:.6f} " + sentence(
            f"GPRMC,{hms},A,{lat:.4f},N,{lon:010.4f},E,0.0,0.0,090126,,,A"))
    path.write_text("\n".join(lines) + "\n")


def time_loadtxt(laser: Path) -> float:
    started = time.perf_counter()
    np.loadtxt(laser, skiprows=1, delimiter="\t", usecols=range(8))
    return time.perf_counter() - started


def time_review(folder: Path) -> tuple[float, int]:
    """Wall time of the review as the program it is, and the peak resident memory (KiB) of
    its largest process."""
    started = time.perf_counter()
    child = subprocess.Popen([str(ROOT / "tools" / "morvane-review"), "laser.txt", "gyro.txt",
                              "gps.txt", "-o", "review"], cwd=folder, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    took = time.perf_counter() - started
    if status != 0:
        sys.exit("bench_review: the review failed")
    return took, usage.ru_maxrss


def full_run(folder: Path, name: str) -> Path:
    """Makes the full run's three files in folder and says their sizes; returns the laser
    file. name introduces the lines printed and the message of a failed run."""
    run = simulated_run(BUILD, folder, lines=200, seconds=1)
    if run.returncode != 0:
        sys.exit(f"{name}: the simulated run failed ({run.returncode})")
    gyro_file(folder / "gyro.txt")
    gps_file(folder / "gps.txt")
    laser = folder / "laser.txt"
    print(f"{name}: laser file {laser.stat().st_size / 1e6:.1f} MB (200 lines of 5000 samples), "
          f"gyro file {(folder / 'gyro.txt').stat().st_size / 1e6:.1f} MB (60000 records), "
          f"GPS file {(folder / 'gps.txt').stat().st_size / 1e6:.1f} MB (7200 sentences)")
    return laser


def main():
    if not (BUILD / "morvane").exists():
        sys.exit(f"bench_review: {BUILD / 'morvane'} is missing; run make first")
    with tempfile.TemporaryDirectory(prefix="bench-review-") as tmp:
        folder = Path(tmp)
        laser = full_run(folder, "bench_review")
        size = laser.stat().st_size
        loads, reviews, peaks = [], [], []
        for _ in range(ROUNDS):
            loads.append(time_loadtxt(laser))
            took, peak = time_review(folder)
            reviews.append(took)
            peaks.append(peak)
        load, review = min(loads), min(reviews)
        peak = max(peaks) * 1024
        print(f"bench_review: numpy.loadtxt of the laser file {load:.2f} s, the whole review "
              f"{review:.2f} s (best of {ROUNDS}; all: loadtxt "
              f"{' '.join(f'{t:.2f}' for t in loads)}, review "
              f"{' '.join(f'{t:.2f}' for t in reviews)})")
        print(f"bench_review: review / loadtxt = {review / load:.2f} (goal at most {GOAL_TIME:g})")
        print(f"bench_review: peak memory {peak / 1e6:.0f} MB = {peak / size:.2f} x the laser "
              f"file (goal at most {GOAL_MEMORY:g})")
        own = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
        print(f"bench_review: (this benchmark's own peak, loadtxt included: {own / 1e6:.0f} MB)")


if __name__ == "__main__":
    main()
