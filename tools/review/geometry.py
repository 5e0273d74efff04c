"""The frames of docs/geometry.md: sample directions in the scanner frame, the attitude from
the gyro file, and the turn from the scanner frame to east-north-up."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

METRES_PER_INCH = 0.0254
EARTH_RADIUS = 6371008.8  # metres, the mean radius

# Mode r: every channel sits at 2.5 V at rest and swings 2 V at full scale (gyro 150 deg/s,
# accelerometer 6 g, magnetometer 1.5 gauss, the unit's ranges x 1.5).
VOLTS_CENTRE = 2.5
VOLTS_SWING = 2.0
FULL_SCALE = np.repeat([150.0, 6.0, 1.5], 3)

# Scanner frame (x ahead, y left, z up) to the AHRS body frame (X ahead, Y right, Z down).
SCANNER_TO_BODY = np.diag([1.0, -1.0, -1.0])
# North-east-down to east-north-up.
NED_TO_ENU = np.array([[0.0, 1.0, 0.0], [1.0, 0.0, 0.0], [0.0, 0.0, -1.0]])


def directions(angle1: np.ndarray, angle2: np.ndarray) -> np.ndarray:
    """Unit vectors (n, 3) of the beams at mirror angle angle1 and pan angle angle2 (radians)."""
    c1 = np.cos(angle1)
    out = np.empty((len(angle1), 3))
    out[:, 0] = c1 * np.cos(angle2)
    out[:, 1] = c1 * np.sin(angle2)
    out[:, 2] = np.sin(angle1)
    return out


def scanner_points(distance_inches: np.ndarray, angle1: np.ndarray,
                   angle2: np.ndarray) -> np.ndarray:
    """The measured points (n, 3) in metres in the scanner frame."""
    points = directions(angle1, angle2)
    points *= (distance_inches * METRES_PER_INCH)[:, None]
    return points


def body_to_ned(roll: float, pitch: float, heading: float) -> np.ndarray:
    """C = Rz(heading) Ry(pitch) Rx(roll), radians: p_ned = C p_body."""
    cr, sr = np.cos(roll), np.sin(roll)
    cp, sp = np.cos(pitch), np.sin(pitch)
    ch, sh = np.cos(heading), np.sin(heading)
    rx = np.array([[1, 0, 0], [0, cr, -sr], [0, sr, cr]])
    ry = np.array([[cp, 0, sp], [0, 1, 0], [-sp, 0, cp]])
    rz = np.array([[ch, -sh, 0], [sh, ch, 0], [0, 0, 1]])
    return rz @ ry @ rx


def scanner_to_enu(roll: float, pitch: float, heading: float) -> np.ndarray:
    """M with p_enu = M p_scanner, for the attitude in radians."""
    return NED_TO_ENU @ body_to_ned(roll, pitch, heading) @ SCANNER_TO_BODY


def sensor_units(sensors: np.ndarray, mode: str) -> np.ndarray:
    """The nine channels in deg/s, g and gauss: mode r's voltages converted, others as they are."""
    if mode == "r":
        return (sensors - VOLTS_CENTRE) / VOLTS_SWING * FULL_SCALE
    return sensors


def tilt(accel: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Roll and pitch (radians) from the specific force (n, 3) of a unit at rest."""
    fx, fy, fz = accel[..., 0], accel[..., 1], accel[..., 2]
    return np.arctan2(-fy, -fz), np.arctan2(fx, np.hypot(fy, fz))


def magnetic_heading(mag: np.ndarray, roll: np.ndarray, pitch: np.ndarray) -> np.ndarray:
    """Heading (radians, -pi to pi, clockwise from magnetic north) from the field in the body
    axes, tilt-compensated with roll and pitch."""
    mx, my, mz = mag[..., 0], mag[..., 1], mag[..., 2]
    cr, sr = np.cos(roll), np.sin(roll)
    cp, sp = np.cos(pitch), np.sin(pitch)
    hx = mx * cp + (my * sr + mz * cr) * sp
    hy = my * cr - mz * sr
    return np.arctan2(-hy, hx)


def circular_mean(angles: np.ndarray) -> float:
    return float(np.arctan2(np.mean(np.sin(angles)), np.mean(np.cos(angles))))


def circular_spread(angles: np.ndarray) -> float:
    """The circular standard deviation (radians)."""
    r = np.hypot(np.mean(np.sin(angles)), np.mean(np.cos(angles)))
    return float(np.sqrt(-2.0 * np.log(max(min(r, 1.0), 1e-300))))


@dataclass
class Attitude:
    """The attitude of every record (radians) and the mean the scan is levelled with."""
    roll: np.ndarray
    pitch: np.ndarray
    heading: np.ndarray        # magnetic, -pi to pi
    rates: np.ndarray          # body rates, deg/s, (n, 3)
    mean_roll: float
    mean_pitch: float
    mean_heading: float        # declination added
    method: str                # how it was found, for the summary and the PLY header


def attitude(gyro, declination_deg: float = 0.0) -> Attitude:
    """Each record's attitude and the mean attitude of a gyro file (readers.GyroFile)."""
    units = sensor_units(gyro.sensors, gyro.mode)
    rates = units[:, 0:3]
    declination = np.radians(declination_deg)
    if gyro.mode == "a":
        roll, pitch, heading = (np.radians(gyro.angles[:, k]) for k in range(3))
        mean_roll, mean_pitch = circular_mean(roll), circular_mean(pitch)
        mean_heading = circular_mean(heading)
        method = "mean of the unit's roll, pitch and yaw (mode a)"
    else:
        accel, mag = units[:, 3:6], units[:, 6:9]
        roll, pitch = tilt(accel)
        heading = magnetic_heading(mag, roll, pitch)
        mean_roll, mean_pitch = (float(v) for v in tilt(accel.mean(axis=0)))
        mean_heading = float(magnetic_heading(mag.mean(axis=0), mean_roll, mean_pitch))
        method = (f"roll and pitch from the mean gravity vector, heading from the mean magnetic "
                  f"field, tilt-compensated (mode {gyro.mode})")
    if declination_deg:
        method += f", declination {declination_deg:+.2f} deg"
    mean_heading = float(np.angle(np.exp(1j * (mean_heading + declination))))
    return Attitude(roll=roll, pitch=pitch, heading=heading, rates=rates, mean_roll=mean_roll,
                    mean_pitch=mean_pitch, mean_heading=mean_heading, method=method)


def local_metres(lat: np.ndarray, lon: np.ndarray, lat0: float,
                 lon0: float) -> tuple[np.ndarray, np.ndarray]:
    """East and north (metres) of each position from (lat0, lon0), degrees."""
    east = EARTH_RADIUS * np.radians(lon - lon0) * np.cos(np.radians(lat0))
    north = EARTH_RADIUS * np.radians(lat - lat0)
    return east, north
