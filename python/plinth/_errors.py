"""The exceptions Plinth raises. Each carries the library's own reason."""


class Error(Exception):
    """Base of every failure a Plinth conversion reports."""


class UnsupportedInputError(Error, ValueError):
    """The input is not something Plinth converts.

    Not a 16-bit PCM WAV file with 1 or 2 channels, not a playable module, a
    rate pair outside the supported ratios, a rate out of range, or an output
    that would pass the 4 GiB size limit of a WAV file.
    """


class FileError(Error, OSError):
    """A file could not be opened, read or written.

    ``errno``, ``strerror`` and ``filename`` are set as for any OSError;
    ``errno`` is None where the reason is not a system error (a pipe where a
    regular file is needed, say).
    """

    def __str__(self) -> str:
        if self.errno is None and self.strerror is not None:
            return f"{self.filename}: {self.strerror}"
        return super().__str__()
