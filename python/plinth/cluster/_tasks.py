"""What a worker runs: one file, converted as the plinth tool converts it."""

from __future__ import annotations

import os
import time

from .. import _plinth


def convert_file(kind: str, source: str, target: str, rate: int, channel_mode: int, force: bool,
                 quality: int = 0, format: str = "s16") -> dict:
    """Converts source into target unless target exists (and force is off).
    Returns the manifest fields status, seconds and reason; a failed
    conversion is a result, never an exception."""
    start = time.monotonic()

    def outcome(status: str, reason: str = "") -> dict:
        return {"status": status, "seconds": round(time.monotonic() - start, 3), "reason": reason}

    if os.path.isdir(target):
        return outcome("failed", f"{target}: is a folder")
    if not force and os.path.lexists(target):
        return outcome("skipped", f"{target}: exists")
    converted, error = _plinth.convert_as_tool(kind, os.fsencode(source), os.fsencode(target), rate, channel_mode,
                                               quality, format)
    return outcome("converted") if converted else outcome("failed", error)
