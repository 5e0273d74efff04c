"""Files that are not what the review expects get one message naming the file, the line and
what was expected, exit code 1 and no outputs; a GPS file that is missing, empty or without
a fix is no error."""

import os
import signal
import subprocess

import numpy as np
import pytest

from conftest import LAUNCHER, gga, gyro_text, laser_text, left_behind, nmea, review_env, \
    run_review

ROWS = [(100.0, 2000.0, 0.1, 0.2), (120.5, 1500.0, 0.2, 0.2), (130.25, 1400.0, 0.3, 0.2)]
LASER = laser_text(ROWS)
RECORD_A = np.r_[1.0, -2.0, 45.0, np.zeros(3), 0.0, 0.0, -1.0, 0.2, 0.0, 0.45]
GYRO = gyro_text([RECORD_A] * 3)
GYRO_C = gyro_text([RECORD_A[3:]] * 3, "c")
GYRO_R = gyro_text([2.5 + RECORD_A[3:] / np.repeat([150.0, 6.0, 1.5], 3) * 2.0] * 3, "r")
GPS = "".join(f"{t:.6f} {gga(48.1, 11.5)}\n" for t in range(3))


def laser_rows(text):
    return text.split("\n")


BAD = [
    ("laser: empty", {"laser": ""}, [], "laser.txt: the file is empty"),
    ("laser: another header", {"laser": "Distance\tRange\t\n1.00\t2\t"}, [],
     "laser.txt, line 1: expected the laser file's header row"),
    ("laser: the gyro file in its place", {"laser": GYRO}, [],
     "laser.txt, line 1: expected the laser file's header row"),
    ("laser: a row of seven fields", {"laser": LASER.replace("\t120500\t", "\t")}, [],
     "laser.txt, line 3: 7 fields where a laser file row has 8"),
    ("laser: the last row cut short", {"laser": LASER[:-9]}, [],
     "laser.txt, line 4: 5 fields where a laser file row has 8 (the file ends there"),
    ("laser: text for a number", {"laser": LASER.replace("100.00", "1o0.00")}, [],
     "laser.txt, line 2: column Distance(inches): expected a number, found '1o0.00'"),
    ("laser: an empty field", {"laser": LASER.replace("\t130250\t", "\t\t")}, [],
     "laser.txt, line 4: column Raw Range(bits): expected a number, found an empty field"),
    ("laser: a row without its last tab", {"laser": LASER.replace("0\t0\t\n", "0\t0\n", 1)}, [],
     "laser.txt, line 2: 7 fields where a laser file row has 8"),
    ("gyro: empty", {"gyro": ""}, [], "gyro.txt: the file is empty"),
    ("gyro: nine fields", {"gyro": "1 2 3 4 5 6 7 8 9\n"}, [],
     "gyro.txt, line 1: expected a gyro record with fields separated by single blanks: 15 or 16"),
    ("gyro: mode c where -M a is given", {"gyro": GYRO_C}, ["-M", "a"],
     "gyro.txt, line 1: expected a mode-a record of 15 or 16 fields, found 12"),
    ("gyro: mode a where -M r is given", {"gyro": GYRO}, ["-M", "r"],
     "gyro.txt, line 1: expected a mode-r record of 12 or 13 fields, found 15"),
    ("gyro: mode c where -M r is given", {"gyro": GYRO_C}, ["-M", "r"],
     "gyro.txt, line 1: expected a mode-r record (nine sensor voltages from 0 to 5 V"),
    ("gyro: mode r where -M c is given", {"gyro": GYRO_R}, ["-M", "c"],
     "gyro.txt, line 1: expected mode-c records (rates in deg/s, acceleration in g"),
    ("gyro: a mode c record among mode a", {"gyro": GYRO + GYRO_C}, [],
     "gyro.txt, line 4: 12 fields where a record of this file (mode a, as its first line) has 15"),
    ("gyro: a double blank", {"gyro": GYRO.replace("2 1.0", "2  1.0", 1)}, [],
     "gyro.txt, line 2: 16 fields where a record of this file (mode a, as its first line) has 15"),
    ("gyro: the last record cut short", {"gyro": GYRO[:-1]}, [],
     "gyro.txt, line 3: the file ends in the middle of this record"),
    ("gyro: text for a number", {"gyro": GYRO.replace("-2.000000", "-2.0x0000", 1)}, [],
     "gyro.txt, line 1: column pitch: expected a number, found '-2.0x0000'"),
    ("gyro: the laser file in its place", {"gyro": LASER + "\n"}, [],
     "gyro.txt, line 1: this is the laser file's header row"),
    ("gps: a line without its time", {"gps": GPS + gga(48.1, 11.5) + "\n"}, [],
     "gps.txt, line 4: expected '<seconds> $<sentence>*HH'"),
    ("gps: an unknown reason", {"gps": GPS + "3.000000 #garbled abc\n"}, [],
     "gps.txt, line 4: unknown reason '#garbled'"),
    ("gps: the last line cut short", {"gps": GPS[:-1]}, [],
     "gps.txt, line 3: the file ends in the middle of this line"),
]


