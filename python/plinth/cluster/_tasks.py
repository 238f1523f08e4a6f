"""What a worker runs: one file, converted as the plinth tool converts it."""

from __future__ import annotations

import os
import time
from typing import Callable, Optional, Sequence

from .. import _plinth

# Worker states in which a running conversion goes on.
_WORKING = ("running", "paused", "closing_gracefully")
# States of a task that nobody waits for any more.
_ABANDONED = ("cancelled", "released", "forgotten")


def convert_file(kind: str, source: str, target: str, rate: int, channel_mode: int, force: bool,
                 module_options: tuple[int, int, bool] = (1, 0, False), stems: Sequence[str] = (),
                 resample_options: tuple[int, str] = (0, "s16")) -> dict:
    """Converts source into target (and a module's channels into their
    stems) unless target exists (and force is off); module_options are the
    loops, the fade in milliseconds and whether to mark the loop,
    resample_options the filter's number and the output format. Returns
    the manifest fields status, seconds and reason; a failed conversion is a
    result, never an exception. The conversion stops, also while it waits on
    a pipe, once the task is cancelled or its worker closes."""
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
    quality, format = resample_options
    converted, error = _plinth.convert_as_tool(kind, os.fsencode(source), os.fsencode(target), rate, channel_mode,
                                               loops, fade_ms, loop_points, [os.fsencode(stem) for stem in stems],
                                               quality, format, stop=_stop_test())
    return outcome("converted") if converted else outcome("failed", error)


def _stop_test() -> Optional[Callable[[], bool]]:
    """True once this task is abandoned or its worker closes; None outside a worker."""
    try:
        from distributed import get_worker
        from distributed.worker import thread_state

        worker = get_worker()
    except (ImportError, ValueError):
        return None
    key = getattr(thread_state, "key", None)

    def stop() -> bool:
        if worker.status.name not in _WORKING:
            return True
        if key is None:
            return False
        task = worker.state.tasks.get(key)
        return task is None or task.state in _ABANDONED

    return stop
