#!/usr/bin/python3
"""Speed and memory of the TypeScript review on a full run, against numpy.loadtxt of the laser
file alone, side by side in one run.

The run is bench_review.py's: 200 laser lines of 5000 samples from the logger against hsif-sim,
10 minutes of gyro records at 100 packets/s and an hour of GPS at 1 Hz. Each round times, one
after the other, numpy.loadtxt of the laser file, the command line's whole review (node
review/dist/morvane-review.js, every output) and the page in headless Chromium from the files
handed over until the verdict and every picture are drawn (bench/review_page.mjs). Prints the
best of each, the ratios (goals: command line at most 1.0, page at most 2) and the command
line's peak memory against the laser file's size (goal at most 3). Reports, never fails on a
goal. Needs the native build (make), the review's build (make review), Debian's chromium and
python3-numpy."""

import json
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from bench_review import BUILD, ROOT, full_run, time_loadtxt  # noqa: E402

CLI = ROOT / "review" / "dist" / "morvane-review.js"
PAGE_DRIVER = ROOT / "bench" / "review_page.mjs"
ROUNDS = 3
GOAL_CLI = 1.0
GOAL_PAGE = 2.0
GOAL_MEMORY = 3.0


def time_cli(folder: Path) -> tuple[float, int]:
    """Wall time of the command line's review and its peak resident memory in KiB (one
    process: node runs the review in its main thread)."""
    started = time.perf_counter()
    child = subprocess.Popen(["node", str(CLI), "laser.txt", "gyro.txt", "gps.txt", "-o",
                              "review-ts"], cwd=folder, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    took = time.perf_counter() - started
    if status != 0:
        sys.exit("bench_review_ts: the command line's review failed")
    return took, usage.ru_maxrss


def time_page(folder: Path) -> float:
    """The page's time for one round, as review_page.mjs measures it in the browser's driver."""
    done = subprocess.run(["node", str(PAGE_DRIVER), str(folder), "1"], stdout=subprocess.PIPE,
                          text=True, timeout=600)
    if done.returncode != 0:
        sys.exit("bench_review_ts: the page's review failed")
    return json.loads(done.stdout)["times"][0]


def listing(times: list[float]) -> str:
    return " ".join(f"{t:.2f}" for t in times)


def main():
    for needed, how in [(BUILD / "morvane", "make"), (CLI, "make review"),
                        (ROOT / "review" / "dist" / "review.html", "make review")]:
        if not needed.exists():
            sys.exit(f"bench_review_ts: {needed} is missing; run {how} first")
    with tempfile.TemporaryDirectory(prefix="bench-review-ts-") as tmp:
        folder = Path(tmp)
        laser = full_run(folder, "bench_review_ts")
        size = laser.stat().st_size
        loads, clis, pages, peaks = [], [], [], []
        for _ in range(ROUNDS):
            loads.append(time_loadtxt(laser))
            took, peak = time_cli(folder)
            clis.append(took)
            peaks.append(peak)
            pages.append(time_page(folder))
        load, cli, page = min(loads), min(clis), min(pages)
        peak = max(peaks) * 1024
        print(f"bench_review_ts: numpy.loadtxt of the laser file {load:.2f} s, the command line's "
              f"whole review {cli:.2f} s, the page {page:.2f} s (best of {ROUNDS}; all: loadtxt "
              f"{listing(loads)}, command line {listing(clis)}, page {listing(pages)})")
        print(f"bench_review_ts: command line / loadtxt = {cli / load:.2f} "
              f"(goal at most {GOAL_CLI:g})")
        print(f"bench_review_ts: page / loadtxt = {page / load:.2f} (goal at most {GOAL_PAGE:g})")
        print(f"bench_review_ts: the command line's peak memory {peak / 1e6:.0f} MB = "
              f"{peak / size:.2f} x the laser file (goal at most {GOAL_MEMORY:g})")


if __name__ == "__main__":
    main()
