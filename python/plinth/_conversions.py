"""Plinth's conversions with their Python argument forms."""

from __future__ import annotations

import math
import numbers
import operator
import os
from typing import Any, Literal, Optional, Union

import numpy as np
import numpy.typing as npt

from . import _plinth

StrPath = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Channel = Literal["first", "second", "mix"]
Int16Array = npt.NDArray[np.int16]

# What a stereo input becomes, as the libraries number it.
_CHANNEL_MODES = {"first": 0, "second": 1, "mix": 2}

MODULE_RATE: int = _plinth.MODULE_RATE
"""The rate MODWAV renders at, and the default of render_module and mod_to_wav."""

MAX_DURATION = 3600.0
"""The longest song, in seconds, render_module and mod_to_wav play by default (as the tool)."""


def _seconds(max_duration: Optional[float]) -> float:
    """A song's limit for the libraries: -1 for none (None or 0, as the tool's 0)."""
    if max_duration is None:
        return -1.0
    if isinstance(max_duration, bool) or not isinstance(max_duration, numbers.Real):
        raise TypeError(f"max_duration must be a number of seconds or None, not {type(max_duration).__name__}")
    seconds = float(max_duration)
    if math.isnan(seconds) or seconds < 0:
        raise ValueError(f"max_duration must be 0 or more seconds (0 or None for no limit), not {max_duration!r}")
    return -1.0 if seconds == 0 or math.isinf(seconds) else seconds


def fspath(path: StrPath) -> bytes:
    """A path as the libraries take it, checked as Python's own open() checks it."""
    encoded = os.fsencode(path)
    if b"\0" in encoded:
        raise ValueError("embedded null byte")
    return encoded


def integer(value: Any, name: str) -> int:
    """An int argument (any integer type), or a TypeError that names it."""
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}") from None


def channel_mode(channel: str) -> int:
    """The libraries' number for a channel choice."""
    try:
        return _CHANNEL_MODES[channel]
    except (KeyError, TypeError):
        raise ValueError(f'channel must be "first", "second" or "mix", not {channel!r}') from None


def resample(samples: npt.ArrayLike, in_rate: int, out_rate: int, channel: Channel = "first") -> Int16Array:
    """Resample 16-bit audio to mono at another rate, as ResampleWav does.

    ``samples`` is an int16 array of shape (n,) for mono or (n, 2) for
    stereo frames; any memory layout is taken (it is copied if it is not
    C-contiguous). The result is the int16 array of the samples ResampleWav
    writes for the same frames, bit for bit: ceil(n x out_rate / in_rate)
    samples, starting without delay. A mono input already at ``out_rate`` is
    returned as a copy, as ResampleWav copies such a file.

    ``channel`` says what a stereo input becomes: "first", "second", or "mix"
    (the mean of both, rounded toward minus infinity). Ignored for mono.

    Raises TypeError for another dtype, ValueError for another shape or
    channel, and UnsupportedInputError for a rate pair the resampler does not
    support (every pairing of 8000, 11025, 12000, 16000, 22050, 24000, 32000,
    44100, 48000, 88200 and 96000 is supported). The GIL is released while it
    works; Ctrl-C stops it.

    >>> import numpy as np, plinth
    >>> tone = (np.sin(np.arange(44100) * 0.05) * 10000).astype(np.int16)
    >>> plinth.resample(tone, 44100, 16000).shape
    (16000,)
    """
    mode = channel_mode(channel)
    return _plinth.resample(_as_array(samples), _rate(in_rate), _rate(out_rate), mode)


class Resampler:
    """A resampler fed block by block, for audio that does not fit in memory
    or arrives in pieces.

    Blocks of any size give, all together, exactly the samples ``resample``
    gives for the whole signal (and ResampleWav writes): ``feed`` returns the
    samples each block completes, ``finish`` the rest.

    >>> r = plinth.Resampler(48000, 16000, channels=2, channel="mix")
    >>> parts = [r.feed(block) for block in blocks] + [r.finish()]
    >>> out = np.concatenate(parts)

    One thread at a time may use a Resampler.
    """

    def __init__(self, in_rate: int, out_rate: int, channels: int = 1, channel: Channel = "first") -> None:
        count = integer(channels, "channels")
        if count not in (1, 2):
            raise ValueError(f"channels must be 1 or 2, not {count}")
        self._stream = _plinth.BlockResampler(_rate(in_rate), _rate(out_rate), count, channel_mode(channel))

    def feed(self, block: npt.ArrayLike) -> Int16Array:
        """Take frames (int16, shape (n,) or (n, channels)); return the samples they complete."""
        return self._stream.feed(_as_array(block))

    def finish(self) -> Int16Array:
        """End the signal; return the samples still owed. The resampler cannot be fed after."""
        return self._stream.finish()


