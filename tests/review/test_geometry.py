"""Geometry round trips through the review program: laser rows of known points come out of
scan.ply where they belong, and a known tilt and heading in the gyro file are taken out."""

import numpy as np
import pytest

from conftest import gyro_text, laser_text, read_ply, run_review, transform_of

INCH = 0.0254
FIELD_NED = np.array([0.20, 0.0, 0.45])  # gauss: north, east, down


def rotation(roll, pitch, heading):
    """Body (X ahead, Y right, Z down) to north-east-down, angles in degrees."""
    r, p, h = np.radians([roll, pitch, heading])
    rx = np.array([[1, 0, 0], [0, np.cos(r), -np.sin(r)], [0, np.sin(r), np.cos(r)]])
    ry = np.array([[np.cos(p), 0, np.sin(p)], [0, 1, 0], [-np.sin(p), 0, np.cos(p)]])
    rz = np.array([[np.cos(h), -np.sin(h), 0], [np.sin(h), np.cos(h), 0], [0, 0, 1]])
    return rz @ ry @ rx


def scanner_to_world(roll, pitch, heading):
    """Scanner (x ahead, y left, z up) to east-north-up."""
    return np.array([[0, 1, 0], [1, 0, 0], [0, 0, -1]]) @ rotation(roll, pitch, heading) @ \
        np.diag([1, -1, -1])


def rows_of(points):
    """Laser rows (distance in inches, amplitude, mirror and pan angle) for scanner-frame
    points, rounded as the file rounds them, and the points those rounded rows stand for."""
    d = np.linalg.norm(points, axis=1)
    a1 = np.round(np.mod(np.arcsin(points[:, 2] / d), 2 * np.pi), 4)
    a2 = np.round(np.mod(np.arctan2(points[:, 1], points[:, 0]), 2 * np.pi), 4)
    inches = np.round(d / INCH, 2)
    rows = [(i, 1000.0, m, p) for i, m, p in zip(inches, a1, a2)]
    exact = (inches * INCH)[:, None] * np.c_[np.cos(a1) * np.cos(a2), np.cos(a1) * np.sin(a2),
                                              np.sin(a1)]
    return rows, exact


def sensors(mode, roll, pitch, heading):
    """The nine channels of a unit at rest at this attitude (rates 0)."""
    r, p = np.radians([roll, pitch])
    accel = np.array([np.sin(p), -np.sin(r) * np.cos(p), -np.cos(r) * np.cos(p)])
    mag = rotation(roll, pitch, heading).T @ FIELD_NED
    channels = np.r_[0.0, 0.0, 0.0, accel, mag]
    if mode == "r":
        channels = 2.5 + channels / np.repeat([150.0, 6.0, 1.5], 3) * 2.0
    return channels


# A room in the world: the floor 1.45 m below the scanner, walls 4 m north and 3 m east.
rng = np.random.default_rng(3)
FLOOR = np.c_[rng.uniform(-2, 2.5, 300), rng.uniform(-2, 3.5, 300), np.full(300, -1.45)]
NORTH = np.c_[rng.uniform(-2, 2.5, 300), np.full(300, 4.0), rng.uniform(-1.4, 1.3, 300)]
EAST = np.c_[np.full(300, 3.0), rng.uniform(-2, 3.5, 300), rng.uniform(-1.4, 1.3, 300)]


@pytest.mark.parametrize("mode, roll, pitch, heading, timed", [
    pytest.param("a", 5.0, -3.0, 30.0, False, id="mode a, counts only"),
    pytest.param("a", -2.0, 7.5, 300.0, True, id="mode a, a time column"),
    pytest.param("c", 5.0, -3.0, 30.0, True, id="mode c from gravity and field"),
    pytest.param("c", -4.0, 6.0, 250.0, False, id="mode c, heading south-west"),
    pytest.param("r", 3.0, 2.0, 135.0, True, id="mode r, sensor voltages"),
])
def test_levelling_takes_the_tilt_and_heading_out(tmp_path, mode, roll, pitch, heading, timed):
    m = scanner_to_world(roll, pitch, heading)
    world = np.vstack([FLOOR, NORTH, EAST])
    rows, exact = rows_of(world @ m)  # world @ m = the scanner frame points, M^T p each
    (tmp_path / "laser.txt").write_text(laser_text(rows))
    if mode == "a":
        record = np.r_[roll, pitch, (heading + 180) % 360 - 180, sensors("c", roll, pitch,
                                                                          heading)]
    else:
        record = sensors(mode, roll, pitch, heading)
    times = np.arange(50) * 0.01 if timed else None
    (tmp_path / "gyro.txt").write_text(gyro_text([record] * 50, mode, times))
    result = run_review("laser.txt", "gyro.txt", "-o", "out", "--skip", "scan,plan,attitude",
                        cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    comments, vertices = read_ply(tmp_path / "out" / "scan.ply")
    header_m = transform_of(comments)
    # The attitude as the file's six decimals of g and gauss give it.
    np.testing.assert_allclose(header_m, m, atol=1e-5)
    points = vertices["positions"]
    # The PLY holds M times the rows' own points, to float precision.
    np.testing.assert_allclose(points, exact @ header_m.T, atol=1e-6)
    # The room comes out level and facing north: each surface where the world has it.
    floor, north, east = np.split(points, 3)
    assert np.abs(floor[:, 2] + 1.45).max() < 2e-3
    assert np.abs(north[:, 1] - 4.0).max() < 2e-3
    assert np.abs(east[:, 0] - 3.0).max() < 2e-3


def test_without_levelling_the_points_are_the_rows(tmp_path):
    # Ahead, left, up, straight down, over the top and behind, at odd pan angles.
    rows = [(100.0, 500.0, 0.0, 0.0), (200.0, 1.0, 0.0, 1.5708), (50.5, 2.0, 1.5708, 0.0),
            (80.25, 3.0, 4.7124, 2.0), (123.45, 4.0, 2.5, 4.0), (321.0, 5.0, 3.1416, 0.7854),
            (2400.0, 4095.0, 0.3, 6.2831)]
    # Windows line ends, and a name the PLY's ASCII header must escape.
    (tmp_path / "räum.txt").write_text(laser_text(rows, crlf=True))
    (tmp_path / "gyro.txt").write_text(gyro_text([np.r_[10.0, 10.0, 10.0, sensors(
        "c", 10, 10, 10)]] * 3))
    result = run_review("räum.txt", "gyro.txt", "-o", "out", "--no-level", "--skip",
                        "scan,plan,attitude", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    comments, vertices = read_ply(tmp_path / "out" / "scan.ply")
    assert comments[0].startswith("morvane-review point cloud of r\\xe4um.txt")
    d, amplitude, a1, a2 = np.array(rows).T
    expected = (d * INCH)[:, None] * np.c_[np.cos(a1) * np.cos(a2), np.cos(a1) * np.sin(a2),
                                           np.sin(a1)]
    np.testing.assert_allclose(vertices["positions"], expected, atol=1e-6)
    np.testing.assert_allclose(vertices["distance"][:, 0], d * INCH, rtol=1e-6)
    np.testing.assert_array_equal(vertices["amplitude"][:, 0], amplitude)
    np.testing.assert_array_equal(transform_of(comments), np.eye(3))
