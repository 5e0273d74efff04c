"""Readers of the run's three files: the laser file, the gyro file and the GPS file.

Each reader checks the whole file against its layout and raises InputError naming the file,
the line and what was expected at the first place it does not fit. The two large files are
parsed with numpy over the raw bytes, a block of rows at a time: every field of a block is
gathered right-aligned into a small matrix of characters, checked to be a plain decimal
number and turned into its value with one matrix product, so a million rows take well under
a second and the memory stays within a few copies of the columns kept.
"""

from __future__ import annotations

import math
import os
import sys
from dataclasses import dataclass, field

import numpy as np

LASER_TITLES = ("Distance(inches)", "Raw Range(bits)", "Amplitude", "Temp(F)",
                "Angle1(radins)", "Angle2(radins", "Index1", "Index2")
LASER_HEADER = "".join(title + "\t" for title in LASER_TITLES).encode("ascii")
SAMPLES_PER_LINE = 5000

SENSOR_CHANNELS = ("gyro x", "gyro y", "gyro z", "accel x", "accel y", "accel z",
                   "mag x", "mag y", "mag z")
ANGLE_CHANNELS = ("roll", "pitch", "yaw")

# Rows parsed per block: small enough that the block's character matrices stay a few
# megabytes, large enough that numpy's per-call cost does not count.
BLOCK_ROWS = 32768
# Fields longer than this are parsed one by one (a number written with very many digits).
WIDE_FIELD = 24

_TAB, _LF, _CR, _BLANK = 9, 10, 13, 32
_DOT, _MINUS, _ZERO = 46, 45, 48


class InputError(Exception):
    """A file that is not what the review expects: the file, the line (1-based, or None for
    the file as a whole) and what was expected."""

    def __init__(self, path: str, line: int | None, message: str):
        self.path = path
        self.line = line
        self.message = message
        where = f"{path}, line {line}" if line is not None else path
        super().__init__(f"{where}: {message}")


def _shown(text: bytes, limit: int = 60) -> str:
    """A field or line as the message shows it: quoted, control bytes escaped, cut short."""
    shown = repr(text[:limit].decode("latin-1"))
    return shown + (" ..." if len(text) > limit else "")


# ---------------------------------------------------------------------------------------------
# Lines and fields


@dataclass
class _Lines:
    starts: np.ndarray  # offset of each line's first byte
    ends: np.ndarray    # offset just past each line's last byte, its line end excluded
    crlf: bool


def _split_lines(path: str, buf: np.ndarray, first_line: int, terminated: bool) -> _Lines:
    """The lines of buf. terminated: every line ends in a line end (the gyro file); otherwise
    every line after the first is introduced by one (the laser file). CR LF line ends are
    taken when the first line has one, and then required throughout."""
    newlines = np.flatnonzero(buf == _LF)
    size = len(buf)
    crlf = len(newlines) > 0 and newlines[0] > 0 and buf[newlines[0] - 1] == _CR
    if terminated:
        starts = np.concatenate(([0], newlines[:-1] + 1)) if len(newlines) else np.zeros(0, np.int64)
        ends = newlines.copy()
        if len(newlines) == 0 or newlines[-1] != size - 1:
            tail = 0 if len(newlines) == 0 else newlines[-1] + 1
            line = first_line + len(newlines)
            raise InputError(path, line, "the file ends in the middle of this record (no line end "
                             f"after {_shown(bytes(buf[tail:size]))}): the last record is cut short")
    else:
        starts = np.concatenate(([0], newlines + 1))
        ends = np.concatenate((newlines, [size]))
        # A line end after the last row (an editor's) is taken as no row.
        if len(starts) > 1 and starts[-1] == size:
            starts, ends = starts[:-1], ends[:-1]
    if crlf:
        before = buf[np.maximum(newlines - 1, 0)]
        bad = np.flatnonzero(before != _CR)
        if len(bad):
            raise InputError(path, first_line + int(bad[0]),
                             "a line end without CR where the file's first line ends in CR LF")
        ends[: len(newlines)] -= 1
    # Offsets of 4 bytes while they fit: the two arrays are a quarter of the file's size.
    offsets = np.int32 if size < 2**31 else np.int64
    return _Lines(starts.astype(offsets), ends.astype(offsets), bool(crlf))


