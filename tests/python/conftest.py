"""What the Python module's tests share: zoka run as a user runs it, PNG
files of any depth written and read without the module, and the layers the
tests render.

CTest runs them with PYTHONPATH naming the build's python/ folder and ZOKA
the zoka program built beside it.
"""

import json
import os
import struct
import subprocess
import zlib
from pathlib import Path

import numpy as np
import pytest

ZOKA = os.environ.get("ZOKA", str(Path(__file__).resolve().parents[2] / "build/release/zoka"))


class Outcome:
    def __init__(self, completed: subprocess.CompletedProcess) -> None:
        self.status = completed.returncode
        self.out = completed.stdout
        self.err = completed.stderr

    @property
    def line(self) -> str:
        """The error line, without "zoka: ", as the module's exceptions say it."""
        lines = self.err.strip().splitlines()
        assert lines, "zoka said nothing on standard error"
        return lines[-1].removeprefix("zoka: ")


def run_zoka(*args, cwd=None) -> Outcome:
    return Outcome(subprocess.run([ZOKA, *map(str, args)], cwd=cwd, capture_output=True, text=True, timeout=600))


def render_file(effect, layer: Path, out: Path, *args, cwd=None):
    """zoka render --json: the image it wrote as an array and its origin."""
    done = run_zoka("render", effect, layer, out, "--json", *args, cwd=cwd)
    assert done.status == 0, done.err
    report = json.loads(done.out)
    return read_png(Path(cwd or ".") / out), (report["originX"], report["originY"])


# ---- PNG files, written and read here (any depth, RGB or RGBA) --------------

def _chunk(kind: bytes, data: bytes) -> bytes:
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def write_png(path: Path, pixels: np.ndarray) -> Path:
    """An H x W x 3 or x 4 array of uint8 or uint16 as a PNG file."""
    height, width, channels = pixels.shape
    depth = 16 if pixels.dtype == np.uint16 else 8
    colour = {3: 2, 4: 6}[channels]
    rows = pixels.astype(">u2" if depth == 16 else np.uint8).reshape(height, -1).view(np.uint8)
    raw = b"".join(b"\0" + row.tobytes() for row in rows)
    header = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 0)
    Path(path).write_bytes(b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", header) + _chunk(b"IDAT", zlib.compress(raw))
                           + _chunk(b"IEND", b""))
    return Path(path)


def _paeth(a: int, b: int, c: int) -> int:
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def _unfiltered(data: bytes, height: int, stride: int, step: int) -> np.ndarray:
    """The rows of a PNG's pixel data, each filter undone: None, Sub and Up
    (the one zoka writes) a row at a time, Average and Paeth byte by byte."""
    rows = np.zeros((height, stride), np.uint8)
    previous = np.zeros(stride, np.uint8)
    for y in range(height):
        at = y * (stride + 1)
        kind, line = data[at], np.frombuffer(data, np.uint8, stride, at + 1)
        if kind == 0:
            out = line.copy()
        elif kind == 1:
            out = np.cumsum(line.reshape(-1, step), axis=0, dtype=np.uint8).reshape(-1)
        elif kind == 2:
            out = line + previous
        else:
            out = np.zeros(stride, np.uint8)
            for x in range(stride):
                left = int(out[x - step]) if x >= step else 0
                up, corner = int(previous[x]), int(previous[x - step]) if x >= step else 0
                predictor = (left + up) // 2 if kind == 3 else _paeth(left, up, corner)
                out[x] = (int(line[x]) + predictor) & 0xFF
        rows[y] = out
        previous = out
    return rows


def _chunks(path: Path):
    data = Path(path).read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is no PNG file"
    at = 8
    while at < len(data):
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        yield kind, data[at + 8:at + 8 + size]
        at += size + 12


def png_origin(path: Path):
    """Where the input's top-left lies in a frame zoka wrote: the negated
    position of its offset chunk (oFFs), (0, 0) without one."""
    for kind, body in _chunks(path):
        if kind == b"oFFs":
            x, y, _ = struct.unpack(">iiB", body)
            return (-x, -y)
    return (0, 0)


def read_png(path: Path) -> np.ndarray:
    """A PNG file of 8 or 16 bits, grey or RGB, with or without alpha, not
    interlaced, as an RGB or RGBA array (grey spread to R, G and B, as zoka
    reads it)."""
    idat = b""
    for kind, body in _chunks(path):
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
    assert interlace == 0 and colour in (0, 2, 4, 6) and depth in (8, 16)
    channels = {0: 1, 2: 3, 4: 2, 6: 4}[colour]
    sample = depth // 8
    rows = _unfiltered(zlib.decompress(idat), height, width * channels * sample, channels * sample)
    if depth == 16:
        pixels = rows.view(">u2").astype(np.uint16).reshape(height, width, channels)
    else:
        pixels = rows.reshape(height, width, channels)
    if colour in (0, 4):
        pixels = np.concatenate([np.repeat(pixels[..., :1], 3, axis=2), pixels[..., 1:]], axis=2)
    return pixels


# ---- Layers -----------------------------------------------------------------

def sample_layer(width: int = 40, height: int = 30, seed: int = 7) -> np.ndarray:
    """An RGBA layer with what effects react to: colour ramps, a hard-edged
    opaque block, a soft alpha edge, a hole and a little noise."""
    y, x = np.mgrid[0:height, 0:width]
    rng = np.random.default_rng(seed)
    layer = np.zeros((height, width, 4), np.uint8)
    layer[..., 0] = (x * 255 // max(width - 1, 1)).astype(np.uint8)
    layer[..., 1] = (y * 255 // max(height - 1, 1)).astype(np.uint8)
    layer[..., 2] = rng.integers(0, 256, (height, width), dtype=np.uint8)
    distance = np.hypot(x - width * 0.55, y - height * 0.5)
    soft = np.clip((height * 0.45 - distance) * 40, 0, 255)
    block = (x > width // 8) & (x < width // 3) & (y > height // 6) & (y < height * 5 // 6)
    alpha = np.maximum(soft, np.where(block, 255, 0))
    alpha[(np.abs(x - width * 0.55) < 2) & (np.abs(y - height * 0.5) < 2)] = 0
    layer[..., 3] = alpha.astype(np.uint8)
    return layer


def selection_layer(width: int = 24, height: int = 20) -> np.ndarray:
    """A selection layer: opaque on the left, fading out to the right."""
    layer = np.zeros((height, width, 4), np.uint8)
    layer[..., :3] = 255
    layer[..., 3] = np.linspace(255, 0, width).astype(np.uint8)[None, :]
    return layer


@pytest.fixture
def folder(tmp_path: Path) -> Path:
    return tmp_path
