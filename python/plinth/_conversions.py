"""Plinth's conversions with their Python argument forms."""

from __future__ import annotations

import math
import numbers
import operator
import os
from typing import Any, Literal, NamedTuple, Optional, Union

import numpy as np
import numpy.typing as npt

from . import _plinth

StrPath = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Channel = Literal["first", "second", "mix", "all"]
Quality = Literal["standard", "high"]
Format = Literal["s16", "f32"]
Int16Array = npt.NDArray[np.int16]
SampleArray = Union[npt.NDArray[np.int16], npt.NDArray[np.float32]]

# What an input of several channels becomes, as the libraries number it
# (ResampleWav's channelMode, and 3 for every channel kept).
_CHANNEL_MODES = {"first": 0, "second": 1, "mix": 2, "all": 3}
_QUALITIES = {"standard": 0, "high": 1}
_FORMATS = ("s16", "f32")

MODULE_RATE: int = _plinth.MODULE_RATE
"""The rate MODWAV renders at, and the default of render_module and mod_to_wav."""

MAX_DURATION = 3600.0
"""The longest song, in seconds, render_module and mod_to_wav play by default (as the tool)."""


MAX_LOOPS = 1000
"""The most loops render_module, render_stems and mod_to_wav play."""

MAX_FADE = 3600.0
"""The longest fade, in seconds."""


class Loop(NamedTuple):
    """Where a render loops, in frames: ``frames[loop.start:loop.end]`` is the
    repeated part of its last loop (``end`` is where the loops end and a fade
    begins). A WAV file's smpl chunk holds ``start`` and ``end - 1``."""

    start: int
    end: int


def _render_request(loops: int, fade: float, stems: bool = False) -> Any:
    count = integer(loops, "loops")
    if isinstance(fade, bool) or not isinstance(fade, numbers.Real):
        raise TypeError(f"fade must be a number of seconds, not {type(fade).__name__}")
    if not 1 <= count <= MAX_LOOPS:
        raise ValueError(f"loops must be 1 to {MAX_LOOPS}, not {loops!r}")
    if not 0 <= fade <= MAX_FADE:  # also refuses NaN
        raise ValueError(f"fade must be 0 to {MAX_FADE:g} seconds, not {fade!r}")
    return _plinth.RenderRequest(loops=count, fade_ms=round(fade * 1000), stems=stems)


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
        raise ValueError(f'channel must be "first", "second", "mix" or "all", not {channel!r}') from None


def quality_number(quality: str) -> int:
    """The libraries' number for a filter."""
    try:
        return _QUALITIES[quality]
    except (KeyError, TypeError):
        raise ValueError(f'quality must be "standard" or "high", not {quality!r}') from None


def checked_format(format: str) -> str:
    """A sample format name the file conversions take."""
    if format not in _FORMATS:
        raise ValueError(f'format must be "s16" or "f32", not {format!r}')
    return format


def resample(samples: npt.ArrayLike, in_rate: int, out_rate: int, channel: Channel = "first",
             quality: Quality = "standard") -> SampleArray:
    """Resample audio to another rate.

    ``samples`` holds frames of shape (n,) for one channel or (n, C) for C
    channels, as int16 (full scale 32768), or float32 or float64 (full scale
    1.0; float64 is made float32 first, rounded to nearest as numpy's astype
    does). Any memory layout is taken (it is copied if it is not C-contiguous).
    The result has ceil(n x out_rate / in_rate) frames, starting without
    delay, and the input's kind: int16 for int16, float32 for floats.

    ``channel`` says what frames of several channels become: "first",
    "second", "mix", or "all", every channel kept (the result then has shape
    (m, C), with C = 1 for a 1-D input); each kept channel is exactly what
    choosing that channel alone gives. One channel ignores it.

    ``quality`` is the filter:

    * "standard" (the default), ResampleWav's: for int16 frames of one or two
      channels the result is bit for bit the samples ResampleWav writes.
      Floats are made 16-bit first (x times 32768, rounded to nearest with
      ties away from zero, clamped; NaN as 0) and the 16-bit results divided
      by 32768. "mix" is the floor of the integer mean. A mono input already
      at ``out_rate`` is returned as a copy, as ResampleWav copies such a file.
      About 80 dB SNR for tones up to 0.2 of the lower rate, 36 to 41 dB up
      to 0.45; aliases as little as 12 dB below the tone that makes them.
    * "high": flat to 0.45 of the lower rate (within 6.4e-8), 144 dB or more
      down from 0.5, no delay, the same bits on every machine; in float,
      145 dB SNR for tones up to 0.45 of the lower rate. It takes the
      samples as floats (int16 as x / 32768); float32 results are its own
      sums, int16 results are rounded to nearest (ties away from zero) and
      clamped. "mix" is the float mean. Equal rates pass the samples
      unchanged.

    Raises TypeError for another dtype, ValueError for another shape,
    channel or quality, and UnsupportedInputError for a rate pair the
    resampler does not support (every pairing of 8000, 11025, 12000, 16000,
    22050, 24000, 32000, 44100, 48000, 88200 and 96000 is supported). The
    GIL is released while it works; Ctrl-C stops it.

    >>> import numpy as np, plinth
    >>> tone = (np.sin(np.arange(44100) * 0.05) * 10000).astype(np.int16)
    >>> plinth.resample(tone, 44100, 16000).shape
    (16000,)
    >>> plinth.resample(np.zeros((48000, 2), np.float32), 48000, 44100, channel="all", quality="high").shape
    (44100, 2)
    """
    mode = channel_mode(channel)
    number = quality_number(quality)
    return _plinth.resample(_as_samples(samples), _rate(in_rate), _rate(out_rate), mode, number)


