"""Plinth: bit-exact audio conversion.

Every output sample is defined to the bit: the same input gives the same
samples on every machine. The functions here run the libraries' own
internals, the ones behind ResampleWav, MODWAV and the plinth tool, with the
GIL released, so threads convert in parallel.

Resampling (int16, float32 or float64 frames of any number of channels in;
one channel, their mix or every channel out, of the input's kind), with
ResampleWav's filter or, with quality="high", the high-quality one:

    >>> import numpy as np, plinth
    >>> stereo = np.zeros((44100, 2), dtype=np.int16)
    >>> plinth.resample(stereo, 44100, 16000, channel="mix").shape
    (16000,)
    >>> plinth.resample(stereo.astype(np.float32), 44100, 16000, channel="all", quality="high").shape
    (16000, 2)
    >>> plinth.resample_file("take.wav", "take-16k.wav", 16000)

Tracker modules (stereo 16-bit out, ending where the song first loops):

    >>> frames = plinth.render_module("song.mod")      # int16, shape (n, 2)
    >>> plinth.mod_to_wav("song.mod", "song.wav")

Looped twice and faded out over ten seconds, with where it loops; each
channel alone; a file with its loop marked and its channels beside it:

    >>> frames, loop = plinth.render_module("song.mod", loops=2, fade=10, with_loop=True)
    >>> stems = plinth.render_stems("song.mod")        # int16, shape (channels, n, 2)
    >>> plinth.mod_to_wav("song.mod", "song.wav", loop_points=True, stems="parts")

Describing a file: ``plinth.info("take.wav")``.

Failures raise plinth.Error: UnsupportedInputError (also a ValueError) for
input Plinth does not convert, FileError (also an OSError) for files that
cannot be opened, read or written. Outputs appear whole or not at all.
Paths may be str, bytes or os.PathLike. Nothing is printed.

Many files across many machines: plinth.cluster, on Dask distributed.
"""

from ._version import __version__
from ._conversions import (MODULE_RATE, Loop, Resampler, info, mod_to_wav, render_module, render_stems, resample,
                           resample_file)
from ._errors import Error, FileError, UnsupportedInputError

# Shown, pickled and raised under the package's own name.
for _name in ("Error", "FileError", "UnsupportedInputError", "Loop", "Resampler", "info", "mod_to_wav",
              "render_module", "render_stems", "resample", "resample_file"):
    globals()[_name].__module__ = __name__
del _name

__all__ = [
    "Error",
    "FileError",
    "Loop",
    "MODULE_RATE",
    "Resampler",
    "UnsupportedInputError",
    "info",
    "mod_to_wav",
    "render_module",
    "render_stems",
    "resample",
    "resample_file",
]