def _separators(path: str, buf: np.ndarray, lines: _Lines, rows: slice, sep: int, count: int,
                trailing: bool, first_line: int, what: str) -> np.ndarray:
    """The positions of the separators of the rows, one row per line of the result; each row
    must have exactly `count` (and, with trailing, end with one)."""
    starts = lines.starts[rows]
    ends = lines.ends[rows]
    lo, hi = int(starts[0]), int(ends[-1])
    found = np.flatnonzero(buf[lo:hi] == sep) + lo
    n = len(starts)
    ok = len(found) == n * count
    if ok and count:
        grid = found.reshape(n, count)
        ok = bool(np.all(grid[:, 0] >= starts) and np.all(grid[:, -1] < ends))
        if ok and trailing:
            ok = bool(np.all(grid[:, -1] == ends - 1))
    if ok:
        return found.reshape(n, count)
    # Find the first row that does not fit and say what is wrong with it.
    per_row = np.searchsorted(found, ends) - np.searchsorted(found, starts)
    for r in range(n):
        line = first_line + (rows.start or 0) + r
        text = bytes(buf[starts[r]:ends[r]])
        last = r == n - 1 and rows.stop is None
        fields = per_row[r] if trailing else per_row[r] + 1
        wanted = count if trailing else count + 1
        if per_row[r] != count:
            cut = " (the file ends there: the last row is cut short)" if last and per_row[r] < count else ""
            raise InputError(path, line, f"{fields} fields where {what} has {wanted}{cut}: {_shown(text)}")
        if trailing and text[-1:] != bytes([sep]):
            cut = " (the file ends there: the last row is cut short)" if last else ""
            raise InputError(path, line, f"the row does not end with a tab as {what} does{cut}: "
                             f"{_shown(text)}")
    raise InputError(path, None, f"the rows do not have the fields of {what}")  # not reached


def _parse_column(path: str, buf: np.ndarray, starts: np.ndarray, ends: np.ndarray,
                  first_line: int, title: str) -> np.ndarray:
    """The values of one column of fields buf[starts[i]:ends[i]], each a plain decimal number
    (an optional minus sign, digits, at most one decimal point)."""
    n = len(starts)
    lengths = ends - starts
    values = np.empty(n, np.float64)
    if n == 0:
        return values
    wide = lengths > WIDE_FIELD
    if np.any(wide):
        for i in np.flatnonzero(wide):
            values[i] = _parse_one(path, bytes(buf[starts[i]:ends[i]]), first_line + int(i), title)
        narrow = np.flatnonzero(~wide)
        if len(narrow):
            values[narrow] = _parse_column(path, buf, starts[narrow], ends[narrow],
                                           first_line, title)
        return values
    width = int(lengths.max())
    # Characters right-aligned: column j of the matrix is the (width - j)-th character from the
    # field's end; places before the field's start read as padding.
    offsets = np.arange(-width, 0)
    index = ends[:, None] + offsets[None, :]
    inside = index >= starts[:, None]
    chars = buf[np.where(inside, index, 0)]
    digits = chars - np.uint8(_ZERO)
    is_digit = (digits < 10) & inside
    is_dot = (chars == _DOT) & inside
    first = (width - lengths)
    rows = np.arange(n)
    negative = chars[rows, np.minimum(first, width - 1)] == _MINUS
    ndots = is_dot.sum(axis=1)
    ndigits = is_digit.sum(axis=1)
    good = (ndigits + ndots + negative == lengths) & (ndots <= 1) & (ndigits >= 1) & (lengths > 0)
    if not np.all(good):
        bad = int(np.flatnonzero(~good)[0])
        text = bytes(buf[starts[bad]:ends[bad]])
        raise InputError(path, first_line + bad, f"column {title}: expected a number, found "
                         f"{_shown(text) if text else 'an empty field'}")
    place = np.where(is_digit, digits, 0).astype(np.float64)
    # Decimals: the places right of the point (0 without a point).
    dot_at = np.where(ndots == 1, width - 1 - np.argmax(is_dot, axis=1), -1)
    decimals = np.maximum(dot_at, 0)
    shared = dot_at[0]
    if np.all(dot_at == shared):
        # The logger's files: the same number of decimals in every row of a column.
        exponent = np.arange(width - 1, -1, -1)
        if shared >= 0:
            exponent = exponent - (exponent > shared)
        values[:] = place @ (10.0 ** exponent)
        if shared > 0:
            values /= 10.0 ** shared
    else:
        exponent = np.arange(width - 1, -1, -1)[None, :]
        exponent = exponent - ((exponent > dot_at[:, None]) & (dot_at[:, None] >= 0))
        values[:] = (place * 10.0 ** exponent).sum(axis=1) / 10.0 ** decimals
    values[negative] *= -1.0
    return values


