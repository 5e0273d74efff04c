"""The review of real runs: the logger against ahrs-sim and hsif-sim, clean and with faults."""

import re

import numpy as np
import pytest

from conftest import gga, read_ply, run_review, transform_of
from simulated import simulated_run

# hsif-sim's room in the scanner frame (docs/geometry.md), metres.
ROOM = (np.array([-2.60, -3.70, -1.45]), np.array([3.20, 4.10, 1.35]))
CABINET = (np.array([1.60, 2.10, -1.45]), np.array([2.40, 3.10, -0.40]))


def gps_file(seconds=600, silent=(), invalid=0, lost=0, no_fix=0):
    """A GPS file of one fix a second around 48.1 N 11.5 E; `silent` (start, length) leaves a
    stretch out; the first `no_fix` reports have quality 0."""
    rng = np.random.default_rng(5)
    lines = []
    for t in range(seconds):
        if any(s <= t < s + n for s, n in silent):
            continue
        lat, lon = 48.1 + rng.normal(0, 2e-6), 11.5 + rng.normal(0, 3e-6)
        lines.append(f"{t + 0.25:.6f} {gga(lat, lon, quality=0 if t < no_fix else 1)}")
    for k in range(invalid):
        lines.insert(10 + k, f"{10.5 + k:.6f} #checksum $GPGGA,bad*00")
    if lost:
        lines.insert(20, f"20.900000 #lost {lost}")
    return "\n".join(lines) + "\n"


@pytest.fixture(scope="module")
def demo(build, tmp_path_factory):
    """A full turn of the pan head (200 lines) in mode a, reviewed with a GPS file."""
    folder = tmp_path_factory.mktemp("demo")
    run = simulated_run(build, folder, lines=200, seconds=2)
    assert run.returncode == 0, run.stderr.decode(errors="replace")[-2000:]
    # As the logger cuts them: the bytes before the port opened, the sentence the end stopped.
    (folder / "gps.txt").write_text("0.100000 #not-nmea 0.25,N,01131.0002,E,1*4B\\x0D\\x0A\n" +
                                    gps_file() + "600.100000 #no-end $GPGGA,0935\n")
    result = run_review("laser.txt", "gyro.txt", "gps.txt", "-o", "review", cwd=folder)
    assert result.returncode == 0, result.stderr
    return folder, result


def test_the_demo_room_is_the_simulators_box(demo):
    folder, _ = demo
    comments, vertices = read_ply(folder / "review" / "scan.ply")
    assert len(vertices["positions"]) == 200 * 5000
    assert np.bincount(vertices["line"][:, 0]).tolist() == [5000] * 200
    # Back to the scanner frame with the transform the header gives.
    points = vertices["positions"].astype(np.float64) @ transform_of(comments)
    low, high = ROOM
    to_room = np.minimum(points - low, high - points).min(axis=1)
    outside = np.maximum(np.maximum(CABINET[0] - points, points - CABINET[1]), 0)
    to_cabinet = np.linalg.norm(outside, axis=1)
    assert np.minimum(to_room, to_cabinet).max() < 0.03
    np.testing.assert_allclose(points.min(axis=0), low, atol=0.03)
    np.testing.assert_allclose(points.max(axis=0), high, atol=0.03)
    for axis in range(3):
        for face in (low[axis], high[axis]):
            assert np.count_nonzero(np.abs(points[:, axis] - face) < 0.03) > 1000


def test_the_report_shows_every_picture(demo):
    folder, result = demo
    review = folder / "review"
    page = (review / "report.html").read_text()
    images = re.findall(r'<img src="([^"]+)"', page)
    assert images == ["scan.png", "plan.png", "attitude.png", "gps.png"]
    for name in images:
        assert (review / name).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    for name in ("summary.txt", "scan.ply"):
        assert f'href="{name}"' in page and (review / name).exists()
    assert "wrote review/report.html" in result.stdout
    assert not [p.name for p in review.iterdir() if p.name.startswith(".")]
    summary = (review / "summary.txt").read_text()
    assert "azimuth covered    100.0 % of 360 deg" in summary or \
        re.search(r"azimuth covered\s+100\.0 %", summary)
    assert re.search(r"fixes\s+600 of 600 GGA reports \(100\.0 %\): GPS 600", summary)
    assert "2 cut by the start or the end of the recording" in summary
    assert "sentences invalid" not in summary.split("Notes:")[0], "no problem of the run's ends"


