"""What a worker runs: one file, converted as the plinth tool converts it."""

from __future__ import annotations

import os
import time
from typing import Sequence

from .. import _plinth


def convert_file(kind: str, source: str, target: str, rate: int, channel_mode: int, force: bool,
                 module_options: tuple[int, int, bool] = (1, 0, False), stems: Sequence[str] = ()) -> dict:
    """Converts source into target (and a module's channels into their
    stems) unless target exists (and force is off); module_options are the
    loops, the fade in milliseconds and whether to mark the loop. Returns
    the manifest fields status, seconds and reason; a failed conversion is a
    result, never an exception."""
    start = time.monotonic()

    def outcome(status: str, reason: str = "") -> dict:
        return {"status": status, "seconds": round(time.monotonic() - start, 3), "reason": reason}

    if os.path.isdir(target):
        return outcome("failed", f"{target}: is a folder")
    if not force and os.path.lexists(target):
        return outcome("skipped", f"{target}: exists")
    for stem in stems:
        if os.path.isdir(stem):
            return outcome("failed", f"{stem}: is a folder")
        if not force and os.path.lexists(stem):
            return outcome("failed", f"{stem}: exists (use --force to replace it)")
    loops, fade_ms, loop_points = module_options
    converted, error = _plinth.convert_as_tool(kind, os.fsencode(source), os.fsencode(target), rate, channel_mode,
                                               loops, fade_ms, loop_points, [os.fsencode(stem) for stem in stems])
    return outcome("converted") if converted else outcome("failed", error)
