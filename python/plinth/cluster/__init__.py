"""Many files converted across a Dask distributed cluster.

Each input is one task; a worker converts it exactly as the plinth tool's
batch does, into ``OUT_DIR/<input name>.wav`` (the input's extension
replaced), and the output appears whole or not at all. An output that
already exists is skipped unless ``force`` is given, so a rerun after a crash
converts only what is left. A failed file is reported, never fatal to the
run; a task whose worker is lost is run again by Dask elsewhere.

The run ends with a manifest, ``OUT_DIR/plinth-manifest.jsonl`` unless
named otherwise: one JSON object a line, in the order of the inputs, with
the fields ``input``, ``output``, ``status`` ("converted", "skipped" or
"failed"), ``seconds`` (the task's own time) and ``reason`` (empty when
converted). It is written whole or not at all, also when the run is
interrupted or loses its scheduler, for the files done by then. A manifest
named otherwise is an output like the others: it may not be an input or an
output of the run, nor replace an existing file without ``force``; the
default one is the folder's own record and is replaced by each run.

Workers need the plinth package installed (the same version) and must reach
every input and the output folder by the same paths as the caller: a shared
filesystem mounted at the same place. Paths are made absolute by the caller.

    >>> from plinth.cluster import convert
    >>> report = convert(["a.wav", "b.wav"], "out", rate=16000, channel="mix")
    >>> report = convert(["a.wav"], "hq", rate=48000, channel="all", quality="high", format="f32")
    >>> print(report.summary())
    2 converted, 0 skipped, 0 failed, 1.52 s

Modules take the tool's loops, fade, loop points and stems:

    >>> convert(["a.mod", "b.mod"], "out", kind="module", rate=44100, loops=2, fade=10,
    ...         loop_points=True, stems="out/parts")

From a shell, ``python3 -m plinth.cluster --help``.
"""

from __future__ import annotations

import json
import os
import sys
import time
from dataclasses import asdict, dataclass
from typing import IO, Iterable, Literal, Optional, Union

from .. import _plinth
from .._conversions import (MODULE_RATE, Channel, Format, Quality, StrPath, _render_request, channel_mode,
                            checked_format, fspath, integer, quality_number)
from .._errors import FileError
from . import _tasks

Kind = Literal["resample", "module"]
MANIFEST_NAME = "plinth-manifest.jsonl"

# Times a task is run again after it raised; a lost worker's tasks are moved
# to other workers by the scheduler itself.
DEFAULT_RETRIES = 2


@dataclass(frozen=True)
class FileOutcome:
    """One input's line of the manifest."""

    input: str
    output: str
    status: str  # "converted", "skipped" or "failed"
    seconds: float
    reason: str


@dataclass(frozen=True)
class ClusterReport:
    """What a run did, file by file, and where its manifest is."""

    outcomes: list[FileOutcome]
    manifest: str
    seconds: float

    def count(self, status: str) -> int:
        return sum(outcome.status == status for outcome in self.outcomes)

    @property
    def converted(self) -> int:
        return self.count("converted")

    @property
    def skipped(self) -> int:
        return self.count("skipped")

    @property
    def failed(self) -> int:
        return self.count("failed")

    def summary(self) -> str:
        """"57 converted, 2 skipped, 1 failed, 3.41 s"."""
        return f"{self.converted} converted, {self.skipped} skipped, {self.failed} failed, {self.seconds:.2f} s"