@pytest.mark.parametrize("mode, options", [
    pytest.param("c", ["-t", "0.01"], id="mode c with computed times"),
    pytest.param("r", ["-D"], id="mode r with the clock"),
])
def test_sensor_modes_give_the_angles_of_mode_a(build, demo, tmp_path, mode, options):
    from review import geometry, readers
    run = simulated_run(build, tmp_path, lines=1, seconds=2, mode=mode, logger=options)
    assert run.returncode == 0, run.stderr.decode(errors="replace")[-2000:]
    result = run_review("laser.txt", "gyro.txt", "-o", "review", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert f"mode {mode} (told from the records), a time column" in \
        (tmp_path / "review" / "summary.txt").read_text()
    # The simulated unit's values depend on the packet's TAIL_WORD alone: the same packets in
    # mode a give the angles themselves.
    angles = {}
    for name, path in (("a", demo[0] / "gyro.txt"), (mode, tmp_path / "gyro.txt")):
        gyro = readers.read_gyro(str(path))
        att = geometry.attitude(gyro)
        keep = gyro.tail < 150
        angles[name] = np.degrees([att.roll[keep], att.pitch[keep], np.unwrap(att.heading[keep])])
        angles[name + " tails"] = gyro.tail[keep]
    common = np.intersect1d(angles["a tails"], angles[mode + " tails"])
    assert len(common) > 100
    pick = lambda name: angles[name][:, np.isin(angles[name + " tails"], common)]
    error = np.abs(pick(mode) - pick("a"))
    # Roll, pitch, heading in degrees: the sensors' noise (about 0.1 deg from the accelerometer,
    # 0.6 deg from the magnetometer's 0.002 gauss on 0.2 gauss horizontal) and no more.
    assert np.all(error.max(axis=1) < [0.5, 0.5, 3.0]), error.max(axis=1)
    assert np.all(error.mean(axis=1) < [0.15, 0.15, 0.8]), error.mean(axis=1)


def test_a_run_with_faults_is_summed_up(build, tmp_path):
    run = simulated_run(build, tmp_path, lines=12, seconds=3,
                        ahrs=["--bad-burst", "4@60", "--bad-burst", "3@150", "--sent-log",
                              str(tmp_path / "sent.log")],
                        hsif={"HSIF_SIM_LOST_LINES": "3,8"})
    assert run.returncode == 0, run.stderr.decode(errors="replace")[-2000:]
    (tmp_path / "gps.txt").write_text(gps_file(seconds=300, silent=[(100, 60)], invalid=3,
                                               lost=5, no_fix=60))
    result = run_review("laser.txt", "gyro.txt", "gps.txt", "-o", "review", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    summary = (tmp_path / "review" / "summary.txt").read_text()
    problems = summary.split("Notes:")[0]
    lost = re.search(r"samples lost in 2 lines \(3, 8, counted from 0\): the mirror angle jumps "
                     r"2 times, about (\d+) samples missing", problems)
    assert lost and abs(int(lost.group(1)) - 2000) <= 4, problems
    # The packets the unit sent with a bad checksum and the logger read but did not record.
    recorded = [int(line.split()[-1]) for line in (tmp_path / "gyro.txt").read_text().splitlines()]
    bad = [int(line.split()[1]) for line in (tmp_path / "sent.log").read_text().splitlines()
           if "checksum" in line]
    inside = [t for t in bad if recorded[0] < t < recorded[-1]]
    assert inside, "the run ended before the bad bursts"
    assert f"gyro: {len(inside)} invalid packets in {1 + (min(inside) < 150 < max(inside))} " \
           "gaps of the count" in problems
    assert "the GPS receiver fell silent 1 time, longest 61.0 s from 99.2 s" in problems
    assert "GPS: 3 of 243 sentences invalid (checksum 3)" in problems
    assert "GPS: 5 sentences could not be kept (#lost)" in problems
    assert "GPS: a fix in only 75 % of the GGA reports" in problems
    # The order a surveyor asks in: the scan first, the GPS last.
    assert problems.index("samples lost") < problems.index("gyro:") < problems.index("GPS")
