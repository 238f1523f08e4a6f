"""What a caller can hand the package at its edges: paths with a zero byte,
pipes that never deliver and Ctrl-C while waiting on them, files laid out
otherwise than the canonical header, and arguments of the wrong type or value.
Every one must be answered as Python's own functions answer it."""

from __future__ import annotations

import math
import os
import signal
import struct
import subprocess
import sys
import threading
from pathlib import Path

import numpy as np
import pytest

import plinth
from conftest import BUILD_DIR, build_module, noise, run_tool, write_wav


def test_paths_with_a_zero_byte_are_refused_as_open_refuses_them(tmp_path):
    good = write_wav(tmp_path / "in.wav", noise(400, 2, seed=1), 8000)
    song = tmp_path / "song.mod"
    song.write_bytes(build_module())
    victim = tmp_path / "victim"
    victim.write_bytes(b"precious")
    with pytest.raises(ValueError, match="embedded null byte"):
        open(str(victim) + "\0.wav", "wb")  # the answer to match
    cut = str(victim) + "\0.wav"
    calls = [
        lambda: plinth.resample_file(good, cut, 16000),
        lambda: plinth.resample_file(str(good) + "\0", tmp_path / "out.wav", 16000),
        lambda: plinth.resample_file(good, os.fsencode(cut), 16000),
        lambda: plinth.mod_to_wav(song, cut),
        lambda: plinth.mod_to_wav(str(song) + "\0x", tmp_path / "out.wav"),
        lambda: plinth.render_module(str(song) + "\0x"),
        lambda: plinth.info(str(good) + "\0x"),
    ]
    for call in calls:
        with pytest.raises(ValueError, match="embedded null byte"):
            call()
    assert victim.read_bytes() == b"precious"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.wav", "song.mod", "victim"]


@pytest.fixture
def fifo(tmp_path):
    path = tmp_path / "fifo.wav"
    os.mkfifo(path)
    return path


def interrupted_after(seconds: float, call) -> BaseException:
    """Runs call on the main thread and sends this process SIGINT meanwhile, as Ctrl-C does."""
    timer = threading.Timer(seconds, lambda: os.kill(os.getpid(), signal.SIGINT))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt) as caught:
            call()
    finally:
        timer.cancel()
    return caught.value


@pytest.mark.parametrize("writer", ["none", "idle"])
def test_ctrl_c_stops_a_conversion_waiting_on_a_named_pipe(tmp_path, fifo, writer):
    out = tmp_path / "out.wav"
    out.write_bytes(b"keep me")
    held = os.open(fifo, os.O_RDWR) if writer == "idle" else None  # a writer that never writes
    try:
        for call in (lambda: plinth.resample_file(fifo, out, 16000), lambda: plinth.info(f"/dev/fd/{held}")):
            if held is None and "info" in repr(call.__code__.co_names):
                continue
            error = interrupted_after(0.5, call)
            # The interrupt itself, not a file error that it caused.
            assert error.__context__ is None and error.__cause__ is None
    finally:
        if held is not None:
            os.close(held)
    assert out.read_bytes() == b"keep me"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["fifo.wav", "out.wav"]


def python_with_stdin(code: str, data: bytes) -> subprocess.CompletedProcess:
    environment = dict(os.environ, PYTHONPATH=str(BUILD_DIR / "python"))
    return subprocess.run([sys.executable, "-c", code], input=data, capture_output=True, env=environment,
                          timeout=60, check=False)


def test_info_and_modules_read_a_pipe_forward(tmp_path):
    wav = write_wav(tmp_path / "take.wav", noise(11025, 2, seed=1), 22050)
    song = tmp_path / "song.mod"
    song.write_bytes(build_module())
    code = "import plinth, sys; d = plinth.info(sys.argv[-1] if len(sys.argv) > 1 else '-'); " \
           "print(d['kind'], d.get('channels'), d.get('sample_rate'), d.get('frames'))"
    assert python_with_stdin(code, wav.read_bytes()).stdout == b"wav 2 22050 11025\n"
    described = plinth.info(song)
    assert python_with_stdin(code, song.read_bytes()).stdout == \
        f"module 4 None {described['frames']}\n".encode()
    played = python_with_stdin("import plinth; print(plinth.render_module('/dev/stdin').shape)", song.read_bytes())
    assert played.stdout == f"({described['frames']}, 2)\n".encode(), played.stderr