_PAD = np.array([(1 << (8 * m)) - 1 for m in range(9)], dtype=np.uint64)
_ASCII_ZEROS = np.uint64(0x3030303030303030)
_U64 = 0xFFFFFFFFFFFFFFFF


def _digits(words: np.ndarray, ends: np.ndarray, count) -> np.ndarray:
    """The number written by the `count` digits (at most 8) just before each of ends: the 8
    bytes there read as one little-endian word (words[i] holds bytes i to i + 7), the bytes
    before the digits made '0', and the 8 digits combined in three multiply-and-shift steps,
    the digit pairs, then fours, then all eight."""
    at = ends - 8
    word = words[np.maximum(at, 0)]
    if at.min() < 0:
        # Digits at the very start of the file: the word from byte 0, moved into place.
        word = word << (np.maximum(-at, 0).astype(np.uint64) * np.uint64(8))
    pad = _PAD[8 - count]
    word = (word & ~pad) | (_ASCII_ZEROS & pad)
    word = ((word & np.uint64(0x0F0F0F0F0F0F0F0F)) * np.uint64(10 * 256 + 1)) >> np.uint64(8)
    word = ((word & np.uint64(0x00FF00FF00FF00FF)) * np.uint64(100 * 65536 + 1)) >> np.uint64(16)
    return ((word & np.uint64(0x0000FFFF0000FFFF)) * np.uint64(10000 * 2**32 + 1)) \
        >> np.uint64(32)


def _fixed_block(buf: np.ndarray, words: np.ndarray, starts: np.ndarray, ends: np.ndarray,
                 decimals: tuple, region: np.ndarray, others: int,
                 unused: tuple = ()) -> np.ndarray | None:
    """The values (rows, columns) of a block of fields written with a fixed number of
    decimals per column ("%.2f", "%f", "%d"), or None when the block is not exactly that:
    then the general parser takes it, and names what is wrong. others: the separators and
    line ends the region holds besides the fields; unused: whole-number columns that are
    checked but not converted (NaN)."""
    rows, columns = starts.shape
    if region.max() > _ZERO + 9:
        return None
    points = np.count_nonzero(region == _DOT)
    minus = np.count_nonzero(region == _MINUS)
    if points != rows * sum(1 for k in decimals if k):
        return None
    if np.count_nonzero(region < _ZERO) != points + minus + others:
        return None
    negative = buf[starts] == _MINUS
    if np.count_nonzero(negative) != minus:
        return None
    values = np.empty((rows, columns), np.float64)
    for c, k in enumerate(decimals):
        start, end, sign = starts[:, c], ends[:, c], negative[:, c]
        whole_end = end - k - 1 if k else end
        whole = whole_end - start - sign
        widest = whole.max()
        if whole.min() < 1 or widest > 8:
            return None
        if k:
            if k > 8 or np.any(buf[whole_end] != _DOT):
                return None
            number = _digits(words, whole_end, whole) * np.uint64(10 ** k) + \
                _digits(words, end, k)
            values[:, c] = number.astype(np.float64) / 10.0 ** k
        elif c in unused:
            values[:, c] = np.nan
            continue
        elif widest == 1:
            values[:, c] = buf[end - 1] - np.uint8(_ZERO)
        else:
            values[:, c] = _digits(words, end, whole).astype(np.float64)
        if minus:
            values[sign, c] *= -1.0
    return values