def write(tmp_path, files):
    merged = {"laser": LASER, "gyro": GYRO, "gps": GPS, **files}
    for name, text in merged.items():
        if text is not None:
            (tmp_path / f"{name}.txt").write_text(text)


@pytest.mark.parametrize("files, options, message", [b[1:] for b in BAD],
                         ids=[b[0] for b in BAD])
def test_bad_input_is_refused_by_name_and_line(tmp_path, files, options, message):
    write(tmp_path, files)
    result = run_review("laser.txt", "gyro.txt", "gps.txt", "-o", "out", *options, cwd=tmp_path)
    assert result.returncode == 1
    assert result.stdout == ""
    lines = result.stderr.splitlines()
    assert len(lines) == 1 and lines[0].startswith("morvane-review: "), result.stderr
    assert message in lines[0]
    assert not (tmp_path / "out").exists() or not any((tmp_path / "out").iterdir())
    assert left_behind(tmp_path) == []


NO_GPS = [
    ("no GPS file", None, "no GPS file (gps.txt): the review leaves GPS out"),
    ("an empty GPS file", "", "the GPS file is empty: nothing came from the receiver"),
    ("sentences without a fix", "".join(f"{t}.000000 {gga(0, 0, quality=0)}\n"
                                        for t in range(5)), "GPS: no fix in 5 GGA reports"),
    ("only invalid stretches", "1.000000 #checksum $GPGGA,1*00\n2.000000 #lost 4\n",
     "GPS: no position report (GGA or RMC) in the file: no fix"),
]


@pytest.mark.parametrize("gps, finding", [c[1:] for c in NO_GPS], ids=[c[0] for c in NO_GPS])
def test_gps_without_a_fix_is_left_out(tmp_path, gps, finding):
    write(tmp_path, {"gps": gps})
    result = run_review("laser.txt", "gyro.txt", "gps.txt", "-o", "out", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    out = tmp_path / "out"
    assert finding in (out / "summary.txt").read_text()
    assert not (out / "gps.png").exists()
    assert "gps.png" not in (out / "report.html").read_text()


def test_a_checksum_that_does_not_match_counts_as_damaged(tmp_path):
    good = gga(48.1, 11.5)
    damaged = good[:-2] + ("00" if good[-2:] != "00" else "01")
    write(tmp_path, {"gps": f"0.000000 {good}\n1.000000 {damaged}\n2.000000 {nmea('GPRMC,1')}\n"})
    result = run_review("laser.txt", "gyro.txt", "gps.txt", "-o", "out", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    summary = (tmp_path / "out" / "summary.txt").read_text()
    assert "GPS: 1 of 3 sentences invalid (damaged in the file 1)" in summary


COORDINATES = [
    ("as receivers write them", "4807.0381,N,01131.0002,E", "48.1173017, 11.5166700"),
    ("a longitude without its leading zero", "4807.0381,N,1131.0002,E", "48.1173017, 11.5166700"),
    ("south and west", "3351.5100,S,15112.6200,W", "-33.8585000, -151.2103333"),
]


@pytest.mark.parametrize("position, mean", [c[1:] for c in COORDINATES],
                         ids=[c[0] for c in COORDINATES])
def test_gps_positions_are_read_in_degrees_and_minutes(tmp_path, position, mean):
    sentence = nmea(f"GPGGA,123519.00,{position},1,08,0.9,545.4,M,46.9,M,,")
    write(tmp_path, {"gps": "".join(f"{t}.000000 {sentence}\n" for t in range(3))})
    result = run_review("laser.txt", "gyro.txt", "gps.txt", "-o", "out", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    summary = (tmp_path / "out" / "summary.txt").read_text()
    assert f"mean position  {mean}, altitude 545.40 m" in summary


def test_ctrl_c_ends_the_review_without_outputs(tmp_path):
    # A laser file that is a pipe: the review waits in its read until the signal comes.
    write(tmp_path, {"laser": None})
    os.mkfifo(tmp_path / "laser.txt")
    review = subprocess.Popen([str(LAUNCHER), "laser.txt", "gyro.txt", "-o", "out"], cwd=tmp_path,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              env=review_env(tmp_path))
    with open(tmp_path / "laser.txt", "w"):  # returns once the review has opened it
        review.send_signal(signal.SIGINT)
        out, err = review.communicate(timeout=60)
    assert review.returncode == 130
    assert err == "morvane-review: interrupted; no outputs written\n" and out == ""
    assert not (tmp_path / "out").exists()
    assert left_behind(tmp_path) == []
