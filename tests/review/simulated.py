"""A run of the real logger against the simulators, as tools/demo makes one: ahrs-sim on a
pseudo-terminal for the gyro phase, q after a while, then the laser phase against hsif-sim
(sped up) with a raw pseudo-terminal as the laser control port."""

import os
import subprocess
import threading
import time
import tty
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def _drain(fd):
    while True:
        try:
            if not os.read(fd, 4096):
                break
        except OSError:
            break


def simulated_run(build: Path, folder: Path, lines=20, seconds=2.0, mode="a", ahrs=(),
                  hsif=None, logger=()) -> subprocess.CompletedProcess:
    """Runs morvane in folder (laser.txt, gyro.txt, gps.txt) and returns its result.
    ahrs: more ahrs-sim options; hsif: more HSIF_SIM_* variables; logger: more morvane options."""
    folder.mkdir(parents=True, exist_ok=True)
    sim = subprocess.Popen([str(build / "ahrs-sim"), "--mode", mode, "--rate", "100", "--seed",
                            "7", "--quiet", *ahrs], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True)
    master, slave = os.openpty()
    try:
        device = sim.stdout.readline().strip()
        tty.setraw(slave)
        threading.Thread(target=_drain, args=(master,), daemon=True).start()
        env = dict(os.environ, LD_LIBRARY_PATH=str(build / "sim"), HSIF_SIM_PORT=os.ttyname(slave),
                   HSIF_SIM_SPEEDUP="100", HSIF_SIM_SEED="7",
                   HSIF_SIM_CALIBRATION_DIR=str(ROOT / "tools" / "hsif_sim"), **(hsif or {}))
        logger_run = subprocess.Popen(
            [str(build / "morvane"), "laser.txt", "gyro.txt", "gps.txt", "-C", device, "-M", mode,
             "-l", str(lines), *logger], cwd=folder, env=env, stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        time.sleep(seconds)
        out, err = logger_run.communicate(input=b"q", timeout=180)
        return subprocess.CompletedProcess(logger_run.args, logger_run.returncode, out, err)
    finally:
        sim.terminate()
        sim.wait(timeout=10)
        os.close(slave)
        os.close(master)