def _block(path, buf, words, starts, ends, decimals, region, others, first_line, titles,
           unused=()):
    """The values of a block: the fast way when it is as the logger writes it, else field by
    field with the general parser."""
    values = _fixed_block(buf, words, starts, ends, decimals, region, others, unused)
    if values is None:
        values = np.column_stack([
            _parse_column(path, buf, starts[:, c], ends[:, c], first_line, titles[c])
            for c in range(starts.shape[1])])
    return values


def _words(data: bytes) -> np.ndarray:
    """words[i]: bytes i to i + 7 of data as a little-endian 64-bit word (a view, no copy)."""
    return np.ndarray((max(len(data) - 7, 0),), "<u8", buffer=data, strides=(1,))


def _parse_one(path: str, text: bytes, line: int, title: str) -> float:
    body = text[1:] if text[:1] == b"-" else text
    if body.count(b".") <= 1 and body.replace(b".", b"").isdigit():
        return float(text)
    raise InputError(path, line, f"column {title}: expected a number, found {_shown(text)}")


def progress(total: int, desc: str, unit: str):
    """A progress bar on stderr, shown only when stderr is a terminal."""
    from tqdm import tqdm
    return tqdm(total=total, desc=desc, unit=unit, unit_scale=True, leave=False,
                disable=not sys.stderr.isatty(), file=sys.stderr)


def _read_bytes(path: str) -> bytes:
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as error:
        raise InputError(path, None, f"cannot be read: {error.strerror}") from None


# ---------------------------------------------------------------------------------------------
# The laser file


@dataclass
class LaserFile:
    path: str
    size: int                 # bytes
    crlf: bool                # CR LF line ends (written under Windows)
    distance: np.ndarray      # inches
    amplitude: np.ndarray
    temperature: np.ndarray   # degrees F
    angle1: np.ndarray        # mirror, radians
    angle2: np.ndarray        # pan, radians
    index1: np.ndarray        # mirror index pulse, bool
    index2: np.ndarray        # pan index pulse, bool

    @property
    def samples(self) -> int:
        return len(self.distance)

    @property
    def line(self) -> np.ndarray:
        """The line (of 5000 samples, from 0) of each sample."""
        return np.arange(self.samples, dtype=np.int32) // SAMPLES_PER_LINE


def _looks_like_gyro(first: bytes) -> bool:
    parts = first.split(b" ")
    return len(parts) in (12, 13, 15, 16) and all(_is_number(p) for p in parts)


def _is_number(text: bytes) -> bool:
    try:
        float(text)
        return True
    except ValueError:
        return False


# The logger writes each column with a fixed number of decimals ("%.2f", "%.0f", ...) and the
# index bits as a single 0 or 1.
LASER_DECIMALS = (2, 0, 1, 1, 4, 4, 0, 0)