def resample_file(src: StrPath, dst: StrPath, rate: int, channel: Channel = "first") -> None:
    """Resample a WAV file into a mono 16-bit WAV file at ``rate``, as the plinth tool does.

    The input is read as ``plinth resample`` reads it, so both give the same
    bytes: a canonical file (16-bit PCM, 1 or 2 channels, the 44-byte header,
    samples to the end of the file) as ResampleWav reads it, byte for byte
    what ResampleWav writes; any other WAV file through its chunks (RIFF,
    RF64 or BW64, chunks in any order, the data chunk's own size; 8-bit, 16-,
    24- and 32-bit integer or 32- and 64-bit float samples, any number of
    channels, made 16-bit as the tool's manual says). ``channel`` "mix"
    averages all channels. The output appears whole or not at all: on any
    failure ``dst`` is left as it was. Nothing is printed.

    Raises UnsupportedInputError (not a WAV file it reads, an unsupported
    rate pair, an output past 4 GiB) or FileError (a file that cannot be
    opened, read or written). The GIL is released while it works; Ctrl-C
    stops it, also while it waits on a pipe.
    """
    _plinth.resample_file(fspath(src), fspath(dst), _rate(rate), channel_mode(channel))


def render_module(data: Union[bytes, bytearray, memoryview, str, "os.PathLike[str]"],
                  rate: int = MODULE_RATE, max_duration: Optional[float] = MAX_DURATION) -> Int16Array:
    """Play a tracker module to where it first loops, as an int16 array of shape (frames, 2).

    ``data`` is the module itself (bytes, bytearray or memoryview), or the
    path of a module file (a str or os.PathLike; bytes always count as module
    data here). At the default rate of 8000 frames per second the frames are
    those MODWAV writes; ``rate`` may be anything from 1 up. A song that lasts
    longer than ``max_duration`` seconds before it loops is refused (None sets
    no limit but the 4 GiB size of a WAV file, and so does 0, as the tool's
    ``--max-duration 0``).

    Raises UnsupportedInputError (not a playable module, an empty one, a rate
    out of range, a song past the limit) or FileError (a module file that
    cannot be read).
    """
    if isinstance(data, (bytes, bytearray, memoryview)):
        return _plinth.render_module_bytes(data, _rate(rate), _seconds(max_duration))
    return _plinth.render_module_file(fspath(data), _rate(rate), _seconds(max_duration))


def mod_to_wav(src: StrPath, dst: StrPath, rate: int = MODULE_RATE,
               max_duration: Optional[float] = MAX_DURATION) -> None:
    """Play a module file into a stereo 16-bit WAV file, as MODWAV does at 8000.

    The output appears whole or not at all. Raises UnsupportedInputError or
    FileError as render_module does, with the same limit on the song's length.
    """
    _plinth.mod_to_wav(fspath(src), fspath(dst), _rate(rate), _seconds(max_duration))


def info(path: StrPath) -> dict[str, Any]:
    """What ``plinth info`` tells about a file, as a dict.

    For a WAV file (``kind`` "wav"): format, format_name, channels,
    bits_per_sample, sample_rate, data_size, bytes_following, frames and
    duration (None when the header does not give them), data_start (the
    first sample byte, None without a data chunk) and samples_at_byte_44
    (whether the resampler would read the right bytes).

    For a module (``kind`` "module"): sample_slots (31 or 15), tag (None for
    15 slots), channels, song_length, restart_position, patterns, samples (a
    list of {number, name, length} for the slots in use), and frames,
    rate and duration until the song first loops at 8000 frames per second.

    Both carry ``path``. Raises FileError for a file that cannot be read and
    UnsupportedInputError for one that is neither.
    """
    return _plinth.info(fspath(path))


def _rate(rate: int) -> int:
    # Any int reaches the library, which judges it; past 32 bits it is out of range anyway.
    return max(-1, min(integer(rate, "rate"), 2**31))


def _as_array(samples: npt.ArrayLike) -> np.ndarray:
    return samples if isinstance(samples, np.ndarray) else np.asarray(samples)