def convert(inputs: Union[StrPath, Iterable[StrPath]], out_dir: StrPath, rate: Optional[int] = None,
            kind: Kind = "resample", channel: Channel = "first", client=None, force: bool = False, *,
            quality: Quality = "standard", format: Format = "s16",
            manifest: Optional[StrPath] = None, retries: int = DEFAULT_RETRIES,
            progress: Optional[bool] = None, loops: int = 1, fade: float = 0.0, loop_points: bool = False,
            stems: Optional[StrPath] = None) -> ClusterReport:
    """Convert every input on a Dask cluster, one task a file.

    ``inputs`` is one path or an iterable of paths (str, bytes or
    os.PathLike). ``kind`` "resample" resamples WAV files at ``rate`` (an
    int, required) as ``plinth resample`` does: ``channel`` ("first",
    "second", "mix" or "all") says what an input of several channels
    becomes, ``quality`` ("standard" or "high") is the filter and ``format``
    ("s16" or "f32") the output's samples. "module" renders modules to
    stereo WAV files at ``rate`` (8000 when not given). ``rate`` is held to
    what the plinth tool accepts (1000 to 384000). A module is rendered with
    ``loops``, ``fade`` and ``loop_points`` as plinth.mod_to_wav renders it,
    and with ``stems`` each of its channels alone goes into that folder as
    ``<name>-01.wav``, ... (planned and refused as the outputs are; a module
    is skipped when its song's file exists, which is written after its
    stems).

    ``client`` is a ``distributed.Client``; without one a local cluster of
    one single-threaded worker process per core, listening on this machine's
    loopback interface only, is started for the run and shut down after it.
    ``manifest`` names the manifest (default ``out_dir/plinth-manifest.jsonl``,
    replaced by each run); a manifest named here is refused, before anything
    is converted, when it is an input or an output of the run or a folder, or
    when it exists and ``force`` is off. ``progress`` draws a progress line
    on standard error; by default only when it is a terminal.

    Returns a ClusterReport. Raises TypeError and ValueError for bad
    arguments, and plinth.FileError when the output folder cannot be made or
    the manifest is refused or cannot be written (the report of the
    conversions done is then the exception's ``report``). A file that fails
    to convert is only reported. Interrupted (KeyboardInterrupt, or any
    exception while the results come in), it writes the manifest of what was
    done, with the files not done as failed, and raises the interruption
    with that report as its ``report``.
    """
    sources = _input_names(inputs)
    folder = os.fsdecode(fspath(out_dir))
    if kind not in ("resample", "module"):
        raise ValueError(f'kind must be "resample" or "module", not {kind!r}')
    mode = channel_mode(channel)
    filter_number = quality_number(quality)
    checked_format(format)
    if rate is None:
        if kind == "resample":
            raise ValueError("resampling needs a rate")
        rate = MODULE_RATE
    rate = integer(rate, "rate")
    if not _plinth.MIN_RATE <= rate <= _plinth.MAX_RATE:
        raise ValueError(f"rate must be {_plinth.MIN_RATE} to {_plinth.MAX_RATE}, not {rate}")
    retries = integer(retries, "retries")
    if retries < 0:
        raise ValueError(f"retries must be 0 or more, not {retries}")
    _render_request(loops, fade)
    module_options = (loops, round(fade * 1000), bool(loop_points))
    stem_folder = os.fsdecode(fspath(stems)) if stems is not None else ""
    if stems is not None and (kind != "module" or not stem_folder):
        raise ValueError("stems are a module's and need a folder")
    manifest_path = os.fsdecode(fspath(manifest)) if manifest is not None else os.path.join(folder, MANIFEST_NAME)

    start = time.monotonic()
    _plinth.make_folders(os.fsencode(folder))
    if stem_folder:
        _plinth.make_folders(os.fsencode(stem_folder))
    # The tool's own plan: an output that is an input of the run (by any name,
    # link or hard link) or that an earlier input already writes is refused,
    # even with force. Whether an output exists is judged by its task when it
    # runs, so that a rerun skips what an earlier run wrote. The manifest is
    # judged by the same rules, the default one as always replaceable.
    plan = _plinth.plan_batch([os.fsencode(source) for source in sources], os.fsencode(folder), True,
                              os.fsencode(stem_folder), extra=os.fsencode(manifest_path),
                              extra_force=bool(force) or manifest is None)
    _, _, manifest_refusal = plan.pop()
    if manifest_refusal:
        raise FileError(None, manifest_refusal[len(manifest_path) + 2:], manifest_path)
    targets = [os.fsdecode(output) for output, _, _ in plan]
    stem_targets = [[os.path.abspath(os.fsdecode(stem)) for stem in job_stems] for _, job_stems, _ in plan]
    refusals = {index: refusal for index, (_, _, refusal) in enumerate(plan) if refusal}
    before = {index: _file_key(target) for index, target in enumerate(targets)}

    results: dict[int, dict] = {}
    interruption: Optional[BaseException] = None
    owned = client is None
    if owned:
        client = local_client()
    try:
        submitted = {}
        for index, (source, target) in enumerate(zip(sources, targets)):
            if index not in refusals:
                submitted[index] = client.submit(_tasks.convert_file, kind, os.path.abspath(source),
                                                 os.path.abspath(target), rate, mode, force, module_options,
                                                 stem_targets[index], (filter_number, format), retries=retries,
                                                 pure=False)
        try:
            _gather(submitted, results, sys.stderr.isatty() if progress is None else progress)
        except BaseException as error:  # Ctrl-C, a stop signal, a client that failed
            interruption = error
            _cancel(client, submitted)
    finally:
        if owned:
            close_client(client)

    outcomes = []
    for index, (source, target) in enumerate(zip(sources, targets)):
        if index in refusals:
            fields = {"status": "failed", "seconds": 0.0, "reason": refusals[index]}
        else:
            fields = results.get(index) or _unfinished(target, before[index], interruption)
        outcomes.append(FileOutcome(input=source, output=target, **fields))
    report = ClusterReport(outcomes, manifest_path, time.monotonic() - start)
    lines = "".join(json.dumps(asdict(outcome)) + "\n" for outcome in outcomes)
    try:
        _plinth.write_whole(os.fsencode(manifest_path), lines.encode("ascii"))
    except FileError as error:
        error.report = report
        if interruption is None:
            raise
    if interruption is not None:
        interruption.report = report
        raise interruption
    return report