def read_laser(path: str) -> LaserFile:
    """Reads a laser file: a header row of the eight titles, each followed by a tab, then one
    row per sample, each introduced by a line end and ending in a tab."""
    data = _read_bytes(path)
    if not data:
        raise InputError(path, None, "the file is empty: expected the laser file's header row "
                         "(Distance(inches), Raw Range(bits), ... each followed by a tab)")
    buf = np.frombuffer(data, np.uint8)
    lines = _split_lines(path, buf, 1, terminated=False)
    header = data[lines.starts[0]:lines.ends[0]]
    if header != LASER_HEADER:
        if _looks_like_gyro(header):
            hint = "this is a gyro record, not the laser file's header row"
        else:
            hint = f"found {_shown(header, 100)}"
        raise InputError(path, 1, "expected the laser file's header row: the eight titles "
                         f"{', '.join(LASER_TITLES)}, each followed by a tab; {hint}")
    rows = len(lines.starts) - 1
    keep = {name: np.empty(rows, np.float64) for name in ("distance", "angle1", "angle2")}
    keep.update({name: np.empty(rows, np.float32) for name in ("amplitude", "temperature")})
    index = {name: np.empty(rows, bool) for name in ("index1", "index2")}
    columns = ("distance", None, "amplitude", "temperature", "angle1", "angle2", "index1", "index2")
    # A block exactly as the logger writes it is parsed the fast way; any other (a stray byte,
    # other decimals, a number too long) goes the general way, which also names what is wrong.
    words = _words(data)
    line_end = 2 if lines.crlf else 1
    with progress(rows, "reading the laser file", "rows") as bar:
        for lo in range(0, rows, BLOCK_ROWS):
            hi = min(lo + BLOCK_ROWS, rows)
            block = slice(1 + lo, 1 + hi if hi < rows else None)
            tabs = _separators(path, buf, lines, block, _TAB, len(LASER_TITLES), True, 1,
                               "a laser file row")
            field_starts = np.empty_like(tabs)
            field_starts[:, 0] = lines.starts[block]
            field_starts[:, 1:] = tabs[:, :-1] + 1
            region = buf[field_starts[0, 0]:tabs[-1, -1] + 1]
            others = (hi - lo) * len(LASER_TITLES) + (hi - lo - 1) * line_end
            values = _block(path, buf, words, field_starts, tabs, LASER_DECIMALS, region, others,
                            2 + lo, LASER_TITLES, unused=(columns.index(None),))
            for c, name in enumerate(columns):
                if name in index:
                    index[name][lo:hi] = values[:, c] != 0
                elif name is not None:
                    keep[name][lo:hi] = values[:, c]
            bar.update(hi - lo)
    return LaserFile(path=path, size=len(data), crlf=lines.crlf, **keep, **index)


# ---------------------------------------------------------------------------------------------
# The gyro file


@dataclass
class GyroFile:
    path: str
    mode: str                     # 'a', 'c' or 'r'
    count: np.ndarray             # packets read when the record was written
    time: np.ndarray | None       # seconds (-t or -D), None with counts only
    angles: np.ndarray | None     # roll, pitch, yaw in degrees (mode a), shape (n, 3)
    sensors: np.ndarray           # the nine channels, shape (n, 9)
    temperature: np.ndarray       # degrees C
    tail: np.ndarray              # TAIL_WORD
    mode_from: str                # how the mode was told: "given" or "from the records"

    @property
    def records(self) -> int:
        return len(self.count)


_GYRO_FIELDS = {15: ("a", False), 16: ("a", True), 12: ("cr", False), 13: ("cr", True)}


def _gyro_layout(fields: int) -> str:
    return ("15 or 16 (mode a: the count, a time with -t or -D, roll pitch yaw, the nine sensor "
            "channels, the temperature and the tail word) or 12 or 13 (modes c and r, without "
            f"the angles); found {fields}")


def _sensor_mode(sensors: np.ndarray) -> str:
    """'r' when the nine channels are converter voltages (0 to 5 V, sitting near 2.5 V), 'c'
    when they are scaled values (rates near 0, gravity near 1 g, a field under a gauss)."""
    volts = np.all((sensors >= 0) & (sensors <= 5)) and float(np.mean(sensors)) > 1.25
    return "r" if volts else "c"