class Resampler:
    """A resampler fed block by block, for audio that does not fit in memory
    or arrives in pieces.

    Blocks of any size give, all together, exactly the samples ``resample``
    gives for the whole signal with the same ``channel`` and ``quality``:
    ``feed`` returns the samples each block completes, ``finish`` the rest.
    Blocks have shape (n,) or (n, channels); the first block's kind fixes
    the kind of every later block and of the results: int16, or floats
    (float32 or float64, both giving float32). ``finish`` gives that kind
    (int16 when nothing was fed).

    >>> r = plinth.Resampler(48000, 16000, channels=2, channel="mix")
    >>> parts = [r.feed(block) for block in blocks] + [r.finish()]
    >>> out = np.concatenate(parts)

    One thread at a time may use a Resampler.
    """

    def __init__(self, in_rate: int, out_rate: int, channels: int = 1, channel: Channel = "first",
                 quality: Quality = "standard") -> None:
        count = integer(channels, "channels")
        if not 1 <= count <= 65535:
            raise ValueError(f"channels must be 1 to 65535, not {count}")
        self._stream = _plinth.BlockResampler(_rate(in_rate), _rate(out_rate), count, channel_mode(channel),
                                              quality_number(quality))

    def feed(self, block: npt.ArrayLike) -> SampleArray:
        """Take frames (shape (n,) or (n, channels)); return the samples they complete."""
        return self._stream.feed(_as_samples(block))

    def finish(self) -> SampleArray:
        """End the signal; return the samples still owed. The resampler cannot be fed after."""
        return self._stream.finish()


def resample_file(src: StrPath, dst: StrPath, rate: int, channel: Channel = "first",
                  quality: Quality = "standard", format: Format = "s16") -> None:
    """Resample a WAV file into a WAV file at ``rate``, as the plinth tool does.

    The input is read as ``plinth resample`` reads it, so both give the same
    bytes: a canonical file (16-bit PCM, 1 or 2 channels, the 44-byte header,
    samples to the end of the file) as ResampleWav reads it, and with the
    defaults byte for byte what ResampleWav writes, a mono 16-bit file; any
    other WAV file through its chunks (RIFF, RF64 or BW64, chunks in any
    order, the data chunk's own size; 8-bit, 16-, 24- and 32-bit integer or
    32- and 64-bit float samples, any number of channels). ``channel`` "mix"
    averages all channels, "all" keeps every one; ``quality`` is the filter,
    as for ``resample``; ``format`` "f32" writes 32-bit float samples (the
    standard filter's 16-bit results divided by 32768, the high filter's own
    sums) instead of 16-bit ones ("s16"). The output appears whole or not at
    all: on any failure ``dst`` is left as it was. Nothing is printed.

    Raises ValueError for an unknown channel, quality or format,
    UnsupportedInputError (not a WAV file it reads, an unsupported rate pair,
    an output past 4 GiB) or FileError (a file that cannot be opened, read
    or written). The GIL is released while it works; Ctrl-C stops it, also
    while it waits on a pipe.
    """
    _plinth.resample_file(fspath(src), fspath(dst), _rate(rate), channel_mode(channel), quality_number(quality),
                          checked_format(format))


ModuleData = Union[bytes, bytearray, memoryview, str, "os.PathLike[str]"]


def _render(data: ModuleData, rate: int, max_duration: Optional[float], request: Any) -> tuple[Int16Array, Any]:
    if isinstance(data, (bytes, bytearray, memoryview)):
        return _plinth.render_module_bytes(data, _rate(rate), _seconds(max_duration), request)
    return _plinth.render_module_file(fspath(data), _rate(rate), _seconds(max_duration), request)