def chunked_wav(path: Path, frames: np.ndarray, rate: int, before_data: bytes = b"", fmt_tag: int = 1,
                bits: int = 16, samples: bytes = b"") -> Path:
    """A WAV file built chunk by chunk, with chunks between fmt and data."""
    channels = frames.shape[1] if frames.ndim == 2 else 1
    block = channels * bits // 8
    data = samples or np.ascontiguousarray(frames, dtype="<i2").tobytes()
    fmt = struct.pack("<HHIIHH", fmt_tag, channels, rate, rate * block, block, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + before_data
    body += b"data" + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")
    path.write_bytes(b"RIFF" + struct.pack("<I", len(body)) + body)
    return path


def test_resample_file_reads_every_file_as_the_tool_does(reference, tmp_path):
    frames = noise(8000, 2, seed=11)
    canonical = write_wav(tmp_path / "canonical.wav", frames, 44100)
    # A LIST chunk between fmt and data: its bytes are no samples.
    list_body = b"INFO" + b"ISFT" + struct.pack("<I", 6) + b"sox!\0\0"
    info_list = b"LIST" + struct.pack("<I", len(list_body)) + list_body
    listed = chunked_wav(tmp_path / "listed.wav", frames, 44100, before_data=info_list)
    expected = reference.resample_wav(canonical, tmp_path / "expected.wav", 16000, 2).read_bytes()
    plinth.resample_file(listed, tmp_path / "listed-16k.wav", 16000, channel="mix")
    assert (tmp_path / "listed-16k.wav").read_bytes() == expected

    # Formats ResampleWav refuses and the tool reads: the same bytes from both.
    floats = (frames.astype(np.float64) / 32768.0).astype("<f4").tobytes()
    others = {
        "float.wav": chunked_wav(tmp_path / "float.wav", frames, 44100, fmt_tag=3, bits=32, samples=floats),
        "eight.wav": chunked_wav(tmp_path / "eight.wav", frames, 44100, bits=8,
                                 samples=((frames >> 8) + 128).astype(np.uint8).tobytes()),
        "three.wav": write_wav(tmp_path / "three.wav", noise(3000, 3, seed=12), 22050),
    }
    for name, path in others.items():
        assert run_tool("resample", path, tmp_path / f"tool-{name}", "--rate", "16000", "--channel", "mix").returncode == 0
        plinth.resample_file(path, tmp_path / f"ours-{name}", 16000, channel="mix")
        assert (tmp_path / f"ours-{name}").read_bytes() == (tmp_path / f"tool-{name}").read_bytes(), name


def test_arguments_are_checked_once_with_the_tools_meaning():
    song = build_module(orders=2)
    whole = plinth.render_module(song, max_duration=None)
    # 0 means no limit, as the tool's --max-duration 0 does.
    np.testing.assert_array_equal(plinth.render_module(song, max_duration=0), whole)
    np.testing.assert_array_equal(plinth.render_module(song, max_duration=math.inf), whole)
    with pytest.raises(plinth.UnsupportedInputError, match="longer than the limit"):
        plinth.render_module(song, max_duration=1)
    for bad, error in ((math.nan, ValueError), (-1, ValueError), ("60", TypeError), (True, TypeError)):
        with pytest.raises(error, match="max_duration"):
            plinth.render_module(song, max_duration=bad)

    for channels, error, words in ((2**40, ValueError, "channels must be 1 to 65535, not 1099511627776"),
                                   (2.0, TypeError, "channels must be an int, not float"),
                                   ("2", TypeError, "channels must be an int, not str")):
        with pytest.raises(error, match=words) as caught:
            plinth.Resampler(44100, 16000, channels=channels)
        assert "BlockResampler" not in str(caught.value)
    assert plinth.Resampler(44100, 16000, channels=np.int64(2)).feed(np.zeros((10, 2), np.int16)).dtype == np.int16
    with pytest.raises(TypeError, match="rate must be an int, not float"):
        plinth.resample_file("in.wav", "out.wav", 16000.0)


def test_a_wrong_block_align_is_read_by_channels_and_bits(reference, tmp_path):
    frames = noise(3000, 2, seed=21)
    good = write_wav(tmp_path / "good.wav", frames, 44100)
    expected = reference.resample_wav(good, tmp_path / "expected.wav", 16000, 2).read_bytes()
    for align in (2, 0):
        data = bytearray(good.read_bytes())
        data[32:34] = align.to_bytes(2, "little")
        wrong = tmp_path / f"align{align}.wav"
        wrong.write_bytes(bytes(data))
        described = plinth.info(wrong)
        assert (described["block_align"], described["frame_bytes"], described["frames"]) == (align, 4, 3000)
        plinth.resample_file(wrong, tmp_path / "out.wav", 16000, channel="mix")
        assert (tmp_path / "out.wav").read_bytes() == expected