def _refuse_sensor_mode(path: str, mode: str, sensors: np.ndarray):
    """Raises the InputError of a mode c file given as mode r, or the other way round."""
    if mode == "r":
        # The first record with a channel outside 0 to 5 V, or the first when none is.
        row = int(np.argmax(np.any((sensors < 0) | (sensors > 5), axis=1)))
        raise InputError(path, 1 + row, "expected a mode-r record (nine sensor voltages from 0 "
                         "to 5 V, near 2.5 V at rest), found " +
                         " ".join(f"{v:g}" for v in sensors[row]) +
                         ": this is the gyro file of mode c")
    raise InputError(path, 1, "expected mode-c records (rates in deg/s, acceleration in g, the "
                     "field in gauss), found sensor voltages near 2.5 V in every record: this "
                     "is the gyro file of mode r")


def read_gyro(path: str, mode: str | None = None) -> GyroFile:
    """Reads a gyro file: one record per line, fields separated by single blanks, each line
    ending in a line feed. mode: the mode the file must be of; None tells it from the records
    (the field count tells a from c and r; voltages near 2.5 tell r from c)."""
    data = _read_bytes(path)
    if not data:
        raise InputError(path, None, "the file is empty: no gyro records (expected one record "
                         "per line, fields separated by blanks)")
    buf = np.frombuffer(data, np.uint8)
    lines = _split_lines(path, buf, 1, terminated=True)
    first = data[lines.starts[0]:lines.ends[0]]
    if first.startswith(LASER_HEADER[:16]):
        raise InputError(path, 1, "this is the laser file's header row, not a gyro record")
    fields = first.count(b" ") + 1
    if fields not in _GYRO_FIELDS:
        raise InputError(path, 1, f"expected a gyro record with fields separated by single "
                         f"blanks: {_gyro_layout(fields)}: {_shown(first)}")
    family, timed = _GYRO_FIELDS[fields]
    if mode is not None and (mode == "a") != (family == "a"):
        raise InputError(path, 1, f"expected a mode-{mode} record of "
                         f"{'15 or 16' if mode == 'a' else '12 or 13'} fields, found {fields}: "
                         f"this is the gyro file of mode {'a' if family == 'a' else 'c or r'}")
    rows = len(lines.starts)
    titles = ["count"] + (["time"] if timed else []) + \
        (list(ANGLE_CHANNELS) if family == "a" else []) + list(SENSOR_CHANNELS) + \
        ["temperature", "tail word"]
    table = np.empty((rows, fields), np.float64)
    # The logger writes the count and the tail word with "%d", every other value with "%f".
    decimals = (0,) + (6,) * (fields - 2) + (0,)
    words = _words(data)
    what = f"a record of this file (mode {'a' if family == 'a' else 'c or r'}, as its first line)"
    with progress(rows, "reading the gyro file", "records") as bar:
        for lo in range(0, rows, BLOCK_ROWS):
            hi = min(lo + BLOCK_ROWS, rows)
            block = slice(lo, hi)
            blanks = _separators(path, buf, lines, block, _BLANK, fields - 1, False, 1, what)
            starts = np.empty((hi - lo, fields), np.int64)
            ends = np.empty_like(starts)
            starts[:, 0] = lines.starts[block]
            starts[:, 1:] = blanks + 1
            ends[:, :-1] = blanks
            ends[:, -1] = lines.ends[block]
            region = buf[starts[0, 0]:ends[-1, -1]]
            others = (hi - lo) * (fields - 1) + (hi - lo - 1) * (2 if lines.crlf else 1)
            table[lo:hi] = _block(path, buf, words, starts, ends, decimals, region, others,
                                  1 + lo, titles)
            bar.update(hi - lo)
    at = 1
    count = table[:, 0]
    time = None
    if timed:
        time = table[:, 1]
        at = 2
    angles = None
    if family == "a":
        angles = table[:, at:at + 3]
        at += 3
    sensors = table[:, at:at + 9]
    mode_from = "given" if mode is not None else "from the records"
    if family == "cr":
        found = _sensor_mode(sensors)
        if mode is not None and mode != found:
            _refuse_sensor_mode(path, mode, sensors)
        mode = found
    else:
        mode = "a"
    return GyroFile(path=path, mode=mode, count=count, time=time, angles=angles,
                    sensors=sensors, temperature=table[:, at + 9], tail=table[:, at + 10],
                    mode_from=mode_from)


