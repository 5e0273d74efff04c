"""The point cloud as a binary little-endian PLY file."""

from __future__ import annotations

import numpy as np

VERTEX = np.dtype([("x", "<f4"), ("y", "<f4"), ("z", "<f4"), ("amplitude", "<f4"),
                   ("distance", "<f4"), ("line", "<i4")])
# Vertices written at a time: the structured copy stays a few megabytes.
BLOCK = 1 << 18


def header(count: int, comments: list[str]) -> bytes:
    lines = ["ply", "format binary_little_endian 1.0"]
    lines += ["comment " + " ".join(c.split()) for c in comments]
    lines.append(f"element vertex {count}")
    types = {"<f4": "float", "<i4": "int"}
    lines += [f"property {types[VERTEX[name].str]} {name}" for name in VERTEX.names]
    lines.append("end_header")
    # The header is ASCII: a file name's other characters are written as escapes.
    return ("\n".join(lines) + "\n").encode("ascii", "backslashreplace")


def write(f, points: np.ndarray, amplitude: np.ndarray, distance: np.ndarray, metres: float,
          line: np.ndarray, comments: list[str], progress=None):
    """Writes the vertices (points (n, 3) in metres, amplitude, distance in metres per unit
    of distance, the laser line of each) to the open binary file f. The distance is scaled a
    block at a time, so no scaled copy of the column is made."""
    n = len(points)
    f.write(header(n, comments))
    block = np.empty(min(n, BLOCK), VERTEX)
    for lo in range(0, n, BLOCK):
        hi = min(lo + BLOCK, n)
        part = block[: hi - lo]
        part["x"], part["y"], part["z"] = points[lo:hi, 0], points[lo:hi, 1], points[lo:hi, 2]
        part["amplitude"] = amplitude[lo:hi]
        part["distance"] = distance[lo:hi] * metres
        part["line"] = line[lo:hi]
        f.write(part.tobytes())
        if progress is not None:
            progress.update(hi - lo)