def render_module(data: ModuleData, rate: int = MODULE_RATE, max_duration: Optional[float] = MAX_DURATION, *,
                  loops: int = 1, fade: float = 0.0, with_loop: bool = False) -> Any:
    """Play a tracker module to where it first loops, as an int16 array of shape (frames, 2).

    ``data`` is the module itself (bytes, bytearray or memoryview), or the
    path of a module file (a str or os.PathLike; bytes always count as module
    data here). At the default rate of 8000 frames per second the frames are
    those MODWAV writes; ``rate`` may be anything from 1 up. A render that
    lasts longer than ``max_duration`` seconds (with its loops and fade) is
    refused (None sets no limit but the 4 GiB size of a WAV file, and so does
    0, as the tool's ``--max-duration 0``).

    ``loops`` plays on until the song has looped that many times (1, the
    default, is MODWAV's render; a song that never loops goes round the
    cycle of lines it repeats once a loop). ``fade`` then goes on for that
    many seconds (to the millisecond) as the player continues, each sample s
    of fade frame i of F becoming s x (F - i) / F truncated toward zero.

    With ``with_loop=True`` the result is ``(frames, loop)``: loop is a
    plinth.Loop(start, end), ``frames[start:end]`` the repeated part of the
    last loop, or None when the render was cut at the WAV size limit.

    Raises UnsupportedInputError (not a playable module, an empty one, a rate
    out of range, a render past the limit), FileError (a module file that
    cannot be read), ValueError (loops or fade out of range).

    >>> frames, loop = plinth.render_module("song.mod", rate=44100, loops=2, fade=10, with_loop=True)
    >>> body = frames[loop.start:loop.end]    # the second pass: loops seamlessly
    """
    frames, loop = _render(data, rate, max_duration, _render_request(loops, fade))
    if not with_loop:
        return frames
    return frames, (Loop(*loop) if loop is not None else None)


def render_stems(data: ModuleData, rate: int = MODULE_RATE, max_duration: Optional[float] = MAX_DURATION, *,
                 loops: int = 1, fade: float = 0.0) -> Int16Array:
    """Play each channel of a module alone: an int16 array of shape (channels, frames, 2).

    ``stems[c]`` is channel c + 1 mixed alone through the same mixer as
    render_module (its panning, volume and 16-bit conversion), over exactly
    the frames render_module gives for the same arguments.

    >>> stems = plinth.render_stems("song.mod", rate=44100)
    >>> left_of_channel_2 = stems[1][:, 0]    # stems.shape is (channels, frames, 2)
    """
    stems, _ = _render(data, rate, max_duration, _render_request(loops, fade, stems=True))
    return stems


def mod_to_wav(src: StrPath, dst: StrPath, rate: int = MODULE_RATE,
               max_duration: Optional[float] = MAX_DURATION, *, loops: int = 1, fade: float = 0.0,
               loop_points: bool = False, stems: Optional[StrPath] = None) -> None:
    """Play a module file into a stereo 16-bit WAV file, as MODWAV does at 8000.

    The output appears whole or not at all. ``loops`` and ``fade`` are those
    of render_module. ``loop_points`` marks the loop in the file: a smpl
    chunk with one forward loop from its start to its last frame (end - 1),
    and a cue chunk at its start, after the samples. ``stems`` names a folder
    (created if missing) that gets each channel alone, ``<name>-01.wav``,
    ``<name>-02.wav``, ..., named after ``src`` without its extension, as long
    as the song's file and with the same loop points; they replace files of
    those names, as ``dst`` is replaced, but a stem that would be ``src`` or
    ``dst`` is refused, and a module read from a pipe cannot be split.

    Raises UnsupportedInputError or FileError as render_module does, with the
    same limit on the render's length.

    >>> plinth.mod_to_wav("song.mod", "song.wav", rate=44100, loops=2, fade=10, loop_points=True, stems="parts")
    """
    request = _render_request(loops, fade)
    stem_folder = fspath(stems) if stems is not None else b""
    if stems is not None and not stem_folder:
        raise ValueError("stems must name a folder")
    _plinth.mod_to_wav(fspath(src), fspath(dst), _rate(rate), _seconds(max_duration), request,
                       bool(loop_points), stem_folder)


def info(path: StrPath) -> dict[str, Any]:
    """What ``plinth info`` tells about a file, as a dict.

    For a WAV file (``kind`` "wav"): format, format_name, channels,
    bits_per_sample, sample_rate, data_size, bytes_following, frames and
    duration (None when the header does not give them), data_start (the
    first sample byte, None without a data chunk) and samples_at_byte_44
    (whether the resampler would read the right bytes), chunks_after (the
    tags of the chunks after the samples), and loop_start, loop_frames and
    loop_type (0 forward) of a smpl chunk's first loop (None without one).

    For a module (``kind`` "module"): sample_slots (31 or 15), tag (None for
    15 slots), channels, song_length, restart_position, patterns, samples (a
    list of {number, name, length} for the slots in use), frames, rate and
    duration until the song first loops at 8000 frames per second, and
    loop_start and loop_frames of its loop (at the same rate; None when the
    song is cut at the WAV size limit).

    Both carry ``path``. Raises FileError for a file that cannot be read and
    UnsupportedInputError for one that is neither.
    """
    return _plinth.info(fspath(path))


def _rate(rate: int) -> int:
    # Any int reaches the library, which judges it; past 32 bits it is out of range anyway.
    return max(-1, min(integer(rate, "rate"), 2**31))


def _as_samples(samples: npt.ArrayLike) -> np.ndarray:
    array = samples if isinstance(samples, np.ndarray) else np.asarray(samples)
    # float64 (and any other float wider than 32 bits) to float32, rounded to nearest.
    if array.dtype.kind == "f" and array.dtype.itemsize > 4:
        return array.astype(np.float32)
    return array