# ---------------------------------------------------------------------------------------------
# The GPS file

INVALID_REASONS = ("checksum", "no-checksum", "too-long", "no-end", "not-nmea")

# GGA fix quality as the receiver reports it.
FIX_QUALITY = {0: "no fix", 1: "GPS", 2: "DGPS", 3: "PPS", 4: "RTK fixed", 5: "RTK float",
               6: "dead reckoning", 7: "manual", 8: "simulation"}


@dataclass
class GpsFile:
    path: str
    present: bool                       # False: no file at that name
    lines: int = 0
    sentences: int = 0                  # valid sentences
    kinds: dict = field(default_factory=dict)     # sentence type (GGA, RMC, ...) -> count
    invalid: dict = field(default_factory=dict)   # reason -> count
    bad_checksum_in_file: int = 0       # lines written as valid whose checksum does not match
    lost: int = 0                       # sentences the logger could not keep (#lost n)
    # Invalid lines that only the recording's start or end cut short: a first line of bytes
    # that began before the port opened, a last sentence the end of the run cut.
    cut_at_ends: int = 0
    line_time: np.ndarray = field(default_factory=lambda: np.zeros(0))  # every line's clock
    # One entry per position report (GGA, or RMC where the file has no GGA):
    time: np.ndarray = field(default_factory=lambda: np.zeros(0))       # program clock, s
    quality: np.ndarray = field(default_factory=lambda: np.zeros(0, int))
    lat: np.ndarray = field(default_factory=lambda: np.zeros(0))        # degrees, NaN: none
    lon: np.ndarray = field(default_factory=lambda: np.zeros(0))
    alt: np.ndarray = field(default_factory=lambda: np.zeros(0))        # metres above MSL
    hdop: np.ndarray = field(default_factory=lambda: np.zeros(0))
    satellites: np.ndarray = field(default_factory=lambda: np.zeros(0))
    position_from: str = ""             # "GGA" or "RMC"

    @property
    def fixed(self) -> np.ndarray:
        return (self.quality > 0) & np.isfinite(self.lat) & np.isfinite(self.lon)

    @property
    def invalid_total(self) -> int:
        return sum(self.invalid.values()) + self.bad_checksum_in_file


def _nmea_checksum_ok(sentence: str) -> bool:
    star = sentence.rfind("*")
    if star < 1 or len(sentence) != star + 3:
        return False
    try:
        wanted = int(sentence[star + 1:], 16)
    except ValueError:
        return False
    total = 0
    for ch in sentence[1:star]:
        total ^= ord(ch)
    return total == wanted


def _degrees(value: str, hemisphere: str, limit: float) -> float:
    """ddmm.mmmm (or dddmm.mmmm) and N/S/E/W to signed degrees, the degrees being what stands
    before the minutes' two whole digits (a longitude without its leading zero reads the
    same); NaN when empty or not a position within limit degrees."""
    try:
        number = float(value)
    except ValueError:
        return math.nan
    degrees, minutes = divmod(number, 100.0)
    degrees += minutes / 60.0
    if hemisphere not in ("N", "S", "E", "W") or minutes >= 60.0 or not 0.0 <= degrees <= limit:
        return math.nan
    return -degrees if hemisphere in ("S", "W") else degrees


