"""python3 -m plinth.cluster: the plinth tool's batch conversions on a Dask cluster."""

from __future__ import annotations

import argparse
import logging
import signal
import sys
from typing import Optional, Sequence

FAILURE = 1
USAGE_ERROR = 2


class _Stopped(BaseException):
    """A termination or hang-up signal, raised where the run is, as Ctrl-C raises KeyboardInterrupt."""

    def __init__(self, number: int) -> None:
        super().__init__(number)
        self.number = number


def _scheduler_address(text: str) -> str:
    """A scheduler's address as Dask takes it: tcp://HOST:PORT, or HOST:PORT."""
    from distributed.comm import parse_address
    from distributed.comm.addressing import parse_host_port
    from distributed.comm.registry import backends

    try:
        scheme, location = parse_address(text, strict=False)
        if scheme not in backends:
            raise ValueError(f"unknown protocol {scheme!r}")
        if scheme in ("tcp", "tls"):
            parse_host_port(location)
    except ValueError as error:
        raise argparse.ArgumentTypeError(f"invalid scheduler address {text!r} (tcp://HOST:PORT): {error}") from None
    return text


def _count(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid count {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be 1 or more, not {value}")
    return value


def parse_arguments(argv: Optional[Sequence[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="python3 -m plinth.cluster",
        description="Convert many files on a Dask cluster, each as `plinth` converts it, into "
                    "DIR/<input name>.wav. Existing outputs are skipped unless -f is given. "
                    "The run ends with a manifest (JSON lines) and a summary line. Exit status: 0 when "
                    "nothing failed, 1 when something did, 2 for a usage error, 128 + the signal's "
                    "number when a signal stopped the run (130 for Ctrl-C).")
    parser.add_argument("--scheduler", metavar="ADDRESS", type=_scheduler_address,
                        help="a running scheduler, e.g. tcp://HOST:8786 (default: a local cluster "
                             "of one worker process per core, listening on loopback only)")
    parser.add_argument("--workers", type=_count, metavar="N",
                        help="workers of the local cluster (default: one per core)")
    commands = parser.add_subparsers(dest="command", required=True, metavar="resample|mod2wav")

    def command(name: str, help_text: str) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, help=help_text, description=help_text)
        sub.add_argument("-o", "--output-dir", required=True, metavar="DIR", help="the folder of the outputs")
        sub.add_argument("-f", "--force", action="store_true",
                         help="replace outputs that exist, and a manifest named by --manifest")
        sub.add_argument("--manifest", metavar="PATH",
                         help="where the manifest goes (default: DIR/plinth-manifest.jsonl, replaced by "
                              "each run); like any output it may not be an input or an output of the run, "
                              "nor replace an existing file without -f")
        sub.add_argument("inputs", nargs="+", metavar="INPUT")
        return sub

    resample = command("resample", "WAV files resampled as `plinth resample` does (by default to mono "
                                   "16-bit WAV files, as ResampleWav does)")
    resample.add_argument("--rate", type=int, required=True, metavar="HZ")
    resample.add_argument("--channel", choices=["first", "second", "mix", "all"], default="first",
                          help="what a file of several channels becomes (default: first; all keeps every channel)")
    resample.add_argument("--quality", choices=["standard", "high"], default="standard",
                          help="the filter (default: standard, ResampleWav's)")
    resample.add_argument("--format", choices=["s16", "f32"], default="s16",
                          help="the output's samples: 16-bit PCM (default) or 32-bit float")
    mod2wav = command("mod2wav", "modules played into stereo 16-bit WAV files, as `plinth mod2wav` does")
    mod2wav.add_argument("--rate", type=int, metavar="HZ", help="frames per second (default: 8000)")
    mod2wav.add_argument("--loops", type=int, default=1, metavar="N",
                         help="play until the song has looped N times (default: 1)")
    mod2wav.add_argument("--fade", type=float, default=0.0, metavar="S",
                         help="then fade out over S seconds as the song goes on")
    mod2wav.add_argument("--loop-points", action="store_true",
                         help="mark the loop in each output (smpl and cue chunks)")
    mod2wav.add_argument("--stems", metavar="DIR", help="also write each channel alone into DIR/<name>-NN.wav")
    return parser.parse_args(argv)


def _raise_stopped(number: int, frame) -> None:
    raise _Stopped(number)


def _print_report(report) -> None:
    for outcome in report.outcomes:
        if outcome.status == "failed":
            print(f"plinth: {outcome.reason}", file=sys.stderr)
    print(f"plinth: {report.summary()}", file=sys.stderr)


def main(argv: Optional[Sequence[str]] = None) -> int:
    arguments = parse_arguments(argv)
    # What goes wrong is said in the command's own lines: Dask's log records
    # of a lost connection would only repeat them, with tracebacks.
    logging.disable(logging.ERROR)
    # Termination and hang-up stop the run as Ctrl-C does; the first one counts.
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, _raise_stopped)
    try:
        return _run(arguments)
    except KeyboardInterrupt:
        return 128 + signal.SIGINT
    except _Stopped as stop:
        return 128 + stop.number


def _run(arguments: argparse.Namespace) -> int:
    from distributed import Client

    from .. import Error, FileError
    from . import close_client, convert, local_client

    try:
        client = Client(arguments.scheduler) if arguments.scheduler else local_client(arguments.workers)
    except (OSError, TimeoutError) as error:
        print(f"plinth: cannot reach the scheduler at {arguments.scheduler}: {error}", file=sys.stderr)
        return FAILURE
    try:
        report = convert(arguments.inputs, arguments.output_dir, rate=arguments.rate,
                         kind="resample" if arguments.command == "resample" else "module",
                         channel=getattr(arguments, "channel", "first"), client=client,
                         force=arguments.force, manifest=arguments.manifest,
                         **({"quality": arguments.quality, "format": arguments.format}
                            if arguments.command == "resample" else
                            {"loops": arguments.loops, "fade": arguments.fade,
                             "loop_points": arguments.loop_points, "stems": arguments.stems}))
    except (ValueError, TypeError) as error:
        print(f"plinth: {error}", file=sys.stderr)
        return USAGE_ERROR
    except FileError as error:
        if hasattr(error, "report"):
            _print_report(error.report)
        # The tool's form: the file at fault, then the reason.
        text = f"{error.filename}: {error.strerror}" if error.filename and error.strerror else str(error)
        print(f"plinth: {text}", file=sys.stderr)
        return FAILURE
    except Error as error:
        print(f"plinth: {error}", file=sys.stderr)
        return FAILURE
    except (KeyboardInterrupt, _Stopped) as stop:
        print("plinth: interrupted: the tasks under way were cancelled", file=sys.stderr)
        if hasattr(stop, "report"):
            print(f"plinth: {stop.report.summary()}; what was done is in {stop.report.manifest}", file=sys.stderr)
        raise
    finally:
        _close_quietly(client, arguments.scheduler is not None, close_client)
    _print_report(report)
    return FAILURE if report.failed else 0


def _close_quietly(client, shared: bool, close_client) -> None:
    """A client whose scheduler is gone closes as well as it can, without a traceback."""
    try:
        if shared:
            client.close()
        else:
            close_client(client)
    except Exception:
        pass


if __name__ == "__main__":
    sys.exit(main())
