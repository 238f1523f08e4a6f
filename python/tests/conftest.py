"""Shared fixtures: the build's tool and shared libraries as independent
references, inputs written with Python's own wave module, and modules
composed by the build's module builder."""

from __future__ import annotations

import ctypes
import ctypes.util
import itertools
import os
import subprocess
import sys
import wave
from pathlib import Path
from typing import Optional

import numpy as np
import pytest

BUILD_DIR = Path(os.environ.get("PLINTH_BUILD_DIR", Path(__file__).resolve().parents[2] / "build"))
if str(BUILD_DIR / "python") not in sys.path:
    sys.path.insert(0, str(BUILD_DIR / "python"))

TOOL = BUILD_DIR / "tools" / "plinth"
RATECONV_LIBRARY = BUILD_DIR / "resampler" / "libPlinthRateConv.so"
TRACKER_LIBRARY = BUILD_DIR / "tracker" / "libPlinthTracker.so"
MODULE_COMPOSER = BUILD_DIR / "tests" / "compose_module"


def write_wav(path: Path, frames: np.ndarray, rate: int, sample_width: int = 2) -> Path:
    """A canonical WAV file from int16 frames of shape (n,) or (n, channels)."""
    channels = 1 if frames.ndim == 1 else frames.shape[1]
    with wave.open(str(path), "wb") as out:
        out.setnchannels(channels)
        out.setsampwidth(sample_width)
        out.setframerate(rate)
        out.writeframes(np.ascontiguousarray(frames, dtype="<i2").tobytes() if sample_width == 2
                        else bytes(frames.size))
    return path


def read_wav(path: Path) -> tuple[np.ndarray, int]:
    """int16 samples, shaped (n,) for mono or (n, channels), and the rate."""
    with wave.open(str(path), "rb") as source:
        assert source.getsampwidth() == 2
        channels, rate = source.getnchannels(), source.getframerate()
        data = np.frombuffer(source.readframes(source.getnframes()), dtype="<i2").astype(np.int16)
    return (data if channels == 1 else data.reshape(-1, channels)), rate


def read_with_sndfile(path: Path) -> Optional[tuple[np.ndarray, int]]:
    """A WAV file's samples as libsndfile reads them (int16 or float32, as the
    file holds them), shaped (n, channels), and the rate; None without libsndfile."""
    name = ctypes.util.find_library("sndfile")
    if name is None:
        return None

    class Info(ctypes.Structure):
        _fields_ = [("frames", ctypes.c_int64), ("samplerate", ctypes.c_int), ("channels", ctypes.c_int),
                    ("format", ctypes.c_int), ("sections", ctypes.c_int), ("seekable", ctypes.c_int)]

    library = ctypes.CDLL(name)
    library.sf_open.restype = ctypes.c_void_p
    library.sf_open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(Info)]
    library.sf_readf_float.argtypes = library.sf_readf_short.argtypes = [ctypes.c_void_p, ctypes.c_void_p,
                                                                         ctypes.c_int64]
    library.sf_readf_float.restype = library.sf_readf_short.restype = ctypes.c_int64
    library.sf_close.argtypes = [ctypes.c_void_p]
    info = Info()
    handle = library.sf_open(str(path).encode(), 0x10, ctypes.byref(info))  # SFM_READ
    assert handle, path
    floats = (info.format & 0xFFFF) == 6  # SF_FORMAT_FLOAT
    data = np.zeros((info.frames, info.channels), dtype=np.float32 if floats else np.int16)
    read = (library.sf_readf_float if floats else library.sf_readf_short)(handle, data.ctypes.data, info.frames)
    library.sf_close(handle)
    assert read == info.frames
    return data, info.samplerate


def noise(frames: int, channels: int, seed: int) -> np.ndarray:
    """Full-scale int16 noise with the extremes in it."""
    generator = np.random.default_rng(seed)
    data = generator.integers(-32768, 32768, size=(frames, channels), dtype=np.int16)
    if frames >= 2:
        data[0] = -32768
        data[-1] = 32767
    return data[:, 0].copy() if channels == 1 else data


def feed_in_blocks(resampler, frames, block_sizes) -> list:
    """What a plinth.Resampler gives for frames fed in blocks of the sizes in
    turn, then its finish."""
    parts, start = [], 0
    for size in itertools.cycle(block_sizes):
        if start >= len(frames):
            break
        parts.append(resampler.feed(frames[start:start + size]))
        start += size
    parts.append(resampler.finish())
    return parts


def compose_module(description: str) -> bytes:
    """A module composed by the build's module builder from a description,
    one command a line (tests/support/compose_module.cpp lists them)."""
    result = subprocess.run([str(MODULE_COMPOSER)], input=description.encode(), capture_output=True, check=False)
    assert result.returncode == 0, result.stderr.decode()
    return result.stdout


def build_module(notes: int = 4, sample_bytes: int = 2048, name: bytes = b"lead", orders: int = 1) -> bytes:
    """A four-channel module of one pattern, played `orders` times: every
    fourth line, up to `notes` (at most 16) of them, starts a square-wave
    sample without a loop at different periods in turn across the channels.
    Each order lasts 61440 frames at 8000 per second."""
    words = sample_bytes // 2
    lines = ["module 4 1", f"title {b'testsong'.hex()}", f"song {orders} 0",
             f"sample 1 {words} 0 64 0 0", f"name 1 {name.hex()}"]
    periods = [428, 381, 339, 320, 285, 254]
    for k in range(notes):
        lines.append(f"cell 0 {4 * k} {k % 4} 1 {periods[k % len(periods)]} 0 0")  # sample 1, no effect
    lines.append("data " + bytes(0xC0 if (i // 16) % 2 else 0x40 for i in range(sample_bytes)).hex())
    return compose_module("\n".join(lines))


def pytest_configure(config):
    # Raised inside Debian's tornado by distributed's own start-up.
    config.addinivalue_line("filterwarnings", "ignore:make_current is deprecated:DeprecationWarning")


class ReferenceLibraries:
    """The exported C functions, loaded from the build's shared libraries."""

    def __init__(self) -> None:
        self.rateconv = ctypes.CDLL(str(RATECONV_LIBRARY))
        self.rateconv.ResampleWav.argtypes = [ctypes.c_wchar_p, ctypes.c_wchar_p, ctypes.c_int, ctypes.c_int]
        self.rateconv.ResampleWav.restype = ctypes.c_int
        self.tracker = ctypes.CDLL(str(TRACKER_LIBRARY))
        self.tracker.MODWAV.argtypes = [ctypes.c_wchar_p, ctypes.c_wchar_p]
        self.tracker.MODWAV.restype = ctypes.c_int

    def resample_wav(self, source: Path, target: Path, rate: int, channel_mode: int) -> Path:
        assert self.rateconv.ResampleWav(str(source), str(target), rate, channel_mode) == 1
        return target

    def modwav(self, source: Path, target: Path) -> Path:
        assert self.tracker.MODWAV(str(source), str(target)) == 999
        return target


@pytest.fixture(scope="session")
def reference() -> ReferenceLibraries:
    return ReferenceLibraries()


def run_tool(*args: object) -> subprocess.CompletedProcess:
    return subprocess.run([str(TOOL), *map(str, args)], capture_output=True, text=True, check=False)