def _number(text: str) -> float:
    try:
        return float(text)
    except ValueError:
        return math.nan


def read_gps(path: str | None) -> GpsFile:
    """Reads a GPS file: one line per sentence as '<seconds> <sentence>', an invalid stretch
    as '<seconds> #<reason> <bytes>', sentences not kept as '<seconds> #lost <n>'. A missing
    file is no error (present False); an empty one has no lines."""
    if path is None or not os.path.exists(path):
        return GpsFile(path=path or "", present=False)
    data = _read_bytes(path)
    gps = GpsFile(path=path, present=True)
    text = data.decode("latin-1")
    rows = text.split("\n")
    if rows and rows[-1] == "":
        rows.pop()
    elif rows:
        raise InputError(path, len(rows), "the file ends in the middle of this line (no line "
                         f"end after {_shown(rows[-1].encode('latin-1'))}): the last line is "
                         "cut short")
    gga, rmc = [], []
    times = np.empty(len(rows))
    expected = ("expected '<seconds> $<sentence>*HH', '<seconds> #<reason> <bytes>' or "
                "'<seconds> #lost <n>'")
    for number, row in enumerate(rows, start=1):
        stamp, blank, rest = row.partition(" ")
        try:
            seconds = float(stamp)
            if not math.isfinite(seconds) or not blank:
                raise ValueError
        except ValueError:
            raise InputError(path, number, f"{expected}; found {_shown(row.encode('latin-1'))}") \
                from None
        times[number - 1] = seconds
        if rest.startswith("#"):
            reason, _, detail = rest[1:].partition(" ")
            if reason == "lost":
                try:
                    gps.lost += int(detail)
                except ValueError:
                    raise InputError(path, number, f"'#lost' takes a count of sentences; found "
                                     f"{_shown(row.encode('latin-1'))}") from None
            elif reason in INVALID_REASONS:
                gps.invalid[reason] = gps.invalid.get(reason, 0) + 1
                if (number == 1 and reason in ("no-end", "not-nmea")) or \
                        (number == len(rows) > 1 and reason == "no-end"):
                    gps.cut_at_ends += 1
            else:
                raise InputError(path, number, f"unknown reason '#{reason}': expected one of "
                                 f"{', '.join(INVALID_REASONS)} or lost")
            continue
        if not rest[:1] in ("$", "!"):
            raise InputError(path, number, f"{expected}; found {_shown(row.encode('latin-1'))}")
        if not _nmea_checksum_ok(rest):
            gps.bad_checksum_in_file += 1
            continue
        gps.sentences += 1
        body = rest[1:rest.rfind("*")].split(",")
        kind = body[0][2:] if len(body[0]) == 5 else body[0]
        gps.kinds[kind] = gps.kinds.get(kind, 0) + 1
        if kind == "GGA" and len(body) >= 10:
            gga.append((seconds, _number(body[6]) if body[6] else 0.0,
                        _degrees(body[2], body[3], 90), _degrees(body[4], body[5], 180),
                        _number(body[9]), _number(body[8]), _number(body[7])))
        elif kind == "RMC" and len(body) >= 7:
            rmc.append((seconds, 1.0 if body[2] == "A" else 0.0,
                        _degrees(body[3], body[4], 90), _degrees(body[5], body[6], 180),
                        math.nan, math.nan, math.nan))
    gps.lines = len(rows)
    gps.line_time = times
    reports, gps.position_from = (gga, "GGA") if gga else (rmc, "RMC" if rmc else "")
    if reports:
        table = np.array(reports, dtype=np.float64)
        gps.time = table[:, 0]
        gps.quality = np.nan_to_num(table[:, 1]).astype(int)
        gps.lat, gps.lon, gps.alt = table[:, 2], table[:, 3], table[:, 4]
        gps.hdop, gps.satellites = table[:, 5], table[:, 6]
    return gps