def read_manifest(path: StrPath) -> list[FileOutcome]:
    """The outcomes a manifest holds."""
    with open(path, encoding="ascii") as lines:
        return [FileOutcome(**json.loads(line)) for line in lines]


def local_client(workers: Optional[int] = None):
    """A client of a new cluster on this machine: ``workers`` single-threaded
    worker processes (default: one per core). The scheduler and the workers
    listen on the loopback interface only, at free ports, and the scheduler
    serves no dashboard. Close the client, then its ``cluster``, when done."""
    import logging

    from distributed import Client, LocalCluster

    if workers is not None:
        workers = integer(workers, "workers")
        if workers < 1:
            raise ValueError(f"workers must be 1 or more, not {workers}")
    # Conversions let go of the GIL, but a process each keeps one crash from
    # taking the others. The scheduler and every worker always serve HTTP
    # (health, metrics), by default on every interface: here on loopback.
    loopback = "127.0.0.1:0"
    cluster = LocalCluster(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1, processes=True,
                           host="127.0.0.1", dashboard_address=loopback, worker_dashboard_address=loopback,
                           scheduler_kwargs={"dashboard": False}, silence_logs=logging.ERROR)
    return Client(cluster)


def close_client(client) -> None:
    """Closes a client and, for one from local_client, its cluster."""
    cluster = client.cluster if hasattr(client, "cluster") else None
    client.close()
    if cluster is not None:
        cluster.close()


def _input_names(inputs) -> list[str]:
    """The inputs as str paths: one path, or an iterable of them, each checked as open() checks it."""
    if isinstance(inputs, (str, bytes, os.PathLike)):
        inputs = [inputs]
    try:
        items = list(inputs)
    except TypeError:
        raise TypeError(f"inputs must be a path or an iterable of paths, not {type(inputs).__name__}") from None
    return [os.fsdecode(fspath(path)) for path in items]


def _file_key(path: str) -> Optional[tuple]:
    """What tells one file at a path from another that replaced it."""
    try:
        info = os.lstat(path)
    except OSError:
        return None
    return (info.st_dev, info.st_ino, info.st_size, info.st_mtime_ns)


def _unfinished(target: str, before: Optional[tuple], interruption: Optional[BaseException]) -> dict:
    """The outcome of a file whose result never came back. An output appears
    whole or not at all, so a new file at its path since the run began is one
    the run converted."""
    after = _file_key(target)
    if after is not None and after != before:
        return {"status": "converted", "seconds": 0.0, "reason": ""}
    why = "interrupted" if interruption is not None else "the scheduler was lost"
    return {"status": "failed", "seconds": 0.0, "reason": f"{target}: not converted ({why})"}


def _cancel(client, futures: dict) -> None:
    """Best effort: a client whose scheduler is gone cannot cancel anything."""
    try:
        client.cancel(list(futures.values()), force=True)
    except Exception:
        pass


def _gather(futures: dict, results: dict[int, dict], show_progress: bool) -> None:
    """Fills results as the tasks end, each result fetched as soon as it is
    there, so that a scheduler lost later cannot take it."""
    from distributed import as_completed

    index_of = {future.key: index for index, future in futures.items()}
    line = _ProgressLine(sys.stderr if show_progress else None, len(futures))
    try:
        for future, result in as_completed(list(futures.values()), with_results=True, raise_errors=False):
            index = index_of[future.key]
            if isinstance(result, dict):
                results[index] = result
            elif future.status == "error":  # a task whose retries ran out, a worker lost too often
                error = result[1]
                results[index] = {"status": "failed", "seconds": 0.0, "reason": f"{type(error).__name__}: {error}"}
            line.advance()
    finally:
        line.close()


class _ProgressLine:
    """"plinth: 12/60 files, 3.1 s elapsed, about 9.0 s left", redrawn in place."""

    def __init__(self, stream: Optional[IO[str]], total: int) -> None:
        self.stream, self.total, self.done, self.start = stream, total, 0, time.monotonic()
        self.draw()

    def draw(self) -> None:
        if self.stream is None:
            return
        elapsed = time.monotonic() - self.start
        text = f"plinth: {self.done}/{self.total} files, {elapsed:.1f} s elapsed"
        if self.done:
            text += f", about {elapsed / self.done * (self.total - self.done):.1f} s left"
        self.stream.write("\r\033[K" + text)
        self.stream.flush()

    def advance(self) -> None:
        self.done += 1
        self.draw()

    def close(self) -> None:
        if self.stream is not None:
            self.stream.write("\r\033[K")
            self.stream.flush()
