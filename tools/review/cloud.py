"""The beams and the points of a laser file, computed a block of samples at a time."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

from . import geometry

BLOCK = 1 << 18


@dataclass
class Cloud:
    azimuth: np.ndarray     # degrees, -180 to 180, of each beam in the scanner frame (float32)
    elevation: np.ndarray   # degrees, -90 to 90
    points: np.ndarray      # (n, 3) metres, float32, in the output frame
    transform: np.ndarray   # M: output frame = M scanner frame


def build(laser, transform: np.ndarray, progress=None) -> Cloud:
    n = laser.samples
    azimuth = np.empty(n, np.float32)
    elevation = np.empty(n, np.float32)
    points = np.empty((n, 3), np.float32)
    for lo in range(0, n, BLOCK):
        hi = min(lo + BLOCK, n)
        u = geometry.directions(laser.angle1[lo:hi], laser.angle2[lo:hi])
        azimuth[lo:hi] = np.degrees(np.arctan2(u[:, 1], u[:, 0]))
        elevation[lo:hi] = np.degrees(np.arcsin(np.clip(u[:, 2], -1.0, 1.0)))
        u *= (laser.distance[lo:hi] * geometry.METRES_PER_INCH)[:, None]
        points[lo:hi] = u @ transform.T
        if progress is not None:
            progress.update(hi - lo)
    return Cloud(azimuth=azimuth, elevation=elevation, points=points, transform=transform)
