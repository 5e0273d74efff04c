#!/usr/bin/python3
"""Speed and memory of the review (review/) on a full run, against numpy.loadtxt of the laser file
alone, side by side in one run.

The run: 200 laser lines of 5000 samples from the logger against hsif-sim (a full pan turn of
the simulated room), a gyro file of 10 minutes at 100 packets/s in mode a with the clock column
and an hour of GPS at 1 Hz (GGA and RMC). The gyro and GPS files are made here: ahrs-sim would
need the 10 minutes in real time. Each round times, one after the other, numpy.loadtxt of the
laser file, the command line's whole review (node review/dist/morvane-review.js, every output)
and the page in headless Chromium from the files handed over until the verdict and every picture
are drawn (bench/review_page.mjs). Prints the best of each, the ratios (goals: command line at
most 1.0, page at most 2) and the command line's peak memory against the laser file's size (goal
at most 3). Reports, never fails on a goal.

bench_review.py [FOLDER]: with FOLDER, its laser.txt, gyro.txt and gps.txt are the run (made by
an earlier round, say) and no run is made. Needs the native build (make), the review's build
(make review), Debian's chromium and python3-numpy."""

import json
import os
import subprocess
import sys
import tempfile
import threading
import time
import tty
from functools import reduce
from operator import xor
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parents[1]
BUILD = Path(os.environ.get("MORVANE_BUILD", ROOT / "build"))
CLI = ROOT / "review" / "dist" / "morvane-review.js"
PAGE_DRIVER = ROOT / "bench" / "review_page.mjs"
NAME = "bench_review"
ROUNDS = 3
GOAL_CLI = 1.0
GOAL_PAGE = 2.0
GOAL_MEMORY = 3.0


def _drain(fd):
    while True:
        try:
            if not os.read(fd, 4096):
                break
        except OSError:
            break


def simulated_run(folder: Path, lines: int) -> subprocess.CompletedProcess:
    """Runs the logger in folder (laser.txt, gyro.txt, gps.txt) as tools/demo does: ahrs-sim on a
    pseudo-terminal for the gyro phase, q after a second, then the laser phase against hsif-sim
    (sped up) with a raw pseudo-terminal as the laser control port. Returns its result."""
    sim = subprocess.Popen([str(BUILD / "ahrs-sim"), "--mode", "a", "--rate", "100", "--seed", "7",
                            "--quiet"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    master, slave = os.openpty()
    try:
        device = sim.stdout.readline().strip()
        tty.setraw(slave)
        threading.Thread(target=_drain, args=(master,), daemon=True).start()
        env = dict(os.environ, LD_LIBRARY_PATH=str(BUILD / "sim"), HSIF_SIM_PORT=os.ttyname(slave),
                   HSIF_SIM_SPEEDUP="100", HSIF_SIM_SEED="7",
                   HSIF_SIM_CALIBRATION_DIR=str(ROOT / "tools" / "hsif_sim"))
        logger = subprocess.Popen(
            [str(BUILD / "morvane"), "laser.txt", "gyro.txt", "gps.txt", "-C", device, "-M", "a",
             "-l", str(lines)], cwd=folder, env=env, stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # The gyro phase's length does not matter: the gyro file is made again below.
        time.sleep(1)
        out, err = logger.communicate(input=b"q", timeout=180)
        return subprocess.CompletedProcess(logger.args, logger.returncode, out, err)
    finally:
        sim.terminate()
        sim.wait(timeout=10)
        os.close(slave)
        os.close(master)


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


def full_run(folder: Path) -> Path:
    """Makes the full run's three files in folder; returns the laser file."""
    run = simulated_run(folder, lines=200)
    if run.returncode != 0:
        sys.exit(f"{NAME}: the simulated run failed ({run.returncode})")
    gyro_file(folder / "gyro.txt")
    gps_file(folder / "gps.txt")
    return folder / "laser.txt"


def time_loadtxt(laser: Path) -> float:
    started = time.perf_counter()
    np.loadtxt(laser, skiprows=1, delimiter="\t", usecols=range(8))
    return time.perf_counter() - started


def time_cli(folder: Path, output: Path) -> tuple[float, int]:
    """Wall time of the command line's review and its peak resident memory in KiB (one process:
    node runs the review and any threads it starts in it)."""
    started = time.perf_counter()
    child = subprocess.Popen(["node", str(CLI), "laser.txt", "gyro.txt", "gps.txt", "-o",
                              str(output)], cwd=folder, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    took = time.perf_counter() - started
    if status != 0:
        sys.exit(f"{NAME}: the command line's review failed")
    return took, usage.ru_maxrss


def time_page(folder: Path) -> float:
    """The page's time for one round, as review_page.mjs measures it in the browser's driver."""
    done = subprocess.run(["node", str(PAGE_DRIVER), str(folder), "1"], stdout=subprocess.PIPE,
                          text=True, timeout=600)
    if done.returncode != 0:
        sys.exit(f"{NAME}: the page's review failed")
    return json.loads(done.stdout)["times"][0]


def listing(times: list[float]) -> str:
    return " ".join(f"{t:.2f}" for t in times)


def measure(folder: Path, outputs: Path):
    laser = folder / "laser.txt"
    size = laser.stat().st_size
    print(f"{NAME}: laser file {size / 1e6:.1f} MB, gyro file "
          f"{(folder / 'gyro.txt').stat().st_size / 1e6:.1f} MB, GPS file "
          f"{(folder / 'gps.txt').stat().st_size / 1e6:.1f} MB")
    loads, clis, pages, peaks = [], [], [], []
    for _ in range(ROUNDS):
        loads.append(time_loadtxt(laser))
        took, peak = time_cli(folder, outputs)
        clis.append(took)
        peaks.append(peak)
        pages.append(time_page(folder))
    load, cli, page = min(loads), min(clis), min(pages)
    peak = max(peaks) * 1024
    print(f"{NAME}: numpy.loadtxt of the laser file {load:.2f} s, the command line's whole "
          f"review {cli:.2f} s, the page {page:.2f} s (best of {ROUNDS}; all: loadtxt "
          f"{listing(loads)}, command line {listing(clis)}, page {listing(pages)})")
    print(f"{NAME}: command line / loadtxt = {cli / load:.2f} (goal at most {GOAL_CLI:g})")
    print(f"{NAME}: page / loadtxt = {page / load:.2f} (goal at most {GOAL_PAGE:g})")
    print(f"{NAME}: the command line's peak memory {peak / 1e6:.0f} MB = {peak / size:.2f} x the "
          f"laser file (goal at most {GOAL_MEMORY:g})")


def main():
    given = Path(sys.argv[1]) if len(sys.argv) > 1 else None
    needed = [(CLI, "make review"), (ROOT / "review" / "dist" / "review.html", "make review")]
    if given is None:
        needed.append((BUILD / "morvane", "make"))
    for path, how in needed:
        if not path.exists():
            sys.exit(f"{NAME}: {path} is missing; run {how} first")
    with tempfile.TemporaryDirectory(prefix="bench-review-") as tmp:
        folder = given.resolve() if given else Path(tmp)
        if given is None:
            full_run(folder)
        measure(folder, Path(tmp) / "review")


if __name__ == "__main__":
    main()
