"""Every documented failure: the exception class a caller branches on, the
library's reason in the message, the output path untouched, nothing printed."""

from __future__ import annotations

import errno
import os
from pathlib import Path

import numpy as np
import pytest

import plinth
from conftest import build_module, noise, write_wav


def test_exception_classes_let_callers_branch():
    assert issubclass(plinth.UnsupportedInputError, plinth.Error)
    assert issubclass(plinth.UnsupportedInputError, ValueError)
    assert issubclass(plinth.FileError, plinth.Error)
    assert issubclass(plinth.FileError, OSError)


@pytest.mark.parametrize("call,error,words", [
    (lambda: plinth.resample(np.zeros(10, np.float16), 8000, 16000), TypeError, "int16, float32 or float64"),
    (lambda: plinth.resample(np.zeros(10, np.int32), 8000, 16000), TypeError, "int16"),
    (lambda: plinth.resample(np.zeros(10, np.complex64), 8000, 16000), TypeError, "float32"),
    (lambda: plinth.resample(np.zeros((10, 0), np.int16), 8000, 16000), ValueError, r"\(n, channels\)"),
    (lambda: plinth.resample(np.zeros((10, 2, 1), np.int16), 8000, 16000), ValueError, r"\(n,\)"),
    (lambda: plinth.resample(np.zeros(10, np.int16), 8000, 16000, channel="left"), ValueError, "mix"),
    (lambda: plinth.resample(np.zeros(10, np.int16), 8000, 16000, quality="best"), ValueError, "high"),
    (lambda: plinth.resample(np.zeros(10, np.float64), 44100, 44099, quality="high"), plinth.UnsupportedInputError,
     "rate pair"),
    (lambda: plinth.resample(np.zeros(10, np.int16), 8000, 8000.0), TypeError, "float"),
    (lambda: plinth.resample(np.zeros(10, np.int16), 44100, 44099), plinth.UnsupportedInputError, "rate pair"),
    (lambda: plinth.resample(np.zeros(10, np.int16), 0, 8000), plinth.UnsupportedInputError, "invalid rate"),
    (lambda: plinth.resample(np.zeros(10, np.int16), 2**40, 8000), plinth.UnsupportedInputError, "invalid rate"),
    (lambda: plinth.Resampler(8000, 16000, channels=0), ValueError, "1 to 65535"),
    (lambda: plinth.Resampler(8000, 16000).feed(np.zeros((4, 2), np.int16)), ValueError, "channel"),
    (lambda: plinth.Resampler(8000, 16000, quality="low"), ValueError, "standard"),
    (lambda: plinth.render_module(b""), plinth.UnsupportedInputError, "empty"),
    (lambda: plinth.render_module(b"\xff" * 3000), plinth.UnsupportedInputError, "not a module"),
    (lambda: plinth.render_module(build_module(), rate=0), plinth.UnsupportedInputError, "rate out of range"),
])
def test_in_memory_failures(call, error, words, capfd):
    with pytest.raises(error, match=words):
        call()
    assert capfd.readouterr() == ("", "")


def wav_with_header(path: Path, **fields) -> Path:
    """A 16-bit stereo WAV file with header fields changed."""
    write_wav(path, noise(100, 2, seed=1), 8000)
    data = bytearray(path.read_bytes())
    offsets = {"format": (20, 2), "channels": (22, 2), "bits": (34, 2)}
    for name, value in fields.items():
        offset, size = offsets[name]
        data[offset:offset + size] = value.to_bytes(size, "little")
    path.write_bytes(bytes(data))
    return path


def test_file_failures(tmp_path, capfd):
    good = write_wav(tmp_path / "good.wav", noise(100, 1, seed=2), 8000)
    (tmp_path / "text.wav").write_bytes(b"not a wav file at all, but long enough for a header")
    (tmp_path / "short.wav").write_bytes(good.read_bytes()[:30])
    (tmp_path / "folder").mkdir()
    # Formats no reader of these files takes (8-bit, 3 channels and float of 32 bits are read as the tool reads them).
    float_wav = wav_with_header(tmp_path / "float.wav", format=3)  # 16-bit float
    alaw = wav_with_header(tmp_path / "alaw.wav", format=6)
    twelve = wav_with_header(tmp_path / "twelve.wav", bits=12)
    os.mkfifo(tmp_path / "pipe.mod")
    dst = tmp_path / "out.wav"
    dst.write_bytes(b"keep me")

    unsupported = [
        (lambda: plinth.resample_file(tmp_path / "text.wav", dst, 16000), "not a WAV file"),
        (lambda: plinth.resample_file(tmp_path / "short.wav", dst, 16000), "cut short"),
        (lambda: plinth.resample_file(float_wav, dst, 16000), "unsupported sample format"),
        (lambda: plinth.resample_file(alaw, dst, 16000), "unsupported sample format"),
        (lambda: plinth.resample_file(twelve, dst, 16000), "unsupported sample format"),
        (lambda: plinth.resample_file(good, dst, 44099), "rate pair"),
        (lambda: plinth.resample_file(good, dst, -5), "invalid rate"),
        (lambda: plinth.mod_to_wav(tmp_path / "text.wav", dst), "not a module"),
        (lambda: plinth.mod_to_wav(good, dst, rate=2**31), "rate out of range"),
        (lambda: plinth.info(tmp_path / "text.wav"), "neither a WAV file nor a playable module"),
        (lambda: plinth.info(tmp_path / "short.wav"), "cut short"),
    ]
    for call, words in unsupported:
        with pytest.raises(plinth.UnsupportedInputError, match=words) as caught:
            call()
        assert isinstance(caught.value, ValueError)

    missing = tmp_path / "missing.wav"
    pipe = tmp_path / "pipe.mod"
    no_such = os.strerror(errno.ENOENT)
    file_errors = [
        (lambda: plinth.resample_file(missing, dst, 16000), errno.ENOENT, missing, no_such),
        (lambda: plinth.resample_file(tmp_path / "folder", dst, 16000), errno.EISDIR, tmp_path / "folder",
         "is a folder"),
        (lambda: plinth.resample_file(good, tmp_path / "no" / "out.wav", 16000), errno.ENOENT,
         tmp_path / "no" / "out.wav", no_such),
        (lambda: plinth.mod_to_wav(missing, dst), errno.ENOENT, missing, no_such),
        (lambda: plinth.render_module(missing), errno.ENOENT, missing, no_such),
        (lambda: plinth.info(missing), errno.ENOENT, missing, no_such),
        (lambda: plinth.info(pipe), None, pipe, "not a regular file"),
        (lambda: plinth.render_module(str(pipe)), None, pipe, "not a regular file"),
    ]
    for call, number, path, words in file_errors:
        with pytest.raises(plinth.FileError, match=words) as caught:
            call()
        assert isinstance(caught.value, OSError)
        assert caught.value.errno == number
        assert caught.value.filename == str(path)

    assert dst.read_bytes() == b"keep me"
    assert sorted(p.name for p in tmp_path.iterdir() if p.name.startswith(".")) == []
    assert capfd.readouterr() == ("", "")


def test_a_full_disk_is_a_file_error(tmp_path):
    if not Path("/dev/full").exists():
        pytest.skip("no /dev/full")
    good = write_wav(tmp_path / "good.wav", noise(100, 1, seed=2), 8000)
    with pytest.raises(plinth.FileError) as caught:
        plinth.resample_file(good, "/dev/full", 16000)
    assert caught.value.errno == errno.ENOSPC and caught.value.filename == "/dev/full"
